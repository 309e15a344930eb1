/*
 * The checks, one table of logs per group: each case a log and the findings
 * expected of it, as "check:LINE" in log order. Logs are written with LF; the
 * line counting itself is tested in log_text_test.cpp.
 */
#include "logcheck/logcheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

struct Case {
    std::string log;
    std::vector<std::string> findings;
    const char *uninstaller = nullptr;
};

std::vector<std::string> Check(const std::string &bytes, const char *uninstaller,
                               std::vector<std::string> *messages = nullptr,
                               const unsigned char *leadBytes = nullptr)
{
    LogText log;
    EXPECT_TRUE(ParseLog(&log, "t.log", bytes.data(), bytes.size()));
    log.leadBytes = leadBytes;
    Findings findings = {};
    CheckOptions options = {uninstaller};
    CheckLog(&log, &options, &findings);
    std::stable_sort(findings.items, findings.items + findings.count,
                     [](const Finding &a, const Finding &b) { return a.offset < b.offset; });
    std::vector<std::string> found;
    for (size_t i = 0; i < findings.count; i++) {
        size_t line, column;
        LineAndColumn(&log, findings.items[i].offset, &line, &column);
        found.push_back(std::string(findings.items[i].check) + ":" + std::to_string(line));
        if (messages != nullptr)
            messages->push_back(findings.items[i].message);
    }
    FreeFindings(&findings);
    FreeLog(&log);
    return found;
}

void RunTable(const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.log);
        EXPECT_EQ(c.findings, Check(c.log, c.uninstaller));
    }
}

const std::string LONG_PATH = "C:\\" + std::string(256, 'a'); /* 259 bytes */

} // namespace

TEST(CheckLog, ReportsRecordsThatArePassedOver)
{
    RunTable({
        {"\xEF\xBB\xBF" "file:C:\\a\nfile:C:\\b\n", {"byte-order-mark:1"}},
        {"\xEF\xBB\xBF\nfile:C:\\a\n", {}},
        {"file:C:\\a\n  dir:C:\\b\n", {"leading-blank:2"}},
        {"files:C:\\a\nreg:HKCU\\a\\b\nC:\\a.txt\n", {"unknown-kind:1", "unknown-kind:2", "unknown-kind:3"}},
        {"file:\ndirw:\nlink:\n", {"empty-path:1", "empty-path:2", "empty-path:3"}},
        {"\xFF\xFE" "f\0i\0l\0e\0"s, {"utf16-log:1"}},
        {"f\0i\0l\0e\0:\0"s, {"utf16-log:1"}},
        {"", {}},
    });
}

TEST(CheckLog, ReportsRegistryItemsThatNameNothingOrTheRoot)
{
    RunTable({
        {"key:HKCU\\Name\nkey:HKCU\nkey:\n",
         {"key-too-few-backslashes:1", "key-too-few-backslashes:2", "key-too-few-backslashes:3"}},
        {"key:HKEY_LOCAL_MACHINES\\a\\b\nkey:HKCU5\\a\\\n", {"unknown-root:1", "unknown-root:2"}},
        {"key:HKCU\\\\Name\nkey:HKU\\\\\n", {"key-empty-path:1", "key-empty-path:2"}},
        {"key:hkey_current_user\\Software\\V\\\nkey:HKCC\\a\\b\n", {}},
    });
}

TEST(CheckLog, ReportsPathsTheUninstallerCannotUseAsWritten)
{
    RunTable({
        {"file:a.txt\ndir:\\Vorblend\nlink:C:x.lnk\nfile:\\\\srv\\share\\a\n",
         {"path-not-fully-qualified:1", "path-not-fully-qualified:2", "path-not-fully-qualified:3"}},
        {"dirw:C:\\\ndirw:x\\y\ndirw:C:\\a\\..\\b\ndirw:\\\\srv\\share\ndirw:\\\\.\\PhysicalDrive0\\x\n",
         {"dirw-refused:1", "dirw-refused:2", "dirw-refused:3", "dirw-refused:4", "dirw-refused:5"}},
        {"dirw:C:\\a/\ndirw:C:\\b\\\\\ndirw:C:\\c\\\n",
         {"slash-separator:1", "dirw-trailing-separator:1", "dirw-trailing-separator:2"}},
        {("dirw:" + LONG_PATH + "\nfile:C:\\" + std::string(256, 'b') + "\ndirw:" + LONG_PATH + "b\nlink:" + LONG_PATH +
          "b.lnk\n"),
         {"path-too-long:3", "path-too-long:4"}},
        {"file:C:/a/b.txt\nlink:C:/a/b.lnk\n", {"slash-separator:1"}},
    });
}

