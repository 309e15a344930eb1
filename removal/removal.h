/*
 * Removal engine: the removal log and its reader, file and directory tree
 * removal, and registry removal. Every file or directory is offered to
 * DeferOwnPath just before it is removed. EntryInfo also carries the entry's
 * 8.3 short name, high size and times, which the walk needs to tell a name the
 * code page cannot spell from another entry.
 */
#pragma once

#include "removal/outcomes.h"
#include "removal/records.h"
#include "syscalls/syscalls.h"

/* tree_removal.cpp */

enum EntryKind : UINT32 {
    ENTRY_NONE = 0,
    ENTRY_FILE = 1,
    ENTRY_DIRECTORY = 2,
};

struct EntryInfo {
    EntryKind kind;
    INT32 size;            /* low 32 bits of the size */
    UINT32 attributes;     /* as the search reports them */
    char name[MAX_PATH];   /* own name, no directory part; a listing's, never a probe's */
    UINT32 sizeHigh;       /* high 32 bits of the size */
    UINT64 lastWrite, creation; /* file times */
    char shortName[14];    /* 8.3 short name; "" when the entry has none */
};

struct TreeTally {
    unsigned long files, folders, links; /* removed; a folder link counts as a link */
    unsigned long deferred;              /* left in place for the copy */
    unsigned long kept;                  /* left in place: the report or a folder above it */
    unsigned long atRestart;             /* scheduled for the next restart */
    unsigned long inPlace;               /* of them, scheduled under their own names */
};

extern HANDLE CurrentFindHandle; /* listing of the innermost directory being walked; null when none */
extern TreeTally TreeRemoved;    /* what RemoveTree did since the caller last zeroed it */

/* Null in every case; a path that names nothing is ENTRY_NONE (the rest of
   info is left as it was). Fills everything but the name. */
ErrorRef ProbeEntry(const char *path, EntryInfo *info);
/* The same probe, telling why nothing was found: the failed search's
   ErrorRef (2 or 3 when nothing is there), null when an entry was. */
ErrorRef FindEntry(const char *path, EntryInfo *info);
/* Appends a backslash (unless one ends the path) and name, in place. */
char *JoinPath(char *path, const char *name);
void ClearFindHandle();
void SaveFindHandle(HANDLE *saved);
void RestoreFindHandle(HANDLE handle);
ErrorRef CloseFindHandle();
/* Null with *endFlag 0: info holds the next entry; null with *endFlag 1: the listing ended. */
ErrorRef NextEntry(const char *directory, EntryInfo *info, const char *pattern, UINT32 *endFlag);
/* path: a writable buffer of MAX_PATH bytes. Removes the file or tree depth first;
   the first failure ends the tree, and path then names the entry as the walk
   addressed it. An entry whose listed name cannot be addressed, or reaches
   another entry or none, is reached by its short name; without one the tree
   ends with 123. */
ErrorRef RemoveTree(char *path, const char *pattern);

/* registry_removal.cpp */

/* length: characters of the root name at the start of text. Null when no root matches. */
HKEY RootKeyFromName(const char *text, int length);
/* "ROOT\key\path\value" removes a value, "ROOT\key\path\" the key. The text is
   changed during the call and restored before it returns. */
ErrorRef RemoveRegistryItem(char *item);

/* system_names.cpp */

/* 256 flags: the DBCS lead bytes of the ANSI code page (all 0 in a single-byte one). */
const unsigned char *AnsiLeadBytes();
/* The predefined key of a root; null for ROOT_UNKNOWN. */
HKEY PredefinedKey(RegistryRoot root);
/* Whether the process runs elevated (an administrator's full token). */
bool RunsElevated();

/* restart_removal.cpp */

enum AtRestart {
    AT_RESTART_NONE,     /* not scheduled: the removal fails as it did */
    AT_RESTART_MOVED,    /* renamed into the holding folder, that name scheduled */
    AT_RESTART_IN_PLACE, /* scheduled under its own name */
    AT_RESTART_STRANDED, /* renamed, not scheduled, and not put back: it lies at the held name */
};

