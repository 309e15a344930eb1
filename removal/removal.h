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
    unsigned dotsSeen;     /* a listing's: the dot spellings it has shown (IsDotEntry) */
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
/* Null with *endFlag 0: info holds the next entry; null with *endFlag 1: the
   listing ended. The folder itself and its parent are passed over, never a
   name listed as they are. */
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

/* restart_chain.cpp: whether a name may be scheduled for deletion at the next
   restart, from what the system reports of it and of every folder above it. */

/* What the system reports of one entry, read from one handle without following a link. */
struct FolderReport {
    DWORD attributes;                /* FILE_ATTRIBUTE_*; a reparse point shows here */
    char finalPath[MAX_PATH];        /* GetFinalPathNameByHandleA, \\?\ prefix stripped */
    PSECURITY_DESCRIPTOR descriptor; /* self-relative, owner + DACL; the caller LocalFrees it (may be null) */
};
/* ReadFolderFromSystem; a test seam. 0, or the system's code when nothing could be read. */
extern DWORD (*ReadFolder)(const char *path, FolderReport *report);
/* Attributes, final path and descriptor from one handle; any read that fails
   gives its code (recorded) and a report with nothing in it. */
DWORD ReadFolderFromSystem(const char *path, FolderReport *report);

enum ChainPlace {
    CHAIN_HOLDER, /* the folder that holds the scheduled name */
    CHAIN_ABOVE,  /* any folder above it but the volume root */
    CHAIN_ROOT,   /* the volume root X:\ */
};
/* The owner and permissions of one folder allow nobody but SYSTEM, Administrators
   and TrustedInstaller to change what it holds, for its place on the chain. */
bool FolderIsTrusted(PSECURITY_DESCRIPTOR descriptor, ChainPlace place);
/* A name (a full path X:\...\name, as GetFullPathNameA gives it) may be scheduled for
   deletion at the restart: a fixed drive, the entry itself and every folder up to the
   root read through ReadFolder, none a reparse point, each final path the path itself,
   each folder trusted for its place. Walked by the path's characters (DBCS-safe).
   Only a look: the error record and the last error are left as they were. */
bool ChainIsTrusted(const char *fullPath);
/* The same for a path in the code page of leadBytes (null: a single-byte one);
   ChainIsTrusted gives AnsiLeadBytes(). The root is always judged as the root. */
bool ChainIsTrustedIn(const char *fullPath, const unsigned char *leadBytes);
/* A folder's chain (a full path): for "X:\\" its root alone, judged as the root. */
bool FolderChainIsTrusted(const char *folder);

/* entry_handles.cpp: acts made through a handle whose final path was checked. */

/* What an act refused on a handle whose final path is not the one meant
   reports: the system's own code for a path that met a link. */
#define ERROR_REDIRECTED_ENTRY 4395 /* ERROR_REPARSE_POINT_ENCOUNTERED */
/* The entry at path opened with DELETE (and attribute reads) without following
   a link in its last part, kept only when its final path is `meant` (ASCII
   case aside, DBCS-safe); a folder opens only when `folder`. Else
   ERROR_REDIRECTED_ENTRY or the open's own failure, and no handle. */
ErrorRef OpenMeantEntry(const char *path, const char *meant, bool folder, HANDLE *entry);
/* Renames the file at `from` (a full path) to the full path `to` through such a
   handle: never over an existing name, never a folder, never through a link. */
ErrorRef RenameMeantEntry(const char *from, const char *to);

/* Called right before each deletion of a file or folder that the walk listed
   or a record names; onHandle: decided on its own handle. A test seam. */
extern void (*AboutToDelete)(const char *path, bool onHandle);
/* In an elevated run, the folder (a full path) is open to others: it or a
   folder above it lets an account but SYSTEM, Administrators and
   TrustedInstaller change it or what it holds (adding counts below the
   root), is a link, has another final path, or cannot be read. Its chain is
   read once and kept for the run. Always false in a run that is not elevated. */
