/*
 * The record reading as text: built for Windows and natively, with no system
 * underneath, so every case here holds on both.
 */
#include "removal/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

TEST(NextRecord, CutsAtEveryControlByteAndKeepsEverythingElse)
{
    const std::string log = "\xef\xbb\xbf" "file:a\r\n\r\n dir:b\tkey:c\x7f\x1a" "d\xe9";
    std::vector<std::string> records;
    size_t at = 0, start, length;
    while (NextRecord(log.data(), log.size(), &at, &start, &length))
        records.push_back(log.substr(start, length));
    EXPECT_EQ((std::vector<std::string>{"\xef\xbb\xbf" "file:a", " dir:b", "key:c\x7f", "d\xe9"}),
              records);
    EXPECT_EQ(log.size(), at);
}

TEST(RecordKindOf, MatchesPrefixesInAnyCaseAndNothingElse)
{
    struct Case {
        const char *record;
        RecordKind kind;
        size_t argument;
    } cases[] = {
        {"file:C:\\a", RECORD_FILE, 5}, {"FiLe:", RECORD_FILE, 5},  {"dir:x", RECORD_DIR, 4},
        {"DIRW:x", RECORD_DIRW, 5},     {"key:HKCU\\a\\", RECORD_KEY, 4},
        {"Link:x", RECORD_LINK, 5},     {"dirw", RECORD_NONE, 0},   {" file:x", RECORD_NONE, 0},
        {"files:x", RECORD_NONE, 0},    {"\xef\xbb\xbf" "file:x", RECORD_NONE, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.record);
        size_t argument = 99;
        EXPECT_EQ(c.kind, RecordKindOf(c.record, strlen(c.record), &argument));
        EXPECT_EQ(c.argument, argument);
    }
}

