/*
 * Small helpers shared by the tests: a fresh sandbox folder on the C: drive,
 * file set-up, verdicts on what exists, and running the real uninstall.exe.
 * Everything a test removes lives under the sandbox, inside the Wine prefix.
 */
#pragma once

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace testsupport {

inline std::string TempDirectory()
{
    char buffer[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, buffer);
    return std::string(buffer, length);
}

/* Removes a tree without following links (a link to a folder goes as itself). */
inline void WipeTree(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::string name = found.cFileName;
                if (name != "." && name != "..")
                    WipeTree(path + "\\" + name);
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDirectoryA(path.c_str());
    else
        DeleteFileA(path.c_str());
}

/* A fresh, empty folder unique to the test and the process; no trailing backslash. */
inline std::string Sandbox(const std::string &name)
{
    std::string path = TempDirectory() + "vorblend-" + name + "-" +
                       std::to_string(GetCurrentProcessId());
    WipeTree(path);
    CreateDirectoryA(path.c_str(), NULL);
    return path;
}

/* The file's whole text, or "" when it cannot be read. */
inline std::string ReadText(const std::string &path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0,
                              NULL);
    char buffer[4096];
    DWORD read = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &read, NULL) &&
           read > 0)
        text.append(buffer, read);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return text;
}

inline void MakeDirectory(const std::string &path) { CreateDirectoryA(path.c_str(), NULL); }

inline void MakeFile(const std::string &path, const std::string &contents = "x")
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    if (!contents.empty())
        WriteFile(file, contents.data(), (DWORD)contents.size(), &written, NULL);
    CloseHandle(file);
}

/* Files below box, with the folders on their way; a name ending in "\" is a folder. */
inline void MakeFiles(const std::string &box, const std::vector<std::string> &files,
                      const std::string &contents = "x")
{
    for (const std::string &file : files) {
        for (size_t at = 0; (at = file.find('\\', at)) != std::string::npos; at++)
            MakeDirectory(box + "\\" + file.substr(0, at));
        if (file.back() != '\\')
            MakeFile(box + "\\" + file, contents);
    }
}

/* Below box (ASCII) through the wide calls, for names the ANSI code page
   cannot spell; a name ending in "\" is a folder. */
inline void MakeWideFiles(const std::string &box, const std::vector<std::wstring> &files)
{
    std::wstring root(box.begin(), box.end());
    for (const std::wstring &file : files) {
        std::wstring path = root + L"\\" + file;
        if (file.back() == L'\\')
            CreateDirectoryW(path.c_str(), NULL);
        else
            CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    }
}

/* A folder tree whose names code page 1252 lists as '?' (Japanese, Greek, an
   emoji) or as a best-fit look-alike: of a real a-macron.txt beside it, and of
   nothing (o-only.txt). 8 files and 2 folders, the tree included. */
inline std::vector<std::wstring> ForeignNameTree(const std::wstring &tree)
{
    const std::wstring greek = tree + L"\\\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac\\";
    return {tree + L"\\",
            tree + L"\\\u65e5\u672c.txt",
            tree + L"\\\u03b1\u03b2\u03b3.txt",
            greek,
            greek + L"inside.txt",
            greek + L"\u65e5\u672c.txt",
            tree + L"\\\U0001F600 smile.txt",
            tree + L"\\\u0101-macron.txt",
            tree + L"\\a-macron.txt",
            tree + L"\\\u014d-only.txt"};
}

inline ::testing::AssertionResult WideMissing(const std::string &box, const std::wstring &path)
{
    std::wstring full = std::wstring(box.begin(), box.end()) + L"\\" + path;
    if (GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES)
        return ::testing::AssertionSuccess();
    char utf8[MAX_PATH * 4] = "";
    WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, utf8, sizeof utf8, NULL, NULL);
    return ::testing::AssertionFailure() << utf8 << " is still there";
}

/* Below HKCU\key: "K\" makes a key, "K\V" a value V in it. */
inline void MakeKeys(const std::string &key, const std::vector<std::string> &items)
{
    for (const std::string &item : items) {
        size_t last = item.find_last_of('\\');
        HKEY created;
        RegCreateKeyExA(HKEY_CURRENT_USER, (key + "\\" + item.substr(0, last)).c_str(), 0, NULL, 0,
                        KEY_ALL_ACCESS, NULL, &created, NULL);
        if (last + 1 < item.size())
            RegSetValueExA(created, item.substr(last + 1).c_str(), 0, REG_SZ, (const BYTE *)"x", 2);
        RegCloseKey(created);
    }
}

/* Whether what a record ("file:PATH", "key:HKCU\\KEY\\VALUE" or "key:HKCU\\KEY\\")
   names is there now. */
inline bool Present(const std::string &record)
{
    size_t colon = record.find(':');
    std::string kind = record.substr(0, colon), argument = record.substr(colon + 1);
    if (kind != "key")
        return GetFileAttributesA(argument.c_str()) != INVALID_FILE_ATTRIBUTES;
    std::string path = argument.substr(5); /* after "HKCU\" */
    size_t last = path.find_last_of('\\');
    HKEY opened;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.substr(0, last).c_str(), 0, KEY_READ, &opened))
        return false;
    bool there = last + 1 == path.size() ||
                 RegQueryValueExA(opened, path.substr(last + 1).c_str(), NULL, NULL, NULL, NULL) == 0;
    RegCloseKey(opened);
    return there;
}

