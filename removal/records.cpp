/*
 * The removal log's records judged as text: the split at control characters,
 * the kinds, registry items, the spellings of tree roots and listed names
 * that the removal must refuse, and which name reaches a listed entry. Shared
 * by the uninstaller and the log checker.
 */
#include "removal/records.h"

#include <string.h>

bool NextRecord(const char *bytes, size_t size, size_t *at, size_t *start, size_t *length)
{
    size_t i = *at;
    while (i < size && IsRecordSeparator((unsigned char)bytes[i]))
        i++;
    if (i >= size) {
        *at = size;
        return false;
    }
    *start = i;
    while (i < size && !IsRecordSeparator((unsigned char)bytes[i]))
        i++;
    *length = i - *start;
    *at = i;
    return true;
}

static char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

/* The lead bytes of each double-byte code page, exactly as the system's
   IsDBCSLeadByteEx reports them; the native checker has no system to ask. */
struct LeadByteTable {
    unsigned char flags[256];
};

static constexpr LeadByteTable LeadByteRanges(int first, int last, int first2, int last2)
{
    LeadByteTable table{};
    for (int byte = 0; byte < 256; byte++)
        table.flags[byte] = (byte >= first && byte <= last) || (byte >= first2 && byte <= last2);
    return table;
}

static constexpr LeadByteTable SHIFT_JIS = LeadByteRanges(0x81, 0x9F, 0xE0, 0xFC); /* 932 */
static constexpr LeadByteTable EAST_ASIAN = LeadByteRanges(0x81, 0xFE, 0, -1);   /* 936, 949, 950 */

const unsigned char *LeadBytesOfCodePage(unsigned codePage)
{
    switch (codePage) {
    case 932:
        return SHIFT_JIS.flags;
    case 936:
    case 949:
    case 950:
        return EAST_ASIAN.flags;
    default:
        return NULL;
    }
}

bool IsAnsiCodePage(unsigned codePage)
{
    return codePage == 874 || (codePage >= 1250 && codePage <= 1258) ||
           LeadBytesOfCodePage(codePage) != NULL;
}

/* Where the last character starts; 0 for an empty text. */
static size_t LastCharStart(const char *text, size_t length, const unsigned char *leadBytes)
{
    /* Only a walk from the start can tell a second byte from a lead byte. */
    size_t last = 0;
    for (size_t at = 0; at < length; at += CharLength(text, at, length, leadBytes))
        last = at;
    return last;
}

bool EndsInChar(const char *text, size_t length, char c, const unsigned char *leadBytes)
{
    if (length == 0)
        return false;
    size_t last = LastCharStart(text, length, leadBytes);
    return last == length - 1 && text[last] == c;
}

size_t TrailingBackslashes(const char *text, size_t length, const unsigned char *leadBytes)
{
    size_t run = 0;
    for (size_t at = 0; at < length;) {
        size_t n = CharLength(text, at, length, leadBytes);
        run = (n == 1 && text[at] == '\\') ? run + 1 : 0;
        at += n;
    }
    return run;
}

size_t FindFirstChar(const char *text, size_t length, char c, const unsigned char *leadBytes)
{
    for (size_t at = 0; at < length;) {
        size_t n = CharLength(text, at, length, leadBytes);
        if (n == 1 && text[at] == c)
            return at;
        at += n;
    }
    return length;
}

size_t FindLastChar(const char *text, size_t length, char c, const unsigned char *leadBytes)
{
    size_t found = length;
    for (size_t at = 0; at < length;) {
        size_t n = CharLength(text, at, length, leadBytes);
        if (n == 1 && text[at] == c)
            found = at;
        at += n;
    }
    return found;
}

void FoldAsciiCase(const char *text, size_t length, char *out, const unsigned char *leadBytes)
{
    for (size_t at = 0; at < length;) {
        if (CharLength(text, at, length, leadBytes) == 2) {
            out[at] = text[at];
            out[at + 1] = text[at + 1];
            at += 2;
        } else {
            out[at] = AsciiUpper(text[at]);
            at++;
        }
    }
}

