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

void (*AboutToDelete)(const char *path, bool onHandle); /* test seam; null in the product */

/* Windows 10 1709's class; the headers for the systems we target leave it out. */
static const FILE_INFO_BY_HANDLE_CLASS DISPOSITION_INFO_EX = (FILE_INFO_BY_HANDLE_CLASS)21;

/* A folder's verdict, kept for the run. */
struct OpenVerdict {
    char *folder;
    bool open;
};
static OpenVerdict *Verdicts;
static size_t VerdictCount, VerdictCapacity;

static void KeepVerdict(const char *folder, bool open)
{
    if (VerdictCount == VerdictCapacity) {
        size_t grown = VerdictCapacity == 0 ? 8 : VerdictCapacity * 2;
        OpenVerdict *verdicts = (OpenVerdict *)realloc(Verdicts, grown * sizeof *verdicts);
        if (verdicts == NULL)
            return; /* asked again next time */
        Verdicts = verdicts;
        VerdictCapacity = grown;
    }
    char *copy = (char *)malloc(strlen(folder) + 1);
    if (copy == NULL)
        return;
    strcpy(copy, folder);
    Verdicts[VerdictCount].folder = copy;
    Verdicts[VerdictCount++].open = open;
}

bool FolderOpenToOthers(const char *folder)
{
    if (!RunIsElevated())
        return false; /* the run has no more rights than the others: nothing to steer */
    size_t length = strlen(folder);
    for (size_t i = 0; i < VerdictCount; i++)
        if (strlen(Verdicts[i].folder) == length &&
            EqualIgnoringAsciiCase(Verdicts[i].folder, folder, length, AnsiLeadBytes()))
            return Verdicts[i].open;
    bool open = !FolderChainIsTrusted(folder);
    KeepVerdict(folder, open);
    return open;
}

DWORD ReadDescriptorFromSystem(const char *path, PSECURITY_DESCRIPTOR *descriptor)
{
    *descriptor = NULL;
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    if (GetFileSecurityA(path, parts, NULL, 0, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return GetLastError() != 0 ? GetLastError() : ERROR_INVALID_SECURITY_DESCR;
    *descriptor = LocalAlloc(LMEM_FIXED, size);
    if (*descriptor == NULL)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (!GetFileSecurityA(path, parts, *descriptor, size, &size)) {
        DWORD code = GetLastError();
        LocalFree(*descriptor);
        *descriptor = NULL;
        return code;
    }
    return 0;
}

DWORD (*ReadDescriptor)(const char *path, PSECURITY_DESCRIPTOR *descriptor) = ReadDescriptorFromSystem; /* test seam */

bool EnteredFolderOpenToOthers(const char *folder)
{
    if (!RunIsElevated())
        return false;
    /* Below a folder others may not change, nobody can put a link in its
       place, and the walk enters no link it lists: its descriptor is all. */
    PSECURITY_DESCRIPTOR descriptor = NULL;
    bool closed = ReadDescriptor(folder, &descriptor) == 0 && FolderIsTrusted(descriptor, CHAIN_HOLDER);
    LocalFree(descriptor);
    return !closed;
}

void ForgetOpenFolders()
{
    for (size_t i = 0; i < VerdictCount; i++)
        free(Verdicts[i].folder);
    VerdictCount = 0;
}

ErrorRef DeleteMeantEntry(const char *path, const char *meant, bool folder, bool listed)
{
    if (AboutToDelete != NULL)
        AboutToDelete(path, true);
    HANDLE entry = INVALID_HANDLE_VALUE;
    ErrorRef failure = OpenMeantEntry(path, meant, folder, &entry);
    /* A failed open is the deletion's failure, told as the call by path tells it. */
    if (failure != NULL && failure->code != ERROR_REDIRECTED_ENTRY)
        return RecordErrorCode(failure->code, folder ? "RemoveDirectory" : "DeleteFile", "%s", path);
    if (failure != NULL)
        return failure;
    BY_HANDLE_FILE_INFORMATION info;
    failure = CheckedGetFileInformationByHandle(entry, &info);
    bool directory = failure == NULL && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    bool reparse = failure == NULL && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    /* The walk listed a plain file or folder: anything else stands there now.
       A record is judged as the call by path would: a folder is no file (5),
       a file no folder (267). */
    if (failure == NULL && listed && (directory != folder || reparse))
        failure = RecordErrorCode(ERROR_REDIRECTED_ENTRY, "GetFileInformationByHandle", "%s", path);
    else if (failure == NULL && directory != folder)
        failure = RecordErrorCode(folder ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED,
                                  folder ? "RemoveDirectory" : "DeleteFile", "%s", path);
    if (failure == NULL) {
        /* Gone from its folder at once; systems before it answer 87. A
           read-only file stays a failure (5), as for DeleteFileA. */
        FILE_DISPOSITION_INFO_EX posix = {FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
        failure = CheckedSetFileInformationByHandle(entry, DISPOSITION_INFO_EX, &posix, sizeof posix);
        if (failure != NULL && failure->code == ERROR_INVALID_PARAMETER) {
            FILE_DISPOSITION_INFO plain = {TRUE};
            failure = CheckedSetFileInformationByHandle(entry, FileDispositionInfo, &plain, sizeof plain);
        }
    }
    return CloseHandleKeepingError(entry, failure);
}

bool HolderOpenToOthers(const char *path, char meant[MAX_PATH])
{
    meant[0] = '\0';
    if (!RunIsElevated())
        return false;
    DWORD length = 0;
    size_t folderLength = 0, name = 0;
    /* Only a look: the caller's failure stays what it recorded. */
    ErrorDescription record = ErrorRecord;
    bool open = true; /* no full path, or no folder to judge: as open */
    if (CheckedGetFullPathName(path, MAX_PATH, meant, &length) != NULL) {
        meant[0] = '\0';
    } else {
        if (length > 3 && EndsInChar(meant, length, '\\', AnsiLeadBytes()))
            meant[--length] = '\0';
        if (SplitFolderAndName(meant, length, &folderLength, &name, AnsiLeadBytes())) {
            char holder = meant[folderLength];
            meant[folderLength] = '\0';
            open = FolderOpenToOthers(meant);
            meant[folderLength] = holder;
        }
    }
    ErrorRecord = record;
    return open;
}

bool LeadsElsewhere(const char *path, const char *meant)
{
    char finalPath[MAX_PATH];
    size_t length = strlen(meant);
    return FinalPathOf(path, finalPath) &&
           (strlen(finalPath) != length || !EqualIgnoringAsciiCase(finalPath, meant, length, AnsiLeadBytes()));
}

ErrorRef DeleteRecordEntry(const char *path, bool folder)
{
    char full[MAX_PATH];
    if (HolderOpenToOthers(path, full))
        return DeleteMeantEntry(path, full, folder, false);
    if (AboutToDelete != NULL)
        AboutToDelete(path, false);
    return folder ? CheckedRemoveDirectory(path) : CheckedDeleteFile(path);
}
