/*
 * The removal log's records judged as text: the split at control characters,
 * the kinds, registry items, and the spellings of tree roots and listed names
 * that the removal must refuse. Shared by the uninstaller and the log checker.
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

bool EqualIgnoringAsciiCase(const char *a, const char *b, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
            return false;
    }
    return true;
}

bool IsLeadingPartOf(const char *part, size_t length, const char *whole)
{
    for (size_t i = 0; i < length; i++) {
        if (whole[i] == '\0' || AsciiUpper(part[i]) != AsciiUpper(whole[i]))
            return false;
    }
    return true;
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

bool SplitRegistryItem(const char *item, size_t length, RegistryItemParts *parts)
{
    const char *first = (const char *)memchr(item, '\\', length);
    if (first == NULL)
        return false;
    size_t keyPath = (size_t)(first - item) + 1;
    size_t last = length;
    while (last > keyPath && item[last - 1] != '\\')
        last--;
    if (last == keyPath)
        return false; /* "ROOT\name" never names the root key itself */
    parts->rootLength = keyPath - 1;
    parts->keyPath = keyPath;
    parts->keyPathLength = last - 1 - keyPath;
    parts->valueName = last;
    parts->valueNameLength = length - last;
    return true;
}

static bool IsSeparator(char c) { return c == '\\' || c == '/'; }

static bool IsDriveLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

/* Something below `rest` and no "." or ".." part on the way. */
static bool IsBelowRoot(const char *path, size_t rest, size_t length)
{
    bool below = false;
    for (size_t at = rest; at < length;) {
        size_t start = at;
        while (at < length && !IsSeparator(path[at]))
            at++;
        size_t part = at - start;
        if ((part == 1 && path[start] == '.') ||
            (part == 2 && path[start] == '.' && path[start + 1] == '.'))
            return false;
        if (part > 0)
            below = true;
        at++;
    }
    return below;
}

/* server\share\rest from `at` on: safe when a server, a share and something
   below the share are there. */
static bool IsSafeBelowShare(const char *path, size_t at, size_t length)
{
    for (int parts = 0; parts < 2; parts++) {
        size_t start = at;
        while (at < length && !IsSeparator(path[at]))
            at++;
        if (at == start || at >= length)
            return false; /* an empty server or share, or nothing below the share */
        at++;
    }
    return IsBelowRoot(path, at, length);
}

static bool IsDrivePath(const char *path, size_t length)
{
    return length >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && IsSeparator(path[2]);
}

bool IsSafeTreeRoot(const char *path, size_t length)
{
    while (length > 0 && IsSeparator(path[length - 1]))
        length--;
    if (IsDrivePath(path, length))
        return IsBelowRoot(path, 3, length);
    if (length < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1]))
        return false;

    /* \\?\ and \\.\ : the device namespace. Only a drive path or a UNC path
       below it can be judged; the system normalises nothing after \\?\, so a
       slash there is no separator, and such a spelling is simply refused. */
    if (length >= 4 && (path[2] == '?' || path[2] == '.') && IsSeparator(path[3])) {
        if (memchr(path, '/', length) != NULL)
            return false;
        if (length >= 8 && EqualIgnoringAsciiCase(path + 4, "UNC\\", 4))
            return IsSafeBelowShare(path, 8, length);
        if (IsDrivePath(path + 4, length - 4))
            return IsBelowRoot(path, 7, length);
        return false; /* volumes, GLOBALROOT, physical drives, bare devices */
    }
    return IsSafeBelowShare(path, 2, length);
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
