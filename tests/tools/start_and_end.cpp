/*
 * start_and_end.exe [-kill-after MS] COMMAND...: starts the command line and
 * ends itself at once, as a parent killed right after starting a program.
 * With -kill-after, a second thread ends it after MS milliseconds, wherever
 * the start has got to by then (inside CreateProcessA, most likely).
 */
#include <windows.h>

#include <stdlib.h>
#include <string.h>

static DWORD KillAfter;

static DWORD WINAPI EndLater(void *)
{
    Sleep(KillAfter);
    TerminateProcess(GetCurrentProcess(), 9);
    return 0;
}

/* The command line past this program's own name and its options. */
static char *Rest(char *line)
{
    bool quoted = false;
    for (; *line != '\0' && (quoted || (*line != ' ' && *line != '\t')); line++)
        if (*line == '"')
            quoted = !quoted;
    while (*line == ' ' || *line == '\t')
        line++;
    return line;
}

int main(int argc, char **argv)
{
    char *command = Rest(GetCommandLineA());
    if (argc > 2 && strcmp(argv[1], "-kill-after") == 0) {
        KillAfter = (DWORD)atol(argv[2]);
        command = Rest(Rest(command));
        CloseHandle(CreateThread(NULL, 0, EndLater, NULL, 0, NULL));
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return 1;
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
