/*
 * The real uninstall.exe on trees that hold names the narrow listing can only
 * spell with a separator, with '?' or as a look-alike: whatever the listing
 * says, the removal never reaches the folder beside the tree, and the records
 * after it still run. Such names go whole, by their short names.
 */
#include "resources/resource_ids.h"
#include "support/test_support.h"
#include "support/wizard_driver.h"

#include <string>

using namespace testsupport;
using namespace wizarddriver;

namespace {

/* The name as the narrow listing spells it shows up in the folder. */
bool Listed(const std::string &folder, const std::string &name)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    bool seen = false;
    if (search == INVALID_HANDLE_VALUE)
        return false;
    do {
        seen = seen || name == found.cFileName;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return seen;
}

bool ListedWithin(const std::string &folder, const std::string &name)
{
    for (int tries = 0; tries < 100 && !Listed(folder, name); tries++)
        Sleep(50);
    return Listed(folder, name);
}

} // namespace

TEST(ForeignNames, ATreeHoldingThemNeverEmptiesItsParentAndLaterRecordsStillRun)
{
    ASSERT_EQ(1252u, GetACP()) << "the fullwidth names convert to separators under 1252 only";
    std::string box = Sandbox("foreign");
    MakeFile(box + "\\canary.txt");
    MakeDirectory(box + "\\canary-dir");
    MakeFile(box + "\\canary-dir\\keep.txt");
    MakeFile(box + "\\later.txt");

    /* Fullwidth reverse solidus, colon and full stops, made through the wide calls. */
    const wchar_t *wide[] = {L"x\xff3c\xff0e\xff0e", L"y\xff1a\xff0e\xff0e"};
    const char *spelled[] = {"x\\..", "y:.."};
    std::string log;
    for (int i = 0; i < 2; i++) {
        std::string tree = box + "\\t" + std::to_string(i);
        MakeDirectory(tree);
        std::wstring foreign = std::wstring(tree.begin(), tree.end()) + L"\\" + wide[i];
        ASSERT_TRUE(CreateDirectoryW(foreign.c_str(), NULL));
        CloseHandle(CreateFileW((foreign + L"\\inside.txt").c_str(), GENERIC_WRITE, 0, NULL,
                                CREATE_ALWAYS, 0, NULL));
        ASSERT_TRUE(Listed(tree, spelled[i]));
        log += "dirw:" + tree + "\r\n";
    }
    /* A real backslash in a name: only a foreign file system has one, here the Unix side. */
    std::string unixTree = UnixPath(box + "\\t2");
    ASSERT_FALSE(unixTree.empty());
    ASSERT_TRUE(StartUnixProgram("Z:\\bin\\sh -c \"mkdir -p '" + unixTree + "/w\\..' && touch '" +
                                 unixTree + "/w\\../inside.txt'\""));
    ASSERT_TRUE(ListedWithin(box + "\\t2", "w\\.."));
    log += "dirw:" + box + "\\t2\r\nfile:" + box + "\\later.txt\r\n";
    MakeFile(box + "\\removal.log", log);

    Uninstaller run;
    ASSERT_TRUE(Start(Quoted(UninstallExe()) + " " + Quoted(box + "\\removal.log"), run));
    HWND frame = WaitForFrame(run);
    ASSERT_TRUE(frame != NULL);
    for (Page page : {PAGE1, PAGE2, PAGE3}) {
        HWND shown = WaitForPage(frame, page);
        ASSERT_TRUE(shown != NULL) << page;
        Click(shown, IDC_CONTINUE);
    }
    EXPECT_EQ(0, WaitForExit(run));

    EXPECT_TRUE(Exists(box + "\\canary.txt"));
    EXPECT_TRUE(Exists(box + "\\canary-dir\\keep.txt"));
    EXPECT_TRUE(Exists(box + "\\removal.log"));
    /* The fullwidth names are reached by their short names; the real backslash
       has none that could address it, and its tree ends there. */
    for (const char *tree : {"\\t0", "\\t1"})
        EXPECT_TRUE(Missing(box + tree)) << tree;
    EXPECT_TRUE(Exists(box + "\\t2"));
    EXPECT_TRUE(Missing(box + "\\later.txt"));

    /* The narrow calls cannot address these names: the Unix side clears them. */
    StartUnixProgram("Z:\\bin\\rm -rf \"" + UnixPath(box) + "\"");
    EXPECT_TRUE(GoneWithin(box, 5000));
}

TEST(ForeignNames, ATreeOfNamesTheCodePageCannotSpellGoesWholeAndNothingBesideIt)
{
    ASSERT_EQ(1252u, GetACP()) << "the names are listed as '?' and look-alikes under 1252";
    std::string box = Sandbox("foreign-short"), tree = box + "\\tree";
    std::string report = box + "\\report.txt";
    MakeFile(box + "\\canary.txt");
    MakeFile(box + "\\a-macron.txt");
    MakeWideFiles(box, ForeignNameTree(L"tree"));
    ASSERT_TRUE(Listed(tree, "??.txt"));
    MakeFile(box + "\\removal.log", "dirw:" + tree + "\r\n");

    EXPECT_EQ(0, RunAndWait(Quoted(UninstallExe()) + " " + Quoted(box + "\\removal.log") +
                            " /S /LOG=" + Quoted(report)));
    for (const std::wstring &entry : ForeignNameTree(L"tree"))
        EXPECT_TRUE(WideMissing(box, entry));
    EXPECT_TRUE(Exists(box + "\\canary.txt"));
    EXPECT_TRUE(Exists(box + "\\a-macron.txt"));
    std::string text = ReadText(report);
    EXPECT_NE(std::string::npos, text.find("removed tree '" + tree + "': 8 files, 2 folders"))
        << text;
    WipeTree(box);
}
