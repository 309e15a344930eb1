/*
 * Clean-up mode: what the temporary copy runs. It waits for the first process
 * to end, removes each path it was given in order (a file, or a directory that
 * is already empty) and exits. It never walks a directory.
 */
#include "driver/driver.h"
#include "removal/removal.h"

#include <string.h>

void CleanupMode(int argc, char **argv)
{
    Sleep(1000); /* lets the first process end and release its executable */
    for (int i = 2; i < argc; i++)
        RemovePath(argv[i]);
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
    if (directory)
        return CheckedRemoveDirectory(path);
    return CheckedDeleteFile(path);
}
