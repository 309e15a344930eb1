/*
 * The real uninstall.exe on files in use: a running program inside a tree is
 * moved aside and deleted at the restart (3010), a read-only file still fails
 * (1603) and the wizard does the same with its pages as always; the clean-up
 * copy waits for what is still in use; a second uninstall at the same time
 * ends with 1618; a rerun while an earlier removal waits for the restart ends
 * with 3010. Wine's wineboot -r stands in for the restart.
 */
#include "driver/driver.h"
#include "resources/resource_ids.h"
#include "support/test_support.h"
#include "support/wizard_driver.h"

#include <string>
#include <vector>

using namespace testsupport;

namespace {

struct Installation {
    std::string box, tree, running, readOnly, log, report;
    HANDLE program = NULL; /* the running program in the tree */
};

/* A tree holding a running program (started from outside the tree), and,
   when asked, a read-only file beside the tree. */
Installation Install(const std::string &name, bool readOnly)
{
    Installation in;
    in.box = Sandbox(name);
    in.tree = in.box + "\\tree";
    in.running = in.tree + "\\bin\\vorblend.exe";
    in.log = in.box + "\\removal.log";
    in.report = in.box + "\\report.txt";
    MakeFiles(in.box, {"tree\\bin\\", "tree\\data\\a.txt", "canary.txt"});
    CopyFileA(SleeperExe().c_str(), in.running.c_str(), FALSE);
    in.program = StartProgram(Quoted(in.running) + " 60000", in.box.c_str());
    Sleep(500);
    std::string log = "dirw:" + in.tree + "\r\n";
    if (readOnly) {
        in.readOnly = in.box + "\\preset.vbp";
        MakeFile(in.readOnly);
        SetFileAttributesA(in.readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
        log += "file:" + in.readOnly + "\r\n";
    }
    MakeFile(in.log, log);
    return in;
}

void Finish(Installation &in)
{
    TerminateProcess(in.program, 0);
    WaitForSingleObject(in.program, 5000);
    CloseHandle(in.program);
    RestartForPendingDeletions();
    if (!in.readOnly.empty())
        SetFileAttributesA(in.readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    WipeTree(in.box);
}

/* The pending deletion of the program's new name in the holding folder. */
std::string HeldProgram()
{
    for (const std::string &path : PendingDeletions())
        if (path.find("Vorblend-held-") != std::string::npos && path.find("vorblend.exe") != std::string::npos)
            return path;
    return "";
}

long Silent(const Installation &in)
{
    return RunAndWait(Quoted(UninstallExe()) + " " + Quoted(in.log) + " /S /LOG=" + Quoted(in.report));
}

} // namespace

TEST(InUse, ARunningProgramInATreeIsMovedAsideTheTreeGoesAndTheRunEnds3010)
{
    Installation in = Install("in-use-running", false);
    EXPECT_EQ(3010, Silent(in));
    EXPECT_TRUE(Missing(in.tree)) << "the tree and its folders go at once";
    std::string held = HeldProgram();
    ASSERT_FALSE(held.empty());
    EXPECT_TRUE(Exists(held));
    std::string report = ReadText(in.report);
    EXPECT_NE(std::string::npos, report.find("1 at the next restart [removed-tree]")) << report;
    EXPECT_NE(std::string::npos, report.find("moved to '" + held + "'")) << report;
    EXPECT_NE(std::string::npos, report.find("[at-restart]\r\n")) << report;
    EXPECT_NE(std::string::npos, report.find("Exit code: 3010")) << report;

    /* Installed again before the restart: the new program stays, the old goes. */
    MakeFiles(in.box, {"tree\\bin\\"});
    MakeFile(in.running, "reinstalled");
    TerminateProcess(in.program, 0);
    WaitForSingleObject(in.program, 5000);
    EXPECT_EQ(0, RestartForPendingDeletions());
    EXPECT_TRUE(Missing(held));
    EXPECT_EQ("reinstalled", ReadText(in.running));
    EXPECT_TRUE(Exists(in.box + "\\canary.txt"));
    Finish(in);
}

TEST(InUse, AReadOnlyFileStillFailsAndTheWizardSchedulesTheSameWithItsPagesAsAlways)
{
    Installation silent = Install("in-use-silent", true);
    EXPECT_EQ(1603, Silent(silent));
    std::string report = ReadText(silent.report);
    EXPECT_NE(std::string::npos, report.find("(5, ")) << report;
    EXPECT_NE(std::string::npos, report.find("[failed-read-only]")) << report;
    EXPECT_NE(std::string::npos, report.find("[at-restart]")) << report;
    EXPECT_TRUE(Exists(silent.readOnly));
    std::string held = HeldProgram();
    EXPECT_FALSE(held.empty());
    for (const std::string &pending : PendingDeletions()) {
        EXPECT_EQ(std::string::npos, pending.find("preset.vbp")) << "a read-only file is no job for the restart";
    }
    Finish(silent);

    Installation wizard = Install("in-use-wizard", true);
    wizarddriver::Uninstaller run;
    ASSERT_TRUE(wizarddriver::Start(Quoted(UninstallExe()) + " " + Quoted(wizard.log), run));
    HWND frame = wizarddriver::WaitForFrame(run);
    ASSERT_TRUE(frame != NULL);
    for (wizarddriver::Page page : {wizarddriver::PAGE1, wizarddriver::PAGE2, wizarddriver::PAGE3}) {
        HWND shown = wizarddriver::WaitForPage(frame, page);
        ASSERT_TRUE(shown != NULL) << page;
        if (page == wizarddriver::PAGE3) {
            EXPECT_EQ("The removal of Vorblend is now complete.",
                      wizarddriver::ItemText(shown, IDC_PROMPT3_MIDDLE));
        }
        wizarddriver::Click(shown, IDC_CONTINUE);
    }
    EXPECT_EQ(0, wizarddriver::WaitForExit(run));
    EXPECT_TRUE(Missing(wizard.tree));
    EXPECT_TRUE(Exists(wizard.readOnly));
    EXPECT_FALSE(HeldProgram().empty());
    Finish(wizard);
}

/* The copy's pause is one second: a program that runs for three more is
   waited for; one that runs past the retries is moved aside for the restart. */
TEST(CleanupMode, WaitsForAPathStillInUseAndMovesItAsideAfterTheRetries)
{
    std::string box = Sandbox("cleanup-in-use");
    for (DWORD runs : {3000u, 15000u}) {
        SCOPED_TRACE(runs);
        std::string program = box + "\\program-" + std::to_string(runs) + ".exe";
        CopyFileA(SleeperExe().c_str(), program.c_str(), FALSE);
        HANDLE running = StartProgram(Quoted(program) + " " + std::to_string(runs), box.c_str());
        DWORD start = GetTickCount();
        EXPECT_EQ(0, RunAndWait(Quoted(UninstallExe()) + " -u " + Quoted(program), NULL, 40000));
        DWORD took = GetTickCount() - start;
        EXPECT_TRUE(Missing(program));
        bool moved = false;
        for (const std::string &path : PendingDeletions())
            moved = moved || path.find("program-" + std::to_string(runs)) != std::string::npos;
        if (runs == 3000) {
            EXPECT_FALSE(moved);
            EXPECT_LT(took, 10000u);
        } else {
            EXPECT_TRUE(moved) << "scheduled once the retries were over";
            EXPECT_GE(took, 10000u);
        }
        WaitForSingleObject(running, 20000);
        CloseHandle(running);
    }
    EXPECT_EQ(0, RestartForPendingDeletions());
    WipeTree(box);
}

TEST(SilentRemoval, ASecondUninstallAtTheSameTimeEnds1618AndChangesNothing)
{
    HANDLE first = CreateMutexA(NULL, TRUE, "Global\\Brenhow.Vorblend.Uninstall");
    ASSERT_TRUE(first != NULL);
    std::string box = Sandbox("second-run");
    MakeFile(box + "\\a.txt");
    MakeFile(box + "\\removal.log", "file:" + box + "\\a.txt\r\n");
    EXPECT_EQ(1618, RunAndWait(Quoted(UninstallExe()) + " " + Quoted(box + "\\removal.log") +
                               " /S /LOG=" + Quoted(box + "\\report.txt")));
    EXPECT_TRUE(Exists(box + "\\a.txt"));
    EXPECT_TRUE(Missing(box + "\\report.txt"));
    ReleaseMutex(first);
    CloseHandle(first);
    EXPECT_EQ(0, RunAndWait(Quoted(UninstallExe()) + " " + Quoted(box + "\\removal.log") + " /S"));
    EXPECT_TRUE(Missing(box + "\\a.txt"));
    WipeTree(box);
}

/* A run stopped after it scheduled something, and nothing else: its entries,
   written here as it writes them, make the rerun end 3010 and leave them be. */
TEST(SilentRemoval, ARerunWhileAnEarlierRemovalWaitsForTheRestartEnds3010AndLeavesItsEntries)
{
    std::string box = Sandbox("rerun");
    const struct {
        std::string pending; /* the earlier run's */
        long exitCode;
    } cases[] = {
        {box + "\\Vorblend-held-12\\1-tool.exe", 3010}, /* the released version's holding folder */
        {"C:\\Vorblend-held-0123456789abcdef", 3010},  /* today's, at the volume's root */
        {box + "\\App\\bin\\tool.exe", 3010},           /* a file: record's path */
        {box + "\\APP\\DATA\\presets\\a.vbp", 3010},    /* inside a dirw: tree, in other letters */
        {box + "\\App\\elsewhere.txt", 0},              /* nothing the log names */
    };
    std::string log = box + "\\removal.log", report = box + "\\report.txt";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pending);
        MakeFiles(box, {"App\\readme.txt"});
        MakeFile(log, "file:" + box + "\\App\\bin\\tool.exe\r\nfile:" + box + "\\App\\readme.txt\r\ndirw:" +
                          box + "\\App\\data\r\n");
        ASSERT_TRUE(MoveFileExA(c.pending.c_str(), NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) << GetLastError();
        std::vector<std::string> before = PendingDeletions();
        EXPECT_EQ(c.exitCode, RunAndWait(Quoted(UninstallExe()) + " " + Quoted(log) + " /S /LOG=" + Quoted(report)));
        std::string text = ReadText(report);
        EXPECT_EQ(c.exitCode == 3010, text.find(log + ": note: an earlier removal waits for the restart: 1 "
                                                "pending deletion [earlier-at-restart]\r\n") != std::string::npos)
            << text;
        EXPECT_EQ(before, PendingDeletions()) << "the earlier run's entries stay as they were";
        EXPECT_TRUE(Missing(box + "\\App\\readme.txt"));
        EXPECT_EQ(0, RestartForPendingDeletions());
    }
    WipeTree(box);
}