bool EqualIgnoringAsciiCase(const char *a, const char *b, size_t n, const unsigned char *leadBytes)
{
    for (size_t at = 0; at < n;) {
        size_t length = CharLength(a, at, n, leadBytes);
        if (length == 2 ? (a[at] != b[at] || a[at + 1] != b[at + 1])
                        : AsciiUpper(a[at]) != AsciiUpper(b[at]))
            return false;
        at += length;
    }
    return true;
}

bool IsLeadingPartOf(const char *part, size_t length, const char *whole,
                     const unsigned char *leadBytes)
{
    /* Stepped by the characters of the whole: a part that ends after a lead
       byte stops inside one of its characters, and names another path. */
    for (size_t at = 0; at < length;) {
        if (whole[at] == '\0')
            return false;
        size_t n = CharLength(whole, at, (size_t)-1, leadBytes);
        if (n == 2 ? (at + 1 >= length || part[at] != whole[at] || part[at + 1] != whole[at + 1])
                   : AsciiUpper(part[at]) != AsciiUpper(whole[at]))
            return false;
        at += n;
    }
    return true;
}

bool IsAtOrAbove(const char *path, size_t length, const char *whole,
                 const unsigned char *leadBytes)
{
    length -= TrailingBackslashes(path, length, leadBytes);
    if (length == 0 || !IsLeadingPartOf(path, length, whole, leadBytes))
        return false;
    /* The leading part ends on a character of the whole: this byte starts one. */
    return whole[length] == '\0' || whole[length] == '\\';
}

bool EndsInLoneLeadByte(const char *text, size_t length, const unsigned char *leadBytes)
{
    if (leadBytes == NULL || length == 0)
        return false;
    size_t at = 0;
    while (at + CharLength(text, at, length, leadBytes) < length)
        at += CharLength(text, at, length, leadBytes);
    return at == length - 1 && leadBytes[(unsigned char)text[at]];
}

bool SplitFolderAndName(const char *path, size_t length, size_t *folderLength, size_t *name,
                        const unsigned char *leadBytes)
{
    size_t last = FindLastChar(path, length, '\\', leadBytes);
    if (last >= length || last == 0 || last + 1 == length)
        return false;
    /* "C:" alone is the current folder of that drive: the root keeps its backslash. */
    *folderLength = last == 2 && path[1] == ':' ? 3 : last;
    *name = last + 1;
    return true;
}

size_t QuotedArgumentLength(const char *path, size_t length, const unsigned char *leadBytes)
{
    return 1 + length + TrailingBackslashes(path, length, leadBytes) + 1;
}

struct KindPrefix {
    const char *text;
    size_t length;
    RecordKind kind;
};

/* "dir:" comes before "dirw:" and cannot match it: its fourth character is a colon. */
static const KindPrefix KIND_PREFIXES[] = {
    {"file:", 5, RECORD_FILE}, {"dir:", 4, RECORD_DIR},   {"dirw:", 5, RECORD_DIRW},
    {"key:", 4, RECORD_KEY},   {"link:", 5, RECORD_LINK},
};

RecordKind RecordKindOf(const char *record, size_t length, size_t *argument)
{
    for (const KindPrefix &prefix : KIND_PREFIXES) {
        if (length >= prefix.length && EqualIgnoringAsciiCase(record, prefix.text, prefix.length)) {
            *argument = prefix.length;
            return prefix.kind;
        }
    }
    *argument = 0;
    return RECORD_NONE;
}

const char *RecordPrefix(RecordKind kind)
{
    for (const KindPrefix &prefix : KIND_PREFIXES) {
        if (prefix.kind == kind)
            return prefix.text;
    }
    return "";
}

struct RootName {
    const char *name;
    size_t length;
    RegistryRoot root;
};

