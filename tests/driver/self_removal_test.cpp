/*
 * Deferral of the program's own paths, and the clean-up copy run for real: the
 * real uninstall.exe stands in an installation folder in the sandbox as
 * ModulePath, and the copy that this process starts removes it.
 */
#include "driver/driver.h"
#include "resources/resource_ids.h"
#include "support/failing_heap.h"
#include "support/test_support.h"
#include "support/wizard_driver.h"

#include <string>

using namespace testsupport;

namespace {

void StartOver(const std::string &modulePath)
{
    PendingRemovalList = NULL; /* the old list is the process's to keep */
    lstrcpynA(ModulePath, modulePath.c_str(), MAX_PATH);
}

std::string List() { return PendingRemovalList ? PendingRemovalList : "(null)"; }

/* The temporary folder is the one in TMP; set for the test, put back after it. */
struct TemporaryFolder {
    std::string previous;
    explicit TemporaryFolder(const std::string &folder)
    {
        char buffer[32767];
        DWORD length = GetEnvironmentVariableA("TMP", buffer, sizeof buffer);
        previous.assign(buffer, length);
        SetEnvironmentVariableA("TMP", folder.c_str());
    }
    ~TemporaryFolder() { SetEnvironmentVariableA("TMP", previous.c_str()); }
};

/* An installation folder holding a copy of the real program. */
std::string Install(const std::string &folder)
{
    MakeDirectory(folder);
    std::string program = folder + "\\uninstall.exe";
    CopyFileA(UninstallExe().c_str(), program.c_str(), FALSE);
    return program;
}

} // namespace

TEST(DeferOwnPath, TakesExactlyTheLeadingPartsOfTheProgramsPath)
{
    const std::string own = "C:\\Program Files\\Vorblend\\Caf\xe9\\uninstall.exe";
    struct Case {
        std::string path;
        int deferred;
    } cases[] = {
        {own, 1},
        {"c:\\PROGRAM files\\vorblend", 1},
        {"C:\\Program Files\\Vorblend\\CAF\xc9", 0}, /* case outside ASCII counts */
        {own + "x", 0},
        {own + "\\", 0},
        {"C:\\Program Fi", 1},
        {"C:/Program Files", 0},
        {"", 1},
        {own, 1},
    };
    StartOver(own);
    std::string expected;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.deferred, DeferOwnPath(c.path.c_str()));
        if (c.deferred)
            expected.append(expected.empty() ? "" : " ").append(Quoted(c.path));
        EXPECT_EQ(expected, List());
    }
}

TEST(DeferOwnPath, AnExhaustedHeapLeavesThePathInPlaceAndTheListWhole)
{
    StartOver("C:\\Vorblend\\uninstall.exe");
    int answer;
    {
        ExhaustedHeap exhausted;
        answer = DeferOwnPath("C:\\Vorblend");
    }
    EXPECT_EQ(1, answer);
    EXPECT_EQ(nullptr, PendingRemovalList);
    EXPECT_EQ(1, DeferOwnPath("C:\\Vorblend\\uninstall.exe"));
    {
        ExhaustedHeap exhausted;
        answer = DeferOwnPath("C:\\Vorblend");
    }
    EXPECT_EQ(1, answer);
    EXPECT_EQ("\"C:\\Vorblend\\uninstall.exe\"", List());
}

TEST(LaunchCleanupCopy, NothingDeferredWritesNothing)
{
    std::string box = Sandbox("launch-none");
    TemporaryFolder temporary(box + "\\");
    StartOver(Install(box + "\\app"));
    LaunchCleanupCopy();
    EXPECT_TRUE(Missing(box + "\\uninstallqx.exe"));
    WipeTree(box);
}

/* Blanks in both folders, a folder deferred with a trailing backslash before
   another entry, and an older copy in the way. */
