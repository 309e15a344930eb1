/*
 * Checked system calls: one thin wrapper per system call whose failure the
 * program looks at, and the one process-wide error record. A wrapper passes its
 * arguments on unchanged and returns null on success; on failure it returns a
 * reference to ErrorRecord, which then holds the code, the system's message and
 * the operation's label, code and (for named objects) name. Beside them, what
 * a path names by identity, which the engine, the report and the driver share.
 *
 * This header is the one place where <windows.h> comes in.
 */
#pragma once

#include <windows.h>

#include <aclapi.h>

/* error_record.cpp */

struct ErrorDescription {
    DWORD code;      /* system error code of the last recorded failure */
    char text[252];  /* system message, then "(label) (code)" or "(label) (code) (detail)" */
};
typedef ErrorDescription *ErrorRef;  /* null: success */

extern ErrorDescription ErrorRecord; /* last recorded failure; never cleared */

/* The thread's last error code; a code of 0 means no failure and yields null. */
ErrorRef RecordLastError(const char *label, const char *detailFormat, ...);
/* A code returned by the call itself (the registry); always recorded. */
ErrorRef RecordErrorCode(DWORD code, const char *label, const char *detailFormat, ...);

/* checked_calls.cpp */

ErrorRef CheckedCreateFile(const char *path, DWORD desiredAccess, DWORD shareMode,
                           SECURITY_ATTRIBUTES *security, DWORD creationDisposition,
                           DWORD flagsAndAttributes, HANDLE templateFile, HANDLE *handleOut);
ErrorRef CheckedCloseHandle(HANDLE handle);
ErrorRef CheckedReadFile(HANDLE file, void *buffer, DWORD bytesToRead, DWORD *bytesReadOut,
                         OVERLAPPED *overlapped);
/* A write that takes fewer bytes than it was given fails too (disk full). */
ErrorRef CheckedWriteFile(HANDLE file, const void *buffer, DWORD bytesToWrite,
                          DWORD *bytesWrittenOut, OVERLAPPED *overlapped);
ErrorRef CheckedDeleteFile(const char *path);
ErrorRef CheckedRemoveDirectory(const char *path);
ErrorRef CheckedFindFirstFile(const char *pattern, WIN32_FIND_DATAA *findData, HANDLE *handleOut);
/* The end of a listing is no failure: null with *endFlag 1. After an entry, *endFlag is 0. */
ErrorRef CheckedFindNextFile(HANDLE search, WIN32_FIND_DATAA *findData, DWORD *endFlag);
ErrorRef CheckedFindClose(HANDLE search);

ErrorRef CheckedMoveFileEx(const char *from, const char *to, DWORD flags);
ErrorRef CheckedCreateDirectory(const char *path, SECURITY_ATTRIBUTES *security);
/* The mutex, also when it existed already (the last error then says so); an
   existing one is opened with full access. */
ErrorRef CheckedCreateMutex(const char *name, SECURITY_ATTRIBUTES *security, HANDLE *mutexOut);

/* The private namespace calls are looked up at run time (older systems and Wine
   lack them), so each wrapper is handed the call. A failure without a code
   still fails, with 6. */
typedef HANDLE(WINAPI *CreateBoundaryDescriptorCall)(LPCSTR name, ULONG flags);
typedef BOOL(WINAPI *AddToBoundaryDescriptorCall)(HANDLE *boundary, PSID sid);
typedef HANDLE(WINAPI *CreatePrivateNamespaceCall)(SECURITY_ATTRIBUTES *security, void *boundary,
                                                   LPCSTR aliasPrefix);
typedef HANDLE(WINAPI *OpenPrivateNamespaceCall)(void *boundary, LPCSTR aliasPrefix);
ErrorRef CheckedCreateBoundaryDescriptor(CreateBoundaryDescriptorCall call, const char *name,
                                         HANDLE *boundaryOut);
ErrorRef CheckedAddSIDToBoundaryDescriptor(AddToBoundaryDescriptorCall call, HANDLE *boundary, PSID sid);
ErrorRef CheckedAddIntegrityLabelToBoundaryDescriptor(AddToBoundaryDescriptorCall call,
                                                      HANDLE *boundary, PSID label);
