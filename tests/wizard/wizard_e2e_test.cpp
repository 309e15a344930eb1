/*
 * The real uninstall.exe, driven from outside as a user would: pages found in
 * the frame, texts read back, buttons clicked, keys pressed through the dialog
 * manager, the stop question answered. Every run checks the exit code and the
 * effects on files and the registry (a key of our own under HKCU).
 */
#include "resources/resource_ids.h"
#include "support/test_support.h"
#include "support/wizard_driver.h"

#include <sddl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <string>

using namespace testsupport;
using namespace wizarddriver;

namespace {

const char PAGE1_TOP[] = "This program will remove Brenhow's Vorblend from your computer";
const char PAGE2_TOP[] = "You are now ready to remove Vorblend.";
const char PAGE2_MIDDLE[] = "Click on Continue to commence.";
const char PAGE3_MIDDLE[] = "The removal of Vorblend is now complete.";
const char PAGE3_BOTTOM[] = "Click on OK to finish this program";
const char STOP_QUESTION[] = "Do you want to stop uninstallation?";
const char NOT_COMPLETE[] = "Vorblend could not be removed completely.";
const char AT_RESTART[] = "Vorblend will be removed completely when Windows restarts.";

std::string CopyName() { return TempDirectory() + "uninstallqx.exe"; }

/* An installed product in a fresh sandbox: the uninstaller inside its folder,
   files, a tree, a shortcut and registry values, and the log that lists them. */
class Installed : public ::testing::Test {
protected:
    std::string box, folder, exe, log, key;

    void SetUp() override { Install(); }

    /* Also called again by a test that removes more than one installation;
       home: the installation's folder, when not in the sandbox. */
    void Install(const std::string &home = "", const std::string &program = UninstallExe())
    {
        const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
        box = Sandbox(std::string("e2e-") + info->name());
        folder = home.empty() ? box + "\\Vorblend" : home;
        exe = folder + "\\uninstall.exe";
        log = box + "\\install.log";
        key = "Software\\VorblendTest-" + std::to_string(GetCurrentProcessId());
        DeleteFileA(CopyName().c_str());

        MakeDirectory(folder);
        CopyFileA(program.c_str(), exe.c_str(), FALSE);
        MakeFile(folder + "\\readme.txt");
        MakeDirectory(folder + "\\data");
        MakeFile(folder + "\\data\\settings.ini");
        MakeDirectory(folder + "\\plugins");
        MakeDirectory(folder + "\\plugins\\filters");
        MakeFile(folder + "\\plugins\\filters\\blur.dll");
        MakeFile(folder + "\\plugins\\core.dll");
        MakeDirectory(box + "\\Desktop");
        MakeFile(box + "\\Desktop\\Vorblend.lnk");

        HKEY settings;
        RegCreateKeyExA(HKEY_CURRENT_USER, (key + "\\Settings").c_str(), 0, NULL, 0, KEY_ALL_ACCESS,
                        NULL, &settings, NULL);
        RegSetValueExA(settings, "Colour", 0, REG_SZ, (const BYTE *)"blue", 5);
        RegCloseKey(settings);

        MakeFile(log, "file:" + folder + "\\readme.txt\r\n"
                      "file:" + folder + "\\data\\settings.ini\r\n"
                      "dir:" + folder + "\\data\r\n"
                      "dirw:" + folder + "\\plugins\r\n"
                      "link:" + box + "\\Desktop\\Vorblend.lnk\r\n"
                      "key:HKCU\\" + key + "\\Settings\\Colour\r\n"
                      "key:HKCU\\" + key + "\\Settings\\\r\n"
                      "key:HKCU\\" + key + "\\\r\n"
                      "file:" + exe + "\r\n"
                      "dir:" + folder + "\r\n");
    }

    void TearDown() override
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, (key + "\\Settings").c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
        /* A clean-up copy still waiting must not find the folder gone under it. */
        GoneWithin(CopyName(), 5000);
        WipeTree(box);
    }

    /* Starts the uninstaller and waits for its frame: null when either failed. */
    HWND Launch(Uninstaller &run, bool withLog = true, int show = -1)
    {
        std::string line = Quoted(exe);
        if (withLog)
            line.append(" ").append(Quoted(log));
        return wizarddriver::Start(line, run, show) ? WaitForFrame(run) : NULL;
    }

