/*
 * Files in use: what cannot be deleted now goes at the next restart. A file
 * that another program keeps open, or a running program, is first renamed into
 * a holding folder of this run (in the temporary folder, changeable only by
 * Administrators and SYSTEM) and that name is scheduled, so the original path
 * is free at once and a reinstall before the restart is never touched. Only
 * where the rename fails is the path scheduled under its own name, and only
 * when its folder cannot be changed by other accounts. The system's own list
 * of pending deletions is written only through MoveFileExA. A run without
 * administrator rights schedules nothing: Windows would refuse it.
 */
#include "removal/removal.h"
#include "driver/driver.h"
#include "removal/records.h"

#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static bool OpenWithDeleteAccess(const char *path)
{
    HANDLE file = CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

static ErrorRef RenameAside(const char *from, const char *to)
{
    return CheckedMoveFileEx(from, to, 0); /* never replaces anything, never copies */
}

bool (*RunIsElevated)() = RunsElevated;                     /* test seam */
bool (*OthersMayChange)(const char *folder) = FolderOthersMayChange; /* test seam */
bool (*OpensForDeletion)(const char *path) = OpenWithDeleteAccess;   /* test seam */
ErrorRef (*MoveAside)(const char *from, const char *to) = RenameAside; /* test seam */

static char HoldingFolder[MAX_PATH]; /* this run's holding folder; "" until one is made */
static unsigned long HeldCount;      /* names given out in it */
static unsigned long MovedCount;     /* files that went into it */
static char **InPlace;               /* paths scheduled under their own names */
static size_t InPlaceCount, InPlaceCapacity;

bool IsInUse(const char *path, DWORD code)
{
    if (code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED)
        return false;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    /* A running image refuses deletion with 5 but opens for it; a file whose
       permissions deny deletion does not, and stays a failure. */
    return code == ERROR_SHARING_VIOLATION ||
           (!(attributes & FILE_ATTRIBUTE_READONLY) && OpensForDeletion(path));
}

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
    return installer; /* TrustedInstaller */
}

bool FolderOthersMayChange(const char *folder)
{
    PSID owner = NULL;
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (GetNamedSecurityInfoA(folder, SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, NULL,
                              &dacl, NULL, &descriptor) != ERROR_SUCCESS)
        return true; /* unknown is unsafe */
    /* The owner may always rewrite the folder's permissions. */
    bool others = !IsTrustedSid(owner) || dacl == NULL;
    const DWORD CHANGES = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE |
                          WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    for (DWORD i = 0; !others && i < dacl->AceCount; i++) {
        ACE_HEADER *header;
        if (!GetAce(dacl, i, (void **)&header) || header->AceType != ACCESS_ALLOWED_ACE_TYPE ||
            (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        ACCESS_ALLOWED_ACE *ace = (ACCESS_ALLOWED_ACE *)header;
        others = (ace->Mask & CHANGES) != 0 && !IsTrustedSid(&ace->SidStart);
    }
    LocalFree(descriptor);
    return others;
}

bool MayScheduleInPlace(const char *path)
{
    size_t length = strlen(path), folderLength, name;
    if (length >= MAX_PATH || !RunIsElevated() ||
        !SplitFolderAndName(path, length, &folderLength, &name, AnsiLeadBytes()))
        return false;
    char folder[MAX_PATH];
    memcpy(folder, path, folderLength);
    folder[folderLength] = '\0';
    return !OthersMayChange(folder);
}

/* A new folder of this run in the temporary folder, open to Administrators
   and SYSTEM alone (owned by Administrators), made on first need. */
static bool MakeHoldingFolder()
{
    if (HoldingFolder[0] != '\0')
        return true;
    TempPathQuery getTempPath2 = (TempPathQuery)(void *)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "GetTempPath2A");
    char temp[MAX_PATH];
    DWORD length = GetTempFolder(getTempPath2, temp);
    if (length == 0 || length + 24 >= MAX_PATH)
        return false;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1, &descriptor, NULL))
        return false;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    char folder[MAX_PATH];
    bool made = false;
    /* Never one that exists: it may be someone else's. */
    for (unsigned n = 1; !made && n < 1000; n++) {
        snprintf(folder, sizeof folder, "%sVorblend-held-%u", temp, n);
        ErrorRef failure = CheckedCreateDirectory(folder, &security);
        made = failure == NULL;
        if (!made && failure->code != ERROR_ALREADY_EXISTS)
            break;
    }
    LocalFree(descriptor);
    if (made)
        strcpy(HoldingFolder, folder);
    return made;
}

/* Renames the file into the holding folder and schedules that name; the
   path is then free. A schedule that fails puts the file back. */
