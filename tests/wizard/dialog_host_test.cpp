/*
 * The page host and the pages inside this test program: the class record, a
 * second registration refused with its message box, pages that cannot be
 * created, and pages driven from a second thread while the loop runs here.
 * The program carries the same templates as uninstall.exe.
 */
#include "wizard/wizard.h"

#include "resources/resource_ids.h"
#include "support/test_support.h"
#include "support/wizard_driver.h"

#include <cstring>
#include <string>
#include <thread>

using namespace testsupport;
using namespace wizarddriver;

namespace {

/* Answers every message box of this thread with `Reply` once it is up, and
   keeps what it saw. */
struct BoxWatch {
    static inline int Boxes;
    static inline int Reply;
    static inline std::string Caption, Text;
    HHOOK hook;

    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam)
    {
        HWND window = (HWND)wParam;
        if (code == HCBT_ACTIVATE && ClassOf(window) == "#32770") {
            char caption[64] = "";
            GetWindowTextA(window, caption, sizeof caption);
            Caption = caption;
            Text = ItemText(window, 0xffff);
            Boxes++;
            PostMessageA(window, WM_COMMAND, Reply, 0);
        }
        return CallNextHookEx(NULL, code, wParam, lParam);
    }
    explicit BoxWatch(int reply)
    {
        Boxes = 0;
        Reply = reply;
        Caption.clear();
        Text.clear();
        hook = SetWindowsHookExA(WH_CBT, Hook, NULL, GetCurrentThreadId());
    }
    ~BoxWatch() { UnhookWindowsHookEx(hook); }
};

void ResetHost()
{
    FrameWindow = NULL;
    CurrentPage = NULL;
    PageHandler = NULL;
    PageActive = 0;
}

/* The class and a frame of this program, removed again afterwards. */
class Host : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetHost();
        InstanceHandle = GetModuleHandleA(NULL);
        ASSERT_TRUE(RegisterUninstallClass());
    }
    void TearDown() override
    {
        if (FrameWindow != NULL)
            DestroyWindow(FrameWindow);
        ResetHost();
        InstanceHandle = GetModuleHandleA(NULL);
        UnregisterClassA("Uninstall", InstanceHandle);
    }
};

/* Runs `act` on the page once it is ready, from another thread, while the
   loop runs in this one. */
template <typename Act> std::thread Drive(Page page, Act act)
{
    HWND frame = FrameWindow;
    return std::thread([=] {
        HWND shown = WaitForPage(frame, page);
        if (shown != NULL)
            act(shown);
    });
}

} // namespace

TEST(RegisterUninstallClass, FillsTheClassRecordAndRefusesASecondTimeWithOneMessageBox)
{
    InstanceHandle = GetModuleHandleA(NULL);
    ASSERT_TRUE(RegisterUninstallClass());
    WNDCLASSA record;
    ASSERT_TRUE(GetClassInfoA(InstanceHandle, "Uninstall", &record));
    EXPECT_EQ(0u, record.style);
    EXPECT_TRUE(record.lpfnWndProc == UninstallWindowProc);
    EXPECT_EQ(0, record.cbClsExtra);
    EXPECT_EQ(DLGWINDOWEXTRA, record.cbWndExtra);
    EXPECT_TRUE(record.hIcon != NULL) << "this program carries the icon too";
    EXPECT_TRUE(record.hCursor == LoadCursorA(NULL, IDC_ARROW));
    EXPECT_EQ((HBRUSH)(COLOR_BTNFACE + 1), record.hbrBackground);
    EXPECT_TRUE(record.lpszMenuName == NULL);

    {
        BoxWatch watch(IDOK);
        EXPECT_FALSE(RegisterUninstallClass()) << "the class is already registered";
        EXPECT_EQ(1, BoxWatch::Boxes);
        EXPECT_EQ("Uninstall", BoxWatch::Caption);
        EXPECT_EQ("Failed to register Uninstall class", BoxWatch::Text);
    }
    UnregisterClassA("Uninstall", InstanceHandle);
}

