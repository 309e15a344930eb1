/*
 * Program driver: the entry and its two modes, and the deferral of the
 * program's own paths to a temporary copy of itself that removes them once
 * this process has ended.
 */
#pragma once

#include "syscalls/syscalls.h"

/* library_search.cpp */

typedef BOOL(WINAPI *SetDefaultDllDirectoriesCall)(DWORD directoryFlags);
#define LIBRARY_SEARCH_SYSTEM32 1          /* the system folder only */
#define LIBRARY_SEARCH_NO_CURRENT_FOLDER 2 /* fallback: all but the current folder */

/* Restricts where libraries are loaded from, through setDefault when it is
   given (null: the call is absent) and SetDllDirectoryA("") otherwise; says
   which of the two it used. */
int RestrictLibrarySearch(SetDefaultDllDirectoriesCall setDefault);
/* The same, with the call looked up in kernel32; the first thing WinMain does. */
int RestrictLibrarySearch();

/* cleanup_mode.cpp */

/* argv[2..] are removed in order after a pause; ends the process with code 0. */
[[noreturn]] void CleanupMode(int argc, char **argv);
/* One empty directory or one file; the path is used exactly as given. */
ErrorRef RemovePath(const char *path);

/* silent_mode.cpp */

/* 1 for "/S", "/s", "-S" or "-s": the switch, second on the command line, that
   removes without showing anything. */
int IsSilentSwitch(const char *argument);
/* Wizard mode's removal and clean-up copy with no window at all; ends the
   process with code 0. */
[[noreturn]] void SilentMode(const char *logPath);

/* self_removal.cpp */

extern char ModulePath[MAX_PATH];   /* own full path; filled in wizard mode only */
extern char *PendingRemovalList;    /* "\"a\" \"b\"", deferred paths; null when none */

/* 1 when path is (ASCII case aside) a leading part of ModulePath: it is then
   listed for the clean-up copy and the caller must leave it in place. */
int DeferOwnPath(const char *path);
/* Places the temporary copy and starts it on the listed paths; waits for nothing.
   Starts nothing unless the copy is a new file with the program's own bytes. */
void LaunchCleanupCopy();

typedef DWORD(WINAPI *TempPathQuery)(DWORD length, LPSTR buffer);
/* The temporary folder from GetTempPath2A when given, else from GetTempPathA;
   its length as the call answered it. */
DWORD GetTempFolder(TempPathQuery getTempPath2, char folder[MAX_PATH]);
/* Called, when set, between the writing of the copy and its opening. */
extern void (*CleanupCopyWritten)(const char *copyPath);
