/*
 * Wizard interface: the window class shared by the frame and every page, the
 * page host with its one message loop and the stop question, the three pages
 * in sequence with the box of programs in use, page 3's account of the
 * removal and the restart that completes it.
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
/* With paths, each text is fitted to its control, the paths in it shortened
   (SetFittedText). */
ErrorRef ShowPrompt3(const char *top, const char *middle, const char *bottom,
                     const char *const paths[3] = NULL);
LRESULT CALLBACK Prompt1Handler(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK Prompt2Handler(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK Prompt3Handler(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int RunWizard(int argc, char **argv);

/* fitted_text.cpp */

/* The path's length bytes, cut to at most keep (5 or more) by "..." in its
   middle at character boundaries of leadBytes' code page (null: a
   single-byte one), into out; the bytes written, no terminator. A path of
   keep bytes or fewer is copied whole. */
size_t ShortenMiddle(const char *path, size_t length, size_t keep, char *out,
                     const unsigned char *leadBytes);
/* Sets the dialog item's text, every one of paths in it shortened alike until
   the text fits the item's client rectangle in its font
   (DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX), then every & doubled. Null or
   empty paths are passed over. */
void SetFittedText(HWND dialog, int id, const char *text, const char *const paths[], int count);

/* restart_offer.cpp */

extern ExitWindowsExCall RestartCall; /* ExitWindowsEx; a test seam, never the real call in a test */

/* Enables the shutdown privilege and asks for a restart (EWX_REBOOT, a
   planned application installation); null once the shutdown has begun. */
ErrorRef RequestRestart();
/* After page 3: the Yes/No restart question where the program's own paths may
   wait for the restart (Yes schedules them and restarts, ending the process),
   else a box that says to restart later; a failed request is said in a box. */
void OfferRestart();
