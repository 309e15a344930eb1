/*
 * What a path names, told by the system rather than by its spelling: the
 * entry's final path (links, short names and other spellings resolved) and
 * its identity (volume serial number and file index), by which the report
 * and the program's own file are recognised under any spelling.
 */
#include "syscalls/syscalls.h"
#include "removal/records.h"

#include <string.h>

/* "\\?\C:\x" is "C:\x" and "\\?\UNC\srv\share" is "\\srv\share": the spellings
   that the narrow calls and the log use. */
void StripDevicePrefix(char *path)
{
    if (strncmp(path, "\\\\?\\UNC\\", 8) == 0)
        memmove(path + 2, path + 8, strlen(path + 8) + 1);
    else if (strncmp(path, "\\\\?\\", 4) == 0)
        memmove(path, path + 4, strlen(path + 4) + 1);
}

ErrorRef FinalPathOfHandle(HANDLE file, char path[MAX_PATH])
{
    DWORD length = 0;
    ErrorRef failure = CheckedGetFinalPathNameByHandle(
        file, path, MAX_PATH, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS, &length);
    if (failure != NULL)
        return failure;
    StripDevicePrefix(path);
    return NULL;
}

/* Attribute access takes no part in sharing: anything that exists opens. */
static HANDLE OpenToLook(const char *path, bool asItself)
{
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (asItself ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    return CreateFileA(path, FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                       flags, NULL);
}

bool FinalPathOf(const char *path, char finalPath[MAX_PATH])
{
    /* Only a look: a failure here changes no record, the caller's stays. */
    DWORD code = GetLastError();
    HANDLE entry = OpenToLook(path, true);
    bool found = false;
    if (entry != INVALID_HANDLE_VALUE) {
        DWORD length = GetFinalPathNameByHandleA(entry, finalPath, MAX_PATH,
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        found = length > 0 && length < MAX_PATH;
        CloseHandle(entry);
    }
    if (found)
        StripDevicePrefix(finalPath);
    SetLastError(code);
    return found;
}

bool LeadsByIdentity(const char *path, const char *targetFinal, const unsigned char *leadBytes)
{
    char finalPath[MAX_PATH];
    return targetFinal[0] != '\0' && FinalPathOf(path, finalPath) &&
           IsAtOrAbove(finalPath, strlen(finalPath), targetFinal, leadBytes);
}

bool IdentityOf(const char *path, bool asItself, FileIdentity *identity, DWORD *code)
{
    HANDLE entry = OpenToLook(path, asItself);
    if (entry == INVALID_HANDLE_VALUE) {
        *code = GetLastError();
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    ErrorRef failure = CheckedGetFileInformationByHandle(entry, &info);
    CloseHandle(entry);
    if (failure != NULL) {
        *code = failure->code;
        return false;
    }
    identity->volume = info.dwVolumeSerialNumber;
    identity->indexHigh = info.nFileIndexHigh;
    identity->indexLow = info.nFileIndexLow;
    *code = 0;
    return true;
}

bool SameIdentity(const FileIdentity *a, const FileIdentity *b)
{
    return a->volume == b->volume && a->indexHigh == b->indexHigh && a->indexLow == b->indexLow;
}
