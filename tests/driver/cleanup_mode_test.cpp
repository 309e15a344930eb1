/*
 * The real uninstall.exe under Wine: the mode test and clean-up mode.
 */
#include "driver/driver.h"
#include "support/test_support.h"

#include <string>
#include <thread>

using namespace testsupport;

namespace {

long RunUninstall(const std::string &arguments)
{
    return RunAndWait(Quoted(UninstallExe()) + " " + arguments);
}

} // namespace

TEST(CleanupMode, DashUInEitherCaseSelectsItAndOtherSpellingsDoNot)
{
    std::string box = Sandbox("mode");
    struct Case {
        const char *arguments; /* %s stands for the target file */
        bool removes;
    } cases[] = {
        {"-u %s", true},
        {"-U %s", true},
        {"-ux %s", false},
        {"/u %s", false},
        {"other -u %s", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments);
        std::string target = box + "\\target.txt";
        MakeFile(target);
        std::string arguments = c.arguments;
        arguments.replace(arguments.find("%s"), 2, Quoted(target));
        /* Wizard mode shows a window; it is ended by the time-out and counts as not removing. */
        long exitCode = RunAndWait(Quoted(UninstallExe()) + " " + arguments, NULL,
                                   c.removes ? 30000 : 3000);
        if (c.removes) {
            EXPECT_EQ(0, exitCode);
            EXPECT_TRUE(Missing(target));
        } else {
            EXPECT_TRUE(Exists(target));
        }
    }
    WipeTree(box);
}

TEST(CleanupMode, DashUAlonePausesAndExitsZero)
{
    DWORD start = GetTickCount();
    EXPECT_EQ(0, RunUninstall("-u"));
    EXPECT_GE(GetTickCount() - start, 900u);
}

TEST(CleanupMode, RemovesInArgumentOrderAndNeverEmptiesAFolder)
{
    std::string box = Sandbox("order");
    std::string first = box + "\\first", second = box + "\\second", full = box + "\\full";
    MakeDirectory(first);
    MakeFile(first + "\\a.txt");
    MakeDirectory(second);
    MakeFile(second + "\\b.txt");
    MakeDirectory(full);
    MakeFile(full + "\\keep.txt");

    /* File before its folder: both go. Folder before its file: the folder stays.
       An empty argument and a missing path are passed over. */
    std::string arguments = "-u " + Quoted(first + "\\a.txt") + " " + Quoted(first) + " \"\" " +
                            Quoted(second) + " " + Quoted(second + "\\b.txt") + " " +
                            Quoted(box + "\\missing") + " " + Quoted(full);
    EXPECT_EQ(0, RunUninstall(arguments));
    EXPECT_TRUE(Missing(first));
    EXPECT_TRUE(Exists(second));
    EXPECT_TRUE(Missing(second + "\\b.txt"));
    EXPECT_TRUE(Exists(full + "\\keep.txt"));
    WipeTree(box);
}

TEST(CleanupMode, ExitsZeroWhenEveryRemovalFails)
{
    std::string box = Sandbox("allfail");
    std::string locked = box + "\\locked.txt";
    MakeFile(locked);
    HANDLE held = CreateFileA(locked.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(0, RunUninstall("-u " + Quoted(locked) + " " + Quoted(box + "\\nothing") + " " +
                              Quoted(box)));
    EXPECT_TRUE(Exists(locked));
    CloseHandle(held);
    WipeTree(box);
}

/* The copy waits on a folder only while what is left in it may still go: a
   listed file it deleted that another handle keeps listed. A user's file, or
   a listed file that failed for good (read-only), ends the wait at once. */
TEST(CleanupMode, WaitsOnAFolderOnlyWhileWhatIsLeftInItMayStillGo)
{
    struct Case {
        const char *left;
        bool listed, held;
    } cases[] = {{"notes.txt", false, false}, {"fixed.txt", true, false}, {"scanned.txt", true, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.left);
        std::string app = Sandbox(std::string("wait-") + c.left), left = app + "\\" + c.left;
        MakeFiles(app, {"uninstall.exe", c.left});
        SetFileAttributesA(left.c_str(), c.listed && !c.held ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
        HANDLE holder = CreateFileA(left.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    NULL, OPEN_EXISTING, 0, NULL);
        std::thread closer([&] { Sleep(c.held ? 3000 : 0); CloseHandle(holder); });
        DWORD start = GetTickCount();
        EXPECT_EQ(0, RunUninstall("-u " + Quoted(app + "\\uninstall.exe") +
                                  (c.listed ? " " + Quoted(left) : "") + " " + Quoted(app)));
        DWORD took = GetTickCount() - start;
        closer.join();
        EXPECT_TRUE(c.held ? took >= 3000 : took < 5000) << took << " ms; the retry lasts 10 s";
        EXPECT_TRUE(Missing(app + "\\uninstall.exe"));
        EXPECT_EQ(c.held, (bool)Missing(app));
        WipeTree(app);
    }
}

/* Its parent gone the moment it started it, the copy still pauses, removes
   what it was given and ends: its own file may then be deleted. */
TEST(CleanupMode, EndsWithinItsPauseAndRetriesWhenItsParentEndsAtOnce)
{
    std::string box = Sandbox("orphan"), copy = box + "\\uninstallqx.exe", app = box + "\\App";
    CopyFileA(UninstallExe().c_str(), copy.c_str(), FALSE);
    MakeFiles(app, {"uninstall.exe"});
    std::string tool = UninstallExe();
    tool.replace(tool.find_last_of('\\') + 1, std::string::npos, "start_and_end.exe");
    DWORD start = GetTickCount();
    EXPECT_EQ(0, RunAndWait(Quoted(tool) + " " + Quoted(copy) + " -u " +
                            Quoted(app + "\\uninstall.exe") + " " + Quoted(app)));
    EXPECT_TRUE(GoneWithin(app, 11000));
    bool ended = false;
    while (!(ended = DeleteFileA(copy.c_str())) && GetTickCount() - start < 11000)
        Sleep(100);
    EXPECT_TRUE(ended) << "still running after " << GetTickCount() - start << " ms";
    WipeTree(box);
}

TEST(RemovePath, MissingPathRecordsTheDeletionFailure)
{
    std::string box = Sandbox("removepath");
    std::string missing = box + "\\gone";
    ErrorRef result = RemovePath(missing.c_str());
    ASSERT_EQ(&ErrorRecord, result);
    EXPECT_NE(std::string::npos, std::string(result->text).find("(DeleteFile) (2) (" + missing + ")"));
    EXPECT_EQ(&ErrorRecord, RemovePath(""));
    std::string folder = box + "\\empty";
    MakeDirectory(folder);
    EXPECT_EQ(nullptr, RemovePath(folder.c_str()));
    EXPECT_TRUE(Missing(folder));
    WipeTree(box);
}
