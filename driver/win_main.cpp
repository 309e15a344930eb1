/*
 * The entry: keeps the instance handle, tells clean-up mode ("-u" as the first
 * argument, any case) from wizard mode, and runs wizard mode's steps in their
 * fixed order. Wizard and clean-up runs end with exit code 0; silent mode
 * ends with its own.
 */
#include "driver/driver.h"
#include "wizard/wizard.h"

#include <stdlib.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    InstanceHandle = instance;
    /* The clean-up copy runs from the temporary folder, where anything may lie
       beside it: libraries are loaded from the system folder only. */
    RestrictLibrarySearch();

    if (__argc > 1 && _stricmp(__argv[1], "-u") == 0)
        CleanupMode(__argc, __argv);
    /* Held until the process ends; the clean-up copy needs none. */
    TakeUninstallLock();
    /* The log, then "/S" or the like anywhere after it: the same removal, with
       no window at all. */
    if (ReadSwitches(__argc, __argv))
        SilentMode(__argv[1]);

    GetModuleFileNameA(NULL, ModulePath, sizeof ModulePath);
    /* Without the class there is no frame; without the frame no wizard. Either
       way the run ends through the drain below. */
    if (RegisterUninstallClass() && CreateFrameWindow(showCommand) == NULL)
        RunWizard(__argc, __argv);
    LaunchCleanupCopy();

    /* The final drain: what is still queued is dispatched, then the quit message
       ends the process with code 0 while the frame is still on screen. */
    PostQuitMessage(0);
    PageActive = 1;
    RunMessageLoop();
    return 0;
}