TEST(RunMessageLoop, UsesUpAQuitMessageAndReturnsWhenNoPageIsActive)
{
    ResetHost();
    PostQuitMessage(0);
    RunMessageLoop();
    MSG left;
    EXPECT_FALSE(PeekMessageA(&left, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(Host, TheFrameIsShownWithTheShowCommandAndItsCloseAsksWithoutDestroyingIt)
{
    ASSERT_EQ(NULL, CreateFrameWindow(SW_SHOWNORMAL));
    ASSERT_TRUE(FrameWindow != NULL);
    EXPECT_TRUE(IsWindowVisible(FrameWindow));
    EXPECT_EQ("Uninstall", ClassOf(FrameWindow));

    BoxWatch watch(IDNO);
    SendMessageA(FrameWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(1, BoxWatch::Boxes);
    EXPECT_EQ("Do you want to stop uninstallation?", BoxWatch::Text);
    EXPECT_TRUE(IsWindow(FrameWindow));
    MSG quit;
    EXPECT_FALSE(PeekMessageA(&quit, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) << "No posts no quit";
}

TEST_F(Host, APageWithoutATemplateIsPassedOverAndLeavesTheHostAsItWas)
{
    ASSERT_EQ(NULL, CreateFrameWindow(SW_HIDE));
    SetLastError(0xdeadbeef);
    ErrorRef failure = ShowPage("NoSuchPage", Prompt1Handler);
    ASSERT_TRUE(failure != NULL);
    EXPECT_TRUE(strstr(ErrorRecord.text, "(CreateDialog)") != NULL) << ErrorRecord.text;
    EXPECT_TRUE(CurrentPage == NULL);
    EXPECT_TRUE(PageHandler == NULL);
    EXPECT_EQ(0, PageActive);

    /* A module without the templates: every page fails at once, no loop runs. */
    InstanceHandle = GetModuleHandleA("kernel32.dll");
    EXPECT_TRUE(ShowPrompt1("a", "b", "c") != NULL);
    INT_PTR outcome = ShowPrompt2("a", "b", "c");
    EXPECT_NE(0, outcome);
    EXPECT_NE(RESULT_BACK, outcome);
    EXPECT_TRUE(ShowPrompt3("a", "b", "c") != NULL);
}

TEST_F(Host, NothingIsRemovedWhenTheConfirmationPageCannotBeShown)
{
    std::string box = Sandbox("no-confirmation");
    std::string target = box + "\\keep.txt";
    std::string log = box + "\\install.log";
    MakeFile(target);
    MakeFile(log, "file:" + target + "\r\n");
    ASSERT_EQ(NULL, CreateFrameWindow(SW_HIDE));

    InstanceHandle = GetModuleHandleA("kernel32.dll");
    char program[] = "uninstall.exe";
    std::string logArgument = log;
    char *argv[] = {program, logArgument.data(), NULL};
    EXPECT_EQ(0, RunWizard(2, argv));
    EXPECT_TRUE(Exists(target)) << "no go-ahead was given";
    WipeTree(box);
}

TEST_F(Host, Page2ReportsBackAndContinueAndIgnoresCommandsThatNoControlSent)
{
    ASSERT_EQ(NULL, CreateFrameWindow(SW_SHOWNORMAL));
    bool stayed = false;
    std::thread user = Drive(PAGE2, [&](HWND page) {
        EXPECT_EQ("You are now ready to remove Vorblend.", ItemText(page, IDC_PROMPT2_TOP));
        SendMessageA(page, WM_COMMAND, IDC_CONTINUE, 0); /* no control: nothing happens */
        SendMessageA(page, WM_COMMAND, IDC_CANCEL, 0);
        stayed = IsWindow(page) && PageActive == 1;
        Click(page, IDC_BACK);
    });
    EXPECT_EQ(RESULT_BACK, ShowPrompt2("You are now ready to remove Vorblend.", "m", "b"));
    user.join();
    EXPECT_TRUE(stayed);
    EXPECT_TRUE(CurrentPage == NULL);
    EXPECT_TRUE(PageHandler == NULL);
    EXPECT_EQ(0, PageActive);

    user = Drive(PAGE2, [](HWND page) { Click(page, IDC_CONTINUE); });
    EXPECT_EQ(0, ShowPrompt2("again", "m", "b"));
    user.join();
}
