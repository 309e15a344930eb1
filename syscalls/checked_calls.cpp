/*
 * One wrapper per checked system call. Each passes its arguments on unchanged,
 * hands any handle or window out before testing it, and calls its formatter
 * directly after the failing call, while the last error code is still its own.
 */
#include "syscalls/syscalls.h"

ErrorRef CheckedCreateFile(const char *path, DWORD desiredAccess, DWORD shareMode,
                           SECURITY_ATTRIBUTES *security, DWORD creationDisposition,
                           DWORD flagsAndAttributes, HANDLE templateFile, HANDLE *handleOut)
{
    *handleOut = CreateFileA(path, desiredAccess, shareMode, security, creationDisposition,
                             flagsAndAttributes, templateFile);
    if (*handleOut == INVALID_HANDLE_VALUE)
        return RecordLastError("CreateFile", "%s", path);
    return NULL;
}

ErrorRef CheckedCloseHandle(HANDLE handle)
{
    if (!CloseHandle(handle))
        return RecordLastError("CloseHandle", NULL);
    return NULL;
}

ErrorRef CheckedReadFile(HANDLE file, void *buffer, DWORD bytesToRead, DWORD *bytesReadOut,
                         OVERLAPPED *overlapped)
{
    if (!ReadFile(file, buffer, bytesToRead, bytesReadOut, overlapped))
        return RecordLastError("ReadFile", NULL);
    return NULL;
}

ErrorRef CheckedWriteFile(HANDLE file, const void *buffer, DWORD bytesToWrite,
                          DWORD *bytesWrittenOut, OVERLAPPED *overlapped)
{
    if (!WriteFile(file, buffer, bytesToWrite, bytesWrittenOut, overlapped))
        return RecordLastError("WriteFile", NULL);
    if (*bytesWrittenOut != bytesToWrite)
        return RecordErrorCode(ERROR_HANDLE_DISK_FULL, "WriteFile", NULL);
    return NULL;
}

ErrorRef CheckedDeleteFile(const char *path)
{
    if (!DeleteFileA(path))
        return RecordLastError("DeleteFile", "%s", path);
    return NULL;
}

ErrorRef CheckedRemoveDirectory(const char *path)
{
    if (!RemoveDirectoryA(path))
        return RecordLastError("Remove Directory", "%s", path);
    return NULL;
}

ErrorRef CheckedFindFirstFile(const char *pattern, WIN32_FIND_DATAA *findData, HANDLE *handleOut)
{
    *handleOut = FindFirstFileA(pattern, findData);
    if (*handleOut == INVALID_HANDLE_VALUE)
        return RecordLastError("FindFirstFile", "%s", pattern);
    return NULL;
}

ErrorRef CheckedFindNextFile(HANDLE search, WIN32_FIND_DATAA *findData, DWORD *endFlag)
{
    if (FindNextFileA(search, findData)) {
        *endFlag = 0;
        return NULL;
    }
    ErrorRef failure = RecordLastError("FindNextFile", "");
    /* A failure without a code cannot be told from the end: the listing is over
       either way, and the caller must not take the old find data for an entry. */
    if (failure == NULL || failure->code == ERROR_NO_MORE_FILES) {
        *endFlag = 1;
        return NULL;
    }
    return failure;
}

ErrorRef CheckedFindClose(HANDLE search)
{
    if (!FindClose(search))
        return RecordLastError("FindClose", NULL);
    return NULL;
}

ErrorRef CheckedMoveFileEx(const char *from, const char *to, DWORD flags)
{
    if (!MoveFileExA(from, to, flags))
        return RecordLastError("MoveFileEx", "%s", from);
    return NULL;
}

ErrorRef CheckedCreateDirectory(const char *path, SECURITY_ATTRIBUTES *security)
{
    if (!CreateDirectoryA(path, security))
        return RecordLastError("CreateDirectory", "%s", path);
    return NULL;
}

