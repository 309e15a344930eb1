/*
 * Silent mode: the removal of wizard mode without its pages, for management
 * tools that run the Uninstall entry's quiet command and wait for the process.
 * No window class, no window, no message box: the report if one is asked for,
 * the log's records, then the clean-up copy for the program's own paths, and
 * an exit code in Windows Installer's terms, which those tools already read.
 */
#include "driver/driver.h"
#include "removal/records.h"
#include "report/report.h"

#include <stdlib.h>

int IsSilentSwitch(const char *argument)
{
    return (argument[0] == '/' || argument[0] == '-') &&
           (argument[1] == 'S' || argument[1] == 's') && argument[2] == '\0';
}

const char *ReportSwitchPath(const char *argument)
{
    if ((argument[0] == '/' || argument[0] == '-') && EqualIgnoringAsciiCase(argument + 1, "LOG=", 4))
        return argument + 5;
    return NULL;
}

int ReadSwitches(int argc, char **argv)
{
    int silent = 0;
    for (int i = 2; i < argc; i++) {
        const char *path = ReportSwitchPath(argv[i]);
        if (path != NULL && ReportPath == NULL)
            ReportPath = path;
        silent |= IsSilentSwitch(argv[i]);
    }
    return silent;
}

void SilentMode(const char *logPath)
{
    /* Another uninstall is at work: nothing is touched, and the caller retries. */
    if (UninstallLockCode == ERROR_INSTALL_ALREADY_RUNNING)
        exit(ERROR_INSTALL_ALREADY_RUNNING);
    /* Needed before the first record: the own paths are deferred as in wizard mode. */
    GetModuleFileNameA(NULL, ModulePath, sizeof ModulePath);
    /* Before anything is removed: a caller that asked for a report and cannot
       have one learns it while the machine is still as it was. */
    if (ReportPath != NULL && !OpenReport(logPath, true))
        exit(ERROR_INSTALL_LOG_FAILURE);
    CountRecords(logPath); /* the exit code needs every record's outcome */
    /* Nobody is asked to close anything; the report names what was running. */
    if (ReportFile != NULL && FindRunningPrograms(logPath) > 0)
        ReportRunningPrograms();
    ProcessRemovalLog(logPath);
    DWORD copy = LaunchCleanupCopy(); /* not waited for: the copy removes this very file */
    DWORD code = SilentExitCode(copy);
    ReportCleanupCopy(copy);
    CloseReport((long)code);
    exit((int)code);
}
