/*
 * The programs that keep a path the log names, looked for before the first
 * record so that the user may close them: a running image or a loaded module
 * at a file: record's path or inside a dir: or dirw: tree, and, where the
 * Restart Manager answers, whatever holds a file: record's file. Nothing here
 * ever ends a program. What the last look found stays in RunningPrograms;
 * services, Windows Explorer, critical processes and other sessions'
 * programs are told apart, since they are not the user's to close.
 */
#include "removal/removal.h"
#include "removal/records.h"

#include <restartmanager.h>
#include <tlhelp32.h>

#include <stdlib.h>
#include <string.h>

RunningProgram *RunningPrograms = NULL; /* what the last look found */
size_t RunningProgramCount = 0;         /* how many */
static size_t RunningCapacity;

/* The log's paths, full and case-folded, each behind a letter: 'F' for a
   file: record's, 'T' for a dir: or dirw: record's tree. Sorted. */
static char **Kept;
static size_t KeptCount, KeptCapacity;

static int CompareKept(const void *a, const void *b)
{
    return strcmp(*(char *const *)a, *(char *const *)b);
}

struct KeptKey {
    const char *text;
    size_t length;
};

/* A key of `length` bytes against a kept path, in strcmp's order. */
static int CompareKey(const void *key, const void *kept)
{
    const KeptKey *k = (const KeptKey *)key;
    const char *path = *(char *const *)kept;
    int order = strncmp(k->text, path, k->length);
    return order != 0 ? order : (path[k->length] == '\0' ? 0 : -1);
}

/* The path, full as the system reports images and modules, is a file:
   record's path or lies inside a tree of the log. Stepped by characters. */
static bool LogKeeps(const char *path)
{
    char folded[MAX_PATH + 1];
    size_t length = strnlen(path, MAX_PATH);
    const unsigned char *leadBytes = AnsiLeadBytes();
    if (length >= MAX_PATH || KeptCount == 0)
        return false;
    FoldAsciiCase(path, length, folded + 1, leadBytes);
    for (size_t at = 0;; at += CharLength(path, at, length, leadBytes)) {
        bool whole = at >= length;
        KeptKey key = {folded, at + 1};
        folded[0] = whole ? 'F' : 'T';
        if ((whole || (at > 2 && path[at] == '\\')) &&
            bsearch(&key, Kept, KeptCount, sizeof *Kept, CompareKey) != NULL)
            return true;
        if (whole)
            return false;
    }
}

/* Keeps one record's path, made full and folded. */
static void KeepPath(const char *argument, char letter)
{
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(argument, MAX_PATH, full, NULL);
    const unsigned char *leadBytes = AnsiLeadBytes();
    if (length == 0 || length >= MAX_PATH)
        return;
    if (length > 3 && EndsInChar(full, length, '\\', leadBytes))
        length--;
    if (KeptCount == KeptCapacity) {
        size_t grown = KeptCapacity == 0 ? 64 : KeptCapacity * 2;
        char **paths = (char **)realloc(Kept, grown * sizeof *Kept);
        if (paths == NULL)
            return;
        Kept = paths;
        KeptCapacity = grown;
    }
    char *kept = (char *)malloc(length + 2);
    if (kept == NULL)
        return;
    kept[0] = letter;
    FoldAsciiCase(full, length, kept + 1, leadBytes);
    kept[length + 1] = '\0';
    Kept[KeptCount++] = kept;
}

