/*
 * May this run delete it? Asked of the system by opening the entry or key with
 * the access that the deletion needs and closing the handle again unused: the
 * open weighs the object's security, the parent's delete-child right and the
 * handles other programs hold, and changes nothing (no data is read, so no
 * time stamp moves). The two probes are seams for the tests: Wine grants every
 * access and keeps no registry security. What is in use is judged by the
 * uninstaller's own restart decision.
 */
#include "preview/preview.h"

static DWORD OpenForDeletion(const char *path, bool folder)
{
    /* A link is judged as itself, and a folder opens only with backup semantics
       (no privilege is enabled, so no check is skipped). */
    DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0);
    HANDLE handle = CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, flags, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        return code != 0 ? code : ERROR_ACCESS_DENIED;
    }
    CloseHandle(handle);
    return 0;
}

static LONG OpenKeyWith(HKEY root, const char *path, REGSAM access)
{
    HKEY key = NULL;
    LONG code = RegOpenKeyExA(root, path, 0, access, &key);
    if (code == ERROR_SUCCESS)
        RegCloseKey(key);
    return code;
}

DWORD (*DeleteAccessProbe)(const char *path, bool folder) = OpenForDeletion;
LONG (*KeyAccessProbe)(HKEY root, const char *path, REGSAM access) = OpenKeyWith;

/* A running image opens for DELETE but refuses a write open (32): its
   deletion fails with 5 while it runs. A file that only a reader holds
   without write sharing but with delete sharing looks the same. */
static bool RunningImage(const char *path)
{
    HANDLE handle = CreateFileA(path, FILE_WRITE_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

Outcome DeletionVerdict(const char *path, DWORD attributes, const RestartFacts *facts, DWORD *code,
                        RestartPlan *plan)
{
    plan->way = RESTART_NOT;
    /* DeleteFile and RemoveDirectory both refuse a read-only entry. */
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        *code = ERROR_ACCESS_DENIED;
        return WILL_FAIL_READ_ONLY;
    }
    bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    /* A folder holding what goes at the restart where it stands fails with 145. */
    *code = facts->holdsScheduled ? ERROR_DIR_NOT_EMPTY : DeleteAccessProbe(path, folder);
    bool running = *code == 0 && !folder && RunningImage(path);
    if (running)
        *code = ERROR_ACCESS_DENIED;
    else if (*code == 0)
        return WILL_REMOVE_FILE;
    else if (*code != ERROR_SHARING_VIOLATION && *code != ERROR_LOCK_VIOLATION &&
             *code != ERROR_DIR_NOT_EMPTY)
        return WILL_FAIL_ACCESS;
    /* In use: what the uninstaller will do is its own restart decision. */
    RestartFacts asked = *facts;
    asked.folder = folder;
    if (PlanRestart(path, *code, &asked, plan))
        return WILL_REMOVE_AT_RESTART;
    return *code == ERROR_DIR_NOT_EMPTY ? WILL_FAIL_NOT_EMPTY : WILL_FAIL_IN_USE;
}

const char *CodeName(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
        return "not found";
    case ERROR_PATH_NOT_FOUND:
        return "path not found";
    case ERROR_ACCESS_DENIED:
        return "access denied";
    case ERROR_INVALID_HANDLE:
        return "invalid handle";
    case ERROR_SHARING_VIOLATION:
        return "in use by another program";
    case ERROR_LOCK_VIOLATION:
        return "locked by another program";
    case ERROR_INVALID_PARAMETER:
        return "invalid parameter";
    case ERROR_INVALID_NAME:
        return "invalid name";
    case ERROR_DIR_NOT_EMPTY:
        return "folder not empty";
    case ERROR_FILENAME_EXCED_RANGE:
        return "path too long";
    case ERROR_DIRECTORY:
        return "not a folder";
    }
    return "system error";
}
