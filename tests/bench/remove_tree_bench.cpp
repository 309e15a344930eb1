/*
 * Times one tree removal under Wine and prints the seconds it took:
 *   remove_tree_bench PATH          RemoveTree on PATH
 *   remove_tree_bench --rd PATH     cmd /c rd /s /q on PATH
 *   remove_tree_bench --rd-empty    cmd /c rem, the cost of starting cmd
 * scripts/benchmark builds the trees and compares the figures.
 */
#include "removal/removal.h"

#include <stdio.h>
#include <string.h>

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
    if (argc != 2 || strlen(argv[1]) >= MAX_PATH) {
        fprintf(stderr, "usage: remove_tree_bench PATH | --rd PATH | --rd-empty\n");
        return 1;
    }
    char path[MAX_PATH];
    strcpy(path, argv[1]);
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
