/*
 * TEMPORARY stand-in for the chain test (the real one replaces this file):
 * what the system reports of a folder, whether its owner and permissions let
 * only SYSTEM, Administrators and TrustedInstaller change it, and the walk of
 * a full path up to its volume's root.
 */
#include "removal/removal.h"
#include "removal/records.h"

#include <aclapi.h>
#include <sddl.h>
#include <string.h>

DWORD ReadFolderFromSystem(const char *path, FolderReport *report)
{
    memset(report, 0, sizeof *report);
    HANDLE handle = CreateFileA(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError();
    BY_HANDLE_FILE_INFORMATION info;
    DWORD code = GetFileInformationByHandle(handle, &info) ? 0 : GetLastError();
    report->attributes = info.dwFileAttributes;
    char final[MAX_PATH + 8];
    DWORD length = code == 0 ? GetFinalPathNameByHandleA(handle, final, sizeof final, 0) : 0;
    if (code == 0 && (length == 0 || length >= sizeof final))
        code = ERROR_FILENAME_EXCED_RANGE;
    const char *shown = strncmp(final, "\\\\?\\", 4) == 0 ? final + 4 : final;
    if (code == 0 && strlen(shown) < sizeof report->finalPath)
        strcpy(report->finalPath, shown);
    if (code == 0)
        code = GetSecurityInfo(handle, SE_FILE_OBJECT,
                               OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, NULL, NULL,
                               NULL, NULL, &report->descriptor);
    CloseHandle(handle);
    return code;
}

DWORD (*ReadFolder)(const char *path, FolderReport *report) = ReadFolderFromSystem;

static bool IsTrustedSid(PSID sid)
{
    if (sid == NULL)
        return false;
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
        return true;
    char *text = NULL;
    bool installer = false;
    if (ConvertSidToStringSidA(sid, &text)) {
        installer = strcmp(text, "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464") == 0;
        LocalFree(text);
    }
    return installer;
}

bool FolderIsTrusted(PSECURITY_DESCRIPTOR descriptor, ChainPlace place)
{
    PSID owner = NULL;
    BOOL defaulted, present = FALSE;
    PACL dacl = NULL;
    if (descriptor == NULL || !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !IsTrustedSid(owner) || !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
        !present || dacl == NULL)
        return false;
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    DWORD changes = FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;
    if (place != CHAIN_ROOT)
        changes |= FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;
    for (DWORD i = 0; i < dacl->AceCount; i++) {
        ACE_HEADER *header;
        if (!GetAce(dacl, i, (void **)&header))
            return false;
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE ||
            (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return false;
        ACCESS_ALLOWED_ACE *ace = (ACCESS_ALLOWED_ACE *)header;
        DWORD mask = ace->Mask;
        MapGenericMask(&mask, &mapping);
        if ((mask & changes) != 0 && !IsTrustedSid(&ace->SidStart))
            return false;
    }
    return true;
}

/* One entry of the chain as the system reports it. */
static bool LinkIsTrusted(const char *path, ChainPlace place, bool entry)
{
    FolderReport report;
    DWORD code = ReadFolder(path, &report);
    if (code != 0)
        return entry && (code == ERROR_FILE_NOT_FOUND); /* nothing stands at a name to be made */
    bool trusted = !(report.attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                   lstrcmpiA(report.finalPath, path) == 0 &&
                   ((entry && place != CHAIN_ROOT) || FolderIsTrusted(report.descriptor, place));
    LocalFree(report.descriptor);
    return trusted;
}

bool ChainIsTrusted(const char *fullPath)
{
    size_t length = strlen(fullPath);
    if (length < 3 || length >= MAX_PATH || fullPath[1] != ':' || fullPath[2] != '\\')
        return false;
    char path[MAX_PATH];
    memcpy(path, fullPath, 3);
    path[3] = '\0';
    if (GetDriveTypeA(path) != DRIVE_FIXED)
        return false;
    memcpy(path, fullPath, length + 1);
    const unsigned char *leadBytes = AnsiLeadBytes();
    if (EndsInChar(path, length, '\\', leadBytes))
        path[--length] = '\0';
    bool entry = true;
    ChainPlace place = CHAIN_HOLDER;
    while (length > 3) {
        if (!LinkIsTrusted(path, place, entry))
            return false;
        if (!entry)
            place = CHAIN_ABOVE;
        entry = false;
        length = FindLastChar(path, length, '\\', leadBytes);
        path[length > 2 ? length : 3] = '\0';
        length = length > 2 ? length : 3;
    }
    return LinkIsTrusted(path, CHAIN_ROOT, entry);
}
