/*
 * Silent mode: the removal of wizard mode without its pages, for management
 * tools that run the Uninstall entry's quiet command and wait for the process.
 * No window class, no window, no message box: the log's records, then the
 * clean-up copy for the program's own paths, then exit code 0.
 */
#include "driver/driver.h"
#include "removal/removal.h"

#include <stdlib.h>

int IsSilentSwitch(const char *argument)
{
    return (argument[0] == '/' || argument[0] == '-') &&
           (argument[1] == 'S' || argument[1] == 's') && argument[2] == '\0';
}

void SilentMode(const char *logPath)
{
    /* Needed before the first record: the own paths are deferred as in wizard mode. */
    GetModuleFileNameA(NULL, ModulePath, sizeof ModulePath);
    ProcessRemovalLog(logPath);
    LaunchCleanupCopy(); /* not waited for: the copy removes this very file */
    exit(0);
}