bool FolderOpenToOthers(const char *folder);
/* Owner and DACL of the entry at path, self-relative (LocalFree it), or the
   system's code. ReadDescriptor is the test seam over it. */
DWORD ReadDescriptorFromSystem(const char *path, PSECURITY_DESCRIPTOR *descriptor);
extern DWORD (*ReadDescriptor)(const char *path, PSECURITY_DESCRIPTOR *descriptor);
/* The same for a folder the walk enters below one not open to others: its own
   descriptor, read once. */
bool EnteredFolderOpenToOthers(const char *folder);
/* Forgets the verdicts kept for the run. */
void ForgetOpenFolders();
/* Deletes the entry at path on its own handle (OpenMeantEntry), never through a
   link; listed: the walk listed it as a plain file or folder, and anything else
   found there now is ERROR_REDIRECTED_ENTRY. */
ErrorRef DeleteMeantEntry(const char *path, const char *meant, bool folder, bool listed);
/* Whether the folder that holds path is open to others (false when the run is
   not elevated); meant: path's full path, no trailing backslash ("" when it has
   none). Unreadable, or no folder to judge: open. */
bool HolderOpenToOthers(const char *path, char meant[MAX_PATH]);
/* The entry at path, opened as it would be for its deletion, has another final
   path than meant; false when it cannot be opened. Only a look. */
bool LeadsElsewhere(const char *path, const char *meant);
/* A record's file or folder: deleted by path as always, unless the run is
   elevated and the folder holding it is open to others: then on its handle,
   its meant path the record's own full path. */
ErrorRef DeleteRecordEntry(const char *path, bool folder);

/* restart_removal.cpp */

enum AtRestart {
    AT_RESTART_NONE,     /* not scheduled: the removal fails as it did */
    AT_RESTART_MOVED,    /* its new name in the holding folder scheduled, then renamed there */
    AT_RESTART_IN_PLACE, /* scheduled under its own name */
};

/* What the caller knows of a path whose removal failed. */
struct RestartFacts {
    bool folder;         /* removed as a folder */
    bool byShortName;    /* the tree walk reached it, or a folder above it, by a short name */
    bool onCopyList;     /* one of the clean-up copy's paths */
    bool holdsScheduled; /* a folder that holds only entries scheduled where they stand */
    bool ownPath;        /* the program's own file, or a folder above it */
    bool log, report;    /* the removal log; the report or a folder above it */
};
enum RestartWay {
    RESTART_NOT,        /* not at the restart: the removal fails as it did */
    RESTART_MOVE_ASIDE, /* renamed into the holding folder on its volume, that name scheduled */
    RESTART_IN_PLACE,   /* scheduled under its own name */
};
enum RestartWhy {
    RESTART_DUE,          /* it goes at the restart */
    NOT_OURS,             /* the program's own path, the log or the report */
    NOT_IN_USE,           /* the failure is not that of an entry in use */
    NOT_ELEVATED,         /* Windows refuses the schedule */
    NOT_SPELLED,          /* no full path could be made of it */
    NOT_UNDER_SHORT_NAME, /* by the restart another entry may bear that name */
    NOT_FOR_THE_COPY,     /* the copy never schedules in place: a reinstall may take the name */
    NOT_TRUSTED_CHAIN,    /* someone but SYSTEM and the administrators could redirect the name */
};
struct RestartPlan {
    RestartWay way;
    RestartWhy why;
    char fullPath[MAX_PATH]; /* GetFullPathNameA of the path, what the chain test and the held name start from */
};
enum RestartStep {
    STEP_HOLDER_SCHEDULED, /* a holding folder made and its deletion scheduled */
    STEP_HELD_SCHEDULED,   /* a file's held name scheduled, not yet renamed there */
    STEP_RENAMED,          /* the file renamed to its held name */
};

