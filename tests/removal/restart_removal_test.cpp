/*
 * Files in use, on real files: a running program (5, but it renames), a file
 * held without delete sharing (32 for both), a read-only one; what goes at the
 * next restart is found in the system's list of pending deletions, and Wine's
 * wineboot -r carries them out. The tests that schedule anything give their
 * folders the descriptors of a real machine's Program Files (the tests' Wine
 * server keeps them): owned by Administrators, changeable by no one else.
 */
#include "driver/driver.h"
#include "removal/removal.h"
#include "report/report.h"
#include "support/test_support.h"

#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

bool NotElevated() { return false; }
bool DeletionDenied(const char *) { return false; }
ErrorRef OtherVolume(const char *from, const char *) { return RecordErrorCode(ERROR_NOT_SAME_DEVICE, "MoveFileEx", "%s", from); }

RestartStep StopAt;
bool StopsAt(RestartStep step) { return step != StopAt; }

/* Puts every seam back and forgets the deferrals. */
struct Seams {
    Seams()
    {
        PendingRemovalList = NULL;
        ModulePath[0] = '\0';
    }
    ~Seams()
    {
        RunIsElevated = RunsElevated;
        OpensForDeletion = opensForDeletion;
        MoveAside = moveAside;
        GoesOnAfter = goesOnAfter;
        RecordCarriedOut = NULL;
    }
    bool (*opensForDeletion)(const char *) = OpensForDeletion;
    ErrorRef (*moveAside)(const char *, const char *) = MoveAside;
    bool (*goesOnAfter)(RestartStep) = GoesOnAfter;
};

ErrorRef RemoveTreeAt(const std::string &path)
{
    char buffer[MAX_PATH] = "";
    lstrcpynA(buffer, path.c_str(), MAX_PATH);
    memset(&TreeRemoved, 0, sizeof TreeRemoved);
    return RemoveTree(buffer, "*.*");
}

/* The sleeper, copied into the folder and started there, its current folder `where`. */
HANDLE RunFrom(const std::string &program, const char *where = NULL)
{
    CopyFileA(SleeperExe().c_str(), program.c_str(), FALSE);
    HANDLE process = StartProgram(Quoted(program) + " 60000", where);
    Sleep(500); /* loaded and holding its file */
    return process;
}

void Stop(HANDLE process)
{
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
}

} // namespace

