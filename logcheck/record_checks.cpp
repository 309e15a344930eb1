/*
 * Each record alone, judged with the uninstaller's own functions in the order
 * in which the uninstaller asks them: what it passes over, refuses, defers,
 * cannot fit, or carries out with harm. The facts learnt here feed the checks
 * of order and repeats.
 */
#include "logcheck/logcheck.h"

#include <string.h>

static const char *const KIND_WORDS[] = {"file", "dir", "dirw", "key", "link"};
static const char BOM[] = "\xEF\xBB\xBF";

static bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
static const char *Plural(size_t count) { return count == 1 ? "" : "s"; }

/* A record the uninstaller passes over: say why, and what was meant. */
static void CheckKindless(const LogText *log, const LogRecord *record, Findings *findings)
{
    const char *text = log->bytes + record->start;
    size_t at = 0;
    bool bom = record->start == 0 && record->length >= 3 && memcmp(text, BOM, 3) == 0;
    if (bom) {
        at = 3;
        if (at == record->length)
            return; /* a mark alone on its line: passed over, and nothing is lost */
    }
    size_t blanks = 0;
    while (at + blanks < record->length && text[at + blanks] == ' ')
        blanks++;
    size_t argument;
    RecordKind kind = RecordKindOf(text + at + blanks, record->length - at - blanks, &argument);
    if (bom && (kind == RECORD_NONE || blanks == 0))
        AddFinding(findings, record->start, SEVERITY_ERROR, "byte-order-mark",
                   "a UTF-8 byte-order mark starts the log: it is part of the first record, "
                   "so no kind matches and the record is passed over");
    if (kind != RECORD_NONE) {
        if (blanks > 0)
            AddFinding(findings, record->start + at, SEVERITY_ERROR, "leading-blank",
                       "%lu blank%s before '%s' belong%s to the record, so no kind matches and "
                       "the record is passed over",
                       (unsigned long)blanks, Plural(blanks), RecordPrefix(kind),
                       blanks == 1 ? "s" : "");
        return;
    }

    at += blanks;
    size_t word = 0;
    while (at + word < record->length && IsAsciiLetter(text[at + word]))
        word++;
    const char *meant = NearestName(text + at, word, KIND_WORDS, sizeof KIND_WORDS / sizeof KIND_WORDS[0]);
    char suggestion[32] = "";
    if (meant != NULL)
        snprintf(suggestion, sizeof suggestion, "; did you mean '%s:'?", meant);
    if (word > 0 && at + word < record->length && text[at + word] == ':') {
        char quoted[256];
        AddFinding(findings, record->start + at, SEVERITY_ERROR, "unknown-kind",
                   "'%s:' is no kind the uninstaller knows (file:, dir:, dirw:, key:, link:), "
                   "so the record is passed over%s",
                   QuoteText(text + at, word, quoted, sizeof quoted, log->leadBytes), suggestion);
    } else {
        AddFinding(findings, record->start + at, SEVERITY_ERROR, "unknown-kind",
                   "the record starts with no kind (file:, dir:, dirw:, key:, link:) and is "
                   "passed over%s",
                   suggestion);
    }
}

static void CheckUtf8(const LogRecord *record, const char *argument, size_t length, bool registry,
                      const unsigned char *leadBytes, Findings *findings)
{
    /* Good text of a double-byte code page often reads as UTF-8 too. */
    if (leadBytes != NULL && IsDoubleByteText(argument, length, leadBytes))
        return;
    size_t at = FindUtf8Sequence(argument, length);
    if (at < length)
        AddFinding(findings, record->start + record->argument + at, SEVERITY_WARNING, "utf8-text",
                   "UTF-8 text: the uninstaller reads the log in the ANSI code page, so this %s "
                   "names another %s",
                   registry ? "item" : "path", registry ? "registry entry" : "file or folder");
}

