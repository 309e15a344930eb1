/*
 * The restart that completes a removal, offered after page 3 when something
 * waits for it. With it go the program's own file and folders, scheduled
 * where they stand, when their chain allows it; the clean-up copy is then not
 * started, since the restart would cut it short. Where the chain refuses, the
 * user is told to restart later and the copy removes them now.
 */
#include "wizard/wizard.h"

#include "driver/driver.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

ExitWindowsExCall RestartCall = ExitWindowsEx; /* test seam: no test makes the real call */

/* There is no minor reason for an application's uninstall. */
static const DWORD RESTART_REASON = SHTDN_REASON_MAJOR_APPLICATION |
                                    SHTDN_REASON_MINOR_INSTALLATION | SHTDN_REASON_FLAG_PLANNED;

ErrorRef RequestRestart()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return RecordLastError("OpenProcessToken", NULL);
    /* SE_SHUTDOWN_NAME's value (SE_SHUTDOWN_PRIVILEGE, 19) is the same on
       every system: no lookup. */
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid.LowPart = 19;
    privileges.Privileges[0].Luid.HighPart = 0;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    ErrorRef failure = CheckedAdjustTokenPrivileges(token, &privileges);
    CloseHandle(token);
    if (failure != NULL)
        return failure;
    return CheckedExitWindowsEx(RestartCall, EWX_REBOOT, RESTART_REASON);
}

void OfferRestart()
{
    static const char ASK[] = "To finish removing Vorblend, Windows must restart. Restart now?";
    char text[sizeof ErrorRecord.text + 128];
    strcpy(text, ASK);
    if (!OwnPathsMayWaitForRestart()) {
        strcpy(text + sizeof ASK - sizeof "Restart now?", "Restart it later.");
        MessageBoxA(FrameWindow, text, "Uninstall", MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (MessageBoxA(FrameWindow, text, "Uninstall",
                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;
    /* Scheduled first: once the request succeeds, the shutdown may end this
       process at any moment. */
    ErrorRef failure = ScheduleOwnPathsAtRestart();
    if (failure == NULL)
        failure = RequestRestart();
    if (failure == NULL)
        exit(0); /* the shutdown has begun */
    snprintf(text, sizeof text,
             "Windows was not restarted: %s\n\nRestart it later to finish removing Vorblend.",
             failure->text);
    MessageBoxA(FrameWindow, text, "Uninstall", MB_OK | MB_ICONERROR);
}