TEST(CheckLog, ReportsRemovalsOfSharedFolders)
{
    RunTable({
        {"dirw:C:\\Program Files\ndir:d:\\users\\ann\\appdata\\local\\\ndirw:C:/Windows//System32/\n"
         "dirw:\\\\?\\C:\\ProgramData\n",
         {"shared-folder:1", "shared-folder:2", "slash-separator:3", "dirw-trailing-separator:3",
          "shared-folder:4"}},
        {"dirw:C:\\Program Files\\Brenhow\ndir:C:\\Users\\Ann\\AppData\\Local\\Vorblend\n", {}},
    });
}

TEST(IsSharedFolder, KnowsTheFoldersOtherProgramsShareByTheirSpelling)
{
    struct Row {
        const char *path;
        bool shared;
    } rows[] = {
        {"C:\\", true},
        {"z:\\windows\\syswow64\\", true},
        {"C:\\Windows\\Temp", true},
        {"C:\\Program Files (x86)", true},
        {"C:\\Documents and Settings", true},
        {"C:\\Users\\Public\\Desktop", true},
        {"C:\\Users\\Ann", true},
        {"C:\\Users\\Ann\\AppData\\LocalLow", true},
        {"C:\\Users\\Ann\\AppData\\Local\\Temp", true},
        {"C:\\Users\\Ann\\Downloads", true},
        {"C:\\Users\\Ann\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs", true},
        {"C:\\ProgramData\\Microsoft\\Windows\\Start Menu", true},
        {"C:\\Users\\Ann\\Documents\\Vorblend", false},
        {"C:\\Windows\\System", false},
        {"C:", false},
        {"Program Files", false},
        {"C:\\Users\\\\", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.path);
        const char *description = nullptr;
        EXPECT_EQ(row.shared, IsSharedFolder(row.path, strlen(row.path), &description));
    }
}

TEST(CheckLog, ReportsWhatTheUninstallerDefersOfItsOwnPath)
{
    const char *own = "C:\\App\\uninstall.exe";
    RunTable({
        {"file:C:\\App\\uninstall.exe\ndir:C:\\App\\\n", {}},
        /* The copy takes them in log order: the folder before the file in it stays. */
        {"dir:C:\\App\\\nfile:C:\\App\\a.txt\nfile:C:\\App\\uninstall.exe\n", {"dir-before-contents:1"}},
        {"dirw:C:\\App\nfile:C:\\App\\uninstall.exe\n", {"dirw-deferred:1"}},
        {"dirw:C:\\Ap\nfile:C:\\App\\uninstall\nlink:C:\\App\\uninstall.lnk\nfile:C:\\App\\uninstall.exe\n",
         {"deferred-other-path:1", "deferred-other-path:2"}},
        {"file:C:\\App\\vorblend.exe\n", {"uninstaller-left-behind:1"}, own},
        {"file:C:\\App\\UNINSTALL.EXE\ndirw:C:\\Ap\n", {"deferred-other-path:2"}, own},
        {"file:C:\\Other\\uninstall.exe\ndirw:C:\\App\n", {"uninstaller-left-behind:1", "dirw-deferred:2"}, own},
    });
}

TEST(CheckLog, ReportsOrderAndRepeatsAcrossTheLog)
{
    RunTable({
        {"dir:C:\\a\nfile:C:\\a\\b\\c.txt\nfile:C:\\ab\n", {"dir-before-contents:1"}},
        {"file:C:\\a\\x\ndir:C:\\a\\\ndir:C:\\a\n", {"repeated-path:3"}},
        {"key:HKCU\\S\\V\\\nkey:HKEY_CURRENT_USER\\s\\v\\Sub\\\nkey:HKCU\\S\\V\\Own\n",
         {"key-before-subkeys:1"}},
        {"key:HKCU\\S\\V\\Name\nkey:hkey_current_user\\s\\v\\name\nkey:HKLM\\S\\V\\Name\n",
         {"repeated-path:2"}},
        {"dirw:C:\\a\nfile:C:\\A\\b.txt\ndir:c:/a/b/\nfile:C:\\a\n",
         {"inside-removed-tree:2", "inside-removed-tree:3", "slash-separator:3", "repeated-path:4"}},
        {"dirw:C:\\a\\\\\nfile:C:\\a\\b\n", {"dirw-trailing-separator:1"}},
    });
}