static const RootName ROOT_NAMES[REGISTRY_ROOT_NAMES] = {
    {"HKEY_CLASSES_ROOT", 17, ROOT_CLASSES_ROOT},
    {"HKCR", 4, ROOT_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", 17, ROOT_CURRENT_USER},
    {"HKCU", 4, ROOT_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", 18, ROOT_LOCAL_MACHINE},
    {"HKLM", 4, ROOT_LOCAL_MACHINE},
    {"HKEY_USERS", 10, ROOT_USERS},
    {"HKU", 3, ROOT_USERS},
    {"HKEY_CURRENT_CONFIG", 19, ROOT_CURRENT_CONFIG},
    {"HKCC", 4, ROOT_CURRENT_CONFIG},
};

RegistryRoot RegistryRootFromName(const char *text, size_t length)
{
    for (const RootName &row : ROOT_NAMES) {
        if (row.length == length && EqualIgnoringAsciiCase(row.name, text, length))
            return row.root;
    }
    return ROOT_UNKNOWN;
}

const char *RegistryRootName(size_t index)
{
    return index < REGISTRY_ROOT_NAMES ? ROOT_NAMES[index].name : "";
}

RegistryRoot RegistryRootAt(size_t index)
{
    return index < REGISTRY_ROOT_NAMES ? ROOT_NAMES[index].root : ROOT_UNKNOWN;
}

bool SplitRegistryItem(const char *item, size_t length, RegistryItemParts *parts,
                       const unsigned char *leadBytes)
{
    size_t first = FindFirstChar(item, length, '\\', leadBytes);
    if (first == length)
        return false;
    size_t keyPath = first + 1;
    size_t last = FindLastChar(item + keyPath, length - keyPath, '\\', leadBytes);
    if (last == length - keyPath)
        return false; /* "ROOT\name" never names the root key itself */
    last += keyPath + 1; /* just after the last backslash */
    parts->rootLength = keyPath - 1;
    parts->keyPath = keyPath;
    parts->keyPathLength = last - 1 - keyPath;
    parts->valueName = last;
    parts->valueNameLength = length - last;
    return true;
}

static bool IsSeparator(char c) { return c == '\\' || c == '/'; }

static bool IsDriveLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

/* Where the part that starts at `at` ends: at the next separator, or length. */
static size_t PartEnd(const char *path, size_t at, size_t length, const unsigned char *leadBytes)
{
    while (at < length && !IsSeparator(path[at]))
        at += CharLength(path, at, length, leadBytes);
    return at;
}

/* Dots and blanks alone: the system trims such a part to nothing, "." or "..". */
static bool IsDotsAndBlanks(const char *part, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        if (part[i] != '.' && part[i] != ' ')
            return false;
    }
    return length > 0;
}

/* Something below `rest` and no part on the way that stays or climbs. */
static bool IsBelowRoot(const char *path, size_t rest, size_t length,
                        const unsigned char *leadBytes)
{
    bool below = false;
    for (size_t at = rest; at < length;) {
        size_t end = PartEnd(path, at, length, leadBytes);
        if (IsDotsAndBlanks(path + at, end - at))
            return false;
        if (end > at)
            below = true;
        at = end + 1;
    }
    return below;
}

/* server\share\rest from `at` on: safe when a server, a share and something
   below the share are there. */
static bool IsSafeBelowShare(const char *path, size_t at, size_t length,
                             const unsigned char *leadBytes)
{
    for (int parts = 0; parts < 2; parts++) {
        size_t start = at;
        at = PartEnd(path, at, length, leadBytes);
        if (at == start || at >= length)
            return false; /* an empty server or share, or nothing below the share */
        if (IsDotsAndBlanks(path + start, at - start))
            return false; /* tidied away, it climbs out of the share */
        at++;
    }
    return IsBelowRoot(path, at, length, leadBytes);
}

static bool IsDrivePath(const char *path, size_t length)
{
    return length >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && IsSeparator(path[2]);
}

/* The length without the separators that end the path. */
static size_t WithoutTrailingSeparators(const char *path, size_t length,
                                        const unsigned char *leadBytes)
{
    size_t kept = 0;
    for (size_t at = 0; at < length;) {
        size_t n = CharLength(path, at, length, leadBytes);
        at += n;
        if (n == 2 || !IsSeparator(path[at - 1]))
            kept = at;
    }
    return kept;
}

bool IsSafeTreeRoot(const char *path, size_t length, const unsigned char *leadBytes)
{
    length = WithoutTrailingSeparators(path, length, leadBytes);
    if (IsDrivePath(path, length))
        return IsBelowRoot(path, 3, length, leadBytes);
    if (length < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1]))
        return false;

    /* \\?\ and \\.\ : the device namespace. Only a drive path or a UNC path
       below it can be judged; the system normalises nothing after \\?\, so a
       slash there is no separator, and such a spelling is simply refused. */
    if (length >= 4 && (path[2] == '?' || path[2] == '.') && IsSeparator(path[3])) {
        if (FindFirstChar(path, length, '/', leadBytes) != length)
            return false;
        if (length >= 8 && EqualIgnoringAsciiCase(path + 4, "UNC\\", 4))
            return IsSafeBelowShare(path, 8, length, leadBytes);
        if (IsDrivePath(path + 4, length - 4))
            return IsBelowRoot(path, 7, length, leadBytes);
        return false; /* volumes, GLOBALROOT, physical drives, bare devices */
    }
    return IsSafeBelowShare(path, 2, length, leadBytes);
}

