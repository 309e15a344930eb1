/*
 * Files in use: what cannot be deleted now goes at the next restart. One
 * decision says whether and how (PlanRestart; the preview asks it too), and
 * the removal carries it out. A running program is renamed into a holding
 * folder of this run at the root of its own volume, the new name scheduled
 * before the rename, the rename made on a handle whose final path is the
 * program's own; a file held without delete sharing, and the folders it
 * keeps, are scheduled where they stand. Either way only a name that nobody
 * but SYSTEM, Administrators and TrustedInstaller can redirect before the
 * restart (ChainIsTrusted) is scheduled: the deletion then runs as SYSTEM.
 */
#include "removal/removal.h"
#include "removal/records.h"

#include <ntsecapi.h>
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

static bool GoOn(RestartStep) { return true; }

bool (*RunIsElevated)() = RunsElevated;                              /* test seam */
bool (*OpensForDeletion)(const char *path) = OpenWithDeleteAccess;   /* test seam */
ErrorRef (*MoveAside)(const char *from, const char *to) = RenameMeantEntry; /* test seam */
bool (*GoesOnAfter)(RestartStep step) = GoOn;                        /* test seam */

/* One holding folder per volume this run moved something from. */
struct Holder {
    char root[4];              /* "X:\" */
    char folder[MAX_PATH];     /* "" when none could be made there */
    unsigned long count;       /* names given out in it */
};
static Holder Holders[4];
static size_t HolderCount;
static bool Stopped;           /* a step said stop, as a kill would: nothing more is written */
static char **InPlace;         /* paths scheduled under their own names */
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

/* The entry read without following a link is a folder, is where it was asked
   for, and is trusted for its place. */
