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

/* removal_log.cpp */

/* What one record did, as the report and the silent exit code need it. */
struct RecordReport {
    const char *record;     /* the record's text; null: the log itself */
    size_t line, column;    /* where the record starts, from 1, as an editor counts */
    Outcome outcome;        /* for the log itself: NAMES_NOTHING (no file), FAILED_OTHERWISE */
    DWORD code;             /* the system's code of a failure or a refusal; else 0 */
    char stoppedAt[MAX_PATH]; /* a stopped tree: the entry it stopped at; else "" */
    TreeTally tree;         /* a dirw: record's counts */
};

extern void (*RecordCarriedOut)(const RecordReport *report); /* told of every record; null: nobody asks */

/* Reads the log whole, then carries out its records in file order, best effort. */
ErrorRef ProcessRemovalLog(const char *logPath);
/* On failure *handle is null, not INVALID_HANDLE_VALUE. */
ErrorRef OpenForReading(const char *path, HANDLE *handle);
ErrorRef ReadBlock(HANDLE file, char *block, int count);

/* record_outcomes.cpp: what a record's results mean, told apart where one
   code covers several causes by looking at the entry after the failure. */

/* A file:, link: or dir: record's failure with this code. */
Outcome EntryFailureOutcome(const char *path, DWORD code, bool folder);
/* A key: record's outcome from the item's reading and the call's result. */
Outcome RegistryOutcome(const char *item, ErrorRef result, DWORD *code);