ErrorRef CheckedCreateMutex(const char *name, SECURITY_ATTRIBUTES *security, HANDLE *mutexOut)
{
    /* CreateMutexA asks for MUTEX_ALL_ACCESS when the mutex exists already. */
    *mutexOut = CreateMutexA(security, FALSE, name);
    if (*mutexOut == NULL)
        return RecordLastError("CreateMutex", "%s", name);
    return NULL;
}

/* A looked-up call answered failure: without a code that is still a failure. */
static ErrorRef LookedUpCallFailed(const char *label, const char *name)
{
    ErrorRef failure = RecordLastError(label, "%s", name);
    return failure != NULL ? failure : RecordErrorCode(ERROR_INVALID_HANDLE, label, "%s", name);
}

ErrorRef CheckedCreateBoundaryDescriptor(CreateBoundaryDescriptorCall call, const char *name,
                                         HANDLE *boundaryOut)
{
    *boundaryOut = call(name, 0);
    return *boundaryOut == NULL ? LookedUpCallFailed("CreateBoundaryDescriptor", name) : NULL;
}

ErrorRef CheckedAddSIDToBoundaryDescriptor(AddToBoundaryDescriptorCall call, HANDLE *boundary, PSID sid)
{
    return call(boundary, sid) ? NULL : LookedUpCallFailed("AddSIDToBoundaryDescriptor", "");
}

ErrorRef CheckedAddIntegrityLabelToBoundaryDescriptor(AddToBoundaryDescriptorCall call,
                                                      HANDLE *boundary, PSID label)
{
    return call(boundary, label) ? NULL : LookedUpCallFailed("AddIntegrityLabelToBoundaryDescriptor", "");
}

ErrorRef CheckedCreatePrivateNamespace(CreatePrivateNamespaceCall call, SECURITY_ATTRIBUTES *security,
                                       HANDLE boundary, const char *alias, HANDLE *namespaceOut)
{
    *namespaceOut = call(security, boundary, alias);
    return *namespaceOut == NULL ? LookedUpCallFailed("CreatePrivateNamespace", alias) : NULL;
}

ErrorRef CheckedOpenPrivateNamespace(OpenPrivateNamespaceCall call, HANDLE boundary,
                                     const char *alias, HANDLE *namespaceOut)
{
    *namespaceOut = call(boundary, alias);
    return *namespaceOut == NULL ? LookedUpCallFailed("OpenPrivateNamespace", alias) : NULL;
}

ErrorRef CheckedAdjustTokenPrivileges(HANDLE token, TOKEN_PRIVILEGES *privileges)
{
    /* It answers success when it assigned none, and says so only in the last error. */
    if (!AdjustTokenPrivileges(token, FALSE, privileges, 0, NULL, NULL) ||
        GetLastError() == ERROR_NOT_ALL_ASSIGNED)
        return RecordLastError("AdjustTokenPrivileges", NULL);
    return NULL;
}

ErrorRef CheckedExitWindowsEx(ExitWindowsExCall call, UINT flags, DWORD reason)
{
    return call(flags, reason) ? NULL : LookedUpCallFailed("ExitWindowsEx", "");
}

/* A length of 0 is the call's failure; one of `size` or more asks for a larger
   buffer: the answer does not fit. */
static ErrorRef PathLengthAnswer(DWORD length, DWORD size, const char *label, const char *path)
{
    if (length == 0) {
        /* No path came back: without a code that is still no answer to use. */
        ErrorRef failure = RecordLastError(label, "%s", path);
        return failure != NULL ? failure : RecordErrorCode(ERROR_INVALID_NAME, label, "%s", path);
    }
    if (length >= size)
        return RecordErrorCode(ERROR_FILENAME_EXCED_RANGE, label, "%s", path);
    return NULL;
}

ErrorRef CheckedGetFullPathName(const char *path, DWORD size, char *buffer, DWORD *lengthOut)
{
    *lengthOut = GetFullPathNameA(path, size, buffer, NULL);
    return PathLengthAnswer(*lengthOut, size, "GetFullPathName", path);
}

ErrorRef CheckedGetLongPathName(const char *path, char *buffer, DWORD size, DWORD *lengthOut)
{
    *lengthOut = GetLongPathNameA(path, buffer, size);
    return PathLengthAnswer(*lengthOut, size, "GetLongPathName", path);
}

