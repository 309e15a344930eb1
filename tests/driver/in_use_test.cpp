/*
 * The real uninstall.exe on files in use. A folder given no descriptor reads
 * as its Unix user's, so in the temporary folder no chain passes and nothing
 * is scheduled for the restart: a running program and a held file stay where
 * they are (1603), as the preview says; on the real descriptors of a machine's
 * Program Files they go at the restart only where the whole chain is the
 * administrators'; a read-only file still fails and the wizard, after naming
 * the running program, says so on page 3; the clean-up copy waits for what is
 * still in use; a second uninstall at the same time ends with 1618; a rerun
 * while an earlier removal waits for the restart ends with 3010.
 * Wine's wineboot -r stands in for the restart.
 */
#include "driver/driver.h"
#include "resources/resource_ids.h"
#include "support/test_support.h"
#include "support/wizard_driver.h"

#include <algorithm>
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

/* The line of the text that speaks of the log's line `line`; "" when none does. */
std::string LineFor(const std::string &text, const std::string &log, int line)
{
    std::string start = log + ":" + std::to_string(line) + ":";
    size_t at = text.find(start);
    return at == std::string::npos ? "" : text.substr(at, text.find('\n', at) - at);
}

} // namespace

TEST(InUse, UnderWineARunningProgramAndAHeldFileStayWhereTheyAreAndTheRunEnds1603)
{
    Installation in = Install("in-use-running", false);
    std::string held = in.box + "\\other\\held.dat", slashed = in.running;
    MakeFiles(in.box, {"other\\held.dat"});
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    MakeFile(in.log, "dirw:" + in.tree + "\r\ndirw:" + in.box + "\\other\r\nfile:" + slashed +
                         "\r\nfile:" + in.running + "\r\n");
    std::vector<std::string> before = PendingDeletions();
    std::string preview;
    RunCapturing(Quoted(LogcheckExe()) + " --system " + Quoted(in.log), preview);
    EXPECT_EQ(1603, Silent(in));
    EXPECT_EQ(before, PendingDeletions()) << "nothing scheduled";
    EXPECT_TRUE(Exists(in.running));
    EXPECT_TRUE(Exists(held));
    std::string report = ReadText(in.report);
    const struct {
        int line;
        const char *predicted, *reported;
    } lines[] = {
        {1, "[tree-stops]", "[tree-stopped]"},
        {2, "[tree-stops]", "[tree-stopped]"},
        {3, "[will-fail-in-use]", "[failed-in-use]"},
        {4, "[will-fail-in-use]", "[failed-in-use]"},
    };
    for (const auto &l : lines) {
        SCOPED_TRACE(l.line);
        std::string said = LineFor(preview, in.log, l.line), done = LineFor(report, in.log, l.line);
        EXPECT_NE(std::string::npos, said.find(l.predicted)) << preview;
        EXPECT_NE(std::string::npos, said.find("in use")) << said;
        EXPECT_NE(std::string::npos, done.find(l.reported)) << report;
        EXPECT_NE(std::string::npos, done.find("in use")) << done;
    }
    EXPECT_NE(std::string::npos, report.find("\\vorblend.exe' (process ")) << "the program found running";
    CloseHandle(holder);
    Finish(in);
}

TEST(InUse, AReadOnlyFileStillFailsAndTheWizardSaysSoOnPage3)
{
    Installation silent = Install("in-use-silent", true);
    EXPECT_EQ(1603, Silent(silent));
    std::string report = ReadText(silent.report);
    EXPECT_NE(std::string::npos, report.find("(5, ")) << report;
    EXPECT_NE(std::string::npos, report.find("[failed-read-only]")) << report;
    EXPECT_NE(std::string::npos, report.find(", in use (5, ")) << report;
    EXPECT_TRUE(Exists(silent.readOnly));
    EXPECT_TRUE(HeldProgram().empty()) << "under Wine no chain passes";
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
            EXPECT_EQ("Vorblend could not be removed completely.",
                      wizarddriver::ItemText(shown, IDC_PROMPT3_MIDDLE));
        }
        wizarddriver::Click(shown, IDC_CONTINUE);
        /* The running program is named first; Continue goes on as before. */
        HWND box = page == wizarddriver::PAGE2 ? wizarddriver::WaitForMessageBox(run) : NULL;
        if (page == wizarddriver::PAGE2) {
            ASSERT_TRUE(box != NULL);
            EXPECT_TRUE(wizarddriver::Answer(box, IDCONTINUE));
        }
    }
    EXPECT_EQ(0, wizarddriver::WaitForExit(run));
    EXPECT_TRUE(Exists(wizard.running));
    EXPECT_TRUE(Exists(wizard.readOnly));
    EXPECT_TRUE(HeldProgram().empty());
    Finish(wizard);
}

