/*
 * Acts decided on a handle. Where someone else may change a folder on a
 * path, a call by path follows whatever the path names at that moment: a
 * folder swapped for a link sends it elsewhere. Here the entry is opened
 * without following a link in its last part, its final path is checked to
 * be the one meant, and the rename is made through that same handle.
 */
#include "removal/removal.h"
#include "removal/records.h"

#include <stdlib.h>
#include <string.h>

ErrorRef OpenMeantEntry(const char *path, const char *meant, bool folder, HANDLE *entry)
{
    /* The sharing DeleteFileA asks for: a file held without delete sharing still answers 32. */
    ErrorRef failure = CheckedCreateFile(
        path, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0), NULL, entry);
    if (failure != NULL)
        return failure;
    char finalPath[MAX_PATH];
    size_t length = strlen(meant);
    failure = FinalPathOfHandle(*entry, finalPath);
    if (failure == NULL && (strlen(finalPath) != length ||
                            !EqualIgnoringAsciiCase(finalPath, meant, length, AnsiLeadBytes())))
        failure = RecordErrorCode(ERROR_REDIRECTED_ENTRY, "GetFinalPathNameByHandle", "%s is %s",
                                  meant, finalPath);
    if (failure != NULL) {
        CloseHandle(*entry);
        *entry = INVALID_HANDLE_VALUE;
    }
    return failure;
}

ErrorRef RenameMeantEntry(const char *from, const char *to)
{
    HANDLE entry = INVALID_HANDLE_VALUE;
    ErrorRef failure = OpenMeantEntry(from, from, false, &entry);
    if (failure != NULL)
        return failure;
    /* The full-path form: no folder handle with a bare name (Wine refuses it). */
    WCHAR wide[MAX_PATH];
    int characters = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, to, -1, wide, MAX_PATH);
    DWORD size = (DWORD)(sizeof(FILE_RENAME_INFO) + characters * sizeof(WCHAR));
    FILE_RENAME_INFO *rename = characters > 0 ? (FILE_RENAME_INFO *)calloc(1, size) : NULL;
    if (characters <= 0)
        failure = RecordLastError("MultiByteToWideChar", "%s", to);
    else if (rename == NULL)
        failure = RecordErrorCode(ERROR_NOT_ENOUGH_MEMORY, "calloc", NULL);
    else {
        rename->ReplaceIfExists = FALSE; /* never over anything */
        rename->RootDirectory = NULL;
        rename->FileNameLength = (DWORD)((characters - 1) * sizeof(WCHAR));
        memcpy(rename->FileName, wide, characters * sizeof(WCHAR));
        failure = CheckedSetFileInformationByHandle(entry, FileRenameInfo, rename, size);
    }
    free(rename);
    return CloseHandleKeepingError(entry, failure);
}