extern bool (*RunIsElevated)();                          /* RunsElevated; a test seam */
extern bool (*OthersMayChange)(const char *folder);      /* FolderOthersMayChange; a test seam */
extern bool (*OpensForDeletion)(const char *path);       /* a DELETE open works; a test seam */
extern ErrorRef (*MoveAside)(const char *from, const char *to); /* the rename; a test seam */

/* A deletion that failed with this code because the file is in use: 32, or 5
   on a file that is not read-only and still opens for deletion. Never a folder. */
bool IsInUse(const char *path, DWORD code);
/* Anyone but SYSTEM, Administrators and TrustedInstaller may add to, delete
   from or re-permission the folder (or nothing can tell). */
bool FolderOthersMayChange(const char *folder);
/* Schedules an entry in use for deletion at the next restart: a file is moved
   into the holding folder first (held: its new name), else, when allowed and
   its folder is safe, scheduled where it stands. Elevated runs only. The error
   record keeps the deletion's failure when nothing was scheduled. */
AtRestart RemoveAtRestart(const char *path, bool folder, bool inPlaceAllowed, char held[MAX_PATH]);
/* After a removal failed with code: a file in use (not the log), or a folder
   that is someone's current folder or holds only what this run scheduled in
   place, goes at the restart. The caller has ruled out the program's own
   paths and the report. */
AtRestart ScheduleIfInUse(const char *path, DWORD code, bool folder, bool holdsScheduled,
                          bool inPlaceAllowed, char held[MAX_PATH]);
/* This run may schedule the path under its own name: it is elevated and no
   other account may change the folder that holds it. */
bool MayScheduleInPlace(const char *path);
/* The folder holds entries, and every one of them is one of the paths. */
bool HoldsOnlyPathsOf(const char *folder, char *const *paths, size_t count);
/* The folder holds entries, every one of them scheduled in place by this run. */
bool HoldsOnlyScheduled(const char *folder);
/* Schedules the holding folder after what it holds; called once the removals are done. */
void FinishRestartRemovals();

/* removal_log.cpp */

/* What one record did, as the report and the silent exit code need it. */
struct RecordReport {
    const char *record;     /* the record's text; null: the log itself */
    size_t line, column;    /* where the record starts, from 1, as an editor counts */
    Outcome outcome;        /* for the log itself: NAMES_NOTHING (no file), FAILED_OTHERWISE */
    DWORD code;             /* the system's code of a failure or a refusal; else 0 */
    char stoppedAt[MAX_PATH]; /* a stopped tree: the entry it stopped at; else "" */
    char heldAt[MAX_PATH];  /* an entry moved aside for the restart: its new name; else "" */
    TreeTally tree;         /* a dirw: record's counts */
};

extern void (*RecordCarriedOut)(const RecordReport *report); /* told of every record; null: nobody asks */
extern unsigned long EarlierDeletionsWaiting; /* an earlier removal's deletions found before the first record */
/* Told of every entry of a tree scheduled for the restart (held: its new
   name, or "" in place), before the tree's record; null: nobody asks. */
extern void (*TreeEntryAtRestart)(const char *path, const char *held);

/* By identity: the removal log being carried out. */
bool IsRemovalLog(const char *path);
/* Reads the log whole, then carries out its records in file order, best effort. */
ErrorRef ProcessRemovalLog(const char *logPath);
/* On failure *handle is null, not INVALID_HANDLE_VALUE. */
ErrorRef OpenForReading(const char *path, HANDLE *handle);
ErrorRef ReadBlock(HANDLE file, char *block, int count);

/* pending_restart.cpp */

/* How many deletions pending for the next restart are an earlier removal's:
   of a holding folder (by its name) or anything in one, or of a path the log
   in the block names (a file:, link: or dir: record's path, a dirw: tree or
   anything in it). Reads the system's list and changes nothing; 0 when it
   cannot be read. */
unsigned long CountEarlierDeletions(const char *block, size_t size);

/* record_outcomes.cpp: what a record's results mean, told apart where one
   code covers several causes by looking at the entry after the failure. */

/* A file:, link: or dir: record's failure with this code. */
Outcome EntryFailureOutcome(const char *path, DWORD code, bool folder);
/* A key: record's outcome from the item's reading and the call's result. */
Outcome RegistryOutcome(const char *item, ErrorRef result, DWORD *code);
