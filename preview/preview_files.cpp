/*
 * The file-system records on the live machine: file:, link:, dir: and dirw:
 * as the uninstaller carries them out (the same deferral test, tree-root test
 * and choice of the name that reaches each listed entry, the tree walked in
 * listing order and stopped at its first failure, links removed as
 * themselves), then what the clean-up copy will do with the deferred paths,
 * and what stays under the named folders.
 */
#include "preview/preview.h"

#include <string.h>

/* The uninstaller's own deferral test; the empty path leads every path. */
static bool IsDeferred(const Preview *preview, const char *path)
{
    size_t length = strlen(path);
    return length == 0 ||
           (preview->uninstallerKnown && IsLeadingPartOf(path, length, preview->uninstaller, AnsiLeadBytes()));
}

/* The entry's attributes, or INVALID_FILE_ATTRIBUTES when nothing (left) is there. */
static DWORD AttributesNow(const Preview *preview, const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && IsGone(preview, path))
        return INVALID_FILE_ATTRIBUTES;
    return attributes;
}

static bool TooLong(Preview *preview, size_t record, const char *path)
{
    if (strlen(path) < PATH_BUFFER_SIZE)
        return false;
    AddLine(preview, record, REFUSED, "path does not fit the 260-byte buffer; refused (206)");
    return true;
}

/* The uninstaller refuses a path that ends inside a character: the system
   would drop or replace the lone lead byte and name another path. */
static bool EndsInsideACharacter(Preview *preview, size_t record, const char *path)
{
    if (!EndsInLoneLeadByte(path, strlen(path), AnsiLeadBytes()))
        return false;
    AddLine(preview, record, REFUSED, "the path ends in a lone lead byte; refused (87)");
    return true;
}

static void AddVerdictLine(Preview *preview, size_t record, Outcome verdict, DWORD code,
                           const char *path)
{
    if (verdict == WILL_FAIL_READ_ONLY)
        AddLine(preview, record, verdict, "'%s' is read-only: its removal will fail (5)", path);
    else
        AddLine(preview, record, verdict, "this run may not remove '%s' (%lu, %s)", path,
                (unsigned long)code,
                CodeName(verdict == WILL_FAIL_IN_USE ? ERROR_SHARING_VIOLATION : code));
}

/* What a file: or dir: record meets before its removal is asked: deferral, a
   path too long, or nothing there. False when that already decided the line. */
static bool EntryToRemove(Preview *preview, size_t record, const char *path, bool deferrable,
                          DWORD *attributes)
{
    if (EndsInsideACharacter(preview, record, path))
        return false;
    if (deferrable && IsDeferred(preview, path)) {
        Defer(preview, record, path);
        return false;
    }
    if (TooLong(preview, record, path))
        return false;
    *attributes = AttributesNow(preview, path);
    if (*attributes == INVALID_FILE_ATTRIBUTES) {
        AddLine(preview, record, NAMES_NOTHING, "'%s' names nothing here", path);
        return false;
    }
    return true;
}

/* The entry goes at the restart as planned; its line says how. */
static void AtRestart(Preview *preview, size_t record, const char *path, DWORD code,
                      const RestartPlan *plan)
{
    MarkAtRestart(preview, path, plan);
    if (plan->way == RESTART_MOVE_ASIDE)
        AddLine(preview, record, WILL_REMOVE_AT_RESTART,
                "'%s' is in use now (%lu): it will be moved aside and deleted at the next restart",
                path, (unsigned long)code);
    else
        AddLine(preview, record, WILL_REMOVE_AT_RESTART,
                "'%s' is in use now (%lu): it will be deleted at the next restart, where it stands",
                path, (unsigned long)code);
}

/* The deletion's own open gets through: in a folder open to others the
   entry's final path is checked on that handle, before anything else fails. */
static bool DeleteOpenGetsThrough(DWORD code)
{
    return code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION;
}

/* Whether this run may remove the entry; if so it counts as gone from here on,
   otherwise the line says why not. */