TEST(LaunchCleanupCopy, TheCopyRemovesTheProgramThenItsFolderThenItself)
{
    std::string box = Sandbox("launch");
    std::string temp = box + "\\temp with blanks", app = box + "\\Vorblend App";
    MakeDirectory(temp);
    MakeFile(temp + "\\uninstallqx.exe", "an older copy, not a program");
    std::string program = Install(app);
    TemporaryFolder temporary(temp + "\\");
    StartOver(program);

    ASSERT_EQ(1, DeferOwnPath(program.c_str()));
    ASSERT_EQ(1, DeferOwnPath((app + "\\").c_str()));
    ASSERT_EQ(1, DeferOwnPath((app + "\\").c_str()));
    LaunchCleanupCopy();

    EXPECT_TRUE(Exists(temp + "\\uninstallqx.exe"));
    EXPECT_TRUE(GoneWithin(app, 15000));
    EXPECT_TRUE(GoneWithin(temp + "\\uninstallqx.exe", 15000));
    StartOver("");
    WipeTree(box);
}

/* The line grows past any small buffer up to the system's limit; entries past
   the limit are left out, whole. */
TEST(LaunchCleanupCopy, LongListsReachTheCopyUpToTheSystemLimit)
{
    std::string box = Sandbox("launch-long");
    TemporaryFolder temporary(box + "\\");
    for (int copies : {100, 1000}) {
        SCOPED_TRACE(copies);
        std::string app = box + "\\app";
        std::string program = Install(app);
        StartOver(program);
        for (int i = 0; i < copies; i++)
            DeferOwnPath(program.c_str());
        DeferOwnPath(app.c_str());
        ASSERT_GT(strlen(PendingRemovalList), 784u);
        LaunchCleanupCopy();
        EXPECT_TRUE(GoneWithin(program, 15000));
        EXPECT_TRUE(GoneWithin(box + "\\uninstallqx.exe", 15000));
        if (copies * (program.size() + 3) > 32767)
            EXPECT_TRUE(Exists(app));
        else
            EXPECT_TRUE(Missing(app));
        RemoveDirectoryA(app.c_str());
    }
    StartOver("");
    WipeTree(box);
}

TEST(LaunchCleanupCopy, NoLaunchWithoutRoomForTheCopysPath)
{
    std::string box = Sandbox("launch-notemp");
    std::string program = Install(box + "\\app");
    for (size_t length : {MAX_PATH - 10, MAX_PATH + 40}) {
        SCOPED_TRACE(length);
        std::string folder = "C:\\" + std::string(length - 4, 't') + "\\";
        TemporaryFolder temporary(folder);
        StartOver(program);
        DeferOwnPath(program.c_str());
        LaunchCleanupCopy();
        Sleep(2500);
        EXPECT_TRUE(Exists(program));
    }
    StartOver("");
    WipeTree(box);
}

/* The usual way to start it: from inside the installation folder, which thus
   is the first process's current folder. */
TEST(LaunchCleanupCopy, AnUninstallerStartedInsideItsFolderStillRemovesIt)
{
    std::string box = Sandbox("launch-inside");
    std::string app = box + "\\Vorblend", program = Install(app), log = box + "\\removal.log";
    MakeFile(log, "file:" + program + "\r\ndir:" + app + "\\\r\n");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = Quoted(program) + " " + Quoted(log);
    ASSERT_TRUE(CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, app.c_str(),
                               &startup, &process));
    CloseHandle(process.hThread);
    wizarddriver::Uninstaller run;
    run.process = process.hProcess;
    run.id = process.dwProcessId;

    HWND frame = wizarddriver::WaitForFrame(run);
    ASSERT_TRUE(frame != NULL);
    for (wizarddriver::Page page : {wizarddriver::PAGE1, wizarddriver::PAGE2, wizarddriver::PAGE3}) {
        HWND shown = wizarddriver::WaitForPage(frame, page);
        ASSERT_TRUE(shown != NULL) << page;
        wizarddriver::Click(shown, IDC_CONTINUE);
    }
    EXPECT_EQ(0, wizarddriver::WaitForExit(run));
    EXPECT_TRUE(GoneWithin(app, 10000));
    EXPECT_TRUE(GoneWithin(TempDirectory() + "uninstallqx.exe", 10000));
    WipeTree(box);
}
