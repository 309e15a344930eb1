/*
 * The preview of a live machine (Windows only): what each record of a log will
 * do here, judged by the uninstaller's own decisions on the file system and
 * registry as they stand, with what earlier records remove kept in sets.
 * Nothing here deletes, writes or changes an attribute: whether this run may
 * delete something is asked by an open that is closed again unused.
 */
#pragma once

#include "logcheck/logcheck.h"
#include "removal/outcomes.h"
#include "removal/removal.h"

/* preview_state.cpp */

/* A set of names compared as the system compares paths and keys: case aside. */
struct NameSet {
    char **slots;    /* open addressing; null: free */
    size_t capacity; /* a power of two, or 0 */
    size_t count;
};

/* The key under which a path is kept: full, long, without a trailing
   backslash, in upper case. */
void PathKey(const char *path, char *key, size_t size);
bool NameSetAdd(NameSet *set, const char *key);
bool NameSetHas(const NameSet *set, const char *key);
/* The key itself, or what stands before one of its backslashes at `from` or
   later: something above it is in the set. The key is restored on return. */
bool NameSetHasOrAbove(const NameSet *set, char *key, size_t from);
void FreeNameSet(NameSet *set);

struct PreviewLine {
    size_t record;   /* index of the record it belongs to */
    size_t sequence; /* order of adding, for a stable sort */
    Outcome outcome;
    char *message;
};

/* Everything the walk knows: what is gone, what is deferred, and the lines. */
struct Preview {
    const LogText *log;
    char uninstaller[MAX_PATH]; /* the deferral test's path; "" when unknown */
    bool uninstallerKnown;
    NameSet gonePaths;          /* removed by records so far (or by the copy) */
    NameSet goneKeys;           /* "ROOT\PATH" of deleted keys */
    NameSet goneValues;         /* "ROOT\PATH\x01NAME" of deleted values */
    NameSet keepScheduled;      /* folders that hold what goes at the restart where it stands */
    char **deferred;            /* paths in the order of deferral */
    size_t *deferredRecord;     /* the record each one came from */
    size_t deferredCount, deferredCapacity;
    PreviewLine *lines;
    size_t lineCount, lineCapacity;
    char **openFolders;         /* the topmost folders of trees that others may change */
    size_t *openRecord;         /* the record each one came from */
    size_t openCount, openCapacity;
};

void AddLine(Preview *preview, size_t record, Outcome outcome, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;
void Defer(Preview *preview, size_t record, const char *path);
/* A folder of a tree that others may change, below none that is. */
void NoteOpenFolder(Preview *preview, size_t record, const char *path);
/* Removed by an earlier record: the path itself or a folder above it. */
bool IsGone(const Preview *preview, const char *path);
void MarkGone(Preview *preview, const char *path);
/* Goes at the restart as planned: gone from here on, and when it stays where
   it stands, its folder keeps it. */
void MarkAtRestart(Preview *preview, const char *path, const RestartPlan *plan);
/* The folder holds something that goes at the restart where it stands. */
bool KeepsScheduled(const Preview *preview, const char *folder);
/* "holds a, b, c (and N more)": what of the folder is not gone; 0 when empty. */
size_t DescribeRemaining(const Preview *preview, const char *folder, char *text, size_t size);

/* preview_access.cpp */

/* 0 when this run may delete the file or folder now, else the system's code
   (5 access denied, 32 in use). A seam: tests put their own probe here. */
extern DWORD (*DeleteAccessProbe)(const char *path, bool folder);
/* 0 when the key opens with that access, else the registry's code. A seam too. */
extern LONG (*KeyAccessProbe)(HKEY root, const char *path, REGSAM access);
/* What stands in the way of deleting an existing entry with these attributes:
   the outcome, or WILL_REMOVE_FILE when nothing does. *code: the system's code
   of the deletion. An entry in use is WILL_REMOVE_AT_RESTART when the restart
   decision, asked with the facts, says so (plan: how), else WILL_FAIL_IN_USE. */
Outcome DeletionVerdict(const char *path, DWORD attributes, const RestartFacts *facts, DWORD *code,
                        RestartPlan *plan);
const char *CodeName(DWORD code);

/* preview_files.cpp */

void PreviewFile(Preview *preview, size_t record, const char *path, bool deferrable);
void PreviewFolder(Preview *preview, size_t record, const char *path);
void PreviewTree(Preview *preview, size_t record, const char *path);
/* What the clean-up copy will do with the deferred paths, in their order. */
void PreviewCleanupCopy(Preview *preview);
/* Everything under the folders that dir: and dirw: records name that stays. */
size_t PrintLeftFiles(Preview *preview, FILE *out, NameSet *reported);

/* preview_registry.cpp */

void PreviewRegistryItem(Preview *preview, size_t record, const char *item);
/* Every key under the keys that key: records name that stays. */
size_t PrintLeftKeys(Preview *preview, FILE *out, NameSet *reported);