bool IsAddressableName(const char *name, const unsigned char *leadBytes)
{
    if (name[0] == '\0')
        return false;
    size_t last = 0; /* where the last character starts */
    for (size_t at = 0; name[at] != '\0';) {
        unsigned char byte = (unsigned char)name[at];
        last = at;
        /* A lead byte and its trail byte make one character: a trail byte of
           0x5C is part of it, not a backslash. */
        if (leadBytes != NULL && leadBytes[byte] && name[at + 1] != '\0') {
            at += 2;
            continue;
        }
        if (strchr("\\/:*?\"<>|", byte) != NULL)
            return false;
        at++;
    }
    char end = name[last];
    return !(end == '.' || end == ' ');
}

bool IsDotEntry(const char *name, const char *shortName, unsigned *dotsSeen)
{
    unsigned spelling = strcmp(name, ".") == 0 ? 1u : strcmp(name, "..") == 0 ? 2u : 0u;
    if (spelling == 0)
        return false;
    bool seen = (*dotsSeen & spelling) != 0;
    *dotsSeen |= spelling;
    return !seen && shortName[0] == '\0';
}

static bool SameFacts(const EntryFacts *a, const EntryFacts *b)
{
    return a->size == b->size && a->attributes == b->attributes && a->lastWrite == b->lastWrite &&
           a->creation == b->creation;
}

NameChoice ChooseEntryName(const EntryFacts *listed, const EntryFacts *probed,
                           const unsigned char *leadBytes)
{
    bool addressable = IsAddressableName(listed->name, leadBytes);
    bool reached = false;
    if (addressable && probed != NULL && probed->found) {
        if (listed->shortName[0] != '\0' || probed->shortName[0] != '\0')
            reached = strcmp(listed->shortName, probed->shortName) == 0;
        else
            reached = SameFacts(listed, probed); /* no short names on this volume */
    }
    if (reached)
        return USE_LISTED_NAME;
    /* Short names may be set by hand or made up by a server: judged as any name. */
    const char *shortName = listed->shortName;
    if (strcmp(shortName, ".") == 0 || strcmp(shortName, "..") == 0 ||
        !IsAddressableName(shortName, leadBytes))
        return END_TREE;
    return USE_SHORT_NAME;
}

bool ShortNameFindsEntry(const EntryFacts *listed, const EntryFacts *probed)
{
    return probed->found && strcmp(listed->shortName, probed->shortName) == 0 &&
           SameFacts(listed, probed);
}