static bool MayRemove(Preview *preview, size_t record, const char *path, DWORD attributes)
{
    DWORD code;
    RestartFacts facts = {};
    facts.holdsScheduled = (attributes & FILE_ATTRIBUTE_DIRECTORY) && KeepsScheduled(preview, path);
    RestartPlan plan;
    Outcome verdict = DeletionVerdict(path, attributes, &facts, &code, &plan);
    char meant[MAX_PATH];
    if (DeleteOpenGetsThrough(code) && HolderOpenToOthers(path, meant) && LeadsElsewhere(path, meant)) {
        AddLine(preview, record, REDIRECTED,
                "'%s' leads elsewhere than the log says: the uninstaller, elevated, deletes nothing "
                "there (%lu)", path, (unsigned long)ERROR_REDIRECTED_ENTRY);
        return false;
    }
    if (verdict == WILL_REMOVE_AT_RESTART) {
        AtRestart(preview, record, path, code, &plan);
        return false;
    }
    if (verdict != WILL_REMOVE_FILE) {
        AddVerdictLine(preview, record, verdict, code, path);
        return false;
    }
    MarkGone(preview, path);
    return true;
}

void PreviewFile(Preview *preview, size_t record, const char *path, bool deferrable)
{
    DWORD attributes;
    if (!EntryToRemove(preview, record, path, deferrable, &attributes))
        return;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        AddLine(preview, record, WILL_FAIL_KIND, "'%s' is a folder: deleting it as a file fails (5)",
                path);
        return;
    }
    if (!MayRemove(preview, record, path, attributes))
        return;
    AddLine(preview, record, WILL_REMOVE_FILE, "will remove file '%s'", path);
}

void PreviewFolder(Preview *preview, size_t record, const char *path)
{
    DWORD attributes;
    if (!EntryToRemove(preview, record, path, true, &attributes))
        return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        AddLine(preview, record, WILL_FAIL_KIND,
                "'%s' is a file: removing it as a folder fails (267)", path);
        return;
    }
    bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    char remaining[512];
    size_t count = link ? 0 : DescribeRemaining(preview, path, remaining, sizeof remaining);
    if (count > 0) {
        AddLine(preview, record, WILL_FAIL_NOT_EMPTY,
                "folder '%s' will not be empty at its turn (145): %lu entr%s no earlier record "
                "removes: %s",
                path, (unsigned long)count, count == 1 ? "y" : "ies", remaining);
        return;
    }
    if (!MayRemove(preview, record, path, attributes))
        return;
    if (link)
        AddLine(preview, record, WILL_REMOVE_LINK,
                "will remove the folder link '%s' itself, not what it points at", path);
    else
        AddLine(preview, record, WILL_REMOVE_FOLDER, "will remove empty folder '%s'", path);
}

struct TreeWalk {
    bool found;                 /* the top named something */
    unsigned long files, folders, links, deferred, atRestart;
    unsigned shortNames;        /* entries on the path now walked that were reached by short names */
    bool stopped;
    Outcome stop;               /* why the walk stopped */
    DWORD code;
    char at[MAX_PATH];          /* the entry where it stopped */
    char why[MAX_PATH + 64];
    bool open;                  /* others may change the folder now walked */
    char meant[MAX_PATH];       /* the full path the walked path should have */
};

static bool Stop(TreeWalk *walk, Outcome outcome, DWORD code, const char *at, const char *why)
{
    walk->stopped = true;
    walk->stop = outcome;
    walk->code = code;
    snprintf(walk->at, sizeof walk->at, "%s", at);
    snprintf(walk->why, sizeof walk->why, "%s", why);
    return false;
}

static bool WalkProbed(Preview *preview, size_t record, char *path, const WIN32_FIND_DATAA *found,
                       TreeWalk *walk);

static unsigned long long TimeValue(FILETIME time)
{
    return ((unsigned long long)time.dwHighDateTime << 32) | time.dwLowDateTime;
}

