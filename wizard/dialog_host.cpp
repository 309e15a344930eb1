/*
 * The page host: the window class shared by the frame and the pages, the one
 * window procedure, the showing and closing of pages, the stop question and
 * the one message loop. The host state below is owned here.
 */
#include "wizard/wizard.h"

#include <stdlib.h>

HINSTANCE InstanceHandle; /* the program's own instance */
HWND FrameWindow;         /* the frame; never destroyed */
HWND CurrentPage;         /* the page now shown, or null */
WNDPROC PageHandler;      /* handler of CurrentPage, or null */
INT32 PageActive;         /* 1 while a page (or the final drain) runs the loop */

int RegisterUninstallClass()
{
    WNDCLASSA windowClass;
    windowClass.style = 0;
    windowClass.lpfnWndProc = UninstallWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = DLGWINDOWEXTRA; /* the frame and the pages are dialogs */
    windowClass.hInstance = InstanceHandle;
    windowClass.hIcon = LoadIconA(InstanceHandle, "!Uninstall");
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszMenuName = NULL;
    windowClass.lpszClassName = "Uninstall";
    if (RegisterClassA(&windowClass) == 0) {
        MessageBoxA(NULL, "Failed to register Uninstall class", "Uninstall", MB_OK | MB_ICONERROR);
        return 0;
    }
    return 1;
}

ErrorRef CreateFrameWindow(int showCommand)
{
    /* Template names ignore case: this finds UNINSTALL. */
    ErrorRef failure = CheckedCreateDialog(InstanceHandle, "Uninstall", NULL, NULL, &FrameWindow);
    if (failure != NULL)
        return failure;
    ShowWindow(FrameWindow, showCommand);
    return NULL;
}

/* Frame first, then the page; anything else (a frame or page whose creation has
   not yet returned) is a plain dialog. */
LRESULT CALLBACK UninstallWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window == FrameWindow) {
        if (message == WM_DESTROY)
            return 0;
        if (message == WM_CLOSE)
            ConfirmStop(FrameWindow); /* the close goes on to the dialog manager either way */
        return DefDlgProcA(window, message, wParam, lParam);
    }
    if (window == CurrentPage) {
        if (PageHandler != NULL)
            return PageHandler(window, message, wParam, lParam);
        return DefDlgProcA(window, message, wParam, lParam);
    }
    return DefDlgProcA(window, message, wParam, lParam);
}

ErrorRef ShowPage(const char *templateName, WNDPROC handler)
{
    ErrorRef failure = CheckedCreateDialog(InstanceHandle, templateName, FrameWindow, NULL,
                                           &CurrentPage);
    if (failure == NULL) {
        PageHandler = handler;
        PageActive = 1;
    }
    return failure;
}

ErrorRef ClosePage()
{
    /* The state is cleared only afterwards, so the page's own destruction
       messages still reach its handler. */
    CheckedDestroyWindow(CurrentPage);
    CurrentPage = NULL;
    PageHandler = NULL;
    PageActive = 0;
    /* The loop below us leaves at the next message it takes, and drops that
       message: this one. Without it, a frame that has nothing to repaint (a
       hidden one) would leave the loop waiting for a message that never comes. */
    if (FrameWindow != NULL)
        PostMessageA(FrameWindow, WM_NULL, 0, 0);
    return NULL;
}

void ConfirmStop(HWND owner)
{
    if (MessageBoxA(owner, "Do you want to stop uninstallation?", "Uninstall",
                    MB_YESNO | MB_ICONQUESTION) == IDYES)
        PostQuitMessage(0);
}

/* The nearest window of our class, the message's own window included: the
   page for its buttons and texts, null when there is none. */
static HWND DialogOf(HWND window)
{
    while (window != NULL &&
           GetWindowLongPtrA(window, GWLP_WNDPROC) != (LONG_PTR)UninstallWindowProc)
        window = GetParent(window);
    return window;
}

void RunMessageLoop()
{
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) != 0) {
        if (PageActive == 0)
            return; /* the page closed during the last dispatch */
        /* The dialog manager gives the page Tab, Enter and Escape. */
        if (IsDialogMessageA(DialogOf(message.hwnd), &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    /* The quit message: a confirmed stop, or the end of the final drain. */
    if (PageActive != 0)
        exit(0);
}

ErrorRef SetItemText(HWND dialog, int id, const char *text)
{
    SetDlgItemTextA(dialog, id, text);
    return NULL;
}

ErrorRef FocusItem(HWND dialog, int id)
{
    HWND item;
    HWND previous;
    CheckedGetDlgItem(dialog, id, &item);
    return CheckedSetFocus(item, &previous);
}
