/*
 * Deferred self-removal. The program cannot remove its own executable, nor a
 * folder that holds it, while it runs: such paths are listed here instead, and
 * at the end a temporary copy of the program is started in clean-up mode on
 * them. The copy is opened delete-on-close and inherits that handle, so the
 * system deletes the copy once it has ended. Only a file that this run wrote,
 * that nobody else may write while it is held, and whose bytes are the
 * program's own, is ever started: others may create files in a temporary folder.
 */
#include "driver/driver.h"
#include "removal/records.h"
#include "removal/removal.h"

#include <tlhelp32.h>

#include <stdlib.h>
#include <string.h>

char ModulePath[MAX_PATH];       /* own full path; filled in wizard mode only */
char *PendingRemovalList = NULL; /* deferred paths, quoted, one blank apart; never freed */

void (*CleanupCopyWritten)(const char *copyPath) = NULL; /* test seam; null in the product */

unsigned long CleanupPathsHanded = 0; /* listed paths on the copy's command line */

/* A copy lives for its pause and its retries, some 11 s; one older than this
   never got to run. */
DWORD StaleCopyAfterMs = 30000; /* test seam */

static const char COPY_NAME[] = "uninstallqx.exe";
static char CleanupCommandLine[COMMAND_LINE_LIMIT];

/* Appends the path to the list for the copy; 1 even when memory ran out. */
static int ListForCopy(const char *path, size_t pathLength)
{
    if (PendingRemovalList == NULL) {
        char *list = (char *)malloc(pathLength + 3);
        if (list == NULL)
            return 1; /* still ours: left in place, though the copy will not see it */
        list[0] = '"';
        memcpy(list + 1, path, pathLength);
        memcpy(list + 1 + pathLength, "\"", 2);
        PendingRemovalList = list;
        return 1;
    }
    size_t listLength = strlen(PendingRemovalList);
    char *list = (char *)realloc(PendingRemovalList, listLength + pathLength + 5);
    if (list == NULL)
        return 1; /* the list so far stays whole */
    char *end = list + listLength;
    end[0] = ' ';
    end[1] = '"';
    memcpy(end + 2, path, pathLength);
    memcpy(end + 2 + pathLength, "\"", 2);
    PendingRemovalList = list;
    return 1;
}

int DeferOwnPath(const char *path)
{
    size_t pathLength = strlen(path);
    if (!IsLeadingPartOf(path, pathLength, ModulePath, AnsiLeadBytes()))
        return 0;
    return ListForCopy(path, pathLength);
}

int DeferOwnIdentity(const char *path)
{
    if (!IsOwnPath(path))
        return 0;
    return ListForCopy(path, strlen(path));
}

/* Appends one quoted entry; false, with nothing written, when it would not fit.
   Backslashes in front of the closing quote are doubled, so that the runtime's
   splitting gives a path with a trailing backslash back whole. */
static bool AppendQuoted(char *line, size_t *used, const char *path, size_t pathLength,
                         bool blankFirst)
{
    const unsigned char *leadBytes = AnsiLeadBytes();
    size_t trailing = TrailingBackslashes(path, pathLength, leadBytes);
    size_t needed = (blankFirst ? 1 : 0) + QuotedArgumentLength(path, pathLength, leadBytes);
    if (*used + needed >= sizeof CleanupCommandLine)
        return false;
    char *out = line + *used;
    if (blankFirst)
        *out++ = ' ';
    *out++ = '"';
    memcpy(out, path, pathLength);
    out += pathLength;
    memset(out, '\\', trailing);
    out += trailing;
    *out++ = '"';
    *out = '\0';
    *used += needed;
    return true;
}

/* The copy's quoted path, " -u ", then every listed path. The list's paths hold
   no double quote (no Windows path can), so its quotes mark the entries. */
static void BuildCleanupCommandLine(const char *copyPath)
{
    char *line = CleanupCommandLine;
    size_t used = 0;
    line[0] = '\0';
    AppendQuoted(line, &used, copyPath, strlen(copyPath), false);
    memcpy(line + used, " -u", 4);
    used += 3;

    const char *cursor = PendingRemovalList;
    CleanupPathsHanded = 0;
    while ((cursor = strchr(cursor, '"')) != NULL) {
        const char *start = cursor + 1;
        const char *close = strchr(start, '"');
        if (close == NULL)
            break;
        /* Stop at the first entry past the limit: the entries after it are
           mostly the folders that hold it, which could not go anyway. The
           report names every one left out. */
        if (!AppendQuoted(line, &used, start, (size_t)(close - start), true))
            break;
        CleanupPathsHanded++;
        cursor = close + 1;
    }
}

/* The next listed path after *cursor into path, without the trailing
   backslash a dir: record may have; false at the list's end. The list holds
   spellings of ModulePath's leading parts: any other spelling fails the chain. */
static bool NextOwnPath(const char **cursor, char path[MAX_PATH])
{
    const char *open = *cursor != NULL ? strchr(*cursor, '"') : NULL;
    const char *close = open != NULL ? strchr(open + 1, '"') : NULL;
    if (close == NULL)
        return false;
    *cursor = close + 1;
    size_t length = (size_t)(close - open - 1);
    if (length >= MAX_PATH)
        length = 0; /* names nothing: refused */
    memcpy(path, open + 1, length);
    if (length > 3 && EndsInChar(path, length, '\\', AnsiLeadBytes()))
        length--;
    path[length] = '\0';
    return true;
}

bool OwnPathsMayWaitForRestart()
{
    const char *cursor = PendingRemovalList;
    char path[MAX_PATH];
    bool trusted = PendingRemovalList == NULL || RunIsElevated();
    while (trusted && NextOwnPath(&cursor, path))
        trusted = ChainIsTrusted(path);
    return trusted;
}

