/*
 * The library search of both modes. The clean-up copy runs from the temporary
 * folder, where anything may lie beside it, so libraries come from the system
 * folder only. SetDefaultDllDirectories is looked up rather than imported: a
 * Windows 7 without the 2011 loader update lacks it and would refuse to start
 * the program at all.
 */
#include "driver/driver.h"

int RestrictLibrarySearch(SetDefaultDllDirectoriesCall setDefault)
{
    if (setDefault != NULL) {
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
        return LIBRARY_SEARCH_SYSTEM32;
    }
    /* Takes at least the current folder out of the search; the program's own
       folder stays in it. */
    SetDllDirectoryA("");
    return LIBRARY_SEARCH_NO_CURRENT_FOLDER;
}

int RestrictLibrarySearch()
{
    /* kernel32 is always loaded: no library is loaded to find the call. */
    FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    return RestrictLibrarySearch((SetDefaultDllDirectoriesCall)(void *)found);
}
