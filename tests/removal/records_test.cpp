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
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.safe, IsSafeTreeRoot(c.path, strlen(c.path)));
    }
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