    ::testing::AssertionResult KeyExists(const std::string &name)
    {
        HKEY opened;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
            return ::testing::AssertionFailure() << "HKCU\\" << name << " is missing";
        RegCloseKey(opened);
        return ::testing::AssertionSuccess();
    }

    /* Nothing of the installation has been touched. */
    void ExpectNothingRemoved()
    {
        EXPECT_TRUE(Exists(folder + "\\readme.txt"));
        EXPECT_TRUE(Exists(folder + "\\plugins\\filters\\blur.dll"));
        EXPECT_TRUE(Exists(box + "\\Desktop\\Vorblend.lnk"));
        EXPECT_TRUE(KeyExists(key + "\\Settings"));
        EXPECT_TRUE(Exists(exe));
        EXPECT_TRUE(Missing(CopyName())) << "no clean-up copy was started";
    }
};

/* Where the screenshots go, when a watcher serves them (see with-screenshots). */
std::string ShotDirectory()
{
    const char *directory = getenv("VORBLEND_SHOTS");
    return directory != NULL ? directory : "";
}

void Shoot(HWND frame, const char *name)
{
    if (!ShotDirectory().empty()) {
        EXPECT_TRUE(RequestScreenshot(frame, ShotDirectory(), name)) << name;
    }
}

void ExpectTexts(HWND page, int top, const char *topText, const char *middleText,
                 const char *bottomText)
{
    EXPECT_EQ(topText, ItemText(page, top));
    EXPECT_EQ(middleText, ItemText(page, top + 1));
    EXPECT_EQ(bottomText, ItemText(page, top + 2));
}

/* Presses the page's default button and waits for the page after it. */
HWND Continue(HWND frame, HWND page, Page next)
{
    Click(page, IDC_CONTINUE);
    return WaitForPage(frame, next);
}

/* Continue on each of the three pages in turn. */
void ContinueThroughAllPages(HWND frame)
{
    const Page pages[] = {PAGE1, PAGE2, PAGE3};
    for (Page expected : pages) {
        HWND page = WaitForPage(frame, expected);
        ASSERT_TRUE(page != NULL) << expected;
        Click(page, IDC_CONTINUE);
    }
}

/* Answers the stop question that must now be up, after checking it. */
void AnswerStop(const Uninstaller &run, int answer)
{
    HWND box = WaitForMessageBox(run);
    ASSERT_TRUE(box != NULL) << "no stop question";
    EXPECT_EQ(STOP_QUESTION, MessageBoxText(box));
    EXPECT_TRUE(GetDlgItem(box, IDYES) != NULL && GetDlgItem(box, IDNO) != NULL);
    EXPECT_TRUE(Answer(box, answer));
}

} // namespace

TEST_F(Installed, ContinueContinueOkRemovesEverythingAndTheUninstallerWithItsFolder)
{
    Uninstaller run;
    HWND frame = Launch(run);
    ASSERT_TRUE(frame != NULL);

    HWND page = WaitForPage(frame, PAGE1);
    ASSERT_TRUE(page != NULL);
    ExpectTexts(page, IDC_PROMPT1_TOP, PAGE1_TOP, "", "");
    EXPECT_EQ("Continue...", ItemText(page, IDC_CONTINUE));
    Shoot(frame, "page1");
    Click(page, IDC_CONTINUE);

    page = WaitForPage(frame, PAGE2);
    ASSERT_TRUE(page != NULL);
    ExpectTexts(page, IDC_PROMPT2_TOP, PAGE2_TOP, PAGE2_MIDDLE, "");
    EXPECT_TRUE(Exists(folder + "\\readme.txt")) << "nothing goes before the go-ahead";
    Shoot(frame, "page2");
    Click(page, IDC_CONTINUE);

    page = WaitForPage(frame, PAGE3);
    ASSERT_TRUE(page != NULL);
    ExpectTexts(page, IDC_PROMPT3_TOP, "", PAGE3_MIDDLE, PAGE3_BOTTOM);
    EXPECT_TRUE(Exists(exe)) << "the running program is left for the clean-up copy";
    Shoot(frame, "page3");
    Click(page, IDC_CONTINUE);
    EXPECT_EQ(0, WaitForExit(run));

    EXPECT_TRUE(Missing(folder + "\\readme.txt"));
    EXPECT_TRUE(Missing(folder + "\\data"));
    EXPECT_TRUE(Missing(folder + "\\plugins"));
    EXPECT_TRUE(Missing(box + "\\Desktop\\Vorblend.lnk"));
    EXPECT_FALSE(KeyExists(key));
    EXPECT_TRUE(GoneWithin(exe, 10000));
    EXPECT_TRUE(GoneWithin(folder, 10000));
    EXPECT_TRUE(GoneWithin(CopyName(), 10000));
}

