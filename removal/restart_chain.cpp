/*
 * The chain test. A deletion at the restart runs as SYSTEM and follows whatever
 * the path names by then, so a name is scheduled only when no account but
 * SYSTEM, Administrators and TrustedInstaller can change any folder from it up
 * to its volume's root, and none of them, nor the entry, is a link. Whatever
 * cannot be read, or reads oddly, is unsafe.
 */
#include "removal/removal.h"
#include "removal/records.h"

#include <string.h>

DWORD (*ReadFolder)(const char *path, FolderReport *report) = ReadFolderFromSystem; /* test seam */

/* The system hands out a self-relative copy; one that is not is made one, so
   that a single LocalFree always frees it. */
static ErrorRef SelfRelative(PSECURITY_DESCRIPTOR *descriptor)
{
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0, size = 0;
    if (!GetSecurityDescriptorControl(*descriptor, &control, &revision))
        return RecordLastError("GetSecurityDescriptorControl", NULL);
    if (control & SE_SELF_RELATIVE)
        return NULL;
    MakeSelfRelativeSD(*descriptor, NULL, &size);
    PSECURITY_DESCRIPTOR copy = size > 0 ? LocalAlloc(LMEM_FIXED, size) : NULL;
    if (copy == NULL || !MakeSelfRelativeSD(*descriptor, copy, &size)) {
        LocalFree(copy);
        return RecordErrorCode(ERROR_INVALID_SECURITY_DESCR, "MakeSelfRelativeSD", NULL);
    }
    LocalFree(*descriptor);
    *descriptor = copy;
    return NULL;
}

DWORD ReadFolderFromSystem(const char *path, FolderReport *report)
{
    memset(report, 0, sizeof *report);
    HANDLE entry = NULL;
    ErrorRef failure = CheckedCreateFile(
        path, READ_CONTROL | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL, &entry);
    if (failure != NULL)
        return failure->code;
    BY_HANDLE_FILE_INFORMATION info;
    failure = CheckedGetFileInformationByHandle(entry, &info);
    if (failure == NULL)
        failure = FinalPathOfHandle(entry, report->finalPath);
    if (failure == NULL)
        failure = CheckedGetSecurityInfo(entry, SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         NULL, NULL, NULL, NULL, &report->descriptor);
    if (failure == NULL)
        failure = SelfRelative(&report->descriptor);
    failure = CloseHandleKeepingError(entry, failure);
    if (failure != NULL) {
        LocalFree(report->descriptor);
        memset(report, 0, sizeof *report);
        return failure->code;
    }
    report->attributes = info.dwFileAttributes;
    return 0;
}

static bool HasAuthority(PSID sid, BYTE authority, BYTE subAuthorities)
{
    SID_IDENTIFIER_AUTHORITY *of = GetSidIdentifierAuthority(sid);
    static const BYTE zeros[5] = {0};
    return *GetSidSubAuthorityCount(sid) == subAuthorities &&
           memcmp(of->Value, zeros, 5) == 0 && of->Value[5] == authority;
}

/* NT SERVICE\TrustedInstaller, S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464. */
static bool IsTrustedInstaller(PSID sid)
{
    static const DWORD parts[6] = {80, 956008885u, 3418522649u, 1831038044u, 1853292631u,
                                   2271478464u};
    if (!HasAuthority(sid, 5, 6))
        return false;
    for (DWORD i = 0; i < 6; i++)
        if (*GetSidSubAuthority(sid, i) != parts[i])
            return false;
    return true;
}

/* OWNER RIGHTS (S-1-3-4) stands for the owner. Never a user's SID: the
   administrator's unelevated twin has it too. */
static bool IsTrustedSid(PSID sid, bool ownerTrusted)
{
    if (sid == NULL || !IsValidSid(sid))
        return false;
    if (HasAuthority(sid, 3, 1) && *GetSidSubAuthority(sid, 0) == 4)
        return ownerTrusted;
    return IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsTrustedInstaller(sid);
}

/* Deny entries and integrity labels; every other kind of entry may grant. */
static bool NeverGrants(BYTE type)
{
    return type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_OBJECT_ACE_TYPE ||
           type == ACCESS_DENIED_CALLBACK_ACE_TYPE ||
           type == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE || type == SYSTEM_MANDATORY_LABEL_ACE_TYPE;
}