inline ::testing::AssertionResult Exists(const std::string &path)
{
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << path << " does not exist";
}

inline ::testing::AssertionResult Missing(const std::string &path)
{
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << path << " still exists";
}

/* Polls until the path is gone, for processes that remove it after they start. */
inline ::testing::AssertionResult GoneWithin(const std::string &path, DWORD milliseconds)
{
    for (DWORD waited = 0; waited < milliseconds; waited += 50) {
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            return ::testing::AssertionSuccess();
        Sleep(50);
    }
    return Missing(path);
}

/* The product, built beside the test programs. */
inline std::string UninstallExe()
{
    char buffer[MAX_PATH];
    GetModuleFileNameA(NULL, buffer, MAX_PATH);
    std::string path = buffer;
    return path.substr(0, path.find_last_of('\\') + 1) + "uninstall.exe";
}

inline std::string Quoted(const std::string &text) { return "\"" + text + "\""; }

/* Starts a command line and waits for its process; the exit code, or -1 when the
   start failed or the process did not end in time. */
inline long RunAndWait(const std::string &commandLine, const char *currentDirectory = NULL,
                       DWORD timeout = 30000)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    /* Wine now and then fails to start a process at all (seen once in CI, for
       wineboot -r); a test that ran nothing proves nothing, so the start is
       tried again, and each failure is shown with its code. */
    for (int attempt = 1;; attempt++) {
        std::string line = commandLine;
        if (CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, currentDirectory, &startup,
                           &process))
            break;
        fprintf(stderr, "RunAndWait: could not start %s (%lu), attempt %d\n", commandLine.c_str(),
                GetLastError(), attempt);
        if (attempt == 3)
            return -1;
        Sleep(500);
    }
    CloseHandle(process.hThread);
    DWORD exitCode = (DWORD)-1;
    if (WaitForSingleObject(process.hProcess, timeout) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    else
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hProcess);
    return (long)exitCode;
}

} // namespace testsupport

namespace testsupport {

/* The Unix path of a Windows path, through Wine's own conversion; empty off Wine. */
inline std::string UnixPath(const std::string &path)
{
    typedef char *(CDECL * Convert)(const WCHAR *);
    Convert convert = (Convert)(void *)GetProcAddress(GetModuleHandleA("kernel32"),
                                                      "wine_get_unix_file_name");
    WCHAR wide[MAX_PATH];
    if (convert == NULL || !MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH))
        return "";
    char *converted = convert(wide);
    std::string result = converted ? converted : "";
    HeapFree(GetProcessHeap(), 0, converted);
    return result;
}

/* Starts a Unix program (Wine runs them, but does not wait for them to end).
   Wine 8 hands back no handles for one, only whatever its stack held (seen:
   0x21ee90 and bytes of the command line): closing those closed the test's
   own handle of HKEY_CURRENT_USER, so they are left alone. */
inline bool StartUnixProgram(const std::string &commandLine)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    return CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
}

/* A Unix symbolic link to a folder, which Wine shows as a directory with the
   reparse-point bit (0x410). */
inline ::testing::AssertionResult MakeFolderLink(const std::string &link, const std::string &target)
{
    std::string unixLink = UnixPath(link), unixTarget = UnixPath(target);
    if (unixLink.empty() || unixTarget.empty())
        return ::testing::AssertionFailure() << "no Unix paths (not under Wine?)";
    if (!StartUnixProgram("Z:\\bin\\ln -s " + Quoted(unixTarget) + " " + Quoted(unixLink)))
        return ::testing::AssertionFailure() << "cannot start ln: " << GetLastError();
    for (int tries = 0; tries < 100 && GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES;
         tries++)
        Sleep(50);
    return Exists(link);
}

/* Wine cannot remove such a link itself; the Unix side can. */
inline ::testing::AssertionResult RemoveFolderLink(const std::string &link)
{
    std::string unixLink = UnixPath(link);
    if (unixLink.empty() || !StartUnixProgram("Z:\\bin\\rm -f " + Quoted(unixLink)))
        return ::testing::AssertionFailure() << "cannot start rm for " << link;
    return GoneWithin(link, 5000);
}

} // namespace testsupport

namespace testsupport {

/* The deletions Windows carries out at the next restart, in order: each an
   "\\??\\" path, for a deletion followed by nothing. */
inline std::vector<std::string> PendingDeletions()
{
    std::vector<std::string> paths;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return paths;
    DWORD size = 0;
    std::string value;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", NULL, NULL, NULL, &size) == 0) {
        value.resize(size);
        RegQueryValueExA(key, "PendingFileRenameOperations", NULL, NULL, (BYTE *)value.data(), &size);
    }
    RegCloseKey(key);
    /* Pairs of a source and a target, the target empty for a deletion. */
    std::vector<std::string> strings;
    for (size_t at = 0; at < value.size();) {
        size_t end = value.find('\0', at);
        if (end == std::string::npos)
            end = value.size();
        strings.push_back(value.substr(at, end - at));
        at = end + 1;
    }
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        if (strings[i].empty())
            break;
        if (strings[i + 1].empty())
            paths.push_back(strings[i].compare(0, 4, "\\??\\") == 0 ? strings[i].substr(4) : strings[i]);
    }
    return paths;
}