TEST(IsInUse, IsASharingViolationOrADeniedDeletionOfAFileThatStillOpensForIt)
{
    Seams seams;
    std::string box = Sandbox("in-use");
    MakeFile(box + "\\plain.txt");
    MakeFile(box + "\\ro.txt");
    SetFileAttributesA((box + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE running = RunFrom(box + "\\running.exe");
    const struct {
        std::string path;
        DWORD code;
        bool inUse;
    } cases[] = {
        {box + "\\plain.txt", ERROR_SHARING_VIOLATION, true},
        {box + "\\running.exe", ERROR_ACCESS_DENIED, true},
        {box + "\\ro.txt", ERROR_ACCESS_DENIED, false},
        {box, ERROR_ACCESS_DENIED, false},
        {box + "\\plain.txt", ERROR_FILE_NOT_FOUND, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path + " " + std::to_string(c.code));
        EXPECT_EQ(c.inUse, IsInUse(c.path.c_str(), c.code));
    }
    OpensForDeletion = DeletionDenied; /* permissions that deny deletion */
    EXPECT_FALSE(IsInUse((box + "\\running.exe").c_str(), ERROR_ACCESS_DENIED));
    Stop(running);
    SetFileAttributesA((box + "\\ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    WipeTree(box);
}

/* The running program's current folder lies in the tree too: the folder
   cannot go now (32) and goes at the restart where it stands, with the
   folders above it; the program itself is moved aside first, into a holding
   folder at the root of its volume, its new name scheduled before the rename
   and the folder after it. */
TEST(RemoveTree, MovesARunningProgramAsideAndSchedulesItsFolderForTheRestart)
{
    Seams seams;
    std::string box = InstalledSandbox("restart-running"), tree = box + "\\tree", bin = tree + "\\bin";
    MakeFiles(box, {"tree\\bin\\", "tree\\data\\a.txt", "tree\\b.txt", "canary.txt"});
    std::string program = bin + "\\vorblend.exe";
    HANDLE running = RunFrom(program, bin.c_str());
    GiveTree(tree, InstalledSddl);

    EXPECT_EQ(nullptr, RemoveTreeAt(tree));
    FinishRestartRemovals();
    EXPECT_EQ(3u, TreeRemoved.atRestart); /* the program, its folder, the top */
    EXPECT_EQ(2u, TreeRemoved.inPlace);
    EXPECT_TRUE(Missing(program));
    EXPECT_TRUE(Missing(tree + "\\data"));
    std::vector<std::string> pending = PendingDeletions();
    ASSERT_GE(pending.size(), 5u);
    std::string held = pending[pending.size() - 4], holder = held.substr(0, held.find_last_of('\\'));
    EXPECT_EQ(0u, holder.find(box.substr(0, 3) + "Vorblend-held-")) << held;
    EXPECT_EQ(3 + 14 + 16u, holder.size()) << holder;
    EXPECT_TRUE(Exists(held)) << "the moved program waits in the holding folder";
    EXPECT_EQ((std::vector<std::string>{holder, held, holder, bin, tree}),
              std::vector<std::string>(pending.end() - 5, pending.end()));
    EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
              GetFileAttributesA(holder.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

    /* A reinstall before the restart: its program is never touched. */
    Stop(running);
    MakeFile(program, "reinstalled");
    EXPECT_EQ(0, RestartForPendingDeletions());
    EXPECT_TRUE(Missing(holder));
    EXPECT_EQ("reinstalled", ReadText(program));
    EXPECT_TRUE(Exists(box + "\\canary.txt"));
    EXPECT_TRUE(PendingDeletions().empty());
    WipeTree(box);
}

/* Held without delete sharing, a file can be neither deleted nor renamed: it
   goes where it stands, and so do the folders it keeps, deepest first; a
   later dir: of a folder holding nothing else follows them. */
TEST(ProcessRemovalLog, SchedulesAHeldFileAndTheFoldersItKeepsInOrderAndEnds3010)
{
    Seams seams;
    std::string box = InstalledSandbox("restart-held"), app = box + "\\App";
    MakeFiles(box, {"App\\tree\\sub\\held.dat", "App\\tree\\x.txt", "App\\other.txt", "keep.txt"});
    GiveTree(app, InstalledSddl);
    std::string held = app + "\\tree\\sub\\held.dat";
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    MakeFile(box + "\\removal.log", "dirw:" + app + "\\tree\r\nfile:" + app + "\\other.txt\r\ndir:" +
                                        app + "\r\n");
    RecordCarriedOut = CountRecord;
    EXPECT_EQ(nullptr, ProcessRemovalLog((box + "\\removal.log").c_str()));
    EXPECT_EQ((DWORD)ERROR_SUCCESS_REBOOT_REQUIRED, SilentExitCode(0));

    std::vector<std::string> pending = PendingDeletions();
    ASSERT_GE(pending.size(), 4u);
    std::vector<std::string> last(pending.end() - 4, pending.end());
    EXPECT_EQ((std::vector<std::string>{held, app + "\\tree\\sub", app + "\\tree", app}), last);
    EXPECT_TRUE(Exists(held));
    EXPECT_TRUE(Missing(app + "\\tree\\x.txt"));

    CloseHandle(holder);
    EXPECT_EQ(0, RestartForPendingDeletions());
    EXPECT_TRUE(Missing(app));
    EXPECT_TRUE(Exists(box + "\\keep.txt"));
    WipeTree(box);
}

/* Without administrator rights nothing is scheduled; a deletion the
   permissions deny stays a failure; a rename that fails (17) leaves only
   entries that name nothing, never one of the file where it stands; a root
   that others may change gets no holding folder. */
TEST(RemoveTree, SchedulesOnlyWhatIsInUseAndOnlyWhenItMay)
{
    std::string box = InstalledSandbox("restart-seams"), tree = box + "\\tree";
    MakeDirectory(tree);
    HANDLE running = RunFrom(tree + "\\running.exe");
    GiveTree(tree, InstalledSddl);
    const struct {
        const char *name;
        bool elevated, denied, otherVolume, rootOthersMayChange;
        bool scheduled;
        size_t entries; /* new pending entries */
    } cases[] = {
        {"not elevated", false, false, false, false, false, 0},
        {"deletion denied", true, true, false, false, false, 0},
        {"the rename fails", true, false, true, false, false, 3},
        {"a root others may change", true, false, false, true, false, 0},
        {"moved aside", true, false, false, false, true, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Seams seams;
        RunIsElevated = c.elevated ? RunsElevated : NotElevated;
        if (c.denied)
            OpensForDeletion = DeletionDenied;
        if (c.otherVolume)
            MoveAside = OtherVolume;
        EXPECT_TRUE(GiveDescriptor("C:\\", DriveRootSddl + (c.rootOthersMayChange ? "(A;OICI;FA;;;BU)" : "")));
        size_t before = PendingDeletions().size();
        ErrorRef result = RemoveTreeAt(tree);
        FinishRestartRemovals();
        EXPECT_EQ(c.scheduled, result == nullptr);
        if (!c.scheduled) {
            ASSERT_NE(nullptr, result);
            EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, result->code) << "the deletion's own failure";
        }
        EXPECT_EQ(before + c.entries, PendingDeletions().size());
        EXPECT_EQ(c.scheduled, Missing(tree + "\\running.exe"));
    }
    EXPECT_TRUE(GiveDescriptor("C:\\", DriveRootSddl));
    Stop(running);
    EXPECT_EQ(0, RestartForPendingDeletions());
    WipeTree(box);
}

/* Reached by its short name, a held file is never scheduled under that name:
   by the restart another entry may bear it. */
TEST(RemoveTree, NeverSchedulesInPlaceWhatItReachedByAShortName)
{
    ASSERT_EQ(1252u, GetACP()) << "the folder's name has no form in 1252";
    Seams seams;
    std::string box = InstalledSandbox("restart-short"), tree = box + "\\tree";
    MakeDirectory(tree);
    std::wstring foreign = std::wstring(tree.begin(), tree.end()) + L"\\\x65e5\x672c";
    ASSERT_TRUE(CreateDirectoryW(foreign.c_str(), NULL));
    EXPECT_TRUE(GiveDescriptor(tree, InstalledSddl)); /* and the foreign folder, by its wide name: */
    PSECURITY_DESCRIPTOR installed = NULL;
    ConvertStringSecurityDescriptorToSecurityDescriptorA(InstalledSddl.c_str(), SDDL_REVISION_1, &installed, NULL);
    EXPECT_TRUE(SetFileSecurityW(foreign.c_str(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, installed));
    LocalFree(installed);
    HANDLE holder = CreateFileW((foreign + L"\\held.dat").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                NULL, CREATE_ALWAYS, 0, NULL);
    size_t before = PendingDeletions().size();
    ErrorRef result = RemoveTreeAt(tree);
    FinishRestartRemovals();
    ASSERT_NE(nullptr, result);
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, result->code);
    EXPECT_EQ(before, PendingDeletions().size());
    CloseHandle(holder);
    EXPECT_EQ(nullptr, RemoveTreeAt(tree));
    WipeTree(box);
}

Outcome Told;
void TellOutcome(const RecordReport *report) { Told = report->outcome; }

/* One folder above it that its user owns: a held file, of a record written
   with slashes too, is scheduled nowhere and stays in use where it was. */
TEST(ProcessRemovalLog, SchedulesNothingUnderAFolderAboveThatAUserOwns)
{
    Seams seams;
    std::string box = InstalledSandbox("restart-untrusted"), held = box + "\\App\\data\\held.dat";
    MakeFiles(box, {"App\\data\\held.dat"});
    GiveTree(box + "\\App", InstalledSddl);
    EXPECT_TRUE(GiveDescriptor(box + "\\App", "O:S-1-5-21-0-0-0-1000D:(A;;FA;;;S-1-5-21-0-0-0-1000)(A;;FA;;;SY)"));
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    std::string slashed = held;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    for (const std::string &record : {held, slashed}) {
        SCOPED_TRACE(record);
        MakeFile(box + "\\removal.log", "file:" + record + "\r\n");
        RecordCarriedOut = TellOutcome;
        size_t before = PendingDeletions().size();
        EXPECT_EQ(nullptr, ProcessRemovalLog((box + "\\removal.log").c_str()));
        EXPECT_EQ(WILL_FAIL_IN_USE, Told);
        EXPECT_EQ(before, PendingDeletions().size());
        EXPECT_TRUE(Exists(held));
    }
    CloseHandle(holder);
    WipeTree(box);
}

/* A run ended at any step of a move aside (as a kill would end it) leaves
   only pending entries after which the restart leaves nothing: no file in a
   holding folder and no holding folder. */
TEST(RemoveAtRestart, LeavesNothingForTheRestartToMissWhereverTheRunStops)
{
    std::string box = InstalledSandbox("restart-stops");
    for (RestartStep step : {STEP_HOLDER_SCHEDULED, STEP_HELD_SCHEDULED, STEP_RENAMED}) {
        SCOPED_TRACE(step);
        Seams seams;
        StopAt = step;
        GoesOnAfter = StopsAt;
        std::string program = box + "\\tool-" + std::to_string(step) + ".exe";
        HANDLE running = RunFrom(program);
        size_t before = PendingDeletions().size();
        RestartFacts facts = {};
        char held[MAX_PATH];
        RemoveAtRestart(program.c_str(), ERROR_ACCESS_DENIED, &facts, held);
        FinishRestartRemovals();
        std::vector<std::string> pending = PendingDeletions();
        ASSERT_EQ(before + 1 + step, pending.size());
        std::vector<std::string> added(pending.begin() + before, pending.end());
        std::string holder = added[0];
        EXPECT_NE(std::string::npos, holder.find("Vorblend-held-")) << holder;
        if (step >= STEP_HELD_SCHEDULED) {
            EXPECT_EQ(holder + "\\1-tool-" + std::to_string(step) + ".exe", added[1]);
        }
        if (step == STEP_RENAMED) {
            EXPECT_EQ(holder, added[2]) << "the folder's last entry follows its file";
        }
        EXPECT_EQ(step == STEP_RENAMED, Missing(program));
        Stop(running);
        EXPECT_EQ(0, RestartForPendingDeletions());
        EXPECT_TRUE(Missing(holder)) << "nor anything in it";
    }
    WipeTree(box);
}

/* An entry whose full path passes 260 bytes is cut short when it is spelled
   out: what is left of it may read as a listed path, but it is never one. */
TEST(HoldsOnlyPathsOf, NeverTakesANameCutShortForAListedOne)
{
    std::string box = Sandbox("cut-names"), full = box + "\\" + std::string(270 - box.size(), 'n');
    std::wstring wide = L"\\\\?\\" + std::wstring(full.begin(), full.end());
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    std::string cut = full.substr(0, MAX_PATH - 1);
    char *listed[] = {cut.data()};
    EXPECT_FALSE(HoldsOnlyPathsOf(box.c_str(), listed, 1, NULL));
    DeleteFileW(wide.c_str());
    WipeTree(box);
}