static bool ReadsTrusted(const char *path, ChainPlace place)
{
    FolderReport report;
    if (ReadFolder(path, &report) != 0)
        return false;
    bool trusted = (report.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                   !(report.attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                   strlen(report.finalPath) == strlen(path) &&
                   EqualIgnoringAsciiCase(report.finalPath, path, strlen(path), AnsiLeadBytes()) &&
                   FolderIsTrusted(report.descriptor, place);
    LocalFree(report.descriptor);
    return trusted;
}

/* The root "X:\" of the volume that holds the full path, when it is a fixed
   drive's root that passes the chain test; false for a mount point, a share. */
static bool TrustedVolumeRoot(const char *fullPath, char root[4])
{
    char volume[MAX_PATH];
    if (!GetVolumePathNameA(fullPath, volume, sizeof volume) || strlen(volume) != 3 ||
        volume[1] != ':' || volume[2] != '\\' || GetDriveTypeA(volume) != DRIVE_FIXED)
        return false;
    memcpy(root, volume, 4);
    return ReadsTrusted(root, CHAIN_ROOT);
}

bool PlanRestart(const char *path, DWORD code, const RestartFacts *facts, RestartPlan *plan)
{
    plan->way = RESTART_NOT;
    plan->fullPath[0] = '\0';
    bool folder = facts->folder;
    if (facts->ownPath || facts->log || facts->report || (!folder && IsRemovalLog(path)))
        plan->why = NOT_OURS;
    /* A folder goes once what keeps it goes then too, or when it is empty but
       someone's current folder. */
    else if (folder ? !(code == ERROR_SHARING_VIOLATION || (code == ERROR_DIR_NOT_EMPTY && facts->holdsScheduled))
                    : !IsInUse(path, code))
        plan->why = NOT_IN_USE;
    else if (!RunIsElevated())
        plan->why = NOT_ELEVATED; /* Windows would refuse the schedule */
    else
        plan->why = NOT_SPELLED;
    DWORD length = 0;
    if (plan->why != NOT_SPELLED ||
        CheckedGetFullPathName(path, sizeof plan->fullPath, plan->fullPath, &length) != NULL)
        return false;
    if (length > 3 && EndsInChar(plan->fullPath, length, '\\', AnsiLeadBytes()))
        plan->fullPath[length - 1] = '\0'; /* a dir: record may end in one */
    /* A running image renames (5); one held without delete sharing (32) does
       not. Whoever may redirect the program's name could have another file
       renamed into the holding folder: its own name must pass as an in-place
       one would, and its volume's root must take a holding folder. */
    char root[4];
    if (!folder && code == ERROR_ACCESS_DENIED) {
        plan->why = ChainIsTrusted(plan->fullPath) && TrustedVolumeRoot(plan->fullPath, root)
                        ? RESTART_DUE
                        : NOT_TRUSTED_CHAIN;
        plan->way = plan->why == RESTART_DUE ? RESTART_MOVE_ASIDE : RESTART_NOT;
    } else if (facts->byShortName) {
        plan->why = NOT_UNDER_SHORT_NAME; /* by the restart another entry may bear it */
    } else if (facts->onCopyList) {
        plan->why = NOT_FOR_THE_COPY;     /* a reinstall may have taken the name by then */
    } else {
        plan->why = ChainIsTrusted(plan->fullPath) ? RESTART_DUE : NOT_TRUSTED_CHAIN;
        plan->way = plan->why == RESTART_DUE ? RESTART_IN_PLACE : RESTART_NOT;
    }
    return plan->way != RESTART_NOT;
}

static ErrorRef ScheduleDeletion(const char *path)
{
    return CheckedMoveFileEx(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

/* A step done; false once a test said stop there. */
static bool StepDone(RestartStep step)
{
    Stopped = !GoesOnAfter(step);
    return !Stopped;
}

/* A new folder of this run at the root, open to Administrators and SYSTEM
   alone, its name's random part not to be guessed, read back from one handle
   that does not follow a link, its deletion scheduled at once. */
static bool MakeHoldingFolder(Holder *holder)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1, &descriptor, NULL))
        return false;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    char folder[MAX_PATH];
    bool made = false;
    for (int tries = 0; !made && tries < 8; tries++) {
        unsigned char random[8];
        if (!RtlGenRandom(random, sizeof random))
            break;
        int used = snprintf(folder, sizeof folder, "%sVorblend-held-", holder->root);
        for (size_t i = 0; i < sizeof random; i++)
            used += snprintf(folder + used, sizeof folder - used, "%02x", random[i]);
        ErrorRef failure = CheckedCreateDirectory(folder, &security);
        made = failure == NULL;
        if (!made && failure->code != ERROR_ALREADY_EXISTS)
            break; /* 183: something stands there, a link maybe: another name */
    }
    LocalFree(descriptor);
    if (!made)
        return false;
    SetFileAttributesA(folder, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (!ReadsTrusted(folder, CHAIN_HOLDER) || ScheduleDeletion(folder) != NULL) {
        RemoveDirectoryA(folder);
        return false;
    }
    strcpy(holder->folder, folder);
    return StepDone(STEP_HOLDER_SCHEDULED);
}

/* This run's holding folder on the volume, made on first need; null when none may be. */
static Holder *HolderOn(const char *root)
{
    for (size_t i = 0; i < HolderCount; i++)
        if (strcmp(Holders[i].root, root) == 0)
            return Holders[i].folder[0] != '\0' ? &Holders[i] : NULL;
    if (HolderCount == sizeof Holders / sizeof Holders[0])
        return NULL;
    Holder *holder = &Holders[HolderCount++];
    memcpy(holder->root, root, 4);
    holder->folder[0] = '\0';
    holder->count = 0;
    return MakeHoldingFolder(holder) ? holder : NULL;
}

/* The held name is scheduled first and the folder after it, then the file is
   renamed there by its full path: a run ended at any step leaves nothing the restart does not
   remove, and a rename that fails leaves an entry that names nothing. */
static AtRestart MoveAsideScheduled(const RestartPlan *plan, char held[MAX_PATH])
{
    char root[4];
    Holder *holder = TrustedVolumeRoot(plan->fullPath, root) ? HolderOn(root) : NULL;
    if (holder == NULL)
        return AT_RESTART_NONE;
    const char *full = plan->fullPath;
    size_t at = FindLastChar(full, strlen(full), '\\', AnsiLeadBytes());
    holder->count++;
    int written = snprintf(held, MAX_PATH, "%s\\%lu-%s", holder->folder, holder->count, full + at + 1);
    if (written < 0 || written >= MAX_PATH)
        snprintf(held, MAX_PATH, "%s\\%lu", holder->folder, holder->count);
    /* A fresh name in a folder whose chain is trusted: nobody can put anything there. */
    bool moved = ChainIsTrusted(holder->folder) && ScheduleDeletion(held) == NULL &&
                 StepDone(STEP_HELD_SCHEDULED) && ScheduleDeletion(holder->folder) == NULL &&
                 MoveAside(full, held) == NULL;
    if (!moved) {
        held[0] = '\0';
        return AT_RESTART_NONE;
    }
    StepDone(STEP_RENAMED);
    return AT_RESTART_MOVED;
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

AtRestart CarryOutRestart(const RestartPlan *plan, char held[MAX_PATH])
{
    held[0] = '\0';
    if (Stopped)
        return AT_RESTART_NONE;
    if (plan->way == RESTART_MOVE_ASIDE)
        return MoveAsideScheduled(plan, held);
    if (plan->way != RESTART_IN_PLACE || ScheduleDeletion(plan->fullPath) != NULL)
        return AT_RESTART_NONE;
    NoteInPlace(plan->fullPath);
    return AT_RESTART_IN_PLACE;
}

AtRestart RemoveAtRestart(const char *path, DWORD code, const RestartFacts *facts, char held[MAX_PATH])
{
    held[0] = '\0';
    /* What the error record said of the deletion is what a failure reports:
       the looks and the steps below may record failures of their own. */
    ErrorDescription deletion = ErrorRecord;
    RestartPlan plan;
    AtRestart done = PlanRestart(path, code, facts, &plan) ? CarryOutRestart(&plan, held)
                                                           : AT_RESTART_NONE;
    if (done == AT_RESTART_NONE)
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
        /* A name cut short is never a listed one. */
        for (size_t i = 0; written > 0 && (size_t)written < sizeof entry && !listed && i < count; i++)
            listed = strlen(paths[i]) == entryLength &&
                     EqualIgnoringAsciiCase(paths[i], entry, entryLength, AnsiLeadBytes()) &&
                     (mayGo == NULL || mayGo(i));
        only = listed;
    } while (only && FindNextFileA(search, &found));
    FindClose(search);
    return only && any;
}

bool HoldsOnlyScheduled(const char *folder)
{
    char full[MAX_PATH];
    DWORD length = 0;
    return CheckedGetFullPathName(folder, sizeof full, full, &length) == NULL &&
           HoldsOnlyPathsOf(full, InPlace, InPlaceCount);
}

void FinishRestartRemovals()
{
    /* Each holding folder's deletion is already scheduled after all it holds. */
    HolderCount = 0;
    Stopped = false;
}
