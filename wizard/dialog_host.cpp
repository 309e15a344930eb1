/*
 * The page host: the window class shared by the frame and the pages, the one
 * window procedure, the showing and closing of pages and the message loop.
 */
#include "wizard/wizard.h"

HINSTANCE InstanceHandle; /* the program's own instance */
HWND FrameWindow;         /* the frame; never destroyed */
HWND CurrentPage;         /* the page now shown, or null */
WNDPROC PageHandler;      /* handler of CurrentPage, or null */
INT32 PageActive;         /* 1 while a page (or the final drain) runs the loop */
