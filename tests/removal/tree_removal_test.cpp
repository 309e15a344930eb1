/*
 * Entry probe and tree removal on real folders in the sandbox, names that
 * the narrow listing cannot spell among them (made with the wide calls).
 */
#include "driver/driver.h"
#include "removal/removal.h"
#include "support/test_support.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

/* Runs RemoveTree on a copy of the path in a buffer of the size the product uses. */
ErrorRef RemoveTreeAt(const std::string &path, std::string *left = NULL)
{
    char buffer[MAX_PATH] = "";
    lstrcpynA(buffer, path.c_str(), MAX_PATH);
    ErrorRef result = RemoveTree(buffer, "*.*");
    if (left != NULL)
        *left = buffer;
    return result;
}

/* Names in the order the system lists them. */
std::vector<std::string> Listing(const std::string &folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

/* The short name the listing gives for the entry it spells as name; "" when none. */
std::string ShortNameOf(const std::string &folder, const std::string &name)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    std::string shortName;
    if (search == INVALID_HANDLE_VALUE)
        return shortName;
    do {
        if (name == found.cFileName)
            shortName = found.cAlternateFileName;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return shortName;
}

void ForgetDeferrals(const std::string &modulePath = "")
{
    PendingRemovalList = NULL;
    lstrcpynA(ModulePath, modulePath.c_str(), MAX_PATH);
}

} // namespace

