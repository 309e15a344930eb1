/*
 * The removal log: read whole and closed before anything runs, cut in place at
 * every control character, then carried out record by record, best effort.
 * The block holding the log is never freed; records point into it.
 */
#include "removal/removal.h"
#include "driver/driver.h"
#include "removal/records.h"

#include <stdlib.h>
#include <string.h>

ErrorRef OpenForReading(const char *path, HANDLE *handle)
{
    ErrorRef result = CheckedCreateFile(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, NULL, handle);
    if (result != NULL || *handle == INVALID_HANDLE_VALUE)
        *handle = NULL;
    return result;
}

ErrorRef ReadBlock(HANDLE file, char *block, int count)
{
    while (count > 0) {
        DWORD read = 0;
        ErrorRef result = CheckedReadFile(file, block, (DWORD)count, &read, NULL);
        if (result != NULL)
            return result;
        if (read == 0 || read > (DWORD)count)
            return NULL;
        block += read;
        count -= (int)read;
    }
    return NULL;
}

static void RemoveTreeRecord(const char *argument)
{
    char path[MAX_PATH];
    size_t length = strlen(argument);
    if (length >= sizeof path) {
        RecordErrorCode(ERROR_FILENAME_EXCED_RANGE, "RemoveTree", "%s", argument);
        return;
    }
    memcpy(path, argument, length + 1);
    if (DeferOwnPath(path))
        return;
    if (!IsSafeTreeRoot(path, length, AnsiLeadBytes())) {
        RecordErrorCode(ERROR_INVALID_PARAMETER, "RemoveTree", "%s", path);
        return;
    }
    RemoveTree(path, "*.*");
}

static void CarryOut(char *record, size_t length)
{
    size_t at;
    char *argument;
    switch (RecordKindOf(record, length, &at)) {
    case RECORD_FILE:
        argument = record + at;
        if (!DeferOwnPath(argument))
            CheckedDeleteFile(argument);
        break;
    case RECORD_DIR:
        argument = record + at;
        if (!DeferOwnPath(argument))
            CheckedRemoveDirectory(argument);
        break;
    case RECORD_DIRW:
        RemoveTreeRecord(record + at);
        break;
    case RECORD_KEY:
        RemoveRegistryItem(record + at);
        break;
    case RECORD_LINK:
        CheckedDeleteFile(record + at);
        break;
    case RECORD_NONE:
        break;
    }
}

ErrorRef ProcessRemovalLog(const char *logPath)
{
    EntryInfo info;
    ProbeEntry(logPath, &info);
    if (info.kind != ENTRY_FILE)
        return NULL;

    HANDLE file;
    ErrorRef result = OpenForReading(logPath, &file);
    if (result != NULL || file == NULL)
        return result;
    /* The probe keeps only the low 32 bits, so ask the open file as well. */
    LARGE_INTEGER actual;
    if (info.size < 0 || (GetFileSizeEx(file, &actual) && actual.QuadPart > 0x7FFFFFFF)) {
        CloseHandleKeepingError(file, NULL);
        return RecordErrorCode(ERROR_FILE_TOO_LARGE, "ReadFile", "%s", logPath);
    }

    /* One byte more than the log, zero-filled: a last record without a line end
       is still terminated, and bytes the file no longer yields read as gaps. */
    size_t size = (size_t)info.size;
    char *block = (char *)calloc(size + 1, 1);
    ErrorRef readResult = NULL;
    if (block != NULL)
        readResult = ReadBlock(file, block, info.size);
    result = CloseHandleKeepingError(file, readResult);
    if (result != NULL || block == NULL)
        return result;

    for (size_t at = 0; at < size; at++) {
        if ((unsigned char)block[at] < 0x20)
            block[at] = '\0';
    }
    size_t at = 0, start, length;
    while (NextRecord(block, size, &at, &start, &length))
        CarryOut(block + start, length);
    return NULL;
}
