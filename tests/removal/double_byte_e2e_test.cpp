/*
 * The real uninstall.exe on a Japanese system (code page 932), where the
 * second byte of many characters is 0x5C, the backslash, or an ASCII letter:
 * names ending in such characters are removed whole, a tree root never
 * reaches beyond its folder, and the clean-up copy still gets its folder.
 * Run under a Japanese locale: Wine takes the ANSI code page from it.
 */
#include "resources/resource_ids.h"
#include "support/test_support.h"
#include "support/wizard_driver.h"

#include <string>

using namespace testsupport;
using namespace wizarddriver;

namespace {

/* Shift_JIS: the second bytes of these are 0x5C, 0x41 and 0x61. */
const std::string HYOU = "\x95\x5C";              /* 表 */
const std::string ICHIRANHYOU = "\x88\xEA\x97\x97\x95\x5C"; /* 一覧表 */
const std::string KINOU = "\x8B\x40\x94\x5C";     /* 機能 */
const std::string HIIRAGI = "\x95\x41";           /* 柊 */
const std::string BYOU = "\x95\x61";              /* 病 */

bool ValueExists(const std::string &key, const std::string &name)
{
    HKEY opened;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    bool found = RegQueryValueExA(opened, name.c_str(), NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    RegCloseKey(opened);
    return found;
}

} // namespace

TEST(DoubleByteNames, AreRemovedWholeAndNothingBesideATreeIsTouched)
{
    ASSERT_EQ(932u, GetACP()) << "the session must run under a Japanese locale";
    std::string box = Sandbox("dbcs");
    std::string key = "Software\\VorblendTest-dbcs-" + std::to_string(GetCurrentProcessId());
    RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());

    /* A root written with a trailing backslash, and a canary whose name is
       the root's name with the tree's entry after it. */
    MakeDirectory(box + "\\" + HYOU);
    MakeFile(box + "\\" + HYOU + "\\x");
    MakeFile(box + "\\" + HYOU + "x");
    /* A root without one, holding names that end in 0x5C at every depth. */
    std::string list = box + "\\" + ICHIRANHYOU;
    MakeDirectory(list);
    MakeDirectory(list + "\\" + KINOU);
    MakeFile(list + "\\" + KINOU + "\\" + ICHIRANHYOU);
    MakeFile(list + "\\" + ICHIRANHYOU);
    MakeFile(list + "\\plain.txt");
    /* A tree that only ASCII case folding of a second byte would take for the
       uninstaller's own folder. */
    MakeDirectory(box + "\\" + HIIRAGI);
    MakeFile(box + "\\" + HIIRAGI + "\\" + HYOU);
    /* The uninstaller's own folder ends in 0x5C, and its record in a backslash. */
    /* A path cut after a lead byte: the system would drop it and name f.txt. */
    MakeFile(box + "\\f.txt");
    std::string home = box + "\\" + BYOU + KINOU;
    MakeDirectory(home);
    ASSERT_TRUE(CopyFileA(UninstallExe().c_str(), (home + "\\uninstall.exe").c_str(), FALSE));

    HKEY created;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, (key + "\\" + HYOU).c_str(), 0, NULL,
                                             0, KEY_ALL_ACCESS, NULL, &created, NULL));
    RegCloseKey(created);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &created, NULL));
    for (const std::string &name : {HYOU, std::string("unnamed")})
        RegSetValueExA(created, name.c_str(), 0, REG_SZ, (const BYTE *)"v", 2);
    RegCloseKey(created);

    std::string log = "dirw:" + box + "\\" + HYOU + "\\\r\n" +
                      "dirw:" + list + "\r\n" +
                      "dirw:" + box + "\\" + HIIRAGI + "\r\n" +
                      "key:HKCU\\" + key + "\\" + HYOU + "\r\n" +
                      "key:HKCU\\" + key + "\\" + HYOU + "\\\r\n" +
                      "file:" + box + "\\f.txt\xE8\r\n" +
                      "file:" + home + "\\uninstall.exe\r\n" +
                      "dir:" + home + "\\\r\n";
    MakeFile(box + "\\removal.log", log);

    Uninstaller run;
    ASSERT_TRUE(Start(Quoted(home + "\\uninstall.exe") + " " + Quoted(box + "\\removal.log"), run));
    HWND frame = WaitForFrame(run);
    ASSERT_TRUE(frame != NULL);
    for (Page page : {PAGE1, PAGE2, PAGE3}) {
        HWND shown = WaitForPage(frame, page);
        ASSERT_TRUE(shown != NULL) << page;
        Click(shown, IDC_CONTINUE);
    }
    EXPECT_EQ(0, WaitForExit(run));

    EXPECT_TRUE(Missing(box + "\\" + HYOU));
    EXPECT_TRUE(Exists(box + "\\" + HYOU + "x"));
    EXPECT_TRUE(Missing(list));
    EXPECT_TRUE(Missing(box + "\\" + HIIRAGI));
    EXPECT_TRUE(Exists(box + "\\f.txt"));
    EXPECT_FALSE(ValueExists(key, HYOU));
    EXPECT_TRUE(ValueExists(key, "unnamed"));
    HKEY subkey;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExA(HKEY_CURRENT_USER, (key + "\\" + HYOU).c_str(), 0, KEY_READ, &subkey));
    /* The clean-up copy takes the program, then its folder. */
    EXPECT_TRUE(GoneWithin(home, 10000));

    RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    WipeTree(box);
}
