/*
 * Linked with driver/win_main.cpp into restart_stand_in.exe: uninstall.exe
 * with its one restart call (ExitWindowsEx) replaced. Under Wine the real call
 * ends every windowed program of the prefix and restarts nothing, so no test
 * may make it. The stand-in writes the flags and reason it was given, in hex,
 * to "vorblend-restart.txt" in the temporary folder, and answers as
 * VORBLEND_RESTART_ANSWERS says: a system error code to fail with, else success.
 */
#include "wizard/wizard.h"

#include <stdio.h>
#include <stdlib.h>

static BOOL WINAPI NoteRestart(UINT flags, DWORD reason)
{
    char path[MAX_PATH + 32], answer[16] = "";
    GetTempPathA(MAX_PATH, path);
    lstrcatA(path, "vorblend-restart.txt");
    FILE *note = fopen(path, "w");
    if (note != NULL) {
        fprintf(note, "%x %lx", flags, (unsigned long)reason);
        fclose(note);
    }
    GetEnvironmentVariableA("VORBLEND_RESTART_ANSWERS", answer, sizeof answer);
    SetLastError((DWORD)atol(answer));
    return answer[0] == '\0';
}

[[maybe_unused]] static const bool Replaced = (RestartCall = NoteRestart, true);
