/*
 * The removal log: read whole and closed before anything runs, cut in place at
 * every control character, then carried out record by record, best effort.
 * The block holding the log is never freed; records point into it.
 */
#include "removal/removal.h"
#include "driver/driver.h"

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

static bool IsSeparator(char c) { return c == '\\' || c == '/'; }

/* A tree root must be fully qualified and lie below a drive or share root, and
   must not climb back up: "." or "C:\" in a log must never empty a folder that
   the current folder or the drive decides. */
static bool IsSafeTreeRoot(const char *path)
{
    size_t length = strlen(path);
    while (length > 0 && IsSeparator(path[length - 1]))
        length--;

    size_t rest; /* where the part below the drive or share root begins */
    if (length >= 3 && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' &&
        IsSeparator(path[2])) {
        rest = 3;
    } else if (length >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        size_t at = 2, parts = 0;
        while (parts < 2) {
            size_t start = at;
            while (at < length && !IsSeparator(path[at]))
                at++;
            if (at == start || at >= length)
                return false; /* an empty server or share, or nothing below the share */
            at++;
            parts++;
        }
        rest = at;
    } else {
        return false;
    }

    bool below = false;
    for (size_t at = rest; at < length;) {
        size_t start = at;
        while (at < length && !IsSeparator(path[at]))
            at++;
        size_t part = at - start;
        if ((part == 1 && path[start] == '.') ||
            (part == 2 && path[start] == '.' && path[start + 1] == '.'))
            return false;
        if (part > 0)
            below = true;
        at++;
    }
    return below;
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
    if (!IsSafeTreeRoot(path)) {
        RecordErrorCode(ERROR_INVALID_PARAMETER, "RemoveTree", "%s", path);
        return;
    }
    RemoveTree(path, "*.*");
}

static void CarryOut(char *record)
{
    if (_strnicmp(record, "file:", 5) == 0) {
        if (!DeferOwnPath(record + 5))
            CheckedDeleteFile(record + 5);
    } else if (_strnicmp(record, "dir:", 4) == 0) {
        if (!DeferOwnPath(record + 4))
            CheckedRemoveDirectory(record + 4);
    } else if (_strnicmp(record, "dirw:", 5) == 0) {
        RemoveTreeRecord(record + 5);
    } else if (_strnicmp(record, "key:", 4) == 0) {
        RemoveRegistryItem(record + 4);
    } else if (_strnicmp(record, "link:", 5) == 0) {
        CheckedDeleteFile(record + 5);
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
    for (size_t at = 0; at < size;) {
        if (block[at] == '\0') {
            at++;
            continue;
        }
        char *record = block + at;
        at += strlen(record);
        CarryOut(record);
    }
    return NULL;
}
