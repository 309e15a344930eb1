/*
 * Drives a running uninstall.exe from another process as a user would: finds
 * its frame and pages, reads their texts, presses their buttons and keys,
 * answers the stop question, and asks for screenshots. Shared by the
 * end-to-end tests and walk_wizard.exe; needs nothing but Windows.
 *
 * Screenshot handshake: the driver creates "DIR\NAME.request" and waits until
 * that file is gone; scripts/screenshot-watch, serving the same folder from
 * the Linux side, then has written "DIR\NAME.png" and removed the request.
 */
#pragma once

#include <windows.h>

#include <string>

namespace wizarddriver {

/* A control on a page whose text is set once the page is filled: it tells the
   pages apart and says that the page is ready. */
enum Page { PAGE1 = 1011, PAGE2 = 1014, PAGE3 = 1019 };

const DWORD WAIT_MS = 15000; /* how long a window may take to appear or go */

struct Uninstaller {
    HANDLE process = NULL;
    DWORD id = 0;

    Uninstaller() = default;
    Uninstaller(const Uninstaller &) = delete;
    /* A run abandoned half-way must not leave the program on screen. */
    ~Uninstaller()
    {
        if (process != NULL) {
            TerminateProcess(process, 99);
            CloseHandle(process);
        }
    }
};

/* Starts a command line; show is the show command handed to the program. */
inline bool Start(const std::string &commandLine, Uninstaller &run, int show = -1)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (show >= 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = (WORD)show;
    }
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    run.process = process.hProcess;
    run.id = process.dwProcessId;
    return true;
}

/* The exit code, or -1 when the process did not end in time (it is then ended). */
inline long WaitForExit(Uninstaller &run, DWORD milliseconds = WAIT_MS)
{
    DWORD exitCode = (DWORD)-1;
    if (WaitForSingleObject(run.process, milliseconds) == WAIT_OBJECT_0)
        GetExitCodeProcess(run.process, &exitCode);
    else
        TerminateProcess(run.process, 99);
    CloseHandle(run.process);
    run.process = NULL;
    return (long)exitCode;
}

inline std::string ClassOf(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

inline DWORD ProcessOf(HWND window)
{
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    return id;
}

/* A top-level window of the process with this class and caption, or null. */
inline HWND FindTopLevel(DWORD processId, const char *className, const char *caption)
{
    HWND window = NULL;
    while ((window = FindWindowExA(NULL, window, className, caption)) != NULL) {
        if (ProcessOf(window) == processId)
            return window;
    }
    return NULL;
}

template <typename Probe> HWND Poll(Probe probe, DWORD milliseconds)
{
    for (DWORD waited = 0;; waited += 50) {
        HWND found = probe();
        if (found != NULL || waited >= milliseconds)
            return found;
        Sleep(50);
    }
}

inline HWND WaitForFrame(const Uninstaller &run, DWORD milliseconds = WAIT_MS)
{
    return Poll([&] { return FindTopLevel(run.id, "Uninstall", "Uninstall"); }, milliseconds);
}

/* The page inside the frame that holds the given control, once its text is set. */
inline HWND FindPage(HWND frame, Page page)
{
    HWND child = NULL;
    while ((child = FindWindowExA(frame, child, "Uninstall", NULL)) != NULL) {
        HWND marker = GetDlgItem(child, page);
        if (marker != NULL && GetWindowTextLengthA(marker) > 0)
            return child;
    }
    return NULL;
}

inline HWND WaitForPage(HWND frame, Page page, DWORD milliseconds = WAIT_MS)
{
    return Poll([&] { return FindPage(frame, page); }, milliseconds);
}

/* Any page at all in the frame (ready or not), or null. */
inline HWND AnyPage(HWND frame) { return FindWindowExA(frame, NULL, "Uninstall", NULL); }

inline std::string ItemText(HWND dialog, int id)
{
    char text[256] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

/* Posted, not sent: a click that opens a message box would otherwise hold us
   until the box is gone. */
inline void Click(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

inline HWND FocusOf(HWND window)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, NULL), &info);
    return info.hwndFocus;
}

/* A key as the keyboard would deliver it: to the window that has the focus, so
   that it passes the program's dialog manager. */
inline void PressKey(HWND anyWindowOfProgram, UINT key)
{
    HWND focus = FocusOf(anyWindowOfProgram);
    PostMessageA(focus, WM_KEYDOWN, key, 1);
    PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
}

/* Waits until the control with this id in the dialog has the focus. */
inline bool WaitForFocus(HWND dialog, int id, DWORD milliseconds = WAIT_MS)
{
    HWND item = GetDlgItem(dialog, id);
    return Poll([&] { return FocusOf(dialog) == item ? item : (HWND)NULL; }, milliseconds) != NULL;
}

/* The stop question (or any message box) of the process, by class and caption. */
inline HWND WaitForMessageBox(const Uninstaller &run, DWORD milliseconds = WAIT_MS)
{
    return Poll([&] { return FindTopLevel(run.id, "#32770", "Uninstall"); }, milliseconds);
}

/* A message box keeps its text in the static control with id 0xffff. */
inline std::string MessageBoxText(HWND box) { return ItemText(box, 0xffff); }

/* Presses IDYES or IDNO and waits until the box has gone. */
inline bool Answer(HWND box, int id, DWORD milliseconds = WAIT_MS)
{
    Click(box, id);
    return Poll([&] { return IsWindow(box) ? (HWND)NULL : box; }, milliseconds) != NULL;
}

/* Asks the watcher for a picture of the screen; true once it is written. The
   frame is repainted first, so that the picture shows the whole page. */
inline bool RequestScreenshot(HWND frame, const std::string &directory, const std::string &name,
                              DWORD milliseconds = WAIT_MS)
{
    RedrawWindow(frame, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    std::string request = directory + "\\" + name + ".request";
    HANDLE file = CreateFileA(request.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    for (DWORD waited = 0; waited < milliseconds; waited += 50) {
        if (GetFileAttributesA(request.c_str()) == INVALID_FILE_ATTRIBUTES)
            return GetFileAttributesA((directory + "\\" + name + ".png").c_str()) !=
                   INVALID_FILE_ATTRIBUTES;
        Sleep(50);
    }
    return false; /* nobody served it */
}

/* Starts the uninstaller and presses continueId (IDC_CONTINUE) on each of its
   three pages in turn; its exit code, or -1 when a page did not come. */
inline long WalkThreePages(const std::string &commandLine, int continueId)
{
    Uninstaller run;
    if (!Start(commandLine, run))
        return -1;
    HWND frame = WaitForFrame(run);
    for (Page page : {PAGE1, PAGE2, PAGE3}) {
        HWND shown = frame ? WaitForPage(frame, page) : NULL;
        if (shown == NULL)
            return -1;
        Click(shown, continueId);
    }
    return WaitForExit(run);
}

} // namespace wizarddriver