ErrorRef ScheduleOwnPathsAtRestart()
{
    const char *cursor = PendingRemovalList;
    char path[MAX_PATH];
    while (NextOwnPath(&cursor, path)) {
        ErrorRef failure = CheckedMoveFileEx(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
        if (failure != NULL)
            return failure;
    }
    PendingRemovalList = NULL; /* the restart takes them: no copy */
    return NULL;
}

DWORD GetTempFolder(TempPathQuery getTempPath2, char folder[MAX_PATH])
{
    if (getTempPath2 != NULL)
        return getTempPath2(MAX_PATH, folder);
    return GetTempPathA(MAX_PATH, folder);
}

/* Whether the held copy reads, byte for byte, as the program's own file. */
static bool SameBytesAsProgram(HANDLE copy)
{
    HANDLE program = CreateFileA(ModulePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 NULL, OPEN_EXISTING, 0, NULL);
    if (program == INVALID_HANDLE_VALUE)
        return false;
    static char ours[4096], theirs[4096];
    bool same;
    for (;;) {
        DWORD ourLength = 0, theirLength = 0;
        same = ReadFile(program, ours, sizeof ours, &ourLength, NULL) &&
               ReadFile(copy, theirs, sizeof theirs, &theirLength, NULL) &&
               ourLength == theirLength && memcmp(ours, theirs, ourLength) == 0;
        if (!same || ourLength == 0)
            break;
    }
    CloseHandle(program);
    return same;
}

static ULONGLONG AsNumber(FILETIME time) { return ((ULONGLONG)time.dwHighDateTime << 32) | time.dwLowDateTime; }

/* Ends each process started from the copy's path that has run for longer than
   a copy can. Such a copy never reached its first instruction (Wine can leave
   one stuck in its start when its parent is killed while starting it), yet it
   holds the file open, so no later removal could place a copy of its own. */
static void EndStaleCopies(const char *copyPath)
{
    char longPath[MAX_PATH];
    DWORD length = GetLongPathNameA(copyPath, longPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        lstrcpyA(longPath, copyPath);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, COPY_NAME) != 0)
            continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE |
                                         SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (process == NULL)
            continue;
        char image[MAX_PATH];
        DWORD size = MAX_PATH;
        FILETIME created, exited, kernel, user;
        if (QueryFullProcessImageNameA(process, 0, image, &size) &&
            (lstrcmpiA(image, longPath) == 0 || lstrcmpiA(image, copyPath) == 0) &&
            GetProcessTimes(process, &created, &exited, &kernel, &user) &&
            AsNumber(now) - AsNumber(created) >= (ULONGLONG)StaleCopyAfterMs * 10000 &&
            TerminateProcess(process, ERROR_TIMEOUT))
            WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

/* The code after a failed call; some calls under some systems leave none. */
static DWORD FailureCode()
{
    DWORD code = GetLastError();
    return code != 0 ? code : ERROR_GEN_FAILURE;
}

DWORD LaunchCleanupCopy()
{
    if (PendingRemovalList == NULL)
        return 0;

    /* Where the system has it, GetTempPath2A gives a process running as SYSTEM
       a folder that no other account may write; everyone else the usual one. */
    TempPathQuery getTempPath2 = (TempPathQuery)(void *)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "GetTempPath2A");
    char tempDirectory[MAX_PATH];
    DWORD length = GetTempFolder(getTempPath2, tempDirectory);
    if (length == 0)
        return FailureCode(); /* no temporary folder */
    if (length + sizeof COPY_NAME > MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE; /* no room for the copy's name in it */
    char copyPath[MAX_PATH];
    lstrcpyA(copyPath, tempDirectory);
    lstrcatA(copyPath, COPY_NAME);

    /* Whatever stands at that name may be someone else's program: it must go,
       and the copy must be a new file; otherwise nothing is started. */
    if (!DeleteFileA(copyPath) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        EndStaleCopies(copyPath);
        if (!DeleteFileA(copyPath) && GetLastError() != ERROR_FILE_NOT_FOUND)
            return FailureCode();
    }
    if (!CopyFileA(ModulePath, copyPath, TRUE))
        return FailureCode();
    if (CleanupCopyWritten != NULL)
        CleanupCopyWritten(copyPath);
    /* Shared for reading only: while this handle or the copy's inherited one is
       open, nobody may write, rename or delete the file; and the open fails if
       anyone already holds it for writing. */
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
    HANDLE copy = CreateFileA(copyPath, GENERIC_READ, FILE_SHARE_READ, &inheritable,
                              OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (copy == INVALID_HANDLE_VALUE) {
        DWORD code = FailureCode();
        DeleteFileA(copyPath);
        return code;
    }
    /* Between the copy and the open, the same account's other programs may
       still have written to it. */
    if (!SameBytesAsProgram(copy)) {
        CloseHandle(copy); /* the last handle: the system deletes the file */
        return ERROR_INVALID_DATA;
    }

    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    BuildCleanupCommandLine(copyPath);
    /* The temporary folder as current folder: a process holds its current folder
       open, and the copy must be able to remove the installation folder. */
    DWORD started = CreateProcessA(NULL, CleanupCommandLine, NULL, NULL, TRUE, NORMAL_PRIORITY_CLASS,
                                   NULL, tempDirectory, &startup, &process)
                        ? 0
                        : FailureCode();
    CloseHandle(copy); /* the copy's inherited handle is now the last one */
    if (process.hProcess != NULL) {
        CloseHandle(process.hThread); /* nothing waits for the copy */
        CloseHandle(process.hProcess);
    }
    return started;
}
