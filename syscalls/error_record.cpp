/*
 * The error record and its two formatters. The record is static and the
 * formatters allocate nothing, so a failure can be described at any time.
 * Over-long texts are cut at the end of their field, never past it.
 */
#include "syscalls/syscalls.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

ErrorDescription ErrorRecord; /* last recorded failure; zero until the first */

static ErrorRef Record(DWORD code, const char *label, const char *detailFormat, va_list args)
{
    char *text = ErrorRecord.text;
    const DWORD size = sizeof ErrorRecord.text;
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code, 0,
                       text, size, NULL) == 0)
        text[0] = '\0'; /* no message for the code: an older failure's text must not stand in */
    text[size - 1] = '\0';
    ErrorRecord.code = code;

    size_t used = strlen(text);
    if (detailFormat != NULL) {
        char detail[512];
        vsnprintf(detail, sizeof detail, detailFormat, args);
        detail[sizeof detail - 1] = '\0';
        snprintf(text + used, size - used, "(%s) (%d) (%s)", label, (int)code, detail);
    } else {
        snprintf(text + used, size - used, "(%s) (%d)", label, (int)code);
    }
    text[size - 1] = '\0';
    return &ErrorRecord;
}

ErrorRef RecordLastError(const char *label, const char *detailFormat, ...)
{
    DWORD code = GetLastError();
    if (code == 0)
        return NULL;
    va_list args;
    va_start(args, detailFormat);
    ErrorRef result = Record(code, label, detailFormat, args);
    va_end(args);
    return result;
}

ErrorRef RecordErrorCode(DWORD code, const char *label, const char *detailFormat, ...)
{
    va_list args;
    va_start(args, detailFormat);
    ErrorRef result = Record(code, label, detailFormat, args);
    va_end(args);
    return result;
}