TEST(SplitRegistryItem, FindsRootKeyPathAndValueName)
{
    struct Case {
        const char *item;
        bool names;
        RegistryRoot root;
        const char *keyPath, *valueName;
    } cases[] = {
        {"HKCU\\Software\\Vorblend\\Colour", true, ROOT_CURRENT_USER, "Software\\Vorblend", "Colour"},
        {"hkey_local_machine\\Software\\", true, ROOT_LOCAL_MACHINE, "Software", ""},
        {"HKU\\\\Name", true, ROOT_USERS, "", "Name"},
        {"HKCUx\\a\\b", true, ROOT_UNKNOWN, "a", "b"},
        {"HKCU\\Name", false, ROOT_CURRENT_USER, "", ""},
        {"HKCU\\", false, ROOT_CURRENT_USER, "", ""},
        {"HKCU", false, ROOT_CURRENT_USER, "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.item);
        std::string item = c.item;
        RegistryItemParts parts;
        ASSERT_EQ(c.names, SplitRegistryItem(item.data(), item.size(), &parts));
        if (!c.names)
            continue;
        EXPECT_EQ(c.root, RegistryRootFromName(item.data(), parts.rootLength));
        EXPECT_EQ(c.keyPath, item.substr(parts.keyPath, parts.keyPathLength));
        EXPECT_EQ(c.valueName, item.substr(parts.valueName, parts.valueNameLength));
    }
}

TEST(IsSafeTreeRoot, RefusesDrivesSharesRelativePathsAndDeviceSpellingsOfThem)
{
    struct Case {
        const char *path;
        bool safe;
    } cases[] = {
        {"C:\\x", true},
        {"c:/x/y/", true},
        {"\\\\srv\\share\\x", true},
        {"\\\\?\\C:\\x", true},
        {"\\\\?\\unc\\srv\\share\\x", true},
        {"\\\\.\\C:\\x\\", true},
        {"", false},
        {".", false},
        {"x", false},
        {"\\x", false},
        {"C:", false},
        {"C:\\", false},
        {"C:x", false},
        {"c:/\\/", false},
        {"C:\\x\\..", false},
        {"C:\\x\\.\\y", false},
        {"\\\\srv\\share\\", false},
        {"\\\\srv\\", false},
        {"//srv/share", false},
        {"\\\\?\\C:\\", false},
        {"\\\\?\\C:", false},
        {"\\\\.\\C:\\", false},
        {"\\\\?\\UNC\\srv\\share", false},
        {"\\\\?\\UNC\\srv\\share\\", false},
        {"\\\\.\\UNC\\srv\\share", false},
        {"\\\\?\\C:\\x\\..", false},
        {"\\\\?\\C:/x", false},
        {"//?/C:/x", false},
        {"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\x", false},
        {"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\x", false},
        {"\\\\.\\PhysicalDrive0", false},
        {"\\\\.\\NUL", false},
        /* Parts the system trims to nothing or to a climb, and a part that only ends in a dot. */
        {"C:\\...", false},
        {"C:\\x\\.. ", false},
        {"C:\\x\\ \\y", false},
        {"C:\\x\\Vorblend.", true},
        {"\\\\.\\UNC\\..\\GLOBALROOT\\Device\\HarddiskVolume1\\x", false},
        {"\\\\?\\UNC\\.\\share\\x", false},
        {"\\\\..\\share\\x", false},
        {"\\\\srv\\..\\x", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.safe, IsSafeTreeRoot(c.path, strlen(c.path)));
    }
    /* Code page 932: the second byte of \x95\x5C is no separator. */
    const unsigned char *shiftJis = LeadBytesOfCodePage(932);
    EXPECT_FALSE(IsSafeTreeRoot("\\\\srv\\\x95\x5Cx", 9, shiftJis)); /* a share root */
    EXPECT_TRUE(IsSafeTreeRoot("\\\\srv\\\x95\x5Cx", 9, nullptr));   /* as bytes: below it */
    EXPECT_TRUE(IsSafeTreeRoot("C:\\\x95\x5C\\x", 7, shiftJis));
}

TEST(IsAddressableName, RefusesSeparatorsWildcardsAndTrailingDotsButNotTrailBytes)
{
    /* Code page 932: lead bytes 0x81-0x9F and 0xE0-0xFC. */
    unsigned char shiftJis[256] = {};
    for (int byte = 0x81; byte <= 0xFC; byte++)
        shiftJis[byte] = byte <= 0x9F || byte >= 0xE0;
    struct Case {
        const char *name;
        const unsigned char *leadBytes;
        bool addressable;
    } cases[] = {
        {"readme.txt", nullptr, true},
        {".hidden", nullptr, true},
        {"x\\..", nullptr, false},
        {"y:..", nullptr, false},
        {"a/b", nullptr, false},
        {"w\\..", nullptr, false},
        {"..\x20", nullptr, false},
        {"name.", nullptr, false},
        {"name ", nullptr, false},
        {"*", nullptr, false},
        {"a?b", nullptr, false},
        {"\"q\"", nullptr, false},
        {"<a>", nullptr, false},
        {"a|b", nullptr, false},
        {"", nullptr, false},
        {"\x95\x5c", shiftJis, true},      /* one character whose trail byte is 0x5C */
        {"\x95\x5c", nullptr, false},      /* in a single-byte code page, a backslash */
        {"\x95\x5c\\..", shiftJis, false}, /* a real backslash after it still counts */
        {"a\x81", shiftJis, true},         /* a lead byte at the very end stands alone */
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.addressable, IsAddressableName(c.name, c.leadBytes));
    }
}

/* One listing in order, as Wine lists a folder holding names of fullwidth full stops. */
TEST(IsDotEntry, OnlyTheFirstDotsOfAListingWithoutShortNamesAreTheFolderAndItsParent)
{
    struct Case {
        const char *name, *shortName;
        bool dot;
    } listing[] = {
        {".", "", true},          {"..", "", true},         {"..", "__~~~HPD", false},
        {".", "_~~~~DMB", false}, {"...", "___~~EFW", false}, {".hidden", "", false},
        {"..", "", false},        {".", "", false}, /* a second one so spelled, short names off */
    };
    unsigned seen = 0;
    for (const Case &c : listing) {
        SCOPED_TRACE(std::string(c.name) + " " + c.shortName);
        EXPECT_EQ(c.dot, IsDotEntry(c.name, c.shortName, &seen));
    }
}

