/*
 * One uninstall at a time: the run holds a named mutex in the global
 * namespace (creating one there needs no privilege) until it ends. A silent
 * run that finds it held ends with 1618, which management tools retry; the
 * wizard goes on as it always did. A mutex that another account created and
 * this one may not open is no reason to stop: answering 1618 then would let
 * any user block every removal.
 */
#include "driver/driver.h"

DWORD UninstallLockCode = 0; /* 0: held by this run; 1618: another run holds it; else why not */

static const char LOCK_NAME[] = "Global\\Brenhow.Vorblend.Uninstall";

DWORD TakeUninstallLock()
{
    HANDLE lock = NULL;
    ErrorRef failure = CheckedCreateMutex(LOCK_NAME, &lock);
    if (failure != NULL || lock == NULL) {
        UninstallLockCode = failure != NULL ? failure->code : ERROR_INVALID_HANDLE;
        return UninstallLockCode;
    }
    /* Abandoned by a run that ended without letting go: this run has it now.
       The handle stays open, and the mutex held, until the process ends. */
    DWORD waited = WaitForSingleObject(lock, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        UninstallLockCode = 0;
    else if (waited == WAIT_TIMEOUT)
        UninstallLockCode = ERROR_INSTALL_ALREADY_RUNNING;
    else
        UninstallLockCode = GetLastError() != 0 ? GetLastError() : ERROR_INVALID_HANDLE;
    return UninstallLockCode;
}