ErrorRef CheckedGetFinalPathNameByHandle(HANDLE file, char *buffer, DWORD size, DWORD flags,
                                         DWORD *lengthOut)
{
    *lengthOut = GetFinalPathNameByHandleA(file, buffer, size, flags);
    return PathLengthAnswer(*lengthOut, size, "GetFinalPathNameByHandle", "");
}

ErrorRef CheckedGetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION *info)
{
    if (!GetFileInformationByHandle(file, info))
        return RecordLastError("GetFileInformationByHandle", NULL);
    return NULL;
}

ErrorRef CheckedSetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass,
                                           void *info, DWORD size)
{
    if (!SetFileInformationByHandle(file, infoClass, info, size))
        return RecordLastError("SetFileInformationByHandle", NULL);
    return NULL;
}

ErrorRef CheckedGetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION what,
                                PSID *owner, PSID *group, PACL *dacl, PACL *sacl,
                                PSECURITY_DESCRIPTOR *descriptor)
{
    DWORD code = GetSecurityInfo(handle, type, what, owner, group, dacl, sacl, descriptor);
    if (code != ERROR_SUCCESS)
        return RecordErrorCode(code, "GetSecurityInfo", NULL);
    return NULL;
}

ErrorRef CheckedRegOpenKey(HKEY root, const char *subkey, DWORD options, REGSAM access,
                           HKEY *keyOut)
{
    LONG code = RegOpenKeyExA(root, subkey, options, access, keyOut);
    if (code != ERROR_SUCCESS)
        return RecordErrorCode((DWORD)code, "RegOpenKey", "%s", subkey);
    return NULL;
}

ErrorRef CheckedRegCloseKey(HKEY key)
{
    LONG code = RegCloseKey(key);
    if (code != ERROR_SUCCESS)
        return RecordErrorCode((DWORD)code, "RegCloseKey", NULL);
    return NULL;
}

ErrorRef CheckedRegDeleteKey(HKEY root, const char *subkey)
{
    LONG code = RegDeleteKeyA(root, subkey);
    if (code != ERROR_SUCCESS)
        return RecordErrorCode((DWORD)code, "RegDeleteKey", "%s", subkey);
    return NULL;
}

ErrorRef CheckedRegDeleteValue(HKEY key, const char *valueName)
{
    LONG code = RegDeleteValueA(key, valueName);
    if (code != ERROR_SUCCESS)
        return RecordErrorCode((DWORD)code, "RegDeleteValue", "%s", valueName);
    return NULL;
}

ErrorRef CheckedCreateDialog(HINSTANCE instance, const char *templateName, HWND parent,
                             DLGPROC dialogProc, HWND *windowOut)
{
    *windowOut = CreateDialogParamA(instance, templateName, parent, dialogProc, 0);
    if (*windowOut == NULL)
        return RecordLastError("CreateDialog", NULL);
    return NULL;
}

ErrorRef CheckedDestroyWindow(HWND window)
{
    if (!DestroyWindow(window))
        return RecordLastError("DestroyWindow", NULL);
    return NULL;
}

ErrorRef CheckedGetDlgItem(HWND dialog, int id, HWND *itemOut)
{
    *itemOut = GetDlgItem(dialog, id);
    if (*itemOut == NULL)
        return RecordLastError("GetDlgItem", NULL);
    return NULL;
}

ErrorRef CheckedSetFocus(HWND window, HWND *previousOut)
{
    /* A null answer is also "nothing had the focus", which sets no code: an
       older call's code must not be taken for a failure of this one. */
    SetLastError(0);
    *previousOut = SetFocus(window);
    if (*previousOut == NULL)
        return RecordLastError("SetFocus", NULL);
    return NULL;
}

ErrorRef CloseHandleKeepingError(HANDLE file, ErrorRef earlier)
{
    ErrorRef closed = CheckedCloseHandle(file);
    return earlier != NULL ? earlier : closed;
}