TEST_F(Installed, BackOnPage2ShowsPage1AgainAndTheRemovalRunsOnlyAfterTheLastContinue)
{
    Uninstaller run;
    HWND frame = Launch(run);
    ASSERT_TRUE(frame != NULL);
    HWND page = WaitForPage(frame, PAGE1);
    ASSERT_TRUE(page != NULL);
    page = Continue(frame, page, PAGE2);
    ASSERT_TRUE(page != NULL);
    EXPECT_EQ("Back", ItemText(page, IDC_BACK));
    Click(page, IDC_BACK);

    page = WaitForPage(frame, PAGE1);
    ASSERT_TRUE(page != NULL);
    ExpectTexts(page, IDC_PROMPT1_TOP, PAGE1_TOP, "", "");
    EXPECT_TRUE(Exists(folder + "\\readme.txt"));
    page = Continue(frame, page, PAGE2);
    ASSERT_TRUE(page != NULL);
    ExpectTexts(page, IDC_PROMPT2_TOP, PAGE2_TOP, PAGE2_MIDDLE, "");
    EXPECT_TRUE(Exists(folder + "\\readme.txt"));
    Click(page, IDC_CONTINUE);

    page = WaitForPage(frame, PAGE3);
    ASSERT_TRUE(page != NULL);
    EXPECT_TRUE(Missing(folder + "\\readme.txt"));
    Click(page, IDC_CONTINUE);
    EXPECT_EQ(0, WaitForExit(run));
}

TEST_F(Installed, CancelAnsweredNoKeepsThePageAndYesOnPage1OrPage2EndsWithNothingRemoved)
{
    for (int stopOnPage = 1; stopOnPage <= 2; stopOnPage++) {
        SCOPED_TRACE(stopOnPage);
        Uninstaller run;
        HWND frame = Launch(run);
        ASSERT_TRUE(frame != NULL);
        HWND page = WaitForPage(frame, PAGE1);
        ASSERT_TRUE(page != NULL);
        if (stopOnPage == 2) {
            page = Continue(frame, page, PAGE2);
            ASSERT_TRUE(page != NULL);
        }

        Click(page, IDC_CANCEL);
        AnswerStop(run, IDNO);
        ASSERT_TRUE(IsWindow(page));
        if (stopOnPage == 1)
            ExpectTexts(page, IDC_PROMPT1_TOP, PAGE1_TOP, "", "");
        else
            ExpectTexts(page, IDC_PROMPT2_TOP, PAGE2_TOP, PAGE2_MIDDLE, "");

        Click(page, IDC_CANCEL);
        AnswerStop(run, IDYES);
        EXPECT_EQ(0, WaitForExit(run));
        ExpectNothingRemoved();
    }
}

TEST_F(Installed, EnterTabAndEscapeWorkThroughTheDialogManager)
{
    Uninstaller run;
    HWND frame = Launch(run);
    ASSERT_TRUE(frame != NULL);
    HWND page = WaitForPage(frame, PAGE1);
    ASSERT_TRUE(page != NULL);
    ASSERT_TRUE(WaitForFocus(page, IDC_CONTINUE)) << "the default button starts with the focus";
    PressKey(page, VK_RETURN);

    page = WaitForPage(frame, PAGE2);
    ASSERT_TRUE(page != NULL);
    ASSERT_TRUE(WaitForFocus(page, IDC_CONTINUE));
    PressKey(page, VK_TAB); /* from the last button round to the first: Back */
    ASSERT_TRUE(WaitForFocus(page, IDC_BACK));
    PressKey(page, VK_RETURN);

    page = WaitForPage(frame, PAGE1);
    ASSERT_TRUE(page != NULL);
    ASSERT_TRUE(WaitForFocus(page, IDC_CONTINUE));
    PressKey(page, VK_ESCAPE);
    AnswerStop(run, IDNO);
    PressKey(page, VK_TAB);
    ASSERT_TRUE(WaitForFocus(page, IDC_CANCEL));
    PressKey(page, VK_RETURN);
    AnswerStop(run, IDYES);
    EXPECT_EQ(0, WaitForExit(run));
    ExpectNothingRemoved();
}