static void CheckRegistryItem(const LogRecord *record, const char *item, size_t length,
                              const unsigned char *leadBytes, RecordFacts *facts,
                              Findings *findings)
{
    size_t itemStart = record->start + record->argument;
    RegistryItemParts parts;
    if (!SplitRegistryItem(item, length, &parts, leadBytes)) {
        bool none = FindFirstChar(item, length, '\\', leadBytes) == length;
        AddFinding(findings, itemStart, SEVERITY_ERROR, "key-too-few-backslashes",
                   "the item has %s backslash: it names nothing and is passed over (a value is "
                   "ROOT\\key\\name, a key ROOT\\key\\)",
                   none ? "no" : "only one");
        return;
    }
    char quoted[256];
    if (RegistryRootFromName(item, parts.rootLength) == ROOT_UNKNOWN) {
        const char *names[REGISTRY_ROOT_NAMES];
        for (size_t i = 0; i < REGISTRY_ROOT_NAMES; i++)
            names[i] = RegistryRootName(i);
        const char *meant = NearestName(item, parts.rootLength, names, REGISTRY_ROOT_NAMES);
        char suggestion[48] = "";
        if (meant != NULL)
            snprintf(suggestion, sizeof suggestion, "; did you mean '%s'?", meant);
        AddFinding(findings, itemStart, SEVERITY_ERROR, "unknown-root",
                   "'%s' is no registry root: the uninstaller asks the system with no key, which "
                   "refuses, and nothing is removed%s",
                   QuoteText(item, parts.rootLength, quoted, sizeof quoted, leadBytes), suggestion);
        return;
    }
    if (parts.keyPathLength == 0) {
        QuoteText(item, parts.rootLength, quoted, sizeof quoted, leadBytes);
        if (parts.valueNameLength > 0)
            AddFinding(findings, itemStart + parts.keyPath, SEVERITY_ERROR, "key-empty-path",
                       "the key path is empty: the value is deleted from the root key %s itself",
                       quoted);
        else
            AddFinding(findings, itemStart + parts.keyPath, SEVERITY_ERROR, "key-empty-path",
                       "the key path is empty: the uninstaller asks to delete the root key %s "
                       "itself, which the system refuses",
                       quoted);
        return;
    }
    facts->registry = true;
    CheckUtf8(record, item, length, true, leadBytes, findings);
}

/* Why the uninstaller's safety test refuses a tree root, in words. */
static const char *RefusalReason(const char *path, size_t length, const unsigned char *leadBytes)
{
    if (!IsFullyQualified(path, length))
        return "it is not fully qualified";
    bool device = length >= 4 && (path[2] == '?' || path[2] == '.') && (path[3] == '\\' || path[3] == '/');
    for (size_t at = device ? 4 : 0; at < length;) {
        size_t start = at;
        while (at < length && path[at] != '\\' && path[at] != '/')
            at += CharLength(path, at, length, leadBytes);
        size_t dots = 0;
        while (start + dots < at && (path[start + dots] == '.' || path[start + dots] == ' '))
            dots++;
        if (dots > 0 && dots == at - start)
            return dots <= 2 && memcmp(path + start, "..", dots) == 0
                       ? "it has a '.' or '..' part"
                       : "it has a part of dots and blanks alone, which the system trims away";
        at++;
    }
    if (device)
        return "it is a device path that spells no folder below a drive or share";
    return "it names a drive or share root, not a folder below one";
}

/* A dirw: as RemoveTreeRecord takes it: the length, the deferral, the safety
   test, then the tree removal, which strips one trailing backslash. */