/* What the uninstaller's walk compares of a listed or probed entry. */
static EntryFacts FactsOf(const WIN32_FIND_DATAA *found, bool there)
{
    if (!there) {
        EntryFacts none = {false, "", "", 0, 0, 0, 0};
        return none;
    }
    EntryFacts facts = {true, found->cFileName, found->cAlternateFileName,
                        ((unsigned long long)found->nFileSizeHigh << 32) | found->nFileSizeLow,
                        (unsigned)found->dwFileAttributes, TimeValue(found->ftLastWriteTime),
                        TimeValue(found->ftCreationTime)};
    return facts;
}

/* The uninstaller's probe: the path itself as the search pattern. */
static bool Probe(const char *path, WIN32_FIND_DATAA *found)
{
    HANDLE search = FindFirstFileA(path, found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

static bool JoinName(char *path, size_t length, const char *name, TreeWalk *walk)
{
    path[length] = '\0';
    if (length + 1 + strlen(name) >= MAX_PATH)
        return Stop(walk, TREE_STOPS, ERROR_FILENAME_EXCED_RANGE, path, "path too long to join");
    path[length] = '\\';
    strcpy(path + length + 1, name);
    return true;
}

/* Joins a listed entry by the name the uninstaller's walk takes for it and
   probes it there, with the walk's own choice. 1: *probe holds the entry at
   path; 0: an earlier record removed it; -1: the walk stops. An entry that
   an earlier record removed is probed too: its listed name may be only a
   look-alike of the one that went. */
static int ReachEntry(Preview *preview, char *path, size_t length, const WIN32_FIND_DATAA *listed,
                      WIN32_FIND_DATAA *probe, TreeWalk *walk, bool *byShortName)
{
    *byShortName = false;
    const unsigned char *leadBytes = AnsiLeadBytes();
    EntryFacts listedFacts = FactsOf(listed, true), probedFacts;
    bool addressable = IsAddressableName(listed->cFileName, leadBytes);
    if (addressable) {
        if (!JoinName(path, length, listed->cFileName, walk))
            return -1;
        probedFacts = FactsOf(probe, Probe(path, probe));
    }
    NameChoice choice = ChooseEntryName(&listedFacts, addressable ? &probedFacts : NULL, leadBytes);
    if (choice == USE_LISTED_NAME)
        return IsGone(preview, path) ? 0 : 1;
    char why[MAX_PATH + 96];
    if (choice == USE_SHORT_NAME) {
        if (!JoinName(path, length, listed->cAlternateFileName, walk))
            return -1;
        if (IsGone(preview, path))
            return 0;
        probedFacts = FactsOf(probe, Probe(path, probe));
        *byShortName = true;
        if (ShortNameFindsEntry(&listedFacts, &probedFacts))
            return 1;
        snprintf(why, sizeof why, "it lists '%s', whose short name finds another entry or none",
                 listed->cFileName);
    } else if (addressable) {
        snprintf(why, sizeof why,
                 "it lists '%s', a name that finds another entry or none, and no short name "
                 "reaches it", listed->cFileName);
    } else {
        snprintf(why, sizeof why,
                 "it lists '%s', a name the narrow calls cannot address, and no short name "
                 "reaches it", listed->cFileName);
    }
    Stop(walk, TREE_STOPS, ERROR_INVALID_NAME, path, why);
    return -1;
}

/* The folder's entries in listing order, each walked as the uninstaller does. */
static bool WalkContents(Preview *preview, size_t record, char *path, TreeWalk *walk)
{
    size_t length = strlen(path);
    if (length + 1 + 3 >= MAX_PATH)
        return Stop(walk, TREE_STOPS, ERROR_FILENAME_EXCED_RANGE, path, "path too long to list");
    char pattern[MAX_PATH];
    snprintf(pattern, sizeof pattern, "%s\\*.*", path);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return Stop(walk, TREE_STOPS, GetLastError(), path, "the folder cannot be listed");
    bool ok = true;
    unsigned dotsSeen = 0;
    do {
        if (IsDotEntry(found.cFileName, found.cAlternateFileName, &dotsSeen))
            continue;
        WIN32_FIND_DATAA probe;
        bool byShortName;
        size_t meantLength = strlen(walk->meant);
        if (meantLength > 0 && meantLength + 1 + strlen(found.cFileName) < sizeof walk->meant)
            JoinPath(walk->meant, found.cFileName);
        else
            walk->meant[0] = '\0';
        int reached = ReachEntry(preview, path, length, &found, &probe, walk, &byShortName);
        walk->shortNames += byShortName ? 1 : 0;
        bool walked = reached > 0 && WalkProbed(preview, record, path, &probe, walk);
        walk->shortNames -= byShortName ? 1 : 0;
        if (reached < 0 || (reached > 0 && !walked)) {
            ok = false;
            break;
        }
        path[length] = '\0';
        if (walk->meant[0] != '\0')
            walk->meant[meantLength] = '\0';
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return ok;
}

static bool WalkTree(Preview *preview, size_t record, char *path, TreeWalk *walk)
{
    size_t length = strlen(path);
    if (EndsInChar(path, length, '\\', AnsiLeadBytes()))
        path[length - 1] = '\0';
    if (IsGone(preview, path))
        return true;
    WIN32_FIND_DATAA found;
    if (!Probe(path, &found))
        return true;
    walk->open = HolderOpenToOthers(path, walk->meant);
    bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                  !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (walk->open && folder)
        NoteOpenFolder(preview, record, path);
    return WalkProbed(preview, record, path, &found, walk);
}

/* The entry at path as its probe found it, and for a folder what is in it. */
static bool WalkProbed(Preview *preview, size_t record, char *path, const WIN32_FIND_DATAA *found,
                       TreeWalk *walk)
{
    walk->found = true;
    DWORD attributes = found->dwFileAttributes;
    bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool link = folder && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (folder && !link) {
        /* Its descriptor read as the uninstaller's walk reads it. */
        bool outerOpen = walk->open;
        walk->open = outerOpen || EnteredFolderOpenToOthers(path);
        if (walk->open && !outerOpen)
            NoteOpenFolder(preview, record, path);
        bool walked = WalkContents(preview, record, path, walk);
        walk->open = outerOpen;
        if (!walked)
            return false;
    }
    if (IsDeferred(preview, path)) {
        Defer(preview, record, path);
        walk->deferred++;
        return true;
    }
    DWORD code;
    RestartFacts facts = {};
    facts.byShortName = walk->shortNames > 0;
    facts.holdsScheduled = folder && !link && KeepsScheduled(preview, path);
    RestartPlan plan;
    Outcome verdict = DeletionVerdict(path, attributes, &facts, &code, &plan);
    if (walk->open && !link && DeleteOpenGetsThrough(code) && LeadsElsewhere(path, walk->meant))
        return Stop(walk, REDIRECTED, ERROR_REDIRECTED_ENTRY, path,
                    "it leads elsewhere than the log says, through a link on its path");
    if (verdict == WILL_REMOVE_AT_RESTART) {
        /* No failure: the walk goes on, and the folders above follow it. */
        walk->atRestart++;
        AtRestart(preview, record, path, code, &plan);
        return true;
    }
    if (verdict != WILL_REMOVE_FILE)
        return Stop(walk, verdict, code, path,
                    verdict == WILL_FAIL_READ_ONLY ? "read-only"
                    : verdict == WILL_FAIL_IN_USE  ? CodeName(ERROR_SHARING_VIOLATION)
                                                   : CodeName(code));
    MarkGone(preview, path);
    if (link)
        walk->links++;
    else if (folder)
        walk->folders++;
    else
        walk->files++;
    return true;
}

static const char *Plural(unsigned long count) { return count == 1 ? "" : "s"; }

void PreviewTree(Preview *preview, size_t record, const char *argument)
{
    if (TooLong(preview, record, argument) || EndsInsideACharacter(preview, record, argument))
        return;
    char path[MAX_PATH];
    strcpy(path, argument);
    if (IsDeferred(preview, path)) {
        Defer(preview, record, path);
        return;
    }
    if (!IsSafeTreeRoot(path, strlen(path), AnsiLeadBytes())) {
        AddLine(preview, record, REFUSED,
                "not a tree below a drive or share root; the uninstaller refuses it (87)");
        return;
    }
    TreeWalk walk;
    memset(&walk, 0, sizeof walk);
    WalkTree(preview, record, path, &walk);
    char deferred[112] = "";
    if (walk.deferred > 0)
        snprintf(deferred, sizeof deferred, "; %lu kept for the clean-up copy", walk.deferred);
    if (walk.atRestart > 0)
        snprintf(deferred + strlen(deferred), sizeof deferred - strlen(deferred),
                 "; %lu at the next restart", walk.atRestart);
    if (walk.stopped) {
        AddLine(preview, record, walk.stop == REDIRECTED ? REDIRECTED : TREE_STOPS,
                "tree '%s' stops at '%s' (%s; %lu): %lu file%s, %lu folder%s and %lu link%s go "
                "before it%s; it, what is listed after it and every folder above it up to the top "
                "stay",
                argument, walk.at, walk.why, (unsigned long)walk.code, walk.files, Plural(walk.files),
                walk.folders, Plural(walk.folders), walk.links, Plural(walk.links), deferred);
    } else if (!walk.found) {
        AddLine(preview, record, NAMES_NOTHING, "'%s' names nothing here", argument);
    } else {
        char links[48] = "";
        if (walk.links > 0)
            snprintf(links, sizeof links, ", %lu link%s (as links)", walk.links, Plural(walk.links));
        AddLine(preview, record, WILL_REMOVE_TREE, "will remove tree '%s': %lu file%s, %lu folder%s%s%s",
                argument, walk.files, Plural(walk.files), walk.folders, Plural(walk.folders), links,
                deferred);
    }
}

/* The copy is not started when a file of its name stays in the temporary
   folder: it cannot be deleted first. */
static bool CopyBlocked(const char *copyPath, DWORD *code)
{
    if (copyPath[0] == '\0' || GetFileAttributesA(copyPath) == INVALID_FILE_ATTRIBUTES)
        return false;
    *code = DeleteAccessProbe(copyPath, false);
    return *code != 0;
}

/* How many deferred paths the copy's command line holds: the copy's quoted
   path, " -u", then each path quoted after a blank, up to the system's limit. */
static size_t PathsHanded(const Preview *preview, const char *copyPath)
{
    const unsigned char *leadBytes = AnsiLeadBytes();
    size_t used = QuotedArgumentLength(copyPath, strlen(copyPath), leadBytes) + 3;
    for (size_t i = 0; i < preview->deferredCount; i++) {
        const char *path = preview->deferred[i];
        used += 1 + QuotedArgumentLength(path, strlen(path), leadBytes);
        if (used >= COMMAND_LINE_LIMIT)
            return i;
    }
    return preview->deferredCount;
}

void PreviewCleanupCopy(Preview *preview)
{
    if (preview->deferredCount == 0)
        return;
    char temp[MAX_PATH], copyPath[MAX_PATH + 16] = "";
    DWORD length = GetTempPathA(sizeof temp, temp), code = 0;
    if (length > 0 && length < sizeof temp)
        snprintf(copyPath, sizeof copyPath, "%suninstallqx.exe", temp);
    bool blocked = CopyBlocked(copyPath, &code);
    size_t handed = PathsHanded(preview, copyPath);
    for (size_t i = 0; i < preview->deferredCount; i++) {
        const char *path = preview->deferred[i];
        size_t record = preview->deferredRecord[i], place = i + 1, of = preview->deferredCount;
        if (i >= handed) {
            AddLine(preview, record, DEFERRED_NOT_HANDED,
                    "'%s' is kept for the clean-up copy but will not be handed to it: its command "
                    "line would pass the system's limit of %lu characters, so it stays",
                    path, (unsigned long)COMMAND_LINE_LIMIT);
            continue;
        }
        if (blocked) {
            AddLine(preview, record, DEFERRED_WILL_FAIL,
                    "'%s' is kept for the clean-up copy, which will not start: '%s' cannot be "
                    "replaced (%lu, %s)",
                    path, copyPath, (unsigned long)code, CodeName(code));
            continue;
        }
        DWORD attributes = AttributesNow(preview, path);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            AddLine(preview, record, DEFERRED,
                    "'%s' is kept for the clean-up copy (%lu of %lu), which will find nothing there",
                    path, (unsigned long)place, (unsigned long)of);
            continue;
        }
        /* The copy removes each path as a file or an empty folder, never a tree. */
        char remaining[512];
        size_t count = 0;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            count = DescribeRemaining(preview, path, remaining, sizeof remaining);
        if (count > 0) {
            AddLine(preview, record, DEFERRED_WILL_FAIL,
                    "'%s' is kept for the clean-up copy (%lu of %lu), which will fail: the folder "
                    "will not be empty (145): %s",
                    path, (unsigned long)place, (unsigned long)of, remaining);
            continue;
        }
        RestartFacts facts = {};
        facts.onCopyList = true;
        RestartPlan plan;
        Outcome verdict = DeletionVerdict(path, attributes, &facts, &code, &plan);
        if (verdict == WILL_REMOVE_AT_RESTART) {
            MarkGone(preview, path);
            AddLine(preview, record, DEFERRED,
                    "'%s' is kept for the clean-up copy (%lu of %lu), which will move it aside: "
                    "it is in use now (%lu) and deleted at the next restart",
                    path, (unsigned long)place, (unsigned long)of, (unsigned long)code);
            continue;
        }
        if (verdict != WILL_REMOVE_FILE) {
            AddLine(preview, record, DEFERRED_WILL_FAIL,
                    "'%s' is kept for the clean-up copy (%lu of %lu), which will fail: %s (%lu)",
                    path, (unsigned long)place, (unsigned long)of,
                    verdict == WILL_FAIL_READ_ONLY ? "read-only" : CodeName(code),
                    (unsigned long)code);
            continue;
        }
        MarkGone(preview, path);
        AddLine(preview, record, DEFERRED,
                "'%s' is kept for the clean-up copy (%lu of %lu), which will remove it", path,
                (unsigned long)place, (unsigned long)of);
    }
}

/* The entry and, for a folder that stays, everything in it that stays. */
static size_t PrintLeftUnder(Preview *preview, FILE *out, NameSet *reported, char *path)
{
    char key[MAX_PATH];
    PathKey(path, key, sizeof key);
    if (NameSetHas(reported, key) || IsGone(preview, path))
        return 0;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 0;
    NameSetAdd(reported, key);
    fprintf(out, "%s: will be left: %s%s\n", preview->log->name, path,
            (attributes & FILE_ATTRIBUTE_DIRECTORY) ? "\\" : "");
    size_t left = 1, length = strlen(path);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        length + 2 >= MAX_PATH)
        return left;
    char pattern[MAX_PATH + 2];
    snprintf(pattern, sizeof pattern, "%s\\*", path);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return left;
    do {
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0 ||
            length + 1 + strlen(found.cFileName) >= MAX_PATH)
            continue;
        path[length] = '\\';
        strcpy(path + length + 1, found.cFileName);
        left += PrintLeftUnder(preview, out, reported, path);
        path[length] = '\0';
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return left;
}

size_t PrintLeftFiles(Preview *preview, FILE *out, NameSet *reported)
{
    const LogText *log = preview->log;
    size_t left = 0;
    for (size_t i = 0; i < log->recordCount; i++) {
        const LogRecord *record = &log->records[i];
        if (record->kind != RECORD_DIR && record->kind != RECORD_DIRW)
            continue;
        if (record->length - record->argument >= MAX_PATH)
            continue;
        char path[MAX_PATH];
        RecordArgument(log, record, path, sizeof path);
        size_t length = strlen(path);
        while (length > 3 && EndsInChar(path, length, '\\', AnsiLeadBytes()))
            path[--length] = '\0';
        /* Never a whole drive or share: the static checks speak of those. */
        if (!IsSafeTreeRoot(path, length, AnsiLeadBytes()))
            continue;
        DWORD attributes = GetFileAttributesA(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            left += PrintLeftUnder(preview, out, reported, path);
    }
    return left;
}