/* The log is t.log here: its own record is the last file: record of that name. */
TEST(CheckLog, WarnsWhenMoreThanTheCopysPathsFollowsTheLogsOwnRecord)
{
    RunTable({
        {"file:C:\\App\\t.log\nkey:HKCU\\S\\V\\\nfile:C:\\App\\a.txt\n", {"log-not-last:1"}},
        {"file:C:\\App\\a.txt\nfile:C:\\App\\T.LOG\nfile:C:\\App\\uninstall.exe\ndir:C:\\App\\\n", {}},
        {"file:C:\\Old\\t.log\nfile:C:\\App\\a.txt\nfile:C:\\App\\t.log\nfiles:C:\\x\n", {"unknown-kind:4"}},
        {"file:C:\\App\\at.log\nfile:C:\\App\\a.txt\n", {}},
    });
}

TEST(CheckLog, ReportsEncodingAndShortcutNames)
{
    RunTable({
        {"file:C:\\Caf\xC3\xA9\nfile:C:\\Caf\xE9\nkey:HKCU\\S\\\xE2\x82\xAC\\\n", {"utf8-text:1", "utf8-text:3"}},
        {"file:C:\\\xED\xA0\x80\nfile:C:\\\xC0\xAF\n", {}},
        {"link:C:\\a\\V.LNK\nlink:C:\\a\\V.url\nlink:C:\\a\\V.exe\n", {"link-extension:3"}},
    });
}

TEST(CheckLog, SuggestsTheNameMeantForANearMiss)
{
    struct Row {
        const char *log;
        const char *suggestion; /* null: no "did you mean" */
    } rows[] = {
        {"files:C:\\a", "did you mean 'file:'?"},
        {"lnk:C:\\a.lnk", "did you mean 'link:'?"},
        {"reg:HKCU\\a\\b", "did you mean 'key:'?"},
        {"dirw C:\\a", "did you mean 'dirw:'?"},
        {"folder:C:\\a", nullptr},
        {"key:HKEY_LOCAL_MACHINES\\a\\b", "did you mean 'HKEY_LOCAL_MACHINE'?"},
        {"key:HKCUU\\a\\b", "did you mean 'HKCU'?"},
        {"key:HKEY_USER_CURRENT\\a\\b", nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.log);
        std::vector<std::string> messages;
        Check(row.log, nullptr, &messages);
        ASSERT_EQ(1u, messages.size());
        EXPECT_EQ(row.suggestion != nullptr, messages[0].find("did you mean") != std::string::npos);
        if (row.suggestion != nullptr)
            EXPECT_NE(std::string::npos, messages[0].find(row.suggestion)) << messages[0];
    }
}

/* Shift_JIS text read as code page 932 and, wrongly, as 1252: second bytes of
   0x5C or of a letter make the byte-wise reading see separators and case. */
TEST(CheckLog, ReadsDoubleByteLogsByCharacters)
{
    const std::string S = "\x95\x5C", H = "\x95\x41", B = "\x95\x61"; /* 表 柊 病 */
    const std::string LIST = "\x88\xEA\x97\x97" + S;                  /* 一覧表 */
    struct DoubleByteCase {
        std::string log;
        std::vector<std::string> as932, as1252;
    } cases[] = {
        {"dirw:C:\\V\\" + S + "\\\n", {}, {"dirw-trailing-separator:1"}},
        {"file:C:\\V\\" + H + "\nfile:C:\\V\\" + B + "\n", {}, {"repeated-path:2"}},
        {"file:C:\\" + B + "\\uninstall.exe\ndirw:C:\\" + H + "\n", {}, {"dirw-deferred:2"}},
        {"file:C:\\V\\" + LIST + "\n", {}, {"utf8-text:1"}},
        {"dirw:\\\\srv\\" + S + "x\n", {"dirw-refused:1"}, {}},
        /* The system drops or replaces a lone lead byte: another path is named. */
        {"file:C:\\x\\f.txt\xE8\ndir:C:\\x\\" + S + "\x95\n", {"path-lone-lead-byte:1", "path-lone-lead-byte:2"}, {}},
        {"key:HKCU\\" + S + "\\\nkey:HKCU\\" + S + "\\y\\x\n", {"key-before-subkeys:1"}, {}},
    };
    for (const DoubleByteCase &c : cases) {
        SCOPED_TRACE(c.log);
        EXPECT_EQ(c.as932, Check(c.log, nullptr, nullptr, LeadBytesOfCodePage(932)));
        EXPECT_EQ(c.as1252, Check(c.log, nullptr));
    }
    /* A double-byte character is quoted whole, never as half and a backslash. */
    std::vector<std::string> messages;
    Check("file:" + S + "x\n", nullptr, &messages, LeadBytesOfCodePage(932));
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(0u, messages[0].find("\\x95\\x5Cx is not fully qualified")) << messages[0];
}
