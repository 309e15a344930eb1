/*
 * What the removal log says, judged as text alone: where records start and end,
 * their kinds, the pieces of a registry item, the path spellings that the
 * removal refuses, and the name by which the tree walk reaches a listed entry.
 * No operating system here: the uninstaller and the log checker both call
 * these, so the two can never read a record or a listing differently.
 * Everything takes plain bytes and lengths; nothing allocates.
 */
#pragma once

#include <stddef.h>

/* Path buffers hold this many bytes, terminator included. */
const size_t PATH_BUFFER_SIZE = 260;

enum RecordKind {
    RECORD_NONE = 0, /* no kind: passed over */
    RECORD_FILE,
    RECORD_DIR,
    RECORD_DIRW,
    RECORD_KEY,
    RECORD_LINK,
};

/* Every byte below 0x20 separates records; every other byte belongs to one. */
inline bool IsRecordSeparator(unsigned char byte) { return byte < 0x20; }

/* The next record at or after *at: its offset and length. Moves *at past it;
   false when only separators are left. */
bool NextRecord(const char *bytes, size_t size, size_t *at, size_t *start, size_t *length);

/* The kind by its prefix, ASCII case aside, tried in the order file:, dir:,
   dirw:, key:, link:. *argument is the offset right after the prefix's colon. */
RecordKind RecordKindOf(const char *record, size_t length, size_t *argument);
/* "file:" and so on; "" for RECORD_NONE. */
const char *RecordPrefix(RecordKind kind);

/*
 * Text in a double-byte code page (932, 936, 949, 950) is stepped by
 * characters: a lead byte and the byte after it make one character, whatever
 * that byte is, unless it ends the text (the length, or a zero byte). A
 * second byte is never a separator and never folded. leadBytes: 256 flags for
 * the lead bytes of the text's code page, or null for a single-byte one; with
 * null every function here works byte by byte, as for code page 1252.
 */

/* The lead bytes of a double-byte code page, as the system reports them;
   null for every other code page. */
const unsigned char *LeadBytesOfCodePage(unsigned codePage);
/* A code page the system may have as its ANSI one: 874, 1250 to 1258, 932,
   936, 949 or 950. */
bool IsAnsiCodePage(unsigned codePage);
/* Bytes (1 or 2) of the character that starts at text[at], at < length.
   Inline: every scan of a path asks it once a byte. */
inline size_t CharLength(const char *text, size_t at, size_t length, const unsigned char *leadBytes)
{
    return leadBytes != NULL && leadBytes[(unsigned char)text[at]] && at + 1 < length &&
                   text[at + 1] != '\0'
               ? 2
               : 1;
}
/* Whether the last character is c (an ASCII byte). */
bool EndsInChar(const char *text, size_t length, char c, const unsigned char *leadBytes);
/* How many backslash characters end the text. */
size_t TrailingBackslashes(const char *text, size_t length, const unsigned char *leadBytes);
/* Where the first or the last character c (an ASCII byte) starts; length when none. */
size_t FindFirstChar(const char *text, size_t length, char c, const unsigned char *leadBytes);
size_t FindLastChar(const char *text, size_t length, char c, const unsigned char *leadBytes);
/* The text with its ASCII letters in upper case, second bytes as they are:
   length bytes into out, which may be text itself. */
void FoldAsciiCase(const char *text, size_t length, char *out, const unsigned char *leadBytes);

/* ASCII case aside, equal over n bytes. */
bool EqualIgnoringAsciiCase(const char *a, const char *b, size_t n,
                            const unsigned char *leadBytes = NULL);
/* True when `part` (length bytes) is, ASCII case aside, a leading part of the
   zero-terminated `whole` or all of it, ending on a character boundary of the
   whole: the test that keeps the program's own paths for its clean-up copy. */
bool IsLeadingPartOf(const char *part, size_t length, const char *whole,
                     const unsigned char *leadBytes = NULL);
/* The path (its trailing backslashes aside) is `whole` or a folder above it:
   a leading part that ends where the whole ends or has a backslash. */
bool IsAtOrAbove(const char *path, size_t length, const char *whole,
                 const unsigned char *leadBytes = NULL);
/* The last byte is a lead byte with nothing after it. The system's conversion
   drops or replaces such a byte, so a path ending in one names another path. */
bool EndsInLoneLeadByte(const char *text, size_t length, const unsigned char *leadBytes);