ErrorRef CheckedCreatePrivateNamespace(CreatePrivateNamespaceCall call, SECURITY_ATTRIBUTES *security,
                                       HANDLE boundary, const char *alias, HANDLE *namespaceOut);
ErrorRef CheckedOpenPrivateNamespace(OpenPrivateNamespaceCall call, HANDLE boundary,
                                     const char *alias, HANDLE *namespaceOut);

/* The path calls answer a length; an answer that does not fit the buffer
   fails too (206), so that the buffer always holds a whole, terminated path. */
ErrorRef CheckedGetFullPathName(const char *path, DWORD size, char *buffer, DWORD *lengthOut);
ErrorRef CheckedGetLongPathName(const char *path, char *buffer, DWORD size, DWORD *lengthOut);
ErrorRef CheckedGetFinalPathNameByHandle(HANDLE file, char *buffer, DWORD size, DWORD flags,
                                         DWORD *lengthOut);
ErrorRef CheckedGetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION *info);
ErrorRef CheckedSetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass,
                                           void *info, DWORD size);
/* The call answers its code itself; *descriptor is the caller's to LocalFree. */
ErrorRef CheckedGetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION what,
                                PSID *owner, PSID *group, PACL *dacl, PACL *sacl,
                                PSECURITY_DESCRIPTOR *descriptor);

/* A call that succeeds without assigning every privilege asked for fails
   too, with the code it leaves (1300). */
ErrorRef CheckedAdjustTokenPrivileges(HANDLE token, TOKEN_PRIVILEGES *privileges);
/* The restart call is handed in (a test seam: under Wine the real one ends
   every windowed program of the prefix). A success only starts the shutdown. */
typedef BOOL(WINAPI *ExitWindowsExCall)(UINT flags, DWORD reason);
ErrorRef CheckedExitWindowsEx(ExitWindowsExCall call, UINT flags, DWORD reason);

ErrorRef CheckedRegOpenKey(HKEY root, const char *subkey, DWORD options, REGSAM access,
                           HKEY *keyOut);
ErrorRef CheckedRegCloseKey(HKEY key);
ErrorRef CheckedRegDeleteKey(HKEY root, const char *subkey);
ErrorRef CheckedRegDeleteValue(HKEY key, const char *valueName);

ErrorRef CheckedCreateDialog(HINSTANCE instance, const char *templateName, HWND parent,
                             DLGPROC dialogProc, HWND *windowOut);
ErrorRef CheckedDestroyWindow(HWND window);
ErrorRef CheckedGetDlgItem(HWND dialog, int id, HWND *itemOut);
/* SetFocus answers null also when no window had the focus: that counts only with a last error. */
ErrorRef CheckedSetFocus(HWND window, HWND *previousOut);

/* Closes the handle always; reports `earlier` if set, else the close's own result. */
ErrorRef CloseHandleKeepingError(HANDLE file, ErrorRef earlier);

/* file_identity.cpp: what a path names, by the system's answer, not its spelling. */

struct FileIdentity {
    DWORD volume, indexHigh, indexLow; /* what GetFileInformationByHandle reports */
};

/* "\\?\C:\x" as "C:\x", "\\?\UNC\srv\share" as "\\srv\share", in place. */
void StripDevicePrefix(char *path);
/* The final path of what the handle names, without the device prefix. */
ErrorRef FinalPathOfHandle(HANDLE file, char path[MAX_PATH]);
/* The final path of the entry at path, a link taken as itself; false when it
   cannot be opened. Only a look: the error record is left as it was. */
bool FinalPathOf(const char *path, char finalPath[MAX_PATH]);
/* The entry at path is, by final paths, the target or a folder above it;
   leadBytes: the code page's, as the path-spelling tests take them. */
bool LeadsByIdentity(const char *path, const char *targetFinal, const unsigned char *leadBytes);
/* The identity of the entry at path (a link as itself when asItself); false
   with the system's code when nothing can be opened there. */
bool IdentityOf(const char *path, bool asItself, FileIdentity *identity, DWORD *code);
bool SameIdentity(const FileIdentity *a, const FileIdentity *b);