TEST_F(Installed, EscapeKeepsPage3AndClosingTheFrameWithYesSkipsTheCleanupCopy)
{
    Uninstaller run;
    HWND frame = Launch(run);
    ASSERT_TRUE(frame != NULL);
    HWND page = WaitForPage(frame, PAGE1);
    ASSERT_TRUE(page != NULL);
    page = Continue(frame, page, PAGE2);
    ASSERT_TRUE(page != NULL);
    page = Continue(frame, page, PAGE3);
    ASSERT_TRUE(page != NULL);
    EXPECT_TRUE(GetDlgItem(page, IDC_CANCEL) == NULL) << "page 3 has no Cancel";

    ASSERT_TRUE(WaitForFocus(page, IDC_CONTINUE));
    PressKey(page, VK_ESCAPE);
    /* Posted after the key, so the question shows that the key was handled. */
    PostMessageA(frame, WM_CLOSE, 0, 0);
    AnswerStop(run, IDNO);
    EXPECT_TRUE(IsWindow(frame)) << "the frame is never destroyed";
    ASSERT_TRUE(IsWindow(page));
    ExpectTexts(page, IDC_PROMPT3_TOP, "", PAGE3_MIDDLE, PAGE3_BOTTOM);

    PostMessageA(frame, WM_CLOSE, 0, 0);
    AnswerStop(run, IDYES);
    EXPECT_EQ(0, WaitForExit(run));
    EXPECT_TRUE(Missing(folder + "\\readme.txt")) << "the removal had run";
    EXPECT_TRUE(Exists(exe)) << "deferred paths stay when the run is stopped";
    EXPECT_TRUE(Exists(folder));
    EXPECT_TRUE(Missing(CopyName()));
}

TEST_F(Installed, WithoutAnArgumentTheThreePagesRunAndNothingIsRemoved)
{
    Uninstaller run;
    HWND frame = Launch(run, false);
    ASSERT_TRUE(frame != NULL);
    ASSERT_NO_FATAL_FAILURE(ContinueThroughAllPages(frame));
    EXPECT_EQ(0, WaitForExit(run));
    ExpectNothingRemoved();
}

TEST_F(Installed, AHiddenFrameStillMovesFromPageToPage)
{
    /* Nothing repaints a hidden frame, so a closed page must wake the loop itself. */
    Uninstaller run;
    HWND frame = Launch(run, false, SW_HIDE);
    ASSERT_TRUE(frame != NULL);
    EXPECT_FALSE(IsWindowVisible(frame));
    ASSERT_NO_FATAL_FAILURE(ContinueThroughAllPages(frame));
    EXPECT_EQ(0, WaitForExit(run));
}

/* Waits for the run to end while watching for any window of the program's
   class or any message box of its own; the exit code, as WaitForExit gives it. */
static long WaitForExitUnseen(Uninstaller &run, bool *windowSeen)
{
    for (int polls = 0; polls < 300 && WaitForSingleObject(run.process, 50) == WAIT_TIMEOUT;
         polls++) {
        if (FindWindowA("Uninstall", NULL) != NULL || FindTopLevel(run.id, "#32770", NULL) != NULL)
            *windowSeen = true;
    }
    return WaitForExit(run);
}

TEST_F(Installed, SilentSwitchRemovesEverythingUnseenAndAnyOtherSecondArgumentShowsPage1)
{
    const struct {
        const char *second;
        bool silent;
    } cases[] = {{"/S", true}, {"/s", true}, {"-S", true}, {"-s", true},
                 {"/x", false}, {"/silent", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.second);
        Install();
        Uninstaller run;
        ASSERT_TRUE(Start(Quoted(exe) + " " + Quoted(log) + " " + c.second + " ignored", run));
        if (c.silent) {
            bool windowSeen = false;
            EXPECT_EQ(0, WaitForExitUnseen(run, &windowSeen));
            EXPECT_FALSE(windowSeen);
            EXPECT_TRUE(Missing(box + "\\Desktop\\Vorblend.lnk"));
            EXPECT_FALSE(KeyExists(key));
            /* The folder held the files, the tree and the uninstaller. */
            EXPECT_TRUE(GoneWithin(folder, 10000));
            EXPECT_TRUE(GoneWithin(CopyName(), 10000));
        } else {
            HWND frame = WaitForFrame(run);
            ASSERT_TRUE(frame != NULL);
            HWND page = WaitForPage(frame, PAGE1);
            ASSERT_TRUE(page != NULL);
            Click(page, IDC_CANCEL);
            AnswerStop(run, IDYES);
            EXPECT_EQ(0, WaitForExit(run));
            ExpectNothingRemoved();
        }
    }

    /* A log that is not there: nothing to do, and still no window; the caller
       learns that nothing was installed there. */
    Uninstaller run;
    ASSERT_TRUE(Start(Quoted(exe) + " " + Quoted(box + "\\absent.log") + " /S", run));
    bool windowSeen = false;
    EXPECT_EQ(1605, WaitForExitUnseen(run, &windowSeen));
    EXPECT_FALSE(windowSeen);
    ExpectNothingRemoved();
}

