/*
 * What an earlier removal left for the next restart: the pending deletions
 * (the system's PendingFileRenameOperations) of a holding folder or of a path
 * that this log names. Read once, before this run schedules anything of its
 * own, and never written: a rerun answers 3010 while they wait.
 */
#include "removal/removal.h"
#include "removal/records.h"

#include <stdlib.h>
#include <string.h>

static const char SESSION_MANAGER[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
static const char PENDING_VALUE[] = "PendingFileRenameOperations";
static const char HELD_PREFIX[] = "Vorblend-held-";
static const size_t HELD_PREFIX_LENGTH = sizeof HELD_PREFIX - 1;

/* The value's strings with two zero bytes past them, or null when nothing can
   be read: no value, no access, not a list. A failure here means only that
   nothing is seen waiting, so the error record is left as it was. */
static char *ReadPendingOperations(DWORD *bytes)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SESSION_MANAGER, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return NULL;
    char *value = NULL;
    DWORD type = 0, size = 0;
    LONG status = RegQueryValueExA(key, PENDING_VALUE, NULL, &type, NULL, &size);
    /* Another program may schedule something between the two reads. */
    for (int tries = 0; status == ERROR_SUCCESS && value == NULL && tries < 4; tries++) {
        value = (char *)calloc((size_t)size + 2, 1);
        if (value == NULL)
            break;
        *bytes = size;
        status = RegQueryValueExA(key, PENDING_VALUE, NULL, &type, (BYTE *)value, bytes);
        if (status == ERROR_MORE_DATA) {
            free(value);
            value = NULL;
            size = *bytes;
            status = ERROR_SUCCESS;
        }
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_MULTI_SZ || value == NULL || *bytes > size) {
        free(value);
        return NULL;
    }
    return value;
}

/* The part at path + at is a holding folder's name, ending at a backslash or
   the end: "Vorblend-held-" and 16 hex digits, or the released version's
   decimal number. Only ASCII bytes are accepted, so no second byte is read
   as a backslash. */
static bool IsHoldingName(const char *path, size_t at, size_t length, bool hexName)
{
    if (length - at <= HELD_PREFIX_LENGTH ||
        !EqualIgnoringAsciiCase(path + at, HELD_PREFIX, HELD_PREFIX_LENGTH))
        return false;
    size_t digits = 0;
    for (at += HELD_PREFIX_LENGTH; at < length && path[at] != '\\'; at++, digits++) {
        char c = path[at];
        bool decimal = c >= '0' && c <= '9';
        if (!(decimal || (hexName && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))))
            return false;
    }
    return hexName ? digits == 16 : digits > 0;
}

/* A holding folder or anything in one: today's at a fixed volume's root, the
   released version's anywhere (it made them in the temporary folder). */
static bool InHoldingFolder(const char *path, size_t length, const unsigned char *leadBytes)
{
    char c = path[0];
    if (((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && length > 3 && path[1] == ':' &&
        path[2] == '\\' && IsHoldingName(path, 3, length, true)) {
        char root[4] = {c, ':', '\\', '\0'};
        if (GetDriveTypeA(root) == DRIVE_FIXED)
            return true;
    }
    for (size_t at = 0; at < length; at += CharLength(path, at, length, leadBytes)) {
        if (path[at] == '\\' && IsHoldingName(path, at + 1, length, false))
            return true;
    }
    return false;
}

/* The path (no trailing backslash) is a file:, link: or dir: record's own
   path, or a dirw: record's tree or anything in it; by the code page's
   characters, ASCII case aside. */
static bool NamedByLog(const char *path, size_t length, const char *block, size_t size,
                       const unsigned char *leadBytes)
{
    size_t at = 0, start, recordLength, argument;
    while (NextRecord(block, size, &at, &start, &recordLength)) {
        RecordKind kind = RecordKindOf(block + start, recordLength, &argument);
        if (kind == RECORD_NONE || kind == RECORD_KEY)
            continue;
        const char *named = block + start + argument;
        size_t namedLength = recordLength - argument;
        size_t bare = namedLength - TrailingBackslashes(named, namedLength, leadBytes);
        if ((kind == RECORD_DIRW || bare == length) && IsAtOrAbove(named, namedLength, path, leadBytes))
            return true;
    }
    return false;
}

unsigned long CountEarlierDeletions(const char *block, size_t size)
{
    DWORD bytes = 0;
    char *value = ReadPendingOperations(&bytes);
    if (value == NULL)
        return 0;
    const unsigned char *leadBytes = AnsiLeadBytes();
    unsigned long count = 0;
    /* Pairs of a source and a target; an empty target is a deletion. The two
       zero bytes past the value end every string inside the block. */
    for (size_t at = 0; at < bytes;) {
        char *source = value + at;
        size_t length = strlen(source);
        if (length == 0)
            break;
        const char *target = source + length + 1;
        at += length + 1 + strlen(target) + 1;
        if (target[0] != '\0')
            continue;
        if (length >= 4 && memcmp(source, "\\??\\", 4) == 0) {
            source += 4;
            length -= 4;
        }
        length -= TrailingBackslashes(source, length, leadBytes);
        source[length] = '\0';
        if (length > 0 && (InHoldingFolder(source, length, leadBytes) ||
                           NamedByLog(source, length, block, size, leadBytes)))
            count++;
    }
    free(value);
    return count;
}