/* The copy's pause is one second: a program that runs for three more is
   waited for; one that runs past the retries stays: under Wine no holding
   folder passes the chain test, so nothing is moved aside. */
TEST(CleanupMode, WaitsForAPathStillInUseAndUnderWineLeavesItAfterTheRetries)
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
        EXPECT_EQ(runs == 3000, Missing(program));
        bool moved = false;
        for (const std::string &path : PendingDeletions())
            moved = moved || path.find("program-" + std::to_string(runs)) != std::string::npos;
        if (runs == 3000) {
            EXPECT_FALSE(moved);
            EXPECT_LT(took, 10000u);
        } else {
            EXPECT_FALSE(moved) << "nothing scheduled under Wine";
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

namespace {

/* Some line of the text that speaks of the log's line `line` bears the tag. */
bool Says(const std::string &text, const std::string &log, int line, const std::string &tag)
{
    std::string start = log + ":" + std::to_string(line) + ":";
    for (size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + 1))
        if (text.substr(at, text.find('\n', at) - at).find(tag) != std::string::npos)
            return true;
    return false;
}

} // namespace

/* Real descriptors from C:\ down: a running program in one dirw: tree and a file
   held without delete sharing in another go at the restart only where nobody
   but SYSTEM, Administrators and TrustedInstaller can change a folder on their
   paths; elsewhere they stay and nothing is scheduled or made. The preview,
   the report and the exit code agree on every row. */
