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

namespace {

/* Someone else's program: started, it leaves "<its path>.started". */
std::string LeaveMarkerExe()
{
    std::string product = UninstallExe();
    return product.substr(0, product.find_last_of('\\') + 1) + "leave_marker.exe";
}

/* The real uninstaller, walked through its three pages on a log that names it
   and its folder; its exit code. */
long UninstallWithWizard(const std::string &program, const std::string &app, const std::string &log)
{
    MakeFile(log, "file:" + program + "\r\ndir:" + app + "\\\r\n");
    wizarddriver::Uninstaller run;
    if (!wizarddriver::Start(Quoted(program) + " " + Quoted(log), run))
        return -1;
    HWND frame = wizarddriver::WaitForFrame(run);
    for (wizarddriver::Page page : {wizarddriver::PAGE1, wizarddriver::PAGE2, wizarddriver::PAGE3}) {
        HWND shown = frame ? wizarddriver::WaitForPage(frame, page) : NULL;
        if (shown == NULL)
            return -1;
        wizarddriver::Click(shown, IDC_CONTINUE);
    }
    return wizarddriver::WaitForExit(run);
}

void OverwriteWithMarkerProgram(const char *copyPath)
{
    CopyFileA(LeaveMarkerExe().c_str(), copyPath, FALSE);
}

} // namespace

/* Another program at the copy's path, held open with read and delete sharing
   (by this process, not the uninstaller), or not held at all. */
TEST(LaunchCleanupCopy, AProgramPlantedAtTheCopysPathNeverRuns)
{
    for (bool held : {true, false}) {
        SCOPED_TRACE(held ? "held open" : "not held");
        std::string box = Sandbox("planted"), temp = box + "\\temp", app = box + "\\Vorblend";
        std::string planted = temp + "\\uninstallqx.exe", program = Install(app);
        MakeDirectory(temp);
        ASSERT_TRUE(CopyFileA(LeaveMarkerExe().c_str(), planted.c_str(), FALSE));
        HANDLE holder = INVALID_HANDLE_VALUE;
        if (held)
            holder = CreateFileA(planted.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 NULL, OPEN_EXISTING, 0, NULL);
        TemporaryFolder temporary(temp + "\\");

        EXPECT_EQ(0, UninstallWithWizard(program, app, box + "\\removal.log"));
        if (held) {
            Sleep(2500); /* a started copy would have paused and removed by now */
            EXPECT_TRUE(Exists(program));
            CloseHandle(holder);
        } else {
            EXPECT_TRUE(GoneWithin(app, 15000));
            EXPECT_TRUE(GoneWithin(planted, 15000));
        }
        EXPECT_TRUE(Missing(planted + ".started"));
        WipeTree(box);
    }
}

/* Written over between the copy and its opening: not started, and gone once
   the launch lets go of it. */
TEST(LaunchCleanupCopy, ACopyThatIsNotTheProgramIsNotStarted)
{
    std::string box = Sandbox("launch-changed");
    std::string program = Install(box + "\\app"), copy = box + "\\uninstallqx.exe";
    TemporaryFolder temporary(box + "\\");
    StartOver(program);
    DeferOwnPath(program.c_str());
    CleanupCopyWritten = OverwriteWithMarkerProgram;
    LaunchCleanupCopy();
    CleanupCopyWritten = NULL;
    Sleep(2500);
    EXPECT_TRUE(Missing(copy + ".started"));
    EXPECT_TRUE(Missing(copy));
    EXPECT_TRUE(Exists(program));
    StartOver("");
    WipeTree(box);
}

/* A copy stuck at the copy's path (there a running program) is ended once it
   has run longer than a copy can, and the launch goes on; a younger one is
   left alone and nothing starts. */
TEST(LaunchCleanupCopy, EndsAStuckCopyOnlyOnceItIsOlderThanACopyLives)
{
    for (DWORD after : {60000u, 0u}) {
        SCOPED_TRACE(after);
        std::string box = Sandbox("stuck"), temp = box + "\\temp", app = box + "\\app";
        std::string program = Install(app), stuck = temp + "\\uninstallqx.exe";
        MakeDirectory(temp);
        CopyFileA(SleeperExe().c_str(), stuck.c_str(), FALSE);
        HANDLE copy = StartProgram(Quoted(stuck) + " 60000");
        Sleep(500);
        TemporaryFolder temporary(temp + "\\");
        StartOver(program);
        DeferOwnPath(program.c_str());
        StaleCopyAfterMs = after;
        DWORD started = LaunchCleanupCopy();
        StaleCopyAfterMs = 30000;
        EXPECT_EQ(after == 0 ? 0u : (DWORD)ERROR_ACCESS_DENIED, started);
        EXPECT_EQ(after == 0 ? WAIT_OBJECT_0 : WAIT_TIMEOUT, WaitForSingleObject(copy, 0));
        EXPECT_TRUE(after == 0 ? GoneWithin(program, 15000) : Exists(program));
        TerminateProcess(copy, 0);
        WaitForSingleObject(copy, 5000);
        CloseHandle(copy);
        StartOver("");
        WipeTree(box);
    }
}

DWORD WINAPI SystemTemp(DWORD length, LPSTR buffer)
{
    lstrcpynA(buffer, "C:\\Windows\\SystemTemp\\", length);
    return 22;
}

TEST(GetTempFolder, TakesGetTempPath2AWhereItExistsElseGetTempPathA)
{
    struct Case {
        TempPathQuery getTempPath2;
        std::string folder;
    } cases[] = {
        {SystemTemp, "C:\\Windows\\SystemTemp\\"},
        {NULL, TempDirectory()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.folder);
        char folder[MAX_PATH] = "";
        EXPECT_EQ(c.folder.size(), GetTempFolder(c.getTempPath2, folder));
        EXPECT_EQ(c.folder, folder);
    }
}
