/*
 * Program driver: the entry and its two modes, and the deferral of the
 * program's own paths to a temporary copy of itself that removes them once
 * this process has ended.
 */
#pragma once

#include "removal/removal.h"
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

/* single_run.cpp */

extern DWORD UninstallLockCode; /* 0: this run holds the lock; 1618: another one does; else why not */
extern HANDLE UninstallLock;    /* the lock's mutex, open until the process ends; null when none */

typedef BOOL(WINAPI *CheckTokenMembershipCall)(HANDLE token, PSID sid, BOOL *isMember);
/* The calls the lock's choice rests on: the namespace calls looked up in
   kernel32 (null where absent), or a test's stand-ins. */
struct NamespaceCalls {
    CheckTokenMembershipCall checkTokenMembership;
    CreateBoundaryDescriptorCall createBoundaryDescriptor;
    AddToBoundaryDescriptorCall addSIDToBoundaryDescriptor, addIntegrityLabelToBoundaryDescriptor;
    CreatePrivateNamespaceCall createPrivateNamespace;
    OpenPrivateNamespaceCall openPrivateNamespace;
};

/* Takes the lock against a second uninstall at the same time, for the rest of
   the run: an administrator's run, where the calls exist and succeed, in the
   private namespace; any other in Global\. UninstallLockCode says how it went. */
DWORD TakeUninstallLock(const NamespaceCalls *calls);
/* The same with the system's calls; what WinMain uses. */
DWORD TakeUninstallLock();

/* silent_mode.cpp */

/* 1 for "/S", "/s", "-S" or "-s": the switch, anywhere after the log, that
   removes without showing anything. */
int IsSilentSwitch(const char *argument);
/* The report's path from "/LOG=PATH" or "-LOG=PATH" (LOG in any case); null
   for any other argument. */
const char *ReportSwitchPath(const char *argument);
/* Reads every argument after the log: 1 when the run is silent. The first
   /LOG= sets ReportPath; anything else is ignored. */
int ReadSwitches(int argc, char **argv);
/* Wizard mode's removal and clean-up copy with no window at all; ends the
   process with Windows Installer's codes: 0, 1603, 1605, 1618, 1622 or 3010. */
[[noreturn]] void SilentMode(const char *logPath);

/* own_identity.cpp */

/* By final paths: the program's own file (ModulePath) or a folder above it. */
bool IsOwnPath(const char *path);

/* self_removal.cpp */

extern char ModulePath[MAX_PATH];   /* own full path; filled in wizard mode only */
extern char *PendingRemovalList;    /* "\"a\" \"b\"", deferred paths; null when none */
extern unsigned long CleanupPathsHanded; /* how many of them the copy's command line holds */

/* 1 when path is (ASCII case aside) a leading part of ModulePath: it is then
   listed for the clean-up copy and the caller must leave it in place. */
int DeferOwnPath(const char *path);
/* The same for a path whose removal failed, by identity: the program's own
   file, or a folder above it, under another spelling. */
int DeferOwnIdentity(const char *path);
/* Places the temporary copy and starts it on the listed paths; waits for nothing.
   Starts nothing unless the copy is a new file with the program's own bytes.
   0 when it started or nothing was listed, else the system's reason. */
DWORD LaunchCleanupCopy();

/* Whether every listed path may be deleted at the next restart where it
   stands: an elevated run, and each one's chain is trusted (ChainIsTrusted).
   True when nothing is listed. */
bool OwnPathsMayWaitForRestart();
/* Schedules every listed path for deletion at the next restart, in the list's
   order (the file before the folders that hold it), and empties the list, so
   that no clean-up copy is started. On a failure the list stays whole for the
   copy; what was scheduled stays scheduled. */
ErrorRef ScheduleOwnPathsAtRestart();

typedef DWORD(WINAPI *TempPathQuery)(DWORD length, LPSTR buffer);
/* The temporary folder from GetTempPath2A when given, else from GetTempPathA;
   its length as the call answered it. */
DWORD GetTempFolder(TempPathQuery getTempPath2, char folder[MAX_PATH]);
/* How long a copy may have run before a later launch that finds it holding
   the copy's path ends it. */
extern DWORD StaleCopyAfterMs;
/* Called, when set, between the writing of the copy and its opening. */
extern void (*CleanupCopyWritten)(const char *copyPath);