TEST_F(Installed, ThePagesRunWithTheVersion6CommonControlsLoaded)
{
    /* The program imports no comctl32: only the manifest's dependency, sending
       the dialogs' Button and Static classes to version 6, loads it, and from
       the side-by-side store rather than system32. */
    Uninstaller run;
    HWND frame = Launch(run, false);
    ASSERT_TRUE(frame != NULL);
    ASSERT_TRUE(WaitForPage(frame, PAGE1) != NULL);
    std::string comctl32;
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, run.id);
    MODULEENTRY32 module = {};
    module.dwSize = sizeof module;
    for (BOOL more = Module32First(modules, &module); more; more = Module32Next(modules, &module)) {
        if (_stricmp(module.szModule, "comctl32.dll") == 0)
            comctl32 = module.szExePath;
    }
    CloseHandle(modules);
    for (char &c : comctl32)
        c = (char)tolower((unsigned char)c);
    EXPECT_NE(std::string::npos, comctl32.find("\\winsxs\\amd64_microsoft.windows.common-controls_6595b64144ccf1df_6.")) << comctl32;
    ASSERT_NO_FATAL_FAILURE(ContinueThroughAllPages(frame));
    EXPECT_EQ(0, WaitForExit(run));
}

TEST_F(Installed, TheWizardWithLogSwitchShowsTheSamePagesAndReportsOnlyARemovalThatRan)
{
    const struct {
        int stopOnPage; /* 0: Continue through all three */
    } cases[] = {{0}, {2}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stopOnPage);
        Install();
        std::string report = box + "\\report.txt";
        Uninstaller run;
        ASSERT_TRUE(Start(Quoted(exe) + " " + Quoted(log) + " /LOG=" + Quoted(report), run));
        HWND frame = WaitForFrame(run);
        ASSERT_TRUE(frame != NULL);
        HWND page = WaitForPage(frame, PAGE1);
        ASSERT_TRUE(page != NULL);
        ExpectTexts(page, IDC_PROMPT1_TOP, PAGE1_TOP, "", "");
        page = Continue(frame, page, PAGE2);
        ASSERT_TRUE(page != NULL);
        ExpectTexts(page, IDC_PROMPT2_TOP, PAGE2_TOP, PAGE2_MIDDLE, "");
        if (c.stopOnPage == 2) {
            Click(page, IDC_CANCEL);
            AnswerStop(run, IDYES);
            EXPECT_EQ(0, WaitForExit(run));
            EXPECT_TRUE(Missing(report)) << "a run stopped before the removal reports nothing";
            ExpectNothingRemoved();
            continue;
        }
        Click(page, IDC_CONTINUE);
        page = WaitForPage(frame, PAGE3);
        ASSERT_TRUE(page != NULL);
        ExpectTexts(page, IDC_PROMPT3_TOP, "", PAGE3_MIDDLE, PAGE3_BOTTOM);
        Click(page, IDC_CONTINUE);
        EXPECT_EQ(0, WaitForExit(run));

        std::string text = ReadText(report);
        EXPECT_NE(std::string::npos, text.find("Mode: wizard\r\n")) << text;
        EXPECT_NE(std::string::npos, text.find(log + ":10:1: note: ")) << "one line per record\n" << text;
        EXPECT_EQ(std::string::npos, text.find("Exit code")) << text;
        EXPECT_TRUE(GoneWithin(folder, 10000));
        GoneWithin(CopyName(), 10000);
    }
}

