/*
 * The command line after the log, and the real uninstall.exe run silently
 * with /LOG=: its exit code (read on the Windows side: a Unix status keeps
 * only 8 bits), the report's line for each record, and what is left.
 */
#include "driver/driver.h"
#include "support/test_support.h"

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
    const char *line; /* "$" stands for the sandbox, "%" for the test's key */
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
};

std::string Expand(const std::string &text, const std::string &box, const std::string &key)
{
    std::string out;
    for (char c : text)
        out += c == '$' ? box : c == '%' ? "HKCU\\" + key : std::string(1, c);
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