/* Reads the log and keeps the paths of its file:, dir: and dirw: records. */
static void ReadLogPaths(const char *logPath)
{
    for (size_t i = 0; i < KeptCount; i++)
        free(Kept[i]);
    KeptCount = 0;
    HANDLE file;
    LARGE_INTEGER size;
    if (OpenForReading(logPath, &file) != NULL || file == NULL)
        return;
    char *block = NULL;
    if (GetFileSizeEx(file, &size) && size.QuadPart < 0x7FFFFFFF)
        block = (char *)calloc((size_t)size.QuadPart + 1, 1);
    bool read = block != NULL && ReadBlock(file, block, (int)size.QuadPart) == NULL;
    CloseHandle(file);
    size_t bytes = read ? (size_t)size.QuadPart : 0, at = 0, start, length, argument;
    while (NextRecord(block, bytes, &at, &start, &length)) {
        char *record = block + start;
        record[length] = '\0'; /* its separator, or the byte past the log */
        RecordKind kind = RecordKindOf(record, length, &argument);
        if (kind == RECORD_FILE)
            KeepPath(record + argument, 'F');
        else if (kind == RECORD_DIR || kind == RECORD_DIRW)
            KeepPath(record + argument, 'T');
    }
    free(block);
    if (KeptCount > 0)
        qsort(Kept, KeptCount, sizeof *Kept, CompareKept);
}

/* The full path of the process's image (the process snapshot gives the
   file name alone); false when the process refuses. */
static bool ImageOf(DWORD processId, char image[MAX_PATH])
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    DWORD size = MAX_PATH;
    bool read = process != NULL && QueryFullProcessImageNameA(process, 0, image, &size);
    if (process != NULL)
        CloseHandle(process);
    return read;
}

/* Adds the process unless it is this one or already found. */
static void Note(DWORD processId, ProgramKind kind, const char *image)
{
    if (processId == GetCurrentProcessId())
        return;
    for (size_t i = 0; i < RunningProgramCount; i++)
        if (RunningPrograms[i].processId == processId)
            return;
    if (RunningProgramCount == RunningCapacity) {
        size_t grown = RunningCapacity + 16;
        RunningProgram *programs = (RunningProgram *)realloc(RunningPrograms, grown * sizeof *programs);
        if (programs == NULL)
            return;
        RunningPrograms = programs;
        RunningCapacity = grown;
    }
    RunningProgram *program = &RunningPrograms[RunningProgramCount++];
    memset(program, 0, sizeof *program);
    program->processId = processId;
    program->kind = kind;
    lstrcpynA(program->image, image, MAX_PATH);
}

static DWORD SessionOf(DWORD processId)
{
    DWORD session = 0;
    ProcessIdToSessionId(processId, &session);
    return session;
}

/* What the Restart Manager finds holding the log's files, when it answers.
   Wine's stub lists nothing and writes no reboot reasons. */