extern bool (*RunIsElevated)();                          /* RunsElevated; a test seam */
extern bool (*OpensForDeletion)(const char *path);       /* a DELETE open works; a test seam */
extern ErrorRef (*MoveAside)(const char *from, const char *to); /* the rename; a test seam */
/* Asked after each step; false stops the run's scheduling there, as a kill would. A test seam. */
extern bool (*GoesOnAfter)(RestartStep step);

/* A deletion that failed with this code because the file is in use: 32, or 5
   on a file that is not read-only and still opens for deletion. Never a folder. */
bool IsInUse(const char *path, DWORD code);
/* The one restart decision, for a path whose removal failed with code: true
   when it goes at the restart (plan->way says how), else plan->why says why
   not. Writes nothing: the preview asks it too. A file in use goes, a folder
   when it is someone's current folder (32) or holds only what was scheduled
   in place (145). A running image (5) is moved aside when its volume's root
   passes the chain test; otherwise in place, when the walk did not reach it
   by a short name, it is not the copy's, and its chain passes. */
bool PlanRestart(const char *path, DWORD code, const RestartFacts *facts, RestartPlan *plan);
/* Carries the plan out (held: the new name of a file moved aside, else "");
   AT_RESTART_NONE when a step fails. */
AtRestart CarryOutRestart(const RestartPlan *plan, char held[MAX_PATH]);
/* Both, for the removal and the copy; the error record keeps the deletion's
   failure when nothing was scheduled. */
AtRestart RemoveAtRestart(const char *path, DWORD code, const RestartFacts *facts, char held[MAX_PATH]);
/* The folder holds entries, and every one of them is one of the paths (one
   of those that mayGo takes, by index, when given). */
bool HoldsOnlyPathsOf(const char *folder, char *const *paths, size_t count,
                      bool (*mayGo)(size_t index) = NULL);
/* The folder holds entries, every one of them scheduled in place by this run. */
bool HoldsOnlyScheduled(const char *folder);
/* Forgets this run's holding folders once the removals are done: each one's
   deletion is already scheduled after everything in it. */
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
/* What the run keeps in place for the report: its file and the folders above
   it, set by whoever created the report; null: nothing is kept. Asked by
   spelling before a removal, by identity after one failed. */
extern bool (*KeepsForReport)(const char *path);
extern bool (*HoldsForReport)(const char *path);

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

/* running_programs.cpp: the programs that keep a path the log names. */

/* Only the user's own programs are the user's to close. */
enum ProgramKind {
    PROGRAM_USER,
    PROGRAM_SERVICE,
    PROGRAM_EXPLORER,      /* Windows Explorer (a shell extension of the tree) */
    PROGRAM_CRITICAL,      /* one Windows cannot run without */
    PROGRAM_OTHER_SESSION, /* another session's */
};
struct RunningProgram {
    DWORD processId;
    ProgramKind kind;
    char image[MAX_PATH]; /* its image's full path; a name when that cannot be read */
    char title[80];       /* its main window's caption; "" when it has none */
};
extern RunningProgram *RunningPrograms; /* what the last look found */
extern size_t RunningProgramCount;      /* how many */
/* Looks for the programs, this one aside, whose image or a loaded module is
   a file: record's path or lies in a dir: or dirw: record's tree, through
   the Restart Manager where it answers and the process and module snapshots;
   merged by process id into RunningPrograms. Never ends one. The count; 0
   when the log cannot be read. */
size_t FindRunningPrograms(const char *logPath);

/* record_outcomes.cpp: what a record's results mean, told apart where one
   code covers several causes by looking at the entry after the failure. */

/* A file:, link: or dir: record's failure with this code. */
Outcome EntryFailureOutcome(const char *path, DWORD code, bool folder);
/* A key: record's outcome from the item's reading and the call's result. */
Outcome RegistryOutcome(const char *item, ErrorRef result, DWORD *code);