TEST(InUse, OnRealPermissionsOnlyAnAdminOnlyChainLetsFilesInUseGoAtTheRestart)
{
    const std::string usersModify = InstalledSddl + "(A;OICI;0x1301bf;;;BU)",
                      userOwned = "O:S-1-5-21-1-2-3-1001D:PAI(A;OICI;FA;;;S-1-5-21-1-2-3-1001)(A;OICI;FA;;;SY)",
                      rootUsersFull = DriveRootSddl + "(A;OICI;FA;;;BU)";
    const struct {
        const char *name;
        std::string program, root; /* the program's folders' descriptor, C:\'s */
        bool userAbove, junction, scheduled;
    } cases[] = {
        {"admin-only, as a real machine has it", InstalledSddl, DriveRootSddl, false, false, true},
        {"the program's folder grants Users modify", usersModify, DriveRootSddl, false, false, false},
        {"a folder above is a standard user's", InstalledSddl, DriveRootSddl, true, false, false},
        {"C:\\ grants Users full control", InstalledSddl, rootUsersFull, false, false, false},
        {"a folder on the path is a junction", InstalledSddl, DriveRootSddl, false, true, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string box = InstalledSandbox("real-chain"), real = box + "\\Brenhow";
        std::string app = (c.junction ? box + "\\link" : real) + "\\Vorblend";
        std::string program = real + "\\Vorblend\\run\\bin\\vorblend.exe", held = real + "\\Vorblend\\held\\held.dat";
        MakeDirectory(real);
        MakeFiles(real, {"Vorblend\\run\\bin\\", "Vorblend\\held\\held.dat"});
        CopyFileA(SleeperExe().c_str(), program.c_str(), FALSE);
        GiveTree(real, InstalledSddl);
        GiveTree(real + "\\Vorblend\\run", c.program);
        GiveTree(real + "\\Vorblend\\held", c.program);
        if (c.userAbove) {
            EXPECT_TRUE(GiveDescriptor(real, userOwned));
        }
        EXPECT_TRUE(GiveDescriptor("C:\\", c.root));
        if (c.junction) {
            ASSERT_TRUE(MakeFolderLink(box + "\\link", real));
        }
        HANDLE running = StartProgram(Quoted(program) + " 60000", box.c_str());
        HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        Sleep(500);
        std::string log = box + "\\removal.log", report = box + "\\report.txt", preview;
        MakeFile(log, "dirw:" + app + "\\run\r\ndirw:" + app + "\\held\r\n");
        RunCapturing(Quoted(LogcheckExe()) + " --system " + Quoted(log), preview);
        size_t before = PendingDeletions().size();

        EXPECT_EQ(c.scheduled ? 3010 : 1603,
                  RunAndWait(Quoted(UninstallExe()) + " " + Quoted(log) + " /S /LOG=" + Quoted(report)));
        std::string said = ReadText(report);
        for (int line : {1, 2}) {
            /* Through the junction the running program's handle leads elsewhere. */
            bool redirected = c.junction && line == 1;
            EXPECT_TRUE(Says(preview, log, line, c.scheduled    ? "[will-remove-at-restart]"
                                                 : redirected ? "[redirected]"
                                                              : "[tree-stops]")) << preview;
            EXPECT_TRUE(Says(said, log, line, c.scheduled    ? "[at-restart]"
                                              : redirected ? "[redirected]"
                                                           : ", in use (")) << said;
        }
        std::vector<std::string> holders = HoldingFolders();
        EXPECT_EQ(c.scheduled ? 1u : 0u, holders.size()) << "a holding folder only where the program moves";
        EXPECT_EQ(c.scheduled, (bool)Missing(program));
        EXPECT_TRUE(Exists(held));
        if (c.scheduled) {
            EXPECT_EQ(before + 5, PendingDeletions().size()); /* holder, program, holder, held.dat, its folder */
            EXPECT_EQ(3010, RunAndWait(Quoted(UninstallExe()) + " " + Quoted(log) + " /S /LOG=" + Quoted(report)));
            EXPECT_NE(std::string::npos, ReadText(report).find("[earlier-at-restart]"));
        } else {
            EXPECT_EQ(before, PendingDeletions().size()) << "nothing scheduled";
        }
        TerminateProcess(running, 0);
        WaitForSingleObject(running, 5000);
        CloseHandle(running);
        CloseHandle(holder);
        MakeFiles(real, {"Vorblend\\run\\bin\\vorblend.exe"}, "reinstalled");
        EXPECT_EQ(0, RestartForPendingDeletions());
        EXPECT_TRUE(HoldingFolders().empty());
        EXPECT_EQ("reinstalled", ReadText(program)) << "a reinstalled program is never touched";
        EXPECT_EQ(c.scheduled, (bool)Missing(real + "\\Vorblend\\held"));
        if (c.junction) {
            EXPECT_TRUE(RemoveFolderLink(box + "\\link"));
        }
        WipeTree(box);
    }
}

/* The clean-up copy, the uninstaller's file still running past its retries in
   an admin-only chain: the file is moved aside, and its folder goes at once. */
TEST(CleanupMode, OnRealPermissionsMovesAProgramStillRunningAsideAndRemovesItsFolder)
{
    std::string box = InstalledSandbox("cleanup-real"), app = box + "\\App", program = app + "\\uninstall.exe";
    MakeDirectory(app);
    CopyFileA(SleeperExe().c_str(), program.c_str(), FALSE);
    GiveTree(app, InstalledSddl);
    HANDLE running = StartProgram(Quoted(program) + " 30000", box.c_str());
    Sleep(500);
    EXPECT_EQ(0, RunAndWait(Quoted(UninstallExe()) + " -u " + Quoted(program) + " " + Quoted(app), NULL, 40000));
    EXPECT_TRUE(Missing(app));
    ASSERT_EQ(1u, HoldingFolders().size());
    TerminateProcess(running, 0);
    WaitForSingleObject(running, 5000);
    CloseHandle(running);
    EXPECT_EQ(0, RestartForPendingDeletions());
    EXPECT_TRUE(HoldingFolders().empty());
    WipeTree(box);
}
