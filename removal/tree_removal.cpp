/*
 * File and directory removal: what a path names, the one running directory
 * listing per level, and depth-first removal of a whole tree in the caller's
 * path buffer. CurrentFindHandle belongs to the innermost level being walked;
 * each level saves the outer listing's handle and puts it back on return.
 * Each listed entry is probed where the walk joins it, by its listed name or
 * its short name, and removed as that probe found it.
 */
#include "removal/removal.h"
#include "driver/driver.h"
#include "removal/records.h"

#include <string.h>

HANDLE CurrentFindHandle = NULL; /* listing of the innermost directory being walked; null when none */
TreeTally TreeRemoved;           /* what RemoveTree did since the caller last zeroed it */

/* Entries on the path now walked that were joined by their short names: what
   lies there is never scheduled under such a name, which another entry may
   bear by the restart. */
static unsigned ShortNamesOnPath;
/* The full path the walked path should have, built from the listing's long
   names; where others may change the folder being walked (FolderIsOpen),
   each deletion is made on a handle whose final path is this. */
static char Meant[MAX_PATH];
static bool FolderIsOpen;


/* The program's own paths wait for the copy; the report stays where its caller put it. */
static bool LeftInPlace(const char *path)
{
    if (DeferOwnPath(path)) {
        TreeRemoved.deferred++;
        return true;
    }
    if (KeepsForReport != NULL && KeepsForReport(path)) {
        TreeRemoved.kept++;
        return true;
    }
    return false;
}

/* Counts a removal that succeeded. One that failed on the report or the
   program's own file, or a folder above either, spelled another way, leaves
   it in place; one in use goes at the restart. Either way the tree goes on. */
static ErrorRef Tally(unsigned long *count, const char *path, ErrorRef result, bool folder,
                      bool holdsScheduled)
{
    if (result == NULL) {
        (*count)++;
        return NULL;
    }
    if (HoldsForReport != NULL && HoldsForReport(path)) {
        TreeRemoved.kept++;
        return NULL;
    }
    if (DeferOwnIdentity(path)) {
        TreeRemoved.deferred++;
        return NULL;
    }
    char held[MAX_PATH];
    RestartFacts facts = {};
    facts.folder = folder;
    facts.byShortName = ShortNamesOnPath > 0;
    facts.holdsScheduled = holdsScheduled;
    AtRestart done = RemoveAtRestart(path, result->code, &facts, held);
    if (done == AT_RESTART_NONE)
        return &ErrorRecord;
    TreeRemoved.atRestart++;
    TreeRemoved.inPlace += done == AT_RESTART_IN_PLACE ? 1 : 0;
    if (TreeEntryAtRestart != NULL)
        TreeEntryAtRestart(path, held);
    return NULL;
}

static UINT64 TimeValue(FILETIME time)
{
    return ((UINT64)time.dwHighDateTime << 32) | time.dwLowDateTime;
}

