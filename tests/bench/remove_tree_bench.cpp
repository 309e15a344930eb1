/*
 * Times one tree removal under Wine and prints the seconds it took:
 *   remove_tree_bench PATH          RemoveTree on PATH, its folders given the
 *                                   descriptors of an installation in Program
 *                                   Files first (not timed): the calls by path
 *   remove_tree_bench --open PATH   RemoveTree on PATH as Wine leaves it, a
 *                                   folder others may change: deletions on handles
 *   remove_tree_bench --rd PATH     cmd /c rd /s /q on PATH
 *   remove_tree_bench --rd-empty    cmd /c rem, the cost of starting cmd
 * scripts/benchmark builds the trees and compares the figures.
 */
#include "removal/removal.h"

#include <sddl.h>
#include <stdio.h>
#include <string.h>

/* C:\ as shipped, everything else administrators' alone; folders only,
   the whole tree when asked. */
static void GiveAdminOnly(const char *path, bool root, bool tree)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    const char *sddl = root ? "O:SYG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;;LC;;;AU)"
                            : "O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, NULL))
        SetFileSecurityA(path, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                         descriptor);
    LocalFree(descriptor);
    char pattern[MAX_PATH];
    WIN32_FIND_DATAA found;
    snprintf(pattern, sizeof pattern, "%s\\*", path);
    HANDLE search = tree ? FindFirstFileA(pattern, &found) : INVALID_HANDLE_VALUE;
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        char inner[MAX_PATH];
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && strcmp(found.cFileName, ".") != 0 &&
            strcmp(found.cFileName, "..") != 0 &&
            snprintf(inner, sizeof inner, "%s\\%s", path, found.cFileName) < (int)sizeof inner)
            GiveAdminOnly(inner, false, true);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

static double Seconds(LARGE_INTEGER start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)(now.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
}

static int RunCommand(const char *commandLine)
{
    char line[1024];
    snprintf(line, sizeof line, "%s", commandLine);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return 0;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

int main(int argc, char **argv)
{
    LARGE_INTEGER start;
    if (argc == 2 && strcmp(argv[1], "--rd-empty") == 0) {
        QueryPerformanceCounter(&start);
        if (!RunCommand("cmd /c rem"))
            return 1;
        printf("%.6f\n", Seconds(start));
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "--rd") == 0) {
        char command[1024];
        snprintf(command, sizeof command, "cmd /c rd /s /q \"%s\"", argv[2]);
        QueryPerformanceCounter(&start);
        if (!RunCommand(command))
            return 1;
        printf("%.6f\n", Seconds(start));
        return GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES ? 0 : 2;
    }
    bool open = argc == 3 && strcmp(argv[1], "--open") == 0;
    if (argc != 2 + open || strlen(argv[argc - 1]) >= MAX_PATH - 1) {
        fprintf(stderr, "usage: remove_tree_bench [--open] PATH | --rd PATH | --rd-empty\n");
        return 1;
    }
    char path[MAX_PATH];
    strcpy(path, argv[argc - 1]);
    if (!open) {
        char folder[MAX_PATH];
        strcpy(folder, path);
        *strrchr(folder, '\\') = '\0';
        GiveAdminOnly("C:\\", true, false);
        GiveAdminOnly(folder, false, false); /* the folder holding the tree */
        GiveAdminOnly(path, false, true);
    }
    QueryPerformanceCounter(&start);
    ErrorRef result = RemoveTree(path, "*.*");
    double elapsed = Seconds(start);
    if (result != NULL) {
        fprintf(stderr, "RemoveTree failed: %s\n", result->text);
        return 2;
    }
    printf("%.6f\n", elapsed);
    return 0;
}
