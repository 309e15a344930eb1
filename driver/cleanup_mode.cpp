/*
 * Clean-up mode: what the temporary copy runs. It waits for the first process
 * to end, removes each path it was given in order (a file, or a directory that
 * is already empty) and exits. It never walks a directory. The uninstaller may
 * not quite have ended after the pause (a loaded machine, a scanner looking at
 * its file): what it still holds is tried again for a while, and a file still
 * in use then is moved aside and deleted at the next restart.
 */
#include "driver/driver.h"
#include "removal/removal.h"

#include <stdlib.h>
#include <string.h>

static const DWORD RETRY_FOR_MS = 10000, RETRY_EVERY_MS = 100;

static char **Paths;    /* the paths given, in order */
static DWORD *Results;  /* how each path tried so far ended: 0 removed, else the code */

/* A path tried before that may still leave its folder: one this copy deleted
   that is still listed (another handle, a scanner's, keeps its name until it
   closes), or one still in use. One that failed for good never goes. */
static bool MayStillGo(size_t index)
{
    return Results[index] == 0 || IsInUse(Paths[index], Results[index]);
}

/* A failure that the uninstaller's ending may clear: its file in use, or a
   folder holding only paths listed before it that may still go: the
   uninstaller that is still ending, most likely. Anything else in the folder,
   a user's file, ends the wait at once. */
static bool MayClearSoon(const char *path, DWORD code, size_t index)
{
    return IsInUse(path, code) || (code == ERROR_DIR_NOT_EMPTY && Results != NULL &&
                                   HoldsOnlyPathsOf(path, Paths, index, MayStillGo));
}

void CleanupMode(int argc, char **argv)
{
    Sleep(1000); /* lets the first process end and release its executable */
    DWORD start = GetTickCount();
    Paths = argv + 2;
    Results = argc > 2 ? (DWORD *)malloc((size_t)(argc - 2) * sizeof(DWORD)) : NULL;
    for (int i = 2; i < argc; i++) {
        ErrorRef failure;
        while ((failure = RemovePath(argv[i])) != NULL &&
               MayClearSoon(argv[i], failure->code, (size_t)(i - 2)) &&
               GetTickCount() - start < RETRY_FOR_MS)
            Sleep(RETRY_EVERY_MS);
        if (Results != NULL)
            Results[i - 2] = failure != NULL ? failure->code : 0;
        /* Still in use: renamed aside and scheduled; never scheduled under its
           own name, which a reinstall may have taken by the restart. */
        char held[MAX_PATH];
        RestartFacts facts = {};
        facts.onCopyList = true;
        if (failure != NULL)
            RemoveAtRestart(argv[i], failure->code, &facts, held);
    }
    FinishRestartRemovals();
    ExitProcess(0);
}

ErrorRef RemovePath(const char *path)
{
    WIN32_FIND_DATAA found;
    HANDLE search;
    /* The search never finds a path that ends in a backslash, and only a
       directory can be named so. */
    size_t length = strlen(path);
    bool directory = EndsInChar(path, length, '\\', AnsiLeadBytes());
    if (CheckedFindFirstFile(path, &found, &search) == NULL) {
        CheckedFindClose(search);
        directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    /* In a folder that others may change, on the entry's own handle. */
    return DeleteRecordEntry(path, directory);
}
