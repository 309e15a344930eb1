/*
 * The command line after the log, and the real uninstall.exe run silently
 * with /LOG=: its exit code (read on the Windows side: a Unix status keeps
 * only 8 bits), the report's line for each record, and what is left.
 */
#include "driver/driver.h"
#include "report/report.h"
#include "resources/resource_ids.h"
#include "support/test_support.h"
#include "support/wizard_driver.h"

#include <map>
#include <string>
#include <vector>

using namespace testsupport;

TEST(ReadSwitches, SilentAnywhereAfterTheLogAndTheFirstLogSwitchCounts)
{
    const struct {
        std::vector<const char *> arguments; /* after the program and the log */
        int silent;
        const char *report; /* null: none asked for */
    } cases[] = {
        {{}, 0, nullptr},
        {{"/S"}, 1, nullptr},
        {{"other", "-s"}, 1, nullptr},
        {{"/LOG=C:\\r.txt", "/s"}, 1, "C:\\r.txt"},
        {{"-S", "-log=first.txt", "/Log=second.txt"}, 1, "first.txt"},
        {{"/LOG="}, 0, ""},
        {{"/LOG"}, 0, nullptr},
        {{"/LOGS=x", "/SILENT", "LOG=x"}, 0, nullptr},
    };
    for (const auto &c : cases) {
        std::vector<char *> argv = {(char *)"uninstall.exe", (char *)"C:\\removal.log"};
        for (const char *argument : c.arguments)
            argv.push_back((char *)argument);
        SCOPED_TRACE(argv.size() > 2 ? argv[2] : "(none)");
        ReportPath = NULL;
        EXPECT_EQ(c.silent, ReadSwitches((int)argv.size(), argv.data()));
        if (c.report == nullptr)
            EXPECT_TRUE(ReportPath == NULL) << ReportPath;
        else
            EXPECT_STREQ(c.report, ReportPath);
    }
    ReportPath = NULL;
}