static void CopyFound(EntryInfo *info, const WIN32_FIND_DATAA *found)
{
    info->attributes = found->dwFileAttributes;
    info->size = (INT32)found->nFileSizeLow;
    info->kind = (found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? ENTRY_DIRECTORY : ENTRY_FILE;
    info->sizeHigh = found->nFileSizeHigh;
    info->lastWrite = TimeValue(found->ftLastWriteTime);
    info->creation = TimeValue(found->ftCreationTime);
    memcpy(info->shortName, found->cAlternateFileName, sizeof info->shortName);
    info->shortName[sizeof info->shortName - 1] = '\0';
}

ErrorRef FindEntry(const char *path, EntryInfo *info)
{
    WIN32_FIND_DATAA found;
    HANDLE search = INVALID_HANDLE_VALUE;
    ErrorRef failure = CheckedFindFirstFile(path, &found, &search);
    if (failure != NULL || search == INVALID_HANDLE_VALUE) {
        info->kind = ENTRY_NONE;
        /* A failed search without a last error still leaves no handle to trust. */
        return failure != NULL ? failure
                               : RecordErrorCode(ERROR_INVALID_HANDLE, "FindFirstFile", "%s", path);
    }
    CheckedFindClose(search);
    CopyFound(info, &found);
    return NULL;
}

ErrorRef ProbeEntry(const char *path, EntryInfo *info)
{
    FindEntry(path, info);
    return NULL;
}

char *JoinPath(char *path, const char *name)
{
    size_t length = strlen(path);
    if (!EndsInChar(path, length, '\\', AnsiLeadBytes()))
        path[length++] = '\\';
    strcpy(path + length, name);
    return path;
}

void ClearFindHandle() { CurrentFindHandle = NULL; }

void SaveFindHandle(HANDLE *saved) { *saved = CurrentFindHandle; }

void RestoreFindHandle(HANDLE handle) { CurrentFindHandle = handle; }

ErrorRef CloseFindHandle()
{
    if (CurrentFindHandle == NULL)
        return NULL;
    ErrorRef result = CheckedFindClose(CurrentFindHandle);
    CurrentFindHandle = NULL;
    return result;
}

ErrorRef NextEntry(const char *directory, EntryInfo *info, const char *pattern, UINT32 *endFlag)
{
    *endFlag = 1;
    WIN32_FIND_DATAA found;
    bool haveMatch = false;
    if (CurrentFindHandle == NULL) {
        char search[MAX_PATH];
        size_t directoryLength = strlen(directory), patternLength = strlen(pattern);
        if (directoryLength + 1 + patternLength >= sizeof search)
            return RecordErrorCode(ERROR_FILENAME_EXCED_RANGE, "FindFirstFile", "%s", directory);
        memcpy(search, directory, directoryLength);
        search[directoryLength] = '\\';
        memcpy(search + directoryLength + 1, pattern, patternLength + 1);

        HANDLE handle = INVALID_HANDLE_VALUE;
        ErrorRef failure = CheckedFindFirstFile(search, &found, &handle);
        if (failure != NULL || handle == INVALID_HANDLE_VALUE)
            return failure; /* the handle slot stays null, never the invalid value */
        CurrentFindHandle = handle;
        info->dotsSeen = 0;
        haveMatch = true;
    }
    for (;;) {
        if (!haveMatch) {
            DWORD end = *endFlag;
            ErrorRef failure = CheckedFindNextFile(CurrentFindHandle, &found, &end);
            *endFlag = end;
            if (failure != NULL || end == 1) {
                CheckedFindClose(CurrentFindHandle);
                CurrentFindHandle = NULL;
                return failure;
            }
        }
        haveMatch = false;
        if (!IsDotEntry(found.cFileName, found.cAlternateFileName, &info->dotsSeen))
            break;
    }
    memmove(info->name, found.cFileName, strlen(found.cFileName) + 1);
    CopyFound(info, &found);
    *endFlag = 0;
    return NULL;
}

static void FactsOf(const EntryInfo *info, EntryFacts *facts)
{
    facts->found = info->kind != ENTRY_NONE;
    facts->name = info->name;
    facts->shortName = info->shortName;
    facts->size = ((unsigned long long)info->sizeHigh << 32) | (UINT32)info->size;
    facts->attributes = info->attributes;
    facts->lastWrite = info->lastWrite;
    facts->creation = info->creation;
}

/* Appends name to the path of the given length, or 206 when it does not fit. */
static ErrorRef JoinName(char *path, size_t length, const char *name)
{
    path[length] = '\0';
    bool separator = EndsInChar(path, length, '\\', AnsiLeadBytes());
    if (length + (separator ? 0 : 1) + strlen(name) >= MAX_PATH)
        return RecordErrorCode(ERROR_FILENAME_EXCED_RANGE, "RemoveTree", "%s\\%s", path, name);
    JoinPath(path, name);
    return NULL;
}

/* Joins the listed entry to path by the name that reaches it, and probes it
   there. The narrow listing spells a name with no form in the code page as
   '?' or a look-alike: then only the short name reaches it, and without one
   the tree ends with 123 rather than remove another entry in its place. */
static ErrorRef ReachEntry(char *path, const EntryInfo *listed, EntryInfo *probed, bool *byShortName)
{
    *byShortName = false;
    const unsigned char *leadBytes = AnsiLeadBytes();
    size_t length = strlen(path);
    EntryFacts listedFacts, probedFacts;
    FactsOf(listed, &listedFacts);
    bool addressable = IsAddressableName(listed->name, leadBytes);
    if (addressable) {
        ErrorRef failure = JoinName(path, length, listed->name);
        if (failure != NULL)
            return failure;
        ProbeEntry(path, probed);
        FactsOf(probed, &probedFacts);
    }
    NameChoice choice = ChooseEntryName(&listedFacts, addressable ? &probedFacts : NULL, leadBytes);
    if (choice == USE_LISTED_NAME)
        return NULL;
    if (choice == USE_SHORT_NAME) {
        ErrorRef failure = JoinName(path, length, listed->shortName);
        if (failure != NULL)
            return failure;
        ProbeEntry(path, probed);
        FactsOf(probed, &probedFacts);
        *byShortName = true;
        if (ShortNameFindsEntry(&listedFacts, &probedFacts))
            return NULL;
    }
    /* The path names the entry as the walk addressed it, or the folder when no
       name of it could be joined. */
    return RecordErrorCode(ERROR_INVALID_NAME, "RemoveTree", "%s", path);
}

static ErrorRef RemoveProbed(char *path, const EntryInfo *probed, const char *pattern);

static ErrorRef RemoveDirectoryContents(char *path, EntryInfo *listed, const char *pattern)
{
    EntryInfo probed = {}; /* a probe that finds nothing leaves the rest as it was */
    UINT32 end = 1;
    ErrorRef result = NextEntry(path, listed, pattern, &end);
    while (result == NULL && end == 0) {
        size_t length = strlen(path), meantLength = strlen(Meant);
        bool byShortName;
        /* A long name that does not fit meets no final path: only the open
           folders' deletions ask, and they then fail as redirected. */
        if (meantLength > 0 && meantLength + 1 + strlen(listed->name) < sizeof Meant)
            JoinPath(Meant, listed->name);
        else
            Meant[0] = '\0';
        result = ReachEntry(path, listed, &probed, &byShortName);
        ShortNamesOnPath += byShortName ? 1 : 0;
        if (result == NULL)
            result = RemoveProbed(path, &probed, pattern);
        ShortNamesOnPath -= byShortName ? 1 : 0;
        if (result != NULL)
            break; /* the path names the entry that failed */
        path[length] = '\0';
        if (Meant[0] != '\0')
            Meant[meantLength] = '\0';
        result = NextEntry(path, listed, pattern, &end);
    }
    return result;
}

ErrorRef RemoveTree(char *path, const char *pattern)
{
    /* One trailing backslash, never the second byte of a character. */
    size_t length = strlen(path);
    if (EndsInChar(path, length, '\\', AnsiLeadBytes()))
        path[length - 1] = '\0';

    /* Where others may change the folder that holds the tree, all of it is
       open to them; else it is learnt as the walk enters each folder. */
    FolderIsOpen = HolderOpenToOthers(path, Meant);
    EntryInfo info;
    ProbeEntry(path, &info);
    return RemoveProbed(path, &info, pattern);
}

/* A listed file or folder, deleted by path or, in a folder open to others, on
   its handle. */
static ErrorRef DeleteListed(const char *path, bool folder)
{
    if (FolderIsOpen)
        return DeleteMeantEntry(path, Meant, folder, true);
    if (AboutToDelete != NULL)
        AboutToDelete(path, false);
    return folder ? CheckedRemoveDirectory(path) : CheckedDeleteFile(path);
}

/* The entry at path as its probe found it: a file, a link or a whole folder. */
static ErrorRef RemoveProbed(char *path, const EntryInfo *probed, const char *pattern)
{
    EntryInfo info = *probed; /* the folder's own listing reuses this copy */
    if (info.kind == ENTRY_NONE)
        return NULL;
    if (info.kind == ENTRY_FILE) {
        if (LeftInPlace(path))
            return NULL;
        return Tally(&TreeRemoved.files, path, DeleteListed(path, false), false, false);
    }

    /* A junction or folder link is removed as itself: its target lies outside the
       tree, and listing it would empty a folder that is not ours. */
    bool link = (info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    unsigned long inPlace = TreeRemoved.inPlace;
    if (!link) {
        HANDLE outer;
        SaveFindHandle(&outer);
        ClearFindHandle();
        /* One read of its descriptor as the walk enters it; none below a
           folder already open to others. */
        bool outerOpen = FolderIsOpen;
        FolderIsOpen = outerOpen || EnteredFolderOpenToOthers(path);
        ErrorRef failure = RemoveDirectoryContents(path, &info, pattern);
        FolderIsOpen = outerOpen;
        CloseFindHandle();
        RestoreFindHandle(outer);
        if (failure != NULL)
            return failure;
    }
    if (LeftInPlace(path))
        return NULL;
    /* A link goes as itself, by the call that never follows its last part. */
    return Tally(link ? &TreeRemoved.links : &TreeRemoved.folders, path,
                 link ? CheckedRemoveDirectory(path) : DeleteListed(path, true), true,
                 TreeRemoved.inPlace > inPlace);
}