namespace {

/* Facts as a listing or a probe gives them: found, name, short name, size,
   attributes, last write time, creation time. */
const EntryFacts NOTHING = {false, "", "", 0, 0, 0, 0};
const EntryFacts LONG_NAME = {true, "longnamefile.text", "LONG~0G1.TEX", 5, 0x20, 700, 600};
const EntryFacts PLAIN = {true, "a-macron.txt", "", 1, 0x20, 300, 200};
const EntryFacts LOOK_ALIKE = {true, "a-macron.txt", "_-MA~PWN.TXT", 1, 0x20, 310, 210};

EntryFacts Named(const char *name, const char *shortName, EntryFacts facts = LOOK_ALIKE)
{
    facts.name = name;
    facts.shortName = shortName;
    return facts;
}

/* The facts with one of them changed: 0 size, 1 high size, 2 attributes, 3 write time, 4 creation. */
EntryFacts Differing(EntryFacts facts, int which)
{
    facts.size += which == 0 ? 1 : which == 1 ? 1ull << 32 : 0;
    facts.attributes |= which == 2 ? 0x1 : 0;
    facts.lastWrite += which == 3 ? 1 : 0;
    facts.creation += which == 4 ? 1 : 0;
    return facts;
}

} // namespace

TEST(ChooseEntryName, TakesTheListedNameOnlyWhereItsProbeFindsTheListedEntry)
{
    unsigned char shiftJis[256] = {};
    for (int byte = 0x81; byte <= 0xFC; byte++)
        shiftJis[byte] = byte <= 0x9F || byte >= 0xE0;
    const EntryFacts *UNPROBED = nullptr; /* the listed name cannot be addressed */
    const EntryFacts OTHER_SHORT = Named("a-macron.txt", "A-MACR~1.TXT");
    const EntryFacts LATER = Differing(LONG_NAME, 3);
    struct Case {
        const char *what;
        EntryFacts listed;
        const EntryFacts *probe;
        NameChoice choice;
        const unsigned char *leadBytes = nullptr;
    } cases[] = {
        {"ordinary name, probe finds it", LONG_NAME, &LONG_NAME, USE_LISTED_NAME},
        {"probe finds nothing", LOOK_ALIKE, &NOTHING, USE_SHORT_NAME},
        {"probe finds another entry without a short name", LOOK_ALIKE, &PLAIN, USE_SHORT_NAME},
        {"probe finds another short name", LOOK_ALIKE, &OTHER_SHORT, USE_SHORT_NAME},
        {"'?' with a short name", Named("??.txt", "__~~~2CT.TXT"), UNPROBED, USE_SHORT_NAME},
        {"'?' without a short name", Named("????????", ""), UNPROBED, END_TREE},
        {"no short name, probe finds nothing", PLAIN, &NOTHING, END_TREE},
        {"only the probed entry has a short name", PLAIN, &LOOK_ALIKE, END_TREE},
        {"short names off, facts equal", PLAIN, &PLAIN, USE_LISTED_NAME},
        {"short names equal, times aside", LONG_NAME, &LATER, USE_LISTED_NAME},
        {"short name '.'", Named("??", "."), UNPROBED, END_TREE},
        {"short name '..'", Named("a.txt", ".."), &NOTHING, END_TREE},
        {"short name with a wildcard", Named("??.txt", "A?B~1.TXT"), UNPROBED, END_TREE},
        {"short name with a backslash", Named("??.txt", "W\\~~~WX0._"), UNPROBED, END_TREE},
        {"short name ending in a dot", Named("??.txt", "AB~1."), UNPROBED, END_TREE},
        {"OEM short name, one character in 932", Named("??.txt", "\x95\x5C~1.TXT"), UNPROBED,
         USE_SHORT_NAME, shiftJis},
        {"the same bytes in 1252", Named("??.txt", "\x95\x5C~1.TXT"), UNPROBED, END_TREE},
        /* Best fit turns these into path steps; their short names still reach them. */
        {"listed name with a separator", Named("x\\..", "X___~1AS"), UNPROBED, USE_SHORT_NAME},
        {"listed name with a colon", Named("y:..", "Y___~I2Z"), UNPROBED, USE_SHORT_NAME},
        {"listed name ending in a dot", Named("z.", "Z_~~~H0B"), UNPROBED, USE_SHORT_NAME},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.choice, ChooseEntryName(&c.listed, c.probe, c.leadBytes));
    }
    /* Without short names each fact tells two entries apart on its own. */
    for (int which = 0; which < 5; which++) {
        SCOPED_TRACE(which);
        EntryFacts other = Differing(PLAIN, which);
        EXPECT_EQ(END_TREE, ChooseEntryName(&PLAIN, &other, nullptr));
    }
}