/* The folder that holds the entry a full path names ("C:\\" for one in a
   drive's root: folderLength bytes of path) and where its name starts; false
   when no backslash has a name after it. */
bool SplitFolderAndName(const char *path, size_t length, size_t *folderLength, size_t *name,
                        const unsigned char *leadBytes);

/* What a path takes on a command line: in double quotes, the backslashes
   before the closing quote doubled so that the runtime's splitting gives
   them back. */
size_t QuotedArgumentLength(const char *path, size_t length, const unsigned char *leadBytes);
/* CreateProcess takes at most this many characters, terminator included. */
const size_t COMMAND_LINE_LIMIT = 32767;

/* Registry items: "ROOT\key path\value name", or "ROOT\key path\" for the key. */
enum RegistryRoot {
    ROOT_UNKNOWN = 0,
    ROOT_CLASSES_ROOT,
    ROOT_CURRENT_USER,
    ROOT_LOCAL_MACHINE,
    ROOT_USERS,
    ROOT_CURRENT_CONFIG,
};

struct RegistryItemParts {
    size_t rootLength;      /* characters before the first backslash */
    size_t keyPath;         /* offset of the key path, after the first backslash */
    size_t keyPathLength;   /* up to the last backslash; may be 0 */
    size_t valueName;       /* offset after the last backslash */
    size_t valueNameLength; /* 0: the item names the key itself */
};

/* The root of the same name and exact length, ASCII case aside. */
RegistryRoot RegistryRootFromName(const char *text, size_t length);
/* The root names in the order they are tried, for messages. */
const char *RegistryRootName(size_t index);
const size_t REGISTRY_ROOT_NAMES = 10;
RegistryRoot RegistryRootAt(size_t index);
/* False when the item names nothing: fewer than two backslashes. */
bool SplitRegistryItem(const char *item, size_t length, RegistryItemParts *parts,
                       const unsigned char *leadBytes = NULL);

/* A tree root must be fully qualified, lie below a drive or share root and not
   climb back up. \\?\ and \\.\ paths are judged as what they spell; any other
   device path is refused, and so is a part of dots and blanks alone, which
   the system trims to nothing or to a climb. */
bool IsSafeTreeRoot(const char *path, size_t length, const unsigned char *leadBytes = NULL);

/* A name from a directory listing that the narrow interface can address as
   itself: no separator, colon or wildcard in it (a best-fit conversion or a
   foreign file system made it), and no trailing dot or blank (stripped from a
   path). leadBytes: 256 flags for the DBCS lead bytes of the code page the name
   is in, or null for a single-byte code page. "." and ".." are not judged here. */
bool IsAddressableName(const char *name, const unsigned char *leadBytes);

/* A listing shows the folder itself and its parent as "." and "..", first
   and without short names. Any other entry so listed is a name the code page
   cannot spell (fullwidth full stops are listed as '.'), reached as any other.
   dotsSeen: the caller's flags for one listing, zero at its start; each entry
   listed as "." or ".." is marked in them. */
bool IsDotEntry(const char *name, const char *shortName, unsigned *dotsSeen);

/* What a listing or a probe of one path says of an entry: the tree walk lays
   the two side by side to tell a name the code page cannot spell (a best-fit
   look-alike, a '?') from the entry it seems to name. */
struct EntryFacts {
    bool found;                 /* false: the probe found nothing (the rest is unset) */
    const char *name;           /* the listed name; not read for a probe */
    const char *shortName;      /* the 8.3 short name; "" when the entry has none */
    unsigned long long size;    /* high and low 32 bits */
    unsigned attributes;
    unsigned long long lastWrite, creation; /* file times */
};

enum NameChoice {
    USE_LISTED_NAME, /* the listed name reaches the listed entry */
    USE_SHORT_NAME,  /* only its short name may: probe that next */
    END_TREE,        /* no name reaches it: the tree ends here (123) */
};

/* How the walk reaches a listed entry. probed: what the probe of the joined
   listed name found, null when that name cannot be addressed and was never
   probed. Short names are compared where either has one (they are unique in
   a folder), and without them size, attributes and times: entries alike in
   all of those cannot be told apart and are taken by the listed name. */
NameChoice ChooseEntryName(const EntryFacts *listed, const EntryFacts *probed,
                           const unsigned char *leadBytes);
/* After USE_SHORT_NAME: whether the probe of the short name found the listed
   entry itself (its short name, size, attributes and times). */
bool ShortNameFindsEntry(const EntryFacts *listed, const EntryFacts *probed);