namespace {

struct Record {
    const char *line; /* "$" stands for the sandbox, "&" for it with slashes, "%" for the test's key */
    const char *tag;  /* the report's outcome for it */
};

struct SilentRun {
    const char *name;
    std::vector<std::string> files; /* below the sandbox; a folder ends in "\" */
    const char *readOnly;           /* one of them made read-only, or null */
    std::vector<std::string> keys;  /* below the test's key: "K\" a key, "K\V" a value */
    std::vector<Record> records;
    const char *log;                /* the log's path given, below the sandbox */
    const char *report;             /* the report's path given, below the sandbox */
    long exitCode;
};

const SilentRun RUNS[] = {
    {"demo",
     {"App\\vorblend.exe", "App\\readme.txt", "App\\plugins\\reverb.dll", "App\\data\\p\\p1.vbp",
      "Menu\\Vorblend.lnk"},
     nullptr,
     {"Vorblend\\Language", "Vorblend\\Recent\\File1"},
     {{"file:$\\App\\vorblend.exe", "removed-file"},
      {"file:$\\App\\readme.txt", "removed-file"},
      {"dirw:$\\App\\plugins", "removed-tree"},
      {"dirw:$\\App\\data", "removed-tree"},
      {"link:$\\Menu\\Vorblend.lnk", "removed-file"},
      {"key:%\\Vorblend\\Language", "removed-value"},
      {"key:%\\Vorblend\\Recent\\", "removed-key"},
      {"key:%\\Vorblend\\", "removed-key"},
      {"key:%\\", "removed-key"},
      {"file:$\\App\\uninstall.exe", "deferred"},
      {"dir:$\\App\\", "deferred"},
      {"dir:$\\Menu", "removed-folder"}},
     "removal.log", "report.txt", 0},
    {"failures",
     {"App\\a.txt", "App\\tree\\b.txt", "App\\tree\\locked.txt", "App\\tree\\sub\\c.txt"},
     "App\\tree\\locked.txt",
     {"Keep\\Value", "Keep\\Unnamed\\"},
     {{"file:$\\App\\a.txt", "removed-file"},
      {"dirw:$\\App\\tree", "tree-stopped"},
      {"key:%\\Keep\\Value", "removed-value"},
      {"key:%\\Keep\\", "failed-subkeys"},
      {"file:$\\App\\gone.txt", "names-nothing"},
      {"keys:%\\Keep\\", "passed-over"},
      {"file:$\\App\\uninstall.exe", "deferred"}},
     "removal.log", "report.txt", 1603},
    {"no-log", {"App\\a.txt"}, nullptr, {"Keep\\Value"}, {{"file:$\\App\\a.txt", ""}},
     "absent.log", "report.txt", 1605},
    {"no-report-folder", {"App\\a.txt"}, nullptr, {"Keep\\Value"}, {{"file:$\\App\\a.txt", ""}},
     "removal.log", "missing\\report.txt", 1622},
    {"report-replaced", {"App\\a.txt", "old-report.txt"}, nullptr, {},
     {{"file:$\\App\\a.txt", "removed-file"}, {"file:$\\App\\uninstall.exe", "deferred"}},
     "removal.log", "old-report.txt", 0},
    /* Every kind that names the report or its folder, spelled either way. */
    {"report-named", {"App\\a.txt", "Logs\\"}, nullptr, {},
     {{"file:$\\App\\a.txt", "removed-file"},
      {"link:$\\Logs\\report.txt", "kept-for-report"},
      {"file:&/Logs/report.txt", "kept-for-report"},
      {"dirw:$\\Logs\\report.txt", "kept-for-report"},
      {"dirw:&/Logs", "kept-for-report"},
      {"dir:&/Logs/", "kept-for-report"},
      {"file:$\\App\\uninstall.exe", "deferred"}},
     "removal.log", "Logs\\report.txt", 0},
};

std::string Slashed(std::string path)
{
    for (char &c : path)
        c = c == '\\' ? '/' : c;
    return path;
}

std::string Expand(const std::string &text, const std::string &box, const std::string &key)
{
    std::string out;
    for (char c : text)
        out += c == '$' ? box : c == '&' ? Slashed(box) : c == '%' ? "HKCU\\" + key : std::string(1, c);
    return out;
}

void Install(const SilentRun &run, const std::string &box, const std::string &key)
{
    MakeDirectory(box + "\\App");
    MakeFiles(box, run.files, "installed");
    if (run.readOnly)
        SetFileAttributesA((box + "\\" + run.readOnly).c_str(), FILE_ATTRIBUTE_READONLY);
    MakeKeys(key, run.keys);
    CopyFileA(UninstallExe().c_str(), (box + "\\App\\uninstall.exe").c_str(), FALSE);
    std::string text;
    for (const Record &record : run.records)
        text += Expand(record.line, box, key) + "\r\n";
    MakeFile(box + "\\removal.log", text);
}

/* The report's line for each record, by line number. */
std::map<unsigned long, std::string> RecordLines(const std::string &text, const std::string &log)
{
    std::map<unsigned long, std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\r\n", at);
        std::string line = text.substr(at, end - at);
        at = end == std::string::npos ? text.size() : end + 2;
        if (line.compare(0, log.size() + 1, log + ":") == 0 && isdigit((unsigned char)line[log.size() + 1]))
            lines[strtoul(line.c_str() + log.size() + 1, NULL, 10)] = line;
    }
    return lines;
}

std::string TagOf(const std::string &line)
{
    size_t open = line.rfind('[');
    return open == std::string::npos ? "" : line.substr(open + 1, line.size() - open - 2);
}

} // namespace