TEST(ShortNameFindsEntry, OnlyWhenItsProbeFindsTheListedEntryItself)
{
    EXPECT_TRUE(ShortNameFindsEntry(&LOOK_ALIKE, &LOOK_ALIKE));
    EXPECT_FALSE(ShortNameFindsEntry(&LOOK_ALIKE, &NOTHING));
    EntryFacts other = Named("a-macron.txt", "_-MA~1.TXT");
    EXPECT_FALSE(ShortNameFindsEntry(&LOOK_ALIKE, &other));
    for (int which = 0; which < 5; which++) {
        SCOPED_TRACE(which);
        other = Differing(LOOK_ALIKE, which);
        EXPECT_FALSE(ShortNameFindsEntry(&LOOK_ALIKE, &other));
    }
}

/* The same strings read in each code page: in a double-byte one the lead byte
   L takes the byte after it, a backslash or a letter, as its second byte. */
TEST(CharacterStepping, SecondBytesAreNeverSeparatorsOrFoldedInDoubleByteCodePages)
{
    struct Page {
        unsigned codePage;
        char lead;
    } pages[] = {{932, '\x95'}, {936, '\x81'}, {949, '\x81'}, {950, '\xA5'}, {1252, '\x95'}};
    struct Case {
        const char *text; /* L stands for the lead byte */
        bool endsInBackslash[2]; /* single-byte, double-byte */
        size_t trailing[2], last[2];
    } cases[] = {
        {"C:\\x\\L\\", {true, false}, {1, 0}, {6, 4}},
        {"C:\\x\\L\\\\", {true, true}, {2, 1}, {7, 7}},
        {"C:\\L\\x", {false, false}, {0, 0}, {4, 2}},
        {"C:\\x\\LA", {false, false}, {0, 0}, {4, 4}},
        {"C:\\x\\L", {false, false}, {0, 0}, {4, 4}}, /* a lead byte at the end stands alone */
        {"C:\\x\\L\\L\\", {true, false}, {1, 0}, {8, 4}},
    };
    for (const Page &page : pages) {
        const unsigned char *leadBytes = LeadBytesOfCodePage(page.codePage);
        int dbcs = leadBytes != nullptr ? 1 : 0;
        ASSERT_EQ(page.codePage != 1252, dbcs == 1);
        EXPECT_TRUE(IsAnsiCodePage(page.codePage));
        for (const Case &c : cases) {
            std::string text = c.text;
            for (char &byte : text)
                byte = byte == 'L' ? page.lead : byte;
            SCOPED_TRACE(std::to_string(page.codePage) + " " + c.text);
            EXPECT_EQ(c.endsInBackslash[dbcs], EndsInChar(text.data(), text.size(), '\\', leadBytes));
            EXPECT_EQ(c.trailing[dbcs], TrailingBackslashes(text.data(), text.size(), leadBytes));
            EXPECT_EQ(c.last[dbcs], FindLastChar(text.data(), text.size(), '\\', leadBytes));
            EXPECT_EQ(2u, FindFirstChar(text.data(), text.size(), '\\', leadBytes));
        }

        /* The registry split, the deferral test's leading part and the folding. */
        std::string L(1, page.lead);
        std::string value = "HKCU\\Software\\B\\" + L + "\\";
        RegistryItemParts parts;
        ASSERT_TRUE(SplitRegistryItem(value.data(), value.size(), &parts, leadBytes));
        EXPECT_EQ(dbcs ? "Software\\B" : "Software\\B\\" + L, value.substr(parts.keyPath, parts.keyPathLength));
        EXPECT_EQ(dbcs ? L + "\\" : "", value.substr(parts.valueName, parts.valueNameLength));
        std::string key = "HKCU\\Software\\" + L + "\\\\";
        ASSERT_TRUE(SplitRegistryItem(key.data(), key.size(), &parts, leadBytes));
        EXPECT_EQ("Software\\" + L + "\\", key.substr(parts.keyPath, parts.keyPathLength));
        EXPECT_EQ(0u, parts.valueNameLength);

        std::string whole = "C:\\" + L + "a\\uninstall.exe", other = "c:\\" + L + "A";
        EXPECT_EQ(!dbcs, IsLeadingPartOf(other.data(), other.size(), whole.c_str(), leadBytes));
        /* Cut after a lead byte, the part ends inside a character of the whole. */
        EXPECT_EQ(!dbcs, IsLeadingPartOf(whole.data(), 4, whole.c_str(), leadBytes));
        EXPECT_TRUE(IsLeadingPartOf(whole.data(), 5, whole.c_str(), leadBytes));
        EXPECT_EQ(!dbcs, EqualIgnoringAsciiCase(other.data(), whole.data(), other.size(), leadBytes));
        std::string folded = other;
        FoldAsciiCase(other.data(), other.size(), &folded[0], leadBytes);
        EXPECT_EQ("C:\\" + L + "A", folded);
        folded = "x" + L + "a";
        FoldAsciiCase(folded.data(), folded.size(), &folded[0], leadBytes);
        EXPECT_EQ("X" + L + (dbcs ? "a" : "A"), folded);
    }
    EXPECT_FALSE(IsAnsiCodePage(65001));
    EXPECT_FALSE(IsAnsiCodePage(437));
    /* A lead byte before the terminator stands alone. */
    EXPECT_EQ(1u, CharLength("\x95\0x", 0, 3, LeadBytesOfCodePage(932)));
}