namespace {

/* An entry's permissions as SDDL, to put back; Wine derives them from the
   Unix mode until a test sets them. */
std::string DescriptorOf(const std::string &path)
{
    char bytes[1024], *sddl = NULL;
    DWORD needed = 0, parts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    std::string text = GetFileSecurityA(path.c_str(), parts, bytes, sizeof bytes, &needed) &&
                       ConvertSecurityDescriptorToStringSecurityDescriptorA(bytes, SDDL_REVISION_1, parts, &sddl, NULL)
                           ? sddl : "";
    LocalFree(sddl);
    return text;
}

} // namespace

/* Page 3 by outcome, then the restart box where something waits for the
   restart: No restarts nothing; Yes schedules the uninstaller and its folder
   and makes the one restart call, restart_stand_in.exe's; a refusal is said. */
TEST_F(Installed, Page3SaysWhatStayedAndWhatWaitsForTheRestartAndOffersIt)
{
    const std::string note = TempDirectory() + "vorblend-restart.txt";
    std::string standIn = UninstallExe();
    standIn.replace(standIn.rfind('\\') + 1, std::string::npos, "restart_stand_in.exe");
    struct Restore { /* what later tests find: Wine's permissions, no test folder */
        std::string home, root = DescriptorOf("C:\\"), programFiles = DescriptorOf("C:\\Program Files");
        ~Restore()
        {
            GiveDescriptor("C:\\", root);
            GiveDescriptor("C:\\Program Files", programFiles);
            WipeTree(home);
        }
    } restore{"C:\\Program Files\\VorblendTest-" + std::to_string(GetCurrentProcessId())};
    const struct {
        const char *name;
        bool readOnly, report, inUse; /* a read-only file in the tree; /LOG=; a file held in an admin-only chain */
        const char *middle;
        int answer;          /* to the restart box; 0: none comes */
        const char *refused; /* the stand-in's failure code, "" for success */
    } cases[] = {
        {"complete", false, false, false, PAGE3_MIDDLE, 0, ""},
        {"read-only", true, false, false, NOT_COMPLETE, 0, ""},
        {"read-only with a report", true, true, false, NOT_COMPLETE, 0, ""},
        {"in use, No", false, false, true, AT_RESTART, IDNO, ""},
        {"in use, Yes", false, false, true, AT_RESTART, IDYES, ""},
        {"in use, Yes refused", false, false, true, AT_RESTART, IDYES, "1115"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Install(c.inUse ? restore.home : "", c.inUse ? standIn : UninstallExe());
        std::string report = TempDirectory() + "vorblend-" + std::to_string(GetCurrentProcessId()) + ".txt";
        std::string readme = folder + "\\readme.txt";
        if (c.readOnly)
            SetFileAttributesA((folder + "\\plugins\\core.dll").c_str(), FILE_ATTRIBUTE_READONLY);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.inUse) {
            ASSERT_TRUE(GiveDescriptor("C:\\", DriveRootSddl) && GiveDescriptor("C:\\Program Files", ProgramFilesSddl));
            for (const char *entry : {"", "\\readme.txt", "\\uninstall.exe", "\\data", "\\plugins"})
                ASSERT_TRUE(GiveDescriptor(folder + entry, InstalledSddl)) << entry;
            held = CreateFileA(readme.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        }
        SetEnvironmentVariableA("VORBLEND_RESTART_ANSWERS", c.refused);
        DeleteFileA(note.c_str());
        Uninstaller run;
        ASSERT_TRUE(Start(Quoted(exe) + " " + Quoted(log) + (c.report ? " /LOG=" + Quoted(report) : ""), run));
        HWND frame = WaitForFrame(run), page = frame ? Continue(frame, WaitForPage(frame, PAGE1), PAGE2) : NULL;
        page = page ? Continue(frame, page, PAGE3) : NULL;
        ASSERT_TRUE(page != NULL);
        EXPECT_EQ(c.middle, ItemText(page, IDC_PROMPT3_MIDDLE));
        std::string top = ItemText(page, IDC_PROMPT3_TOP);
        EXPECT_EQ(c.readOnly, top.find("tree '") == 0 && top.find("plugins' stopped at '") != std::string::npos) << top;
        EXPECT_EQ(c.report ? "The removal report lists each item: " + report : PAGE3_BOTTOM,
                  ItemText(page, IDC_PROMPT3_BOTTOM));
        Click(page, IDC_CONTINUE);
        if (c.answer != 0) {
            HWND question = WaitForMessageBox(run);
            ASSERT_TRUE(question != NULL);
            EXPECT_EQ("To finish removing Vorblend, Windows must restart. Restart now?", MessageBoxText(question));
            EXPECT_TRUE(GetWindowLongA(GetDlgItem(question, IDNO), GWL_STYLE) & BS_DEFPUSHBUTTON) << "No is the default";
            EXPECT_TRUE(Answer(question, c.answer));
        }
        if (*c.refused) {
            HWND failed = WaitForMessageBox(run);
            ASSERT_TRUE(failed != NULL);
            EXPECT_EQ(0u, MessageBoxText(failed).find("Windows was not restarted: ")) << MessageBoxText(failed);
            EXPECT_TRUE(Answer(failed, IDOK));
        }
        EXPECT_EQ(0, WaitForExit(run));
        EXPECT_EQ(c.answer == IDYES ? "2 80040002" : "", ReadText(note)) << "EWX_REBOOT, a planned installation";
        DeleteFileA(report.c_str());
        if (!c.inUse)
            continue;
        std::vector<std::string> pending = PendingDeletions();
        auto at = [&](const std::string &path) { return std::find(pending.begin(), pending.end(), path) - pending.begin(); };
        if (c.answer == IDYES) /* after the file in use, the uninstaller, then its folder, and no copy */
            EXPECT_TRUE(at(readme) < at(exe) && at(exe) < at(folder) && at(folder) < (long)pending.size() &&
                        Missing(CopyName()));
        else
            EXPECT_TRUE(at(readme) < (long)pending.size() && at(exe) == (long)pending.size() && GoneWithin(exe, 10000))
                << "No: the uninstaller is the clean-up copy's";
        CloseHandle(held);
        EXPECT_EQ(0, RestartForPendingDeletions());
        EXPECT_EQ(c.answer == IDYES, Missing(folder)) << "Yes: nothing is left after the restart";
        WipeTree(folder);
    }
    SetEnvironmentVariableA("VORBLEND_RESTART_ANSWERS", NULL);
}

/* A program running from the tree (the sleeper as vorblend.exe) is named
   before anything goes: Try Again once it has ended goes on; Continue goes on
   as before (the tree stops at it); Cancel shows page 2 with nothing removed. */
TEST_F(Installed, ARunningProgramInTheTreeIsNamedBeforeAnythingIsRemoved)
{
    for (int answer : {IDTRYAGAIN, IDCONTINUE, IDCANCEL}) {
        SCOPED_TRACE(answer);
        Install();
        std::string running = folder + "\\plugins\\vorblend.exe";
        CopyFileA(SleeperExe().c_str(), running.c_str(), FALSE);
        HANDLE program = StartProgram(Quoted(running) + " 60000", box.c_str());
        Uninstaller run;
        HWND frame = Launch(run), page = frame ? Continue(frame, WaitForPage(frame, PAGE1), PAGE2) : NULL;
        ASSERT_TRUE(page != NULL);
        Click(page, IDC_CONTINUE);
        HWND question = WaitForMessageBox(run);
        ASSERT_TRUE(question != NULL);
        EXPECT_EQ("These programs use Vorblend's files:\n\nvorblend.exe\n\nClose these programs, then click Try "
                  "Again. Click Continue to remove Vorblend anyway: what they keep goes when Windows restarts, "
                  "or stays.", MessageBoxText(question));
        EXPECT_TRUE(Exists(folder + "\\readme.txt")) << "nothing goes before the answer";
        if (answer == IDTRYAGAIN) {
            TerminateProcess(program, 0);
            WaitForSingleObject(program, 5000);
        }
        EXPECT_TRUE(Answer(question, answer));
        page = WaitForPage(frame, answer == IDCANCEL ? PAGE2 : PAGE3);
        ASSERT_TRUE(page != NULL);
        if (answer == IDCANCEL)
            ExpectNothingRemoved();
        else
            EXPECT_EQ(answer == IDTRYAGAIN ? PAGE3_MIDDLE : NOT_COMPLETE, ItemText(page, IDC_PROMPT3_MIDDLE));
        Click(page, answer == IDCANCEL ? IDC_CANCEL : IDC_CONTINUE);
        if (answer == IDCANCEL)
            AnswerStop(run, IDYES);
        EXPECT_EQ(0, WaitForExit(run));
        GoneWithin(CopyName(), 10000); /* the next installation finds no copy */
        TerminateProcess(program, 0);
        WaitForSingleObject(program, 5000);
        CloseHandle(program);
    }
}