TEST(SilentRemoval, EndsWithInstallerCodesAndReportsWhatEachRecordDid)
{
    for (const SilentRun &run : RUNS) {
        SCOPED_TRACE(run.name);
        std::string box = Sandbox(std::string("report-") + run.name);
        std::string key = "Software\\VorblendReport-" + std::to_string(GetCurrentProcessId());
        RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
        Install(run, box, key);
        std::string log = box + "\\" + run.log, report = box + "\\" + run.report;

        long code = RunAndWait(Quoted(box + "\\App\\uninstall.exe") + " " + Quoted(log) +
                               " /LOG=" + Quoted(report) + " /S");
        EXPECT_EQ(run.exitCode, code);
        std::string text = ReadText(report);
        std::map<unsigned long, std::string> lines = RecordLines(text, log);
        if (run.exitCode == 1605 || run.exitCode == 1622) {
            for (const Record &record : run.records)
                EXPECT_TRUE(Present(Expand(record.line, box, key))) << "nothing changes";
            EXPECT_TRUE(lines.empty()) << text;
            if (run.exitCode == 1605) {
                EXPECT_NE(std::string::npos, text.find("[log-not-found]\r\n\r\nSummary")) << text;
            } else {
                EXPECT_TRUE(Missing(report));
            }
        } else {
            EXPECT_EQ(0u, text.find("Vorblend removal report\r\n")) << "written new: " << text;
            EXPECT_NE(std::string::npos, text.find("\r\nExit code: " + std::to_string(code)));
            for (size_t i = 0; i < run.records.size(); i++) {
                const Record &record = run.records[i];
                std::string named = Expand(record.line, box, key), line = lines[i + 1];
                EXPECT_EQ(record.tag, TagOf(line)) << line;
                if (std::string(record.tag).rfind("removed", 0) == 0) {
                    EXPECT_FALSE(Present(named)) << named;
                }
            }
        }
        if (std::string(run.name) == "failures") {
            EXPECT_NE(std::string::npos, lines[2].find("(5, ")) << lines[2];
            EXPECT_NE(std::string::npos, lines[2].find(box + "\\App\\tree\\locked.txt")) << lines[2];
            EXPECT_NE(std::string::npos, lines[4].find("(5, ")) << lines[4];
            EXPECT_NE(std::string::npos, lines[4].find("HKCU\\" + key + "\\Keep\\")) << lines[4];
        }
        /* The copy, when one started, must be done before the sandbox goes. */
        if (run.exitCode == 0 || run.exitCode == 1603) {
            EXPECT_TRUE(GoneWithin(box + "\\App\\uninstall.exe", 10000));
            GoneWithin(TempDirectory() + "uninstallqx.exe", 10000);
        }
        WipeTree(box);
        RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    }
}

TEST(OpenReport, AReportInsideAFolderTheLogRemovesKeepsThatFolderAndIsNoFailure)
{
    std::string box = Sandbox("report-inside"), log = box + "\\removal.log";
    MakeDirectory(box + "\\App");
    MakeFile(box + "\\App\\a.txt");
    MakeFile(log, "dirw:" + box + "\\App\r\n");
    std::string report = box + "\\App\\report.txt";
    PendingRemovalList = NULL;
    ModulePath[0] = '\0';
    ReportPath = report.c_str();
    ASSERT_TRUE(OpenReport(log.c_str(), true));
    ProcessRemovalLog(log.c_str());
    EXPECT_EQ(0u, SilentExitCode(0));
    CloseReport(0);
    ReportPath = NULL;
    RecordCarriedOut = NULL;

    EXPECT_TRUE(Missing(box + "\\App\\a.txt"));
    std::string text = ReadText(report);
    EXPECT_NE(std::string::npos, text.find("1 file, 0 folders, 0 links; 2 left in place [removed-tree]"))
        << text;
    WipeTree(box);
}

namespace {

std::string ShortForm(const std::string &path)
{
    char buffer[MAX_PATH] = "";
    GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
    return buffer;
}

/* CreateReportFile's verdict on a path; a report it made is closed again. */
bool Creates(const std::string &report, const std::string &log)
{
    HANDLE file = NULL;
    bool made = CreateReportFile(report.c_str(), log.c_str(), &file);
    EXPECT_EQ(made, ReportFolder != NULL) << "the folder is held exactly while a report is made";
    if (made)
        CloseHandle(file);
    ReleaseReportFolder();
    return made;
}

} // namespace