/* A restart, as far as the pending deletions go: Wine's wineboot -r carries them out. */
inline long RestartForPendingDeletions() { return RunAndWait("wineboot.exe -r", NULL, 60000); }

/* Starts a program and leaves it running; its process, or null. */
inline HANDLE StartProgram(const std::string &commandLine, const char *currentDirectory = NULL)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, currentDirectory, &startup,
                        &process))
        return NULL;
    CloseHandle(process.hThread);
    return process.hProcess;
}

/* The test tool that runs for as long as it is told, built beside the product. */
inline std::string SleeperExe()
{
    std::string path = UninstallExe();
    return path.substr(0, path.find_last_of('\\') + 1) + "sleeper.exe";
}

/* Runs a console program with its output in a file; the exit code and the output. */
inline long RunCapturing(const std::string &commandLine, std::string &output)
{
    std::string outPath = TempDirectory() + "preview-output-" + std::to_string(GetCurrentProcessId());
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
    HANDLE file = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                              CREATE_ALWAYS, 0, NULL);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = file;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    DWORD exitCode = (DWORD)-1;
    if (CreateProcessA(NULL, line.data(), NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        WaitForSingleObject(process.hProcess, 60000);
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(file);
    output.clear();
    char buffer[4096];
    DWORD read = 0;
    file = CreateFileA(outPath.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    while (ReadFile(file, buffer, sizeof buffer, &read, NULL) && read > 0)
        output.append(buffer, read);
    CloseHandle(file);
    DeleteFileA(outPath.c_str());
    return (long)exitCode;
}

inline std::string LogcheckExe()
{
    std::string path = UninstallExe();
    return path.substr(0, path.find_last_of('\\') + 1) + "logcheck.exe";
}

} // namespace testsupport

namespace testsupport {

/* Descriptors as a real machine has them. The tests' Wine server keeps what is
   set whole but inherits nothing: each entry that a test needs is given one. */
const std::string TrustedInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const std::string DriveRootSddl = "O:" + TrustedInstaller + "G:" + TrustedInstaller +
                                  "D:PAI(A;OICIIO;FA;;;CO)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
                                  "(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)";
const std::string ProgramFilesSddl = "O:" + TrustedInstaller + "G:" + TrustedInstaller + "D:PAI(A;;FA;;;" +
                                     TrustedInstaller + ")(A;;0x1301bf;;;SY)(A;;0x1301bf;;;BA)(A;;0x1200a9;;;BU)";
/* What an elevated installer makes: SYSTEM and Administrators full control, Users read. */
const std::string InstalledSddl = "O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

inline ::testing::AssertionResult GiveDescriptor(const std::string &path, const std::string &sddl)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, NULL))
        return ::testing::AssertionFailure() << "bad SDDL " << sddl;
    PSID group = NULL;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorGroup(descriptor, &group, &defaulted);
    BOOL set = SetFileSecurityA(path.c_str(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                                  PROTECTED_DACL_SECURITY_INFORMATION |
                                                  (group != NULL ? GROUP_SECURITY_INFORMATION : 0),
                                descriptor);
    DWORD code = GetLastError();
    LocalFree(descriptor);
    if (!set)
        return ::testing::AssertionFailure() << "SetFileSecurityA " << path << ": " << code;
    return ::testing::AssertionSuccess();
}

/* The tree and everything in it, links left alone. */
inline void GiveTree(const std::string &tree, const std::string &sddl)
{
    DWORD attributes = GetFileAttributesA(tree.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return;
    EXPECT_TRUE(GiveDescriptor(tree, sddl));
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((tree + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            GiveTree(tree + "\\" + name, sddl);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

/* A fresh folder under C:\Program Files, its chain as on a real machine: the
   drive's root as shipped, Program Files TrustedInstaller's, the folder made by
   an elevated installer. Entries made in it later need GiveTree. */
inline std::string InstalledSandbox(const std::string &name)
{
    std::string box = "C:\\Program Files\\vorblend-" + name + "-" + std::to_string(GetCurrentProcessId());
    WipeTree(box);
    CreateDirectoryA(box.c_str(), NULL);
    EXPECT_TRUE(GiveDescriptor("C:\\", DriveRootSddl));
    EXPECT_TRUE(GiveDescriptor("C:\\Program Files", ProgramFilesSddl));
    EXPECT_TRUE(GiveDescriptor(box, InstalledSddl));
    return box;
}

/* This run's holding folders at the root of C:. */
inline std::vector<std::string> HoldingFolders()
{
    std::vector<std::string> folders;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("C:\\Vorblend-held-*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return folders;
    do
        folders.push_back(std::string("C:\\") + found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return folders;
}

} // namespace testsupport
