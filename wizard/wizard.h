/*
 * Wizard interface: the window class shared by the frame and every page, the
 * page host with its one message loop and the stop question, and the three
 * pages in sequence.
 */
#pragma once

#include "syscalls/syscalls.h"

/* dialog_host.cpp */

extern HINSTANCE InstanceHandle; /* the program's own instance */
extern HWND FrameWindow;         /* the frame; never destroyed */
extern HWND CurrentPage;         /* the page now shown, or null */
extern WNDPROC PageHandler;      /* handler of CurrentPage, or null */
extern INT32 PageActive;         /* 1 while a page (or the final drain) runs the loop */

/* Nonzero on success; on failure the user has been told by a message box. */
int RegisterUninstallClass();
ErrorRef CreateFrameWindow(int showCommand);
LRESULT CALLBACK UninstallWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
ErrorRef ShowPage(const char *templateName, WNDPROC handler);
ErrorRef ClosePage();
void ConfirmStop(HWND owner);
/* Returns once the page has closed; the quit message while PageActive ends the process. */
void RunMessageLoop();
ErrorRef SetItemText(HWND dialog, int id, const char *text);
ErrorRef FocusItem(HWND dialog, int id);

/* wizard_pages.cpp */

const INT_PTR RESULT_BACK = 4;
extern INT_PTR Prompt2Result; /* 0 for Continue, RESULT_BACK for Back */

ErrorRef ShowPrompt1(const char *top, const char *middle, const char *bottom);
INT_PTR ShowPrompt2(const char *top, const char *middle, const char *bottom);
ErrorRef ShowPrompt3(const char *top, const char *middle, const char *bottom);
LRESULT CALLBACK Prompt1Handler(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK Prompt2Handler(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK Prompt3Handler(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int RunWizard(int argc, char **argv);