/* The log under three spellings and the program's own file: nothing is
   deleted or written there, whatever the spelling. */
TEST(CreateReportFile, NeverTakesTheLogOrTheProgramUnderAnySpelling)
{
    std::string box = Sandbox("report-own"), log = box + "\\removal.log";
    std::string program = box + "\\uninstall.exe";
    MakeFile(log, "file:" + box + "\\a.txt\r\n");
    ASSERT_TRUE(CopyFileA(UninstallExe().c_str(), program.c_str(), FALSE));
    std::string programBytes = ReadText(program);
    lstrcpynA(ModulePath, program.c_str(), MAX_PATH);
    ASSERT_NE(log, ShortForm(log));
    for (const std::string &spelling : {log, ShortForm(log), Slashed(log), program}) {
        SCOPED_TRACE(spelling);
        EXPECT_FALSE(Creates(spelling, log));
        EXPECT_EQ("file:" + box + "\\a.txt\r\n", ReadText(log));
        EXPECT_EQ(programBytes, ReadText(program));
    }
    /* Beside them, in the same folder given in short form, a report is made. */
    EXPECT_TRUE(Creates(ShortForm(box) + "\\report.txt", log));
    EXPECT_TRUE(Exists(box + "\\report.txt"));
    ModulePath[0] = '\0';
    WipeTree(box);
}

/* Wine shows a Unix link to a folder as a reparse point and resolves it in
   the final path, as Windows does a junction. */
TEST(CreateReportFile, RefusesALinkAtOrAboveItsFolderAndCreatesNothingBehindIt)
{
    std::string box = Sandbox("report-link"), log = box + "\\removal.log";
    MakeFile(log, "");
    MakeFiles(box, {"target\\", "real\\sub\\"});
    ASSERT_TRUE(MakeFolderLink(box + "\\link", box + "\\target"));
    ASSERT_TRUE(MakeFolderLink(box + "\\up", box + "\\real"));
    EXPECT_FALSE(Creates(box + "\\link\\report.txt", log));
    EXPECT_TRUE(Missing(box + "\\target\\report.txt"));
    EXPECT_FALSE(Creates(box + "\\up\\sub\\report.txt", log));
    EXPECT_TRUE(Missing(box + "\\real\\sub\\report.txt"));
    EXPECT_TRUE(Creates(box + "\\real\\sub\\report.txt", log));
    EXPECT_TRUE(RemoveFolderLink(box + "\\link"));
    EXPECT_TRUE(RemoveFolderLink(box + "\\up"));
    WipeTree(box);
}

TEST(SilentRemoval, AReportOverTheLogEnds1622AndTheWizardGoesOnWithoutOne)
{
    std::string box = Sandbox("report-over-log"), log = box + "\\removal.log";
    MakeDirectory(box + "\\App");
    std::string program = box + "\\App\\uninstall.exe";
    ASSERT_TRUE(CopyFileA(UninstallExe().c_str(), program.c_str(), FALSE));
    MakeFile(box + "\\a.txt");
    std::string text = "file:" + box + "\\a.txt\r\n";
    MakeFile(log, text);
    std::string line = Quoted(program) + " " + Quoted(log) + " /LOG=" + Quoted(ShortForm(log));
    EXPECT_EQ(1622, RunAndWait(line + " /S"));
    EXPECT_EQ(text, ReadText(log));
    EXPECT_TRUE(Exists(box + "\\a.txt"));

    EXPECT_EQ(0, wizarddriver::WalkThreePages(line, IDC_CONTINUE));
    EXPECT_TRUE(Missing(box + "\\a.txt"));
    EXPECT_EQ(text, ReadText(log));
    WipeTree(box);
}

/* 206 for a log path past the narrow calls' limit, 32 for one held without
   sharing: the log is there, so the removal failed; 1605 is only for none. */