static void CheckTreeRoot(const LogRecord *record, const char *path, size_t length,
                          const char *uninstaller, const unsigned char *leadBytes,
                          RecordFacts *facts, Findings *findings)
{
    size_t pathStart = record->start + record->argument;
    char quoted[256];
    if (uninstaller != NULL && IsLeadingPartOf(path, length, uninstaller, leadBytes)) {
        if (uninstaller[length] == '\0')
            return; /* the program's own file: the ordinary deferral */
        QuoteText(uninstaller, strlen(uninstaller), quoted, sizeof quoted, leadBytes);
        if (EndsInChar(path, length, '\\', leadBytes) || uninstaller[length] == '\\')
            AddFinding(findings, pathStart, SEVERITY_ERROR, "dirw-deferred",
                       "the tree holds the uninstaller's own path %s: it is deferred whole, nothing "
                       "below it is removed, and the clean-up copy removes only an empty folder",
                       quoted);
        else
            AddFinding(findings, pathStart, SEVERITY_ERROR, "deferred-other-path",
                       "the path is only as text a leading part of the uninstaller's own path %s: "
                       "the tree is deferred whole though it is another folder, and the clean-up "
                       "copy removes only an empty folder",
                       quoted);
        return;
    }
    if (!IsSafeTreeRoot(path, length, leadBytes)) {
        AddFinding(findings, pathStart, SEVERITY_ERROR, "dirw-refused",
                   "the uninstaller refuses this tree root (error 87) and removes nothing: %s",
                   RefusalReason(path, length, leadBytes));
        return;
    }
    /* The separators that end the path, as characters: a second byte is none. */
    size_t trailing = 0;
    for (size_t at = 0; at < length;) {
        size_t n = CharLength(path, at, length, leadBytes);
        trailing = n == 1 && (path[at] == '\\' || path[at] == '/') ? trailing + 1 : 0;
        at += n;
    }
    bool slash = trailing > 0 && path[length - 1] == '/';
    if (slash || trailing > 1) {
        AddFinding(findings, pathStart + length - trailing, SEVERITY_ERROR, "dirw-trailing-separator",
                   "the path ends in %s: only one trailing backslash is stripped, so the tree "
                   "root names nothing and nothing is removed",
                   slash ? "'/'" : "more than one backslash");
        return;
    }
    facts->treeRemoved = true;
    const char *shared;
    if (IsSharedFolder(path, length, &shared, leadBytes))
        AddFinding(findings, pathStart, SEVERITY_ERROR, "shared-folder",
                   "removes the whole tree of %s (%s), a folder that other programs share",
                   QuoteText(path, length, quoted, sizeof quoted, leadBytes), shared);
}

/* file:, dir: and link: go to the system's narrow calls as they stand. */
static void CheckSinglePath(const LogRecord *record, const char *path, size_t length,
                            const char *uninstaller, const unsigned char *leadBytes,
                            RecordFacts *facts, Findings *findings)
{
    size_t pathStart = record->start + record->argument;
    char quoted[256];
    if (!IsFullyQualified(path, length)) {
        AddFinding(findings, pathStart, SEVERITY_ERROR, "path-not-fully-qualified",
                   "%s is not fully qualified: it resolves against whatever folder the "
                   "uninstaller was started in",
                   QuoteText(path, length, quoted, sizeof quoted, leadBytes));
        return;
    }
    bool deferred = false;
    if (record->kind != RECORD_LINK && uninstaller != NULL &&
        IsLeadingPartOf(path, length, uninstaller, leadBytes)) {
        deferred = true;
        char next = uninstaller[length];
        if (next != '\0' && next != '\\' && !EndsInChar(path, length, '\\', leadBytes))
            AddFinding(findings, pathStart, SEVERITY_ERROR, "deferred-other-path",
                       "the path is only as text a leading part of the uninstaller's own path %s: "
                       "it is deferred to the clean-up copy though it names another %s, and stays "
                       "if the copy cannot remove it",
                       QuoteText(uninstaller, strlen(uninstaller), quoted, sizeof quoted, leadBytes),
                       record->kind == RECORD_DIR ? "folder" : "file");
    }
    facts->dirPending = record->kind == RECORD_DIR && !deferred;
    facts->deferred = deferred;
    const char *shared;
    if (record->kind == RECORD_DIR && IsSharedFolder(path, length, &shared, leadBytes))
        AddFinding(findings, pathStart, SEVERITY_ERROR, "shared-folder",
                   "removes %s (%s) whenever it is empty at its turn, a folder that other "
                   "programs share",
                   QuoteText(path, length, quoted, sizeof quoted, leadBytes), shared);
    if (record->kind == RECORD_LINK) {
        bool shortcut = length >= 4 && (EqualIgnoringAsciiCase(path + length - 4, ".lnk", 4) ||
                                        EqualIgnoringAsciiCase(path + length - 4, ".url", 4));
        if (!shortcut)
            AddFinding(findings, pathStart, SEVERITY_WARNING, "link-extension",
                       "a shortcut's name ends in .lnk or .url: link: deletes this file all the "
                       "same, and never keeps it for the clean-up copy (file: says what it is)");
    }
}