static void AskRestartManager(DWORD ownSession)
{
    typedef DWORD(WINAPI * StartCall)(DWORD *, DWORD, WCHAR *);
    typedef DWORD(WINAPI * RegisterCall)(DWORD, UINT, LPCWSTR *, UINT, RM_UNIQUE_PROCESS *, UINT,
                                         LPCWSTR *);
    typedef DWORD(WINAPI * ListCall)(DWORD, UINT *, UINT *, RM_PROCESS_INFO *, DWORD *);
    typedef DWORD(WINAPI * EndCall)(DWORD);
    /* The system's own copy only; where the flag is unknown the load fails
       and Toolhelp alone looks. */
    HMODULE library = LoadLibraryExA("rstrtmgr.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == NULL)
        return;
    StartCall start = (StartCall)(void *)GetProcAddress(library, "RmStartSession");
    RegisterCall add = (RegisterCall)(void *)GetProcAddress(library, "RmRegisterResources");
    ListCall list = (ListCall)(void *)GetProcAddress(library, "RmGetList");
    EndCall end = (EndCall)(void *)GetProcAddress(library, "RmEndSession");
    DWORD session;
    WCHAR key[CCH_RM_SESSION_KEY + 1];
    if (start != NULL && add != NULL && list != NULL && end != NULL && start(&session, 0, key) == 0) {
        static WCHAR name[MAX_PATH];
        LPCWSTR names[1] = {name};
        for (size_t i = 0; i < KeptCount; i++) {
            if (Kept[i][0] == 'F' && MultiByteToWideChar(CP_ACP, 0, Kept[i] + 1, -1, name, MAX_PATH) > 0)
                add(session, 1, names, 0, NULL, 0, NULL);
        }
        /* More than this many holders of Vorblend's files is left to Toolhelp. */
        static RM_PROCESS_INFO found[64];
        UINT needed = 0, count = 64;
        DWORD reasons = 0;
        if (list(session, &needed, &count, found, &reasons) != 0)
            count = 0;
        for (UINT i = 0; i < count; i++) {
            const RM_PROCESS_INFO &info = found[i];
            char image[MAX_PATH];
            if (!ImageOf(info.Process.dwProcessId, image) &&
                WideCharToMultiByte(CP_ACP, 0, info.strAppName, -1, image, MAX_PATH, NULL, NULL) == 0)
                image[0] = '\0';
            Note(info.Process.dwProcessId,
                 info.ApplicationType == RmService    ? PROGRAM_SERVICE
                 : info.ApplicationType == RmExplorer ? PROGRAM_EXPLORER
                 : info.ApplicationType == RmCritical ? PROGRAM_CRITICAL
                 : info.TSSessionId != ownSession     ? PROGRAM_OTHER_SESSION
                                                      : PROGRAM_USER,
                 image);
        }
        end(session);
    }
    FreeLibrary(library);
}

/* A module of the process lies where the log keeps it. A process that
   refuses (5, 299) is passed over; one that is loading or unloading a module
   answers 24 for a moment. */
static bool LoadsKeptModule(DWORD processId)
{
    HANDLE modules;
    int tries = 0;
    do
        modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, processId);
    while (modules == INVALID_HANDLE_VALUE && GetLastError() == ERROR_BAD_LENGTH && ++tries < 8);
    if (modules == INVALID_HANDLE_VALUE)
        return false;
    MODULEENTRY32 module;
    module.dwSize = sizeof module;
    bool kept = false;
    for (BOOL more = Module32First(modules, &module); more && !kept;
         more = Module32Next(modules, &module))
        kept = LogKeeps(module.szExePath);
    CloseHandle(modules);
    return kept;
}

/* Every process's image and modules. */
static void WalkProcesses(DWORD ownSession)
{
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (processes == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(processes, &entry); more; more = Process32Next(processes, &entry)) {
        DWORD id = entry.th32ProcessID;
        char image[MAX_PATH];
        bool named = ImageOf(id, image);
        if (id != 0 && ((named && LogKeeps(image)) || LoadsKeptModule(id)))
            Note(id,
                 SessionOf(id) != ownSession                         ? PROGRAM_OTHER_SESSION
                 : lstrcmpiA(entry.szExeFile, "explorer.exe") == 0 ? PROGRAM_EXPLORER
                                                                     : PROGRAM_USER,
                 named ? image : entry.szExeFile);
    }
    CloseHandle(processes);
}

/* The caption of a found program's first visible window that has no owner. */
static BOOL CALLBACK NoteTitle(HWND window, LPARAM)
{
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    for (size_t i = 0; i < RunningProgramCount; i++) {
        RunningProgram &program = RunningPrograms[i];
        if (program.processId == id && program.title[0] == '\0' && IsWindowVisible(window) &&
            GetWindow(window, GW_OWNER) == NULL)
            GetWindowTextA(window, program.title, sizeof program.title);
    }
    return TRUE;
}

size_t FindRunningPrograms(const char *logPath)
{
    RunningProgramCount = 0;
    ReadLogPaths(logPath);
    if (KeptCount == 0)
        return 0;
    DWORD ownSession = SessionOf(GetCurrentProcessId());
    AskRestartManager(ownSession);
    WalkProcesses(ownSession);
    if (RunningProgramCount > 0)
        EnumWindows(NoteTitle, 0);
    return RunningProgramCount;
}