/* Where a path stops being a leading part of another, and where a lone lead
   byte ends it: C:\App\<0x95> is no part of C:\App\<0x95 0x5C>\uninstall.exe. */
TEST(LeadingParts, EndOnACharacterOfTheWholeAndAtOrAboveEndsAtItsBackslash)
{
    const std::string own = "C:\\App\\\x95\x5C\\uninstall.exe";
    const unsigned char *shiftJis = LeadBytesOfCodePage(932);
    const struct {
        std::string part;
        bool leading[2], atOrAbove[2]; /* single-byte, 932 */
    } rows[] = {
        {"C:\\App\\\x95", {true, false}, {true, false}}, /* single-byte: 0x5C is a backslash */
        {"C:\\App\\\x95\x5C", {true, true}, {true, true}},
        {"C:\\App\\\x95\x5C\\", {true, true}, {true, true}},
        {"c:\\app", {true, true}, {true, true}},
        {"C:\\Ap", {true, true}, {false, false}},
        {own, {true, true}, {true, true}},
        {own + "x", {false, false}, {false, false}},
        {"", {true, true}, {false, false}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.part);
        for (int dbcs = 0; dbcs < 2; dbcs++) {
            const unsigned char *leadBytes = dbcs ? shiftJis : nullptr;
            EXPECT_EQ(row.leading[dbcs], IsLeadingPartOf(row.part.data(), row.part.size(), own.c_str(), leadBytes));
            EXPECT_EQ(row.atOrAbove[dbcs], IsAtOrAbove(row.part.data(), row.part.size(), own.c_str(), leadBytes));
        }
    }
    const struct {
        const char *text;
        bool lone;
    } ends[] = {
        {"C:\\x\\f.txt\xE8", true}, {"C:\\x\\\x95\x5C", false}, {"C:\\x\\\x95\x5C\x95", true},
        {"C:\\x\\f.txt", false},    {"\x95", true},                   {"", false},
    };
    for (const auto &end : ends) {
        SCOPED_TRACE(end.text);
        EXPECT_EQ(end.lone, EndsInLoneLeadByte(end.text, strlen(end.text), shiftJis));
        EXPECT_FALSE(EndsInLoneLeadByte(end.text, strlen(end.text), nullptr));
    }
}

#if defined(_WIN32)
#include <windows.h>

TEST(LeadBytesOfCodePage, AreTheOnesTheSystemReports)
{
    for (unsigned codePage : {932u, 936u, 949u, 950u, 1252u, 1250u, 874u}) {
        const unsigned char *table = LeadBytesOfCodePage(codePage);
        for (int byte = 0; byte < 256; byte++) {
            bool lead = table != nullptr && table[byte];
            ASSERT_EQ(IsDBCSLeadByteEx(codePage, (BYTE)byte) != 0, lead) << codePage << " " << byte;
        }
    }
}
#endif