void CheckRecord(const LogText *log, size_t index, const char *uninstaller, RecordFacts *facts,
                 Findings *findings)
{
    const LogRecord *record = &log->records[index];
    memset(facts, 0, sizeof *facts);
    if (record->kind == RECORD_NONE) {
        CheckKindless(log, record, findings);
        return;
    }
    const char *argument = log->bytes + record->start + record->argument;
    size_t length = record->length - record->argument;
    const unsigned char *leadBytes = log->leadBytes;
    if (record->kind == RECORD_KEY) {
        CheckRegistryItem(record, argument, length, leadBytes, facts, findings);
        return;
    }

    const char *prefix = RecordPrefix(record->kind);
    if (length == 0) {
        if (record->kind == RECORD_LINK)
            AddFinding(findings, record->start, SEVERITY_ERROR, "empty-path",
                       "'%s' with no path: the deletion fails and nothing is removed", prefix);
        else
            AddFinding(findings, record->start, SEVERITY_ERROR, "empty-path",
                       "'%s' with no path: the uninstaller defers the empty path to its clean-up "
                       "copy, which removes nothing",
                       prefix);
        return;
    }
    if (length >= PATH_BUFFER_SIZE) {
        if (record->kind == RECORD_DIRW)
            AddFinding(findings, record->start + record->argument, SEVERITY_ERROR, "path-too-long",
                       "the path is %lu bytes, more than the %lu that fit the uninstaller's path "
                       "buffer: it records error 206 and removes nothing",
                       (unsigned long)length, (unsigned long)(PATH_BUFFER_SIZE - 1));
        else
            AddFinding(findings, record->start + record->argument, SEVERITY_ERROR, "path-too-long",
                       "the path is %lu bytes, more than the %lu that the system's narrow calls "
                       "take: the %s fails and nothing is removed",
                       (unsigned long)length, (unsigned long)(PATH_BUFFER_SIZE - 1),
                       record->kind == RECORD_DIR ? "removal" : "deletion");
        return;
    }

    if (EndsInLoneLeadByte(argument, length, leadBytes)) {
        AddFinding(findings, record->start + record->argument + length - 1, SEVERITY_ERROR,
                   "path-lone-lead-byte",
                   "the path ends in a lone lead byte (\\x%02X): the system's conversion drops or "
                   "replaces it, so the record would name another path; the uninstaller refuses "
                   "it (error 87)",
                   (unsigned)(unsigned char)argument[length - 1]);
        return;
    }
    if (record->kind != RECORD_LINK) {
        size_t slash = FindFirstChar(argument, length, '/', leadBytes);
        if (slash < length)
            AddFinding(findings, record->start + record->argument + slash,
                       SEVERITY_WARNING, "slash-separator",
                       "'/' as a separator: the system takes it, but the uninstaller compares "
                       "paths with its own path as text, where only a backslash matches one");
    }
    if (record->kind == RECORD_DIRW)
        CheckTreeRoot(record, argument, length, uninstaller, leadBytes, facts, findings);
    else
        CheckSinglePath(record, argument, length, uninstaller, leadBytes, facts, findings);
    /* A tree root is compared only when its tree goes at its turn. */
    facts->path = record->kind == RECORD_DIRW ? facts->treeRemoved : IsFullyQualified(argument, length);
    CheckUtf8(record, argument, length, false, leadBytes, findings);
}
