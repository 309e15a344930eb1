/*
 * Removal engine: the removal log and its reader, file and directory tree
 * removal, and registry removal. Every file or directory is offered to
 * DeferOwnPath just before it is removed.
 */
#pragma once

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
    char name[MAX_PATH];   /* own name, no directory part */
};

extern HANDLE CurrentFindHandle; /* listing of the innermost directory being walked; null when none */

/* Null in every case; a path that names nothing is ENTRY_NONE. */
ErrorRef ProbeEntry(const char *path, EntryInfo *info);
/* Appends a backslash (unless one ends the path) and name, in place. */
char *JoinPath(char *path, const char *name);
void ClearFindHandle();
void SaveFindHandle(HANDLE *saved);
void RestoreFindHandle(HANDLE handle);
ErrorRef CloseFindHandle();
/* Null with *endFlag 0: info holds the next entry; null with *endFlag 1: the listing ended. */
ErrorRef NextEntry(const char *directory, EntryInfo *info, const char *pattern, UINT32 *endFlag);
/* path: a writable buffer of MAX_PATH bytes. Removes the file or tree depth first;
   the first failure ends the tree. */
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

/* removal_log.cpp */

/* Reads the log whole, then carries out its records in file order, best effort. */
ErrorRef ProcessRemovalLog(const char *logPath);
/* On failure *handle is null, not INVALID_HANDLE_VALUE. */
ErrorRef OpenForReading(const char *path, HANDLE *handle);
ErrorRef ReadBlock(HANDLE file, char *block, int count);