TEST(SilentRemoval, ALogThatCannotBeLookedAtOrReadEnds1603WithItsCode)
{
    std::string box = Sandbox("report-log-fails"), report = box + "\\report.txt";
    MakeFile(box + "\\a.txt");
    std::string record = "file:" + box + "\\a.txt\r\n";
    std::string deep = box;
    while (deep.size() < MAX_PATH) {
        deep += "\\" + std::string(40, 'd');
        std::wstring wide(deep.begin(), deep.end());
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + wide).c_str(), NULL));
    }
    std::string longLog = deep + "\\removal.log";
    std::wstring wideLog(longLog.begin(), longLog.end());
    HANDLE file = CreateFileW((L"\\\\?\\" + wideLog).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              0, NULL);
    DWORD written;
    WriteFile(file, record.data(), (DWORD)record.size(), &written, NULL);
    CloseHandle(file);
    std::string heldLog = box + "\\held.log";
    MakeFile(heldLog, record);
    HANDLE held = CreateFileA(heldLog.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);

    const struct {
        std::string log;
        const char *code;
    } cases[] = {{longLog, "(206, "}, {heldLog, "(32, "}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(1603, RunAndWait(Quoted(UninstallExe()) + " " + Quoted(c.log) + " /S /LOG=" +
                                   Quoted(report)));
        std::string text = ReadText(report);
        EXPECT_NE(std::string::npos, text.find(std::string(c.code))) << text;
        EXPECT_NE(std::string::npos, text.find("[log-unreadable]")) << text;
        EXPECT_TRUE(Exists(box + "\\a.txt"));
    }
    CloseHandle(held);
    DeleteFileW((L"\\\\?\\" + wideLog).c_str());
    while (deep.size() > box.size()) {
        std::wstring wide(deep.begin(), deep.end());
        RemoveDirectoryW((L"\\\\?\\" + wide).c_str());
        deep.resize(deep.find_last_of('\\'));
    }
    WipeTree(box);
}

/* The program named so often that its clean-up copy's command line cannot
   hold every path: those it leaves out are failures, named one by one. */
TEST(SilentRemoval, PathsPastTheCopysCommandLineAreReportedNotHandedAndEnd1603)
{
    std::string box = Sandbox("report-not-handed"), app = box + "\\App";
    std::string program = app + "\\uninstall.exe", report = box + "\\report.txt";
    MakeDirectory(app);
    ASSERT_TRUE(CopyFileA(UninstallExe().c_str(), program.c_str(), FALSE));
    const int copies = 32767 / (int)(program.size() + 3) + 20;
    std::string text;
    for (int i = 0; i < copies; i++)
        text += "file:" + program + "\r\n";
    text += "dir:" + app + "\\\r\n";
    MakeFile(box + "\\removal.log", text);

    EXPECT_EQ(1603, RunAndWait(Quoted(program) + " " + Quoted(box + "\\removal.log") + " /S /LOG=" +
                               Quoted(report)));
    std::string written = ReadText(report);
    std::map<std::string, int> tags;
    for (const auto &line : RecordLines(written, box + "\\removal.log"))
        tags[TagOf(line.second)]++;
    EXPECT_EQ(copies + 1, tags["deferred"] + tags["not-handed"]) << written;
    EXPECT_GE(tags["not-handed"], 20) << written;
    EXPECT_NE(std::string::npos, written.find("not-handed; " + std::to_string(tags["not-handed"]) +
                                              " failed"))
        << written;
    EXPECT_NE(std::string::npos, written.find("of the " + std::to_string(copies + 1) + " paths"))
        << written;
    /* The copy still takes the program; the folder, left off its list, stays. */
    EXPECT_TRUE(GoneWithin(program, 15000));
    GoneWithin(TempDirectory() + "uninstallqx.exe", 15000);
    EXPECT_TRUE(Exists(app));
    WipeTree(box);
}