TEST(ProbeEntry, ReportsKindSizeAndAttributesOrNothing)
{
    std::string box = Sandbox("probe");
    MakeFile(box + "\\five.txt", "12345");
    SetFileAttributesA((box + "\\five.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EntryInfo info = {};
    lstrcpyA(info.name, "untouched");
    EXPECT_EQ(nullptr, ProbeEntry((box + "\\five.txt").c_str(), &info));
    EXPECT_EQ(ENTRY_FILE, info.kind);
    EXPECT_EQ(5, info.size);
    EXPECT_TRUE(info.attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(nullptr, ProbeEntry(box.c_str(), &info));
    EXPECT_EQ(ENTRY_DIRECTORY, info.kind);
    info.size = 77;
    EXPECT_EQ(nullptr, ProbeEntry((box + "\\none").c_str(), &info));
    EXPECT_EQ(ENTRY_NONE, info.kind);
    EXPECT_EQ(77, info.size);
    EXPECT_STREQ("untouched", info.name);
    SetFileAttributesA((box + "\\five.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    WipeTree(box);
}

TEST(RemoveTree, RemovesNestedTreesDepthFirstAndNothingBesideThem)
{
    ForgetDeferrals();
    std::string box = Sandbox("tree");
    std::string tree = box + "\\tree", sibling = box + "\\sibling.txt";
    MakeFile(sibling);
    MakeDirectory(tree);
    MakeDirectory(tree + "\\empty");
    MakeDirectory(tree + "\\a");
    MakeDirectory(tree + "\\a\\b");
    MakeFile(tree + "\\top.txt");
    MakeFile(tree + "\\a\\b\\deep.txt");

    /* An outer listing in progress must find its handle again afterwards. */
    WIN32_FIND_DATAA found;
    HANDLE outer = FindFirstFileA((box + "\\*").c_str(), &found);
    CurrentFindHandle = outer;
    std::string left;
    EXPECT_EQ(nullptr, RemoveTreeAt(tree + "\\", &left));
    EXPECT_EQ(outer, CurrentFindHandle);
    EXPECT_EQ(tree, left);
    EXPECT_TRUE(Missing(tree));
    EXPECT_TRUE(Exists(sibling)); /* ".." was never followed */
    CurrentFindHandle = NULL;
    FindClose(outer);

    EXPECT_EQ(nullptr, RemoveTreeAt(box + "\\missing"));
    MakeDirectory(box + "\\lonely");
    EXPECT_EQ(nullptr, RemoveTreeAt(box + "\\lonely"));
    EXPECT_TRUE(Missing(box + "\\lonely"));
    EXPECT_EQ(nullptr, RemoveTreeAt(sibling));
    EXPECT_TRUE(Missing(sibling));
    EXPECT_EQ(nullptr, PendingRemovalList);
    WipeTree(box);
}

TEST(RemoveTree, StopsAtTheFirstFailureAndKeepsWhatComesAfterIt)
{
    ForgetDeferrals();
    for (bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "read-only file" : "file held open without sharing");
        std::string box = Sandbox("tree-fail");
        std::string tree = box + "\\tree", mid = tree + "\\mid";
        MakeDirectory(tree);
        MakeDirectory(mid);
        for (const char *name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"})
            MakeFile(mid + "\\" + name);
        std::vector<std::string> order = Listing(mid);
        ASSERT_EQ(5u, order.size());
        std::string stuck = mid + "\\" + order[2];
        HANDLE held = INVALID_HANDLE_VALUE;
        if (readOnly)
            SetFileAttributesA(stuck.c_str(), FILE_ATTRIBUTE_READONLY);
        else
            held = CreateFileA(stuck.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);

        HANDLE sentinel = (HANDLE)0x5150;
        CurrentFindHandle = sentinel;
        std::string left;
        ErrorRef result = RemoveTreeAt(tree, &left);
        EXPECT_EQ(sentinel, CurrentFindHandle);
        CurrentFindHandle = NULL;
        ASSERT_EQ(&ErrorRecord, result);
        EXPECT_EQ(readOnly ? (DWORD)ERROR_ACCESS_DENIED : (DWORD)ERROR_SHARING_VIOLATION,
                  result->code);
        EXPECT_EQ(stuck, left);
        EXPECT_TRUE(Missing(mid + "\\" + order[0]));
        EXPECT_TRUE(Missing(mid + "\\" + order[1]));
        EXPECT_TRUE(Exists(stuck));
        EXPECT_TRUE(Exists(mid + "\\" + order[3]));
        EXPECT_TRUE(Exists(mid + "\\" + order[4]));
        EXPECT_TRUE(Exists(tree));
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        SetFileAttributesA(stuck.c_str(), FILE_ATTRIBUTE_NORMAL);
        WipeTree(box);
    }
}

TEST(RemoveTree, DefersTheProgramAndTheFoldersAboveItDeepestFirst)
{
    std::string box = Sandbox("tree-own");
    std::string tree = box + "\\Vorblend", bin = tree + "\\bin", own = bin + "\\uninstall.exe";
    MakeDirectory(tree);
    MakeDirectory(bin);
    MakeFile(own);
    MakeFile(bin + "\\helper.dll");
    MakeFile(tree + "\\data.txt");
    ForgetDeferrals(own);
    EXPECT_EQ(nullptr, RemoveTreeAt(tree));
    ASSERT_NE(nullptr, PendingRemovalList);
    EXPECT_EQ(Quoted(own) + " " + Quoted(bin) + " " + Quoted(tree),
              std::string(PendingRemovalList));
    EXPECT_TRUE(Exists(own));
    EXPECT_TRUE(Missing(bin + "\\helper.dll"));
    EXPECT_TRUE(Missing(tree + "\\data.txt"));
    ForgetDeferrals();
    WipeTree(box);
}

TEST(RemoveTree, NeverEntersAFolderLink)
{
    ForgetDeferrals();
    std::string box = Sandbox("tree-link");
    std::string tree = box + "\\tree", outside = box + "\\outside", link = tree + "\\link";
    MakeDirectory(tree);
    MakeDirectory(outside);
    MakeFile(outside + "\\precious.txt");
    ASSERT_TRUE(MakeFolderLink(link, outside));
    ASSERT_EQ(0x410u, GetFileAttributesA(link.c_str()) & 0x410u);

    /* Windows removes the link itself; Wine cannot, and that failure ends the tree. */
    for (const std::string &path : {tree, link}) {
        SCOPED_TRACE(path);
        ErrorRef result = RemoveTreeAt(path);
        if (result != NULL) {
            EXPECT_EQ((DWORD)ERROR_DIR_NOT_EMPTY, result->code);
        }
        EXPECT_TRUE(Exists(outside + "\\precious.txt"));
    }
    EXPECT_TRUE(RemoveFolderLink(link));
    WipeTree(box);
}

TEST(RemoveTree, PathsTooLongForItsBuffersEndTheTree)
{
    ForgetDeferrals();
    std::string box = Sandbox("tree-long");
    std::string tree = box + "\\tree", deep = tree + "\\";
    deep.append(MAX_PATH - 12 - deep.size(), 'd');
    MakeDirectory(tree);
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), NULL));
    std::wstring wide(deep.begin(), deep.end());
    /* Too long for a narrow call: made through the long-path form. */
    HANDLE file = CreateFileW((L"\\\\?\\" + wide + L"\\a-name-past-the-limit.txt").c_str(),
                              GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    MakeFile(deep + "\\ok");

    ErrorRef result = RemoveTreeAt(tree);
    ASSERT_EQ(&ErrorRecord, result);
    EXPECT_EQ((DWORD)ERROR_FILENAME_EXCED_RANGE, result->code);
    EXPECT_TRUE(Exists(deep));
    EXPECT_EQ(nullptr, CurrentFindHandle);
    DeleteFileW((L"\\\\?\\" + wide + L"\\a-name-past-the-limit.txt").c_str());
    WipeTree(box);
}

TEST(RemoveTree, ANameTheNarrowListingSpellsWithASeparatorIsReachedByItsShortNameInsideTheTree)
{
    ForgetDeferrals();
    /* Fullwidth reverse solidus, colon and full stops: best fit turns them into
       "x\.." and "y:..", which would lead to the tree's parent; the short name
       reaches the folder itself. */
    for (const wchar_t *name : {L"x\xff3c\xff0e\xff0e", L"y\xff1a\xff0e\xff0e", L"z\xff0e"}) {
        std::string box = Sandbox("tree-foreign");
        std::string tree = box + "\\tree";
        MakeDirectory(tree);
        MakeFile(box + "\\canary.txt");
        std::wstring wideTree(tree.begin(), tree.end()), foreign = wideTree + L"\\" + name;
        ASSERT_TRUE(CreateDirectoryW(foreign.c_str(), NULL));
        HANDLE inside = CreateFileW((foreign + L"\\inside.txt").c_str(), GENERIC_WRITE, 0, NULL,
                                    CREATE_ALWAYS, 0, NULL);
        CloseHandle(inside);

        std::string left;
        EXPECT_EQ(nullptr, RemoveTreeAt(tree, &left));
        EXPECT_EQ(tree, left);
        EXPECT_EQ(nullptr, CurrentFindHandle);
        EXPECT_TRUE(Exists(box + "\\canary.txt"));
        EXPECT_TRUE(Missing(tree));

        DeleteFileW((foreign + L"\\inside.txt").c_str());
        RemoveDirectoryW(foreign.c_str());
        WipeTree(box);
    }
}

/* The program's own file kept for the copy: under a folder the walk joined by
   its short name, or as the real a-macron.txt, still there when the walk
   reaches its look-alike, whose listed name then probes as it. */
TEST(RemoveTree, DefersTheProgramUnderTheNamesTheWalkJoinedAndRemovesALookAlikeOfItByItsShortName)
{
    ASSERT_EQ(1252u, GetACP()) << "the names are listed this way under 1252";
    for (bool inGreekFolder : {true, false}) {
        SCOPED_TRACE(inGreekFolder ? "under a short name" : "beside its look-alike");
        std::string box = Sandbox("tree-short-own"), tree = box + "\\tree";
        MakeWideFiles(box, ForeignNameTree(L"tree"));
        std::string folder = inGreekFolder ? tree + "\\" + ShortNameOf(tree, "????????") : tree;
        ASSERT_NE(tree + "\\", folder);
        std::string own = folder + (inGreekFolder ? "\\uninstall.exe" : "\\a-macron.txt");
        if (inGreekFolder)
            MakeFile(own);
        ForgetDeferrals(own);
        EXPECT_EQ(nullptr, RemoveTreeAt(tree));
        ASSERT_NE(nullptr, PendingRemovalList);
        std::string expected = Quoted(own) + (inGreekFolder ? " " + Quoted(folder) : "") + " " + Quoted(tree);
        EXPECT_EQ(expected, std::string(PendingRemovalList));
        EXPECT_TRUE(Exists(own));
        EXPECT_TRUE(WideMissing(box, L"tree\\\u65e5\u672c.txt"));
        EXPECT_TRUE(WideMissing(box, L"tree\\\u0101-macron.txt"));
        ForgetDeferrals();
        if (inGreekFolder) {
            DeleteFileA(own.c_str());
            RemoveDirectoryA(folder.c_str());
        }
        WipeTree(box);
    }
}

namespace {

/* The hook's swap: the first time the run is about to delete something in
   `Swapped`, that folder becomes a link to `Canaries`, as a user who may
   change it would make it at the right moment. */
std::string Swapped, Canaries;
unsigned long OnHandle, ByPath, Reads;
void CountAndSwap(const char *path, bool onHandle)
{
    (onHandle ? OnHandle : ByPath)++;
    if (!Swapped.empty() && std::string(path).rfind(Swapped + "\\", 0) == 0) {
        /* From the Unix side, as the walk holds the folder's listing open. */
        std::string from = UnixPath(Swapped), to = UnixPath(Canaries);
        EXPECT_TRUE(StartUnixProgram("Z:\\bin\\sh -c \"mv '" + from + "' '" + from + "-moved' && ln -s '" +
                                     to + "' '" + from + "'\""));
        DWORD attributes;
        for (int tries = 0; tries < 100 && ((attributes = GetFileAttributesA(Swapped.c_str())) == INVALID_FILE_ATTRIBUTES ||
                                            (attributes & 0x410) != 0x410); tries++)
            Sleep(50);
        EXPECT_EQ(0x410u, GetFileAttributesA(Swapped.c_str()) & 0x41f);
        Swapped.clear();
    }
}
DWORD CountedRead(const char *path, FolderReport *report)
{
    Reads++;
    return ReadFolderFromSystem(path, report);
}
DWORD CountedDescriptor(const char *path, PSECURITY_DESCRIPTOR *descriptor)
{
    Reads++;
    return ReadDescriptorFromSystem(path, descriptor);
}
Outcome Said;
void TellSaid(const RecordReport *report) { Said = report->outcome; }
bool NotElevated() { return false; }

} // namespace

/* Where others may change a folder, what the walk or a record deletes is
   decided on its own handle: a folder swapped for a link between the listing
   and the act sends nothing outside the tree. Folders only administrators can
   change keep the calls by path, plus one descriptor read per folder. */
TEST(ProcessRemovalLog, InAFolderOthersMayChangeNoDeletionCanBeSteeredOutside)
{
    const std::string usersModify = InstalledSddl + "(A;OICI;0x1301bf;;;BU)";
    const struct {
        const char *name;
        std::string record, sddl; /* the record below App; App's tree's descriptors */
        bool swap, elevated;
        Outcome outcome;
        bool onHandle;
        unsigned long byPath, reads; /* deletions by path (~0: not counted); descriptors read,
                                        up a chain until a folder fails, and per folder entered */
    } cases[] = {
        {"a tree, its subfolder swapped", "dirw:", usersModify, true, true, REDIRECTED, true, ~0ul, 4},
        {"a file: record, its folder swapped", "file:\\sub\\b.txt", usersModify, true, true, REDIRECTED, true, 0, 1},
        {"the tree, nothing swapped", "dirw:", usersModify, false, true, WILL_REMOVE_TREE, true, 1, 4},
        {"the tree, admin-only", "dirw:", InstalledSddl, false, true, WILL_REMOVE_TREE, false, 5, 5},
        {"the tree, not elevated", "dirw:", usersModify, false, false, WILL_REMOVE_TREE, false, 5, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string box = InstalledSandbox("steered"), app = box + "\\App";
        MakeFiles(box, {"App\\top.txt", "App\\sub\\a.txt", "App\\sub\\b.txt", "canaries\\a.txt", "canaries\\b.txt"});
        GiveTree(app, c.sddl);
        std::string record = c.record == "dirw:" ? "dirw:" + app : "file:" + app + c.record.substr(5);
        MakeFile(box + "\\removal.log", record + "\r\n");
        Swapped = c.swap ? app + "\\sub" : "";
        Canaries = box + "\\canaries";
        OnHandle = ByPath = Reads = 0;
        AboutToDelete = CountAndSwap;
        ReadFolder = CountedRead;
        ReadDescriptor = CountedDescriptor;
        RunIsElevated = c.elevated ? RunsElevated : NotElevated;
        RecordCarriedOut = TellSaid;
        EXPECT_EQ(nullptr, ProcessRemovalLog((box + "\\removal.log").c_str()));
        AboutToDelete = NULL;
        ReadFolder = ReadFolderFromSystem;
        ReadDescriptor = ReadDescriptorFromSystem;
        RunIsElevated = RunsElevated;
        RecordCarriedOut = NULL;

        EXPECT_EQ(c.outcome, Said);
        EXPECT_EQ(c.outcome == REDIRECTED, IsReportedFailure(Said)) << "a silent run ends 1603";
        EXPECT_TRUE(Exists(box + "\\canaries\\a.txt"));
        EXPECT_TRUE(Exists(box + "\\canaries\\b.txt"));
        EXPECT_EQ(c.outcome == WILL_REMOVE_TREE, (bool)Missing(app));
        EXPECT_EQ(c.onHandle, OnHandle > 0);
        if (c.byPath != ~0ul) {
            EXPECT_EQ(c.byPath, ByPath) << "the tree's own folder lies in an admin-only one";
        }
        EXPECT_EQ(c.reads, Reads);
        if (c.swap) {
            EXPECT_TRUE(RemoveFolderLink(app + "\\sub"));
        }
        WipeTree(box);
    }
}