bool FolderIsTrusted(PSECURITY_DESCRIPTOR descriptor, ChainPlace place)
{
    PSID owner = NULL;
    PACL dacl = NULL;
    BOOL defaulted = FALSE, present = FALSE;
    if (descriptor == NULL || !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
        return false;
    /* The owner may always rewrite the permissions; a NULL DACL lets anyone in. */
    if (!IsTrustedSid(owner, false) || !present || dacl == NULL)
        return false;
    /* At the root, adding cannot redirect a name that exists: every user may.
       Below it, writing the attributes of an empty folder is enough to make
       it a junction. */
    DWORD changes = FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;
    if (place != CHAIN_ROOT)
        changes |= FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_ATTRIBUTES;
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    for (DWORD i = 0; i < dacl->AceCount; i++) {
        ACE_HEADER *header = NULL;
        if (!GetAce(dacl, i, (void **)&header))
            return false;
        /* Inherit-only entries say nothing of this folder itself. */
        if (NeverGrants(header->AceType) || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        /* Callback, object, conditional or unknown: what it grants to whom is not weighed. */
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return false;
        ACCESS_ALLOWED_ACE *ace = (ACCESS_ALLOWED_ACE *)header;
        DWORD mask = ace->Mask;
        MapGenericMask(&mask, &mapping);
        if ((mask & changes) != 0 && !IsTrustedSid(&ace->SidStart, true))
            return false;
    }
    return true;
}

/* One entry of the chain read through the seam: no link, its final path the
   path itself, and trusted for its place. The entry itself is judged as a
   holder when others could delete it and put a link at its name: when it is
   a folder, or its folder is the volume's root, where anyone may add. */
static bool LinkIsTrusted(const char *path, bool entry, ChainPlace place,
                          const unsigned char *leadBytes)
{
    FolderReport report;
    memset(&report, 0, sizeof report);
    size_t length = strlen(path);
    bool read = ReadFolder(path, &report) == 0;
    bool judged = !entry || (report.attributes & FILE_ATTRIBUTE_DIRECTORY) || place == CHAIN_ROOT;
    bool trusted = read && !(report.attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                   strnlen(report.finalPath, MAX_PATH) == length &&
                   EqualIgnoringAsciiCase(report.finalPath, path, length, leadBytes) &&
                   (!judged || FolderIsTrusted(report.descriptor, entry ? CHAIN_HOLDER : place));
    LocalFree(report.descriptor);
    return trusted;
}

bool ChainIsTrustedIn(const char *fullPath, const unsigned char *leadBytes)
{
    char path[MAX_PATH];
    size_t length = strnlen(fullPath, MAX_PATH);
    /* X:\ and a name: no share, no device path, nothing relative. */
    char drive = fullPath[0];
    bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
    if (length >= MAX_PATH || length < 4 || !letter || fullPath[1] != ':' || fullPath[2] != '\\' ||
        EndsInChar(fullPath, length, '\\', leadBytes))
        return false;
    /* At boot SYSTEM reads \??\X:, where no subst or mapped drive exists. */
    char root[4] = {drive, ':', '\\', '\0'};
    if (GetDriveTypeA(root) != DRIVE_FIXED)
        return false;
    memcpy(path, fullPath, length + 1);
    size_t folderAt, nameAt;
    bool atRoot = SplitFolderAndName(path, length, &folderAt, &nameAt, leadBytes) && folderAt == 3;
    if (!LinkIsTrusted(path, true, atRoot ? CHAIN_ROOT : CHAIN_HOLDER, leadBytes))
        return false;
    ChainPlace place = CHAIN_HOLDER;
    size_t folderLength, name;
    while (length > 3) {
        if (!SplitFolderAndName(path, length, &folderLength, &name, leadBytes))
            return false; /* no folder to step up to: fail safe */
        length = folderLength;
        path[length] = '\0';
        if (!LinkIsTrusted(path, false, length == 3 ? CHAIN_ROOT : place, leadBytes))
            return false;
        place = CHAIN_ABOVE;
    }
    return true;
}

bool ChainIsTrusted(const char *fullPath)
{
    /* Only a look: what the caller's failure recorded stays. */
    ErrorDescription record = ErrorRecord;
    DWORD code = GetLastError();
    bool trusted = ChainIsTrustedIn(fullPath, AnsiLeadBytes());
    ErrorRecord = record;
    SetLastError(code);
    return trusted;
}

bool FolderChainIsTrusted(const char *folder)
{
    char drive = folder[0];
    bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
    if (!letter || strcmp(folder + 1, ":\\") != 0)
        return ChainIsTrusted(folder);
    ErrorDescription record = ErrorRecord;
    DWORD code = GetLastError();
    bool trusted = GetDriveTypeA(folder) == DRIVE_FIXED && LinkIsTrusted(folder, false, CHAIN_ROOT, AnsiLeadBytes());
    ErrorRecord = record;
    SetLastError(code);
    return trusted;
}