static AtRestart MoveThenSchedule(const char *path, char held[MAX_PATH])
{
    if (!MakeHoldingFolder())
        return AT_RESTART_NONE;
    size_t at = FindLastChar(path, strlen(path), '\\', AnsiLeadBytes());
    const char *name = path[at] == '\\' ? path + at + 1 : path;
    ErrorRef failure = NULL;
    do {
        HeldCount++;
        int written = snprintf(held, MAX_PATH, "%s\\%lu-%s", HoldingFolder, HeldCount, name);
        if (written < 0 || written >= MAX_PATH)
            snprintf(held, MAX_PATH, "%s\\%lu", HoldingFolder, HeldCount);
        failure = MoveAside(path, held);
    } while (failure != NULL && (failure->code == ERROR_ALREADY_EXISTS ||
                                 failure->code == ERROR_FILE_EXISTS) && HeldCount < 100000);
    if (failure != NULL) {
        held[0] = '\0';
        if (MovedCount == 0) { /* nothing in it yet: no empty folder is left behind */
            RemoveDirectoryA(HoldingFolder);
            HoldingFolder[0] = '\0';
        }
        return AT_RESTART_NONE;
    }
    MovedCount++;
    if (CheckedMoveFileEx(held, NULL, MOVEFILE_DELAY_UNTIL_REBOOT) == NULL)
        return AT_RESTART_MOVED;
    if (CheckedMoveFileEx(held, path, 0) == NULL) {
        MovedCount--;
        held[0] = '\0';
        return AT_RESTART_NONE;
    }
    return AT_RESTART_STRANDED; /* held says where it is now */
}

static void NoteInPlace(const char *path)
{
    if (InPlaceCount == InPlaceCapacity) {
        size_t grown = InPlaceCapacity == 0 ? 16 : InPlaceCapacity * 2;
        char **paths = (char **)realloc(InPlace, grown * sizeof(char *));
        if (paths == NULL)
            return;
        InPlace = paths;
        InPlaceCapacity = grown;
    }
    char *copy = (char *)malloc(strlen(path) + 1);
    if (copy == NULL)
        return;
    strcpy(copy, path);
    InPlace[InPlaceCount++] = copy;
}

AtRestart RemoveAtRestart(const char *path, bool folder, bool inPlaceAllowed, char held[MAX_PATH])
{
    held[0] = '\0';
    if (!RunIsElevated())
        return AT_RESTART_NONE;
    /* What the error record said of the deletion is what a failure reports. */
    ErrorDescription deletion = ErrorRecord;
    AtRestart done = folder ? AT_RESTART_NONE : MoveThenSchedule(path, held);
    if (done == AT_RESTART_NONE && inPlaceAllowed && MayScheduleInPlace(path) &&
        CheckedMoveFileEx(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT) == NULL) {
        NoteInPlace(path);
        done = AT_RESTART_IN_PLACE;
    }
    if (done == AT_RESTART_NONE || done == AT_RESTART_STRANDED)
        ErrorRecord = deletion;
    return done;
}

AtRestart ScheduleIfInUse(const char *path, DWORD code, bool folder, bool holdsScheduled,
                          bool inPlaceAllowed, char held[MAX_PATH])
{
    held[0] = '\0';
    /* A folder goes at the restart only once what keeps it goes then too, or
       when it is empty but someone's current folder. */
    ErrorDescription deletion = ErrorRecord; /* the looks below may record failures of their own */
    bool due = folder ? code == ERROR_SHARING_VIOLATION || (code == ERROR_DIR_NOT_EMPTY && holdsScheduled)
                      : IsInUse(path, code) && !IsRemovalLog(path);
    AtRestart done = due ? RemoveAtRestart(path, folder, inPlaceAllowed, held) : AT_RESTART_NONE;
    if (done == AT_RESTART_NONE || done == AT_RESTART_STRANDED)
        ErrorRecord = deletion;
    return done;
}

bool HoldsOnlyPathsOf(const char *folder, char *const *paths, size_t count,
                      bool (*mayGo)(size_t index))
{
    char pattern[MAX_PATH], entry[MAX_PATH];
    size_t length = strlen(folder);
    if (count == 0 || length + 3 >= sizeof pattern)
        return false;
    const char *separator = EndsInChar(folder, length, '\\', AnsiLeadBytes()) ? "" : "\\";
    snprintf(pattern, sizeof pattern, "%s%s*", folder, separator);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool only = true, any = false;
    unsigned dotsSeen = 0;
    do {
        if (IsDotEntry(found.cFileName, found.cAlternateFileName, &dotsSeen))
            continue;
        any = true;
        int written = snprintf(entry, sizeof entry, "%s%s%s", folder, separator, found.cFileName);
        size_t entryLength = strlen(entry);
        bool listed = false;
        for (size_t i = 0; written > 0 && !listed && i < count; i++)
            listed = strlen(paths[i]) == entryLength &&
                     EqualIgnoringAsciiCase(paths[i], entry, entryLength, AnsiLeadBytes()) &&
                     (mayGo == NULL || mayGo(i));
        only = listed;
    } while (only && FindNextFileA(search, &found));
    FindClose(search);
    return only && any;
}

bool HoldsOnlyScheduled(const char *folder) { return HoldsOnlyPathsOf(folder, InPlace, InPlaceCount); }

void FinishRestartRemovals()
{
    if (HoldingFolder[0] == '\0')
        return;
    /* Last, so that the restart finds it empty; unused, it goes now. */
    if (MovedCount > 0)
        CheckedMoveFileEx(HoldingFolder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    else
        RemoveDirectoryA(HoldingFolder);
    HoldingFolder[0] = '\0';
    HeldCount = MovedCount = 0;
}
