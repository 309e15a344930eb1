/*
 * Registry removal on real keys under a test key of HKCU, removed afterwards.
 */
#include "removal/removal.h"
#include "support/test_support.h"

#include <string>

using namespace testsupport;

namespace {

std::string TestKey()
{
    return "Software\\VorblendTests\\Registry-" + std::to_string(GetCurrentProcessId());
}

void SetValue(HKEY root, const std::string &key, const char *name)
{
    HKEY opened = NULL;
    RegCreateKeyExA(root, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &opened, NULL);
    RegSetValueExA(opened, name, 0, REG_SZ, (const BYTE *)"1", 2);
    RegCloseKey(opened);
}

bool HasValue(HKEY root, const std::string &key, const char *name)
{
    return RegGetValueA(root, key.c_str(), name, RRF_RT_ANY, NULL, NULL, NULL) == ERROR_SUCCESS;
}

bool HasKey(HKEY root, const std::string &key)
{
    HKEY opened = NULL;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

/* Calls the product on a writable copy and checks that the text came back whole. */
ErrorRef RemoveItem(const std::string &item)
{
    std::string text = item;
    ErrorRef result = RemoveRegistryItem(text.data());
    EXPECT_EQ(item, text);
    return result;
}

} // namespace

TEST(RootKeyFromName, MatchesTheTenNamesAtTheirExactLengthInAnyCase)
{
    struct Case {
        const char *text;
        int length;
        HKEY key;
    } cases[] = {
        {"hkey_classes_root\\x", 17, HKEY_CLASSES_ROOT}, {"hkCR", 4, HKEY_CLASSES_ROOT},
        {"HKEY_Current_User", 17, HKEY_CURRENT_USER},    {"hkcu\\", 4, HKEY_CURRENT_USER},
        {"HKEY_LOCAL_MACHINE", 18, HKEY_LOCAL_MACHINE},  {"HkLm", 4, HKEY_LOCAL_MACHINE},
        {"hkey_users", 10, HKEY_USERS},                  {"hKu", 3, HKEY_USERS},
        {"HKEY_CURRENT_CONFIG", 19, HKEY_CURRENT_CONFIG}, {"hkcc", 4, HKEY_CURRENT_CONFIG},
        {"HKCUX", 5, NULL},                               {"HKC", 3, NULL},
        {"HKCU", 3, NULL},                                {"", 0, NULL},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.key, RootKeyFromName(c.text, c.length));
    }
}

TEST(RemoveRegistryItem, RemovesValuesAndKeysAndRestoresTheText)
{
    std::string key = TestKey();
    SetValue(HKEY_CURRENT_USER, key, "first");
    SetValue(HKEY_CURRENT_USER, key + "\\sub", "second");
    SetValue(HKEY_CURRENT_USER, key + "\\sub\\leaf", "third");

    EXPECT_EQ(nullptr, RemoveItem("hkey_Current_USER\\" + key + "\\first"));
    EXPECT_FALSE(HasValue(HKEY_CURRENT_USER, key, "first"));
    EXPECT_EQ(nullptr, RemoveItem("hKcU\\" + key + "\\sub\\second"));
    EXPECT_FALSE(HasValue(HKEY_CURRENT_USER, key + "\\sub", "second"));
    EXPECT_EQ(nullptr, RemoveItem("HKCU\\" + key + "\\sub\\leaf\\"));
    EXPECT_FALSE(HasKey(HKEY_CURRENT_USER, key + "\\sub\\leaf"));
    EXPECT_TRUE(HasKey(HKEY_CURRENT_USER, key + "\\sub"));

    /* An empty key path: the value stands in the root key itself. */
    std::string rootValue = "VorblendTest-" + std::to_string(GetCurrentProcessId());
    SetValue(HKEY_CURRENT_USER, "", rootValue.c_str());
    EXPECT_EQ(nullptr, RemoveItem("HKCU\\\\" + rootValue));
    EXPECT_FALSE(HasValue(HKEY_CURRENT_USER, "", rootValue.c_str()));

    /* HKU, three letters: the default user's hive. */
    std::string usersKey = ".DEFAULT\\" + key;
    SetValue(HKEY_USERS, usersKey, "fourth");
    EXPECT_EQ(nullptr, RemoveItem("HKU\\" + usersKey + "\\fourth"));
    EXPECT_FALSE(HasValue(HKEY_USERS, usersKey, "fourth"));
    EXPECT_EQ(nullptr, RemoveItem("HKU\\" + usersKey + "\\"));
    EXPECT_FALSE(HasKey(HKEY_USERS, usersKey));

    RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
}

TEST(RemoveRegistryItem, ItemsThatNameNothingAreNoFailureAndUnknownRootsAre)
{
    std::string key = TestKey();
    SetValue(HKEY_CURRENT_USER, key, "kept");
    ErrorRecord.code = 0xdeadbeef;
    for (const char *item : {"HKCU", "HKCU\\", "HKCU\\Software", ""}) {
        SCOPED_TRACE(item);
        EXPECT_EQ(nullptr, RemoveItem(item));
    }
    EXPECT_EQ(0xdeadbeefu, ErrorRecord.code);
    EXPECT_TRUE(HasKey(HKEY_CURRENT_USER, "Software"));

    for (const std::string &item : {"HKCUX\\" + key + "\\kept", "HKC\\" + key + "\\"}) {
        SCOPED_TRACE(item);
        ErrorRef result = RemoveItem(item);
        ASSERT_EQ(&ErrorRecord, result);
        EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, result->code);
    }
    EXPECT_TRUE(HasValue(HKEY_CURRENT_USER, key, "kept"));

    ErrorRef missing = RemoveItem("HKCU\\" + key + "\\absent");
    ASSERT_EQ(&ErrorRecord, missing);
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, missing->code);
    RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
}
