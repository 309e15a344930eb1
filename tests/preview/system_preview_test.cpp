/*
 * logcheck --system against the real uninstaller: on sample installations the
 * preview's outcome for each record and its "will be left" list match what the
 * uninstaller then removes and leaves, and a preview changes nothing. Wine
 * grants every access and keeps no registry security, so the "may not delete"
 * outcomes are shown through the probe seams, in-process.
 */
#include "preview/preview.h"
#include "resources/resource_ids.h"
#include "support/test_support.h"
#include "support/wizard_driver.h"

#include <sddl.h>

#include <map>
#include <set>
#include <string>
#include <vector>

using namespace testsupport;
using namespace wizarddriver;

namespace {

struct Record {
    const char *line;    /* "$" stands for the sandbox, "%" for the test's key */
    const char *outcome; /* what the preview must say of it */
};

struct Installation {
    const char *name;
    std::vector<std::string> files; /* below the sandbox; a folder ends in "\" */
    const char *readOnly;           /* one of them made read-only, or null */
    std::vector<std::string> keys;  /* below the test's key: "K\" a key, "K\V" a value */
    bool ownUninstaller;            /* uninstall.exe copied into $\App and named by the log */
    std::vector<Record> records;
};

const Installation INSTALLATIONS[] = {
    {"demo",
     {"App\\vorblend.exe", "App\\readme.txt", "App\\plugins\\reverb.dll", "App\\plugins\\chorus.dll",
      "App\\data\\presets\\p1.vbp", "App\\data\\samples\\kick.wav", "Menu\\Vorblend.lnk"},
     nullptr,
     {"Vorblend\\Language", "Vorblend\\Recent\\File1"},
     true,
     {{"file:$\\App\\vorblend.exe", "will-remove-file"},
      {"file:$\\App\\readme.txt", "will-remove-file"},
      {"dirw:$\\App\\plugins", "will-remove-tree"},
      {"dirw:$\\App\\data", "will-remove-tree"},
      {"link:$\\Menu\\Vorblend.lnk", "will-remove-file"},
      {"key:%\\Vorblend\\Language", "will-remove-value"},
      {"key:%\\Vorblend\\Recent\\", "will-remove-key"},
      {"key:%\\Vorblend\\", "will-remove-key"},
      {"key:%\\", "will-remove-key"},
      {"file:$\\App\\removal.log", "will-remove-file"},
      {"file:$\\App\\uninstall.exe", "deferred"},
      {"dir:$\\App\\", "deferred"},
      {"dir:$\\Menu", "will-remove-folder"}}},
    {"leftovers",
     {"App\\prog.exe", "App\\stray.txt", "App\\tree\\a.txt", "App\\tree\\locked.txt",
      "App\\tree\\b.txt", "App\\tree\\sub\\c.txt"},
     "App\\tree\\locked.txt",
     {"Keep\\Value", "Keep\\Unnamed\\"},
     false,
     {{"file:$\\App\\prog.exe", "will-remove-file"},
      {"dirw:$\\App\\tree", "tree-stops"},
      {"file:$\\App\\gone.txt", "names-nothing"},
      {"dir:$\\App", "will-fail-not-empty"},
      {"key:%\\Keep\\Value", "will-remove-value"},
      {"key:%\\Keep\\", "will-fail-subkeys"},
      {"key:%\\", "will-fail-subkeys"},
      {"keys:%\\Keep\\", "passed-over"}}},
    /* The copy gets the folder before the file in it: the folder stays. */
    {"copy-order",
     {"App\\"},
     nullptr,
     {},
     true,
     {{"file:$\\App\\removal.log", "will-remove-file"},
      {"dir:$\\App", "deferred-will-fail"},
      {"file:$\\App\\uninstall.exe", "deferred"}}},
};

std::string Expand(const std::string &text, const std::string &box, const std::string &key)
{
    std::string out;
    for (char c : text) {
        if (c == '$')
            out += box;
        else if (c == '%')
            out += "HKCU\\" + key;
        else
            out += c;
    }
    return out;
}

std::string Upper(std::string text)
{
    CharUpperBuffA(text.data(), (DWORD)text.size());
    return text;
}

/* Every entry below the folder, with its attributes, size and write time when asked. */
void InventoryFiles(const std::string &folder, bool details, std::set<std::string> &out)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName, path = folder + "\\" + name;
        if (name == "." || name == "..")
            continue;
        bool isFolder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        std::string entry = Upper(path + (isFolder ? "\\" : ""));
        /* Not the access time: listing a folder and reading the log may move it. */
        char facts[64];
        snprintf(facts, sizeof facts, " %lx %lu %lx %lx", found.dwFileAttributes,
                 found.nFileSizeLow, found.ftLastWriteTime.dwLowDateTime,
                 found.ftCreationTime.dwLowDateTime);
        out.insert(details ? entry + facts : entry);
        if (isFolder)
            InventoryFiles(path, details, out);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

/* The key and its subkeys, with their value names when asked. */
void InventoryKeys(const std::string &path, bool details, std::set<std::string> &out)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    out.insert(Upper("HKCU\\" + path + "\\"));
    char name[256];
    for (DWORD i = 0, length = sizeof name;
         details && RegEnumValueA(key, i, name, &length, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
         i++, length = sizeof name)
        out.insert(Upper("HKCU\\" + path + "\\" + name));
    for (DWORD i = 0, length = sizeof name;
         RegEnumKeyExA(key, i, name, &length, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
         i++, length = sizeof name)
        InventoryKeys(path + "\\" + name, details, out);
    RegCloseKey(key);
}

/* The outcome tags on each log line, and the "will be left" entries. */
void ReadPreview(const std::string &output, const std::string &log,
                 std::map<unsigned long, std::set<std::string>> &tags, std::set<std::string> &left)
{
    const std::string leftMark = log + ": will be left: ";
    size_t at = 0;
    while (at < output.size()) {
        size_t end = output.find('\n', at);
        std::string line = output.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? output.size() : end + 1;
        if (line.compare(0, leftMark.size(), leftMark) == 0) {
            left.insert(Upper(line.substr(leftMark.size())));
        } else if (line.compare(0, log.size() + 1, log + ":") == 0 && line.back() == ']') {
            unsigned long number = strtoul(line.c_str() + log.size() + 1, NULL, 10);
            size_t open = line.rfind('[');
            tags[number].insert(line.substr(open + 1, line.size() - open - 2));
        }
    }
}

/* The sample and its removal log; the log's path. */
std::string Install(const Installation &sample, const std::string &box, const std::string &key)
{
    MakeFiles(box, sample.files);
    if (sample.readOnly)
        SetFileAttributesA((box + "\\" + sample.readOnly).c_str(), FILE_ATTRIBUTE_READONLY);
    MakeKeys(key, sample.keys);
    if (sample.ownUninstaller)
        CopyFileA(UninstallExe().c_str(), (box + "\\App\\uninstall.exe").c_str(), FALSE);
    std::string log = box + (sample.ownUninstaller ? "\\App\\removal.log" : "\\removal.log");
    std::string text;
    for (const Record &record : sample.records)
        text += Expand(record.line, box, key) + "\r\n";
    MakeFile(log, text);
    return log;
}


/* Walks the real uninstaller through its three pages. */
long Uninstall(const std::string &exe, const std::string &log)
{
    return WalkThreePages(Quoted(exe) + " " + Quoted(log), IDC_CONTINUE);
}

} // namespace

TEST(SystemPreview, PredictsWhatTheUninstallerRemovesAndLeavesAndChangesNothing)
{
    std::string logcheck = LogcheckExe();
    for (const Installation &sample : INSTALLATIONS) {
        SCOPED_TRACE(sample.name);
        std::string box = Sandbox(std::string("preview-") + sample.name);
        std::string key = "Software\\VorblendPreview-" + std::to_string(GetCurrentProcessId());
        RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
        std::string log = Install(sample, box, key);

        std::set<std::string> before, after;
        InventoryFiles(box, true, before);
        InventoryKeys(key, true, before);
        std::string output;
        long status = RunCapturing(Quoted(logcheck) + " --system " + Quoted(log), output);
        InventoryFiles(box, true, after);
        InventoryKeys(key, true, after);
        EXPECT_EQ(before, after) << "the preview changed the machine";

        std::map<unsigned long, std::set<std::string>> tags;
        std::set<std::string> predictedLeft;
        ReadPreview(output, log, tags, predictedLeft);
        EXPECT_EQ(predictedLeft.empty() ? 0 : 1, status) << output;
        for (size_t i = 0; i < sample.records.size(); i++)
            EXPECT_EQ(1u, tags[i + 1].count(sample.records[i].outcome))
                << sample.records[i].line << "\n" << output;

        std::string exe = sample.ownUninstaller ? box + "\\App\\uninstall.exe" : UninstallExe();
        ASSERT_EQ(0, Uninstall(exe, log));
        for (const Record &record : sample.records) {
            std::string outcome = record.outcome, named = Expand(record.line, box, key);
            if (outcome.rfind("will-remove", 0) == 0 || outcome == "deferred") {
                EXPECT_TRUE(GoneWithin(named.substr(named.find(':') + 1), 10000) &&
                            !Present(named))
                    << named;
            } else if (outcome != "names-nothing" && outcome != "passed-over") {
                EXPECT_TRUE(Present(named)) << named;
            }
        }
        std::set<std::string> left;
        InventoryFiles(box, false, left);
        InventoryKeys(key, false, left);
        left.erase(Upper(log));
        EXPECT_EQ(predictedLeft, left) << output;

        WipeTree(box);
        RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    }
}

namespace {

/* The report's name for a preview's outcome tag. */
std::string ReportedName(const std::string &predicted)
{
    for (int outcome = 0; outcome < OUTCOME_COUNT; outcome++) {
        if (predicted == OutcomeName((Outcome)outcome))
            return ReportedOutcomeName((Outcome)outcome);
    }
    return "unknown tag " + predicted;
}

/* The report's outcome tag for each record line. */
std::map<unsigned long, std::string> ReadReport(const std::string &path, const std::string &log)
{
    std::string output = ReadText(path);
    std::string lines; /* the report ends its lines in CR LF */
    for (char c : output)
        if (c != '\r')
            lines += c;
    std::map<unsigned long, std::set<std::string>> tags;
    std::set<std::string> left;
    ReadPreview(lines, log, tags, left);
    std::map<unsigned long, std::string> reported;
    for (const auto &line : tags)
        reported[line.first] = line.second.size() == 1 ? *line.second.begin() : "several lines";
    return reported;
}

} // namespace

TEST(SystemPreview, TheSilentRemovalsReportSaysWhatThePreviewPredictedForEachRecord)
{
    std::string logcheck = LogcheckExe();
    std::string report = TempDirectory() + "preview-report-" + std::to_string(GetCurrentProcessId());
    for (const Installation &sample : INSTALLATIONS) {
        SCOPED_TRACE(sample.name);
        std::string box = Sandbox(std::string("predicted-") + sample.name);
        std::string key = "Software\\VorblendPredicted-" + std::to_string(GetCurrentProcessId());
        RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
        std::string log = Install(sample, box, key);

        std::string output;
        RunCapturing(Quoted(logcheck) + " --system " + Quoted(log), output);
        std::map<unsigned long, std::set<std::string>> predicted;
        std::set<std::string> predictedLeft;
        ReadPreview(output, log, predicted, predictedLeft);

        std::string exe = sample.ownUninstaller ? box + "\\App\\uninstall.exe" : UninstallExe();
        long code = RunAndWait(Quoted(exe) + " " + Quoted(log) + " /S /LOG=" + Quoted(report));
        EXPECT_TRUE(code == 0 || code == 1603) << code;
        std::map<unsigned long, std::string> reported = ReadReport(report, log);
        for (size_t i = 0; i < sample.records.size(); i++) {
            /* A tree with paths kept for the copy has the copy's lines too: those
               are the copy's own outcome, which the report cannot know. */
            std::set<std::string> names;
            for (const std::string &tag : predicted[i + 1])
                names.insert(ReportedName(tag));
            EXPECT_EQ(1u, names.count(reported[i + 1])) << sample.records[i].line << "\n" << output;
            EXPECT_EQ(ReportedName(sample.records[i].outcome), reported[i + 1])
                << sample.records[i].line;
        }

        GoneWithin(TempDirectory() + "uninstallqx.exe", 10000);
        WipeTree(box);
        RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    }
    DeleteFileA(report.c_str());
}

namespace {

DWORD DenyDeletion(const char *path, bool)
{
    if (strstr(path, "busy") != NULL)
        return ERROR_SHARING_VIOLATION;
    return strstr(path, "denied") != NULL ? ERROR_ACCESS_DENIED : 0;
}

LONG DenyKeyAccess(HKEY, const char *path, REGSAM access)
{
    bool locked = strstr(path, "Locked") != NULL;
    return locked && (access == KEY_ALL_ACCESS || access == DELETE) ? ERROR_ACCESS_DENIED : 0;
}

} // namespace

TEST(SystemPreview, ReportsWhatThisRunMayNotDeleteThroughTheProbes)
{
    /* Value names longer than a key name may be, the same up to their last byte. */
    static const std::string LONG_A = "key:%\\Open\\" + std::string(1300, 'n') + "A";
    static const std::string LONG_B = "key:%\\Open\\" + std::string(1300, 'n') + "B";
    const Record RECORDS[] = {
        {"file:$\\denied.txt", "will-fail-access"},   {"file:$\\busy.txt", "will-fail-in-use"},
        {"dirw:$\\tree", "tree-stops"},               {"dir:$\\denied-folder", "will-fail-access"},
        {"key:%\\Locked\\V", "will-fail-access"},     {"key:%\\Locked\\", "will-fail-access"},
        {"key:%\\Open\\V", "will-remove-value"},
        {LONG_A.c_str(), "will-remove-value"},        {LONG_B.c_str(), "will-remove-value"},
    };
    std::string box = Sandbox("preview-seam");
    std::string key = "Software\\VorblendPreviewSeam-" + std::to_string(GetCurrentProcessId());
    for (const char *file : {"\\denied.txt", "\\busy.txt", "\\tree\\denied.dat"}) {
        MakeDirectory(box + "\\tree");
        MakeFile(box + file);
    }
    MakeDirectory(box + "\\denied-folder");
    for (const char *sub : {"\\Locked", "\\Open"}) {
        HKEY created;
        RegCreateKeyExA(HKEY_CURRENT_USER, (key + sub).c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                        &created, NULL);
        RegSetValueExA(created, "V", 0, REG_SZ, (const BYTE *)"x", 2);
        for (const std::string &record : {LONG_A, LONG_B})
            RegSetValueExA(created, record.substr(record.find_last_of('\\') + 1).c_str(), 0, REG_SZ,
                           (const BYTE *)"x", 2);
        RegCloseKey(created);
    }
    std::string text;
    for (const Record &record : RECORDS)
        text += Expand(record.line, box, key) + "\n";

    DWORD (*deleteAccess)(const char *, bool) = DeleteAccessProbe;
    LONG (*keyAccess)(HKEY, const char *, REGSAM) = KeyAccessProbe;
    DeleteAccessProbe = DenyDeletion;
    KeyAccessProbe = DenyKeyAccess;
    LogText log;
    ASSERT_TRUE(ParseLog(&log, "seam.log", text.c_str(), text.size()));
    CheckOptions options = {NULL};
    FILE *out = tmpfile();
    EXPECT_EQ(1, PreviewOnSystem(&log, &options, out));
    FreeLog(&log);
    std::string output(16384, '\0');
    rewind(out);
    output.resize(fread(output.data(), 1, output.size(), out));
    fclose(out);
    DeleteAccessProbe = deleteAccess;
    KeyAccessProbe = keyAccess;

    std::map<unsigned long, std::set<std::string>> tags;
    std::set<std::string> left;
    ReadPreview(output, "seam.log", tags, left);
    for (size_t i = 0; i < sizeof RECORDS / sizeof RECORDS[0]; i++)
        EXPECT_EQ(1u, tags[i + 1].count(RECORDS[i].outcome)) << RECORDS[i].line << "\n" << output;
    EXPECT_NE(std::string::npos, output.find("elevated")) << output;
    EXPECT_EQ(1u, left.count(Upper(box + "\\tree\\denied.dat"))) << output;

    WipeTree(box);
    RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
}

TEST(SystemPreview, PredictsTheRemovalOfATreeOfNamesTheCodePageCannotSpell)
{
    ASSERT_EQ(1252u, GetACP()) << "the names are listed as '?' and look-alikes under 1252";
    std::string box = Sandbox("preview-foreign"), tree = box + "\\tree";
    MakeFile(box + "\\canary.txt");
    MakeWideFiles(box, ForeignNameTree(L"tree"));
    std::string log = box + "\\removal.log";
    MakeFile(log, "dirw:" + tree + "\r\n");

    std::set<std::string> before, after;
    InventoryFiles(box, true, before);
    std::string output;
    long status = RunCapturing(Quoted(LogcheckExe()) + " --system " + Quoted(log), output);
    InventoryFiles(box, true, after);
    EXPECT_EQ(before, after) << "the preview changed the machine";
    std::map<unsigned long, std::set<std::string>> tags;
    std::set<std::string> left;
    ReadPreview(output, log, tags, left);
    EXPECT_EQ(0, status) << output;
    EXPECT_EQ(1u, tags[1].count("will-remove-tree")) << output;
    EXPECT_NE(std::string::npos, output.find("8 files, 2 folders")) << output;
    EXPECT_TRUE(left.empty()) << output;

    ASSERT_EQ(0, RunAndWait(Quoted(UninstallExe()) + " " + Quoted(log) + " /S"));
    for (const std::wstring &entry : ForeignNameTree(L"tree"))
        EXPECT_TRUE(WideMissing(box, entry));
    EXPECT_TRUE(Exists(box + "\\canary.txt"));
    WipeTree(box);
}

/* Fullwidth full stops are listed as "." and "..", after the real dot entries
   and with short names: entries like any other, for the preview and the
   removal alike. */
TEST(SystemPreview, NamesListedAsDotsAreRemovedAsThePreviewPredicted)
{
    ASSERT_EQ(1252u, GetACP()) << "fullwidth full stops are listed as '.' under 1252";
    std::string box = Sandbox("preview-dots"), tree = box + "\\tree", report = box + "\\report.txt";
    MakeWideFiles(box, {L"tree\\", L"tree\\\xff0e\\", L"tree\\\xff0e\\\xff0e\xff0e",
                        L"tree\\\xff0e\xff0e", L"tree\\plain.txt"});
    std::string log = box + "\\removal.log";
    MakeFile(log, "dirw:" + tree + "\r\n");

    std::string output;
    RunCapturing(Quoted(LogcheckExe()) + " --system " + Quoted(log), output);
    std::map<unsigned long, std::set<std::string>> predicted;
    std::set<std::string> left;
    ReadPreview(output, log, predicted, left);
    EXPECT_EQ(1u, predicted[1].count("will-remove-tree")) << output;
    EXPECT_NE(std::string::npos, output.find("3 files, 2 folders")) << output;
    EXPECT_EQ(0, RunAndWait(Quoted(UninstallExe()) + " " + Quoted(log) + " /S /LOG=" + Quoted(report)));
    EXPECT_EQ(ReportedName("will-remove-tree"), ReadReport(report, log)[1]);
    EXPECT_TRUE(Missing(tree));
    /* WipeTree would take such a name for the folder or its parent. */
    StartUnixProgram("Z:\\bin\\rm -rf \"" + UnixPath(box) + "\"");
    EXPECT_TRUE(GoneWithin(box, 5000));
}

TEST(SystemPreview, LogcheckDeclaresThatItRunsAsItsCaller)
{
    std::string logcheck = LogcheckExe();
    HMODULE image = LoadLibraryExA(logcheck.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(image != NULL);
    HRSRC manifest = FindResourceExA(image, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1), 1033);
    ASSERT_TRUE(manifest != NULL);
    std::string text((const char *)LockResource(LoadResource(image, manifest)),
                     SizeofResource(image, manifest));
    EXPECT_NE(std::string::npos, text.find("level=\"asInvoker\"")) << text;
    FreeLibrary(image);
}

/* A file held without delete sharing is in use: in a folder its user owns it
   stays, in the preview and in the report alike. */
TEST(SystemPreview, AHeldFileIsInUseInThePreviewAndInTheReport)
{
    std::string box = Sandbox("preview-held"), report = box + "\\report.txt";
    MakeFiles(box, {"held.dat", "tree\\inner.dat"});
    HANDLE holders[2];
    for (int i = 0; i < 2; i++)
        holders[i] = CreateFileA((box + (i == 0 ? "\\held.dat" : "\\tree\\inner.dat")).c_str(),
                                 GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    std::string log = box + "\\removal.log";
    std::string text = "file:" + box + "\\held.dat\r\ndirw:" + box + "\\tree\r\n";
    MakeFile(log, text);

    std::string output;
    RunCapturing(Quoted(LogcheckExe()) + " --system " + Quoted(log), output);
    std::map<unsigned long, std::set<std::string>> predicted;
    std::set<std::string> left;
    ReadPreview(output, log, predicted, left);
    EXPECT_EQ(1u, predicted[1].count("will-fail-in-use")) << output;
    EXPECT_EQ(1u, predicted[2].count("tree-stops")) << output;
    EXPECT_EQ(1603, RunAndWait(Quoted(UninstallExe()) + " " + Quoted(log) + " /S /LOG=" + Quoted(report)));
    std::map<unsigned long, std::string> reported = ReadReport(report, log);
    EXPECT_EQ("failed-in-use", reported[1]);
    EXPECT_EQ("tree-stopped", reported[2]);

    for (HANDLE holder : holders)
        CloseHandle(holder);
    WipeTree(box);
}
