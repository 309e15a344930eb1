/*
 * The removal log reader on real log files, folders and registry keys.
 */
#include "driver/driver.h"
#include "removal/removal.h"
#include "support/failing_heap.h"
#include "support/test_support.h"

#include <string>

using namespace testsupport;

namespace {

void ForgetDeferrals(const std::string &modulePath = "")
{
    PendingRemovalList = NULL;
    lstrcpynA(ModulePath, modulePath.c_str(), MAX_PATH);
}

ErrorRef RunLog(const std::string &log, const std::string &contents)
{
    MakeFile(log, contents);
    return ProcessRemovalLog(log.c_str());
}

/* A file of the given size whose first bytes are the contents; the rest is a hole. */
bool MakeLargeFile(const std::string &path, const std::string &contents, LONGLONG size)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written = 0;
    WriteFile(file, contents.data(), (DWORD)contents.size(), &written, NULL);
    LARGE_INTEGER end;
    end.QuadPart = size;
    bool made = SetFilePointerEx(file, end, NULL, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return made;
}

} // namespace

TEST(ProcessRemovalLog, CarriesOutEveryKindWhateverTheLineEnds)
{
    std::string key = "Software\\VorblendTests\\Log-" + std::to_string(GetCurrentProcessId());
    const char *ends[] = {"\r\n", "\n", "\r", "\n\n\r\n\r\n", "\t"};
    for (const char *end : ends) {
        for (bool lastLineEnded : {true, false}) {
            SCOPED_TRACE(::testing::Message() << "end " << (int)end[0] << (lastLineEnded ? "" : ", none after the last"));
            ForgetDeferrals();
            std::string box = Sandbox("log-kinds");
            MakeFile(box + "\\f.txt");
            MakeFile(box + "\\l.lnk");
            MakeDirectory(box + "\\tree");
            MakeFile(box + "\\tree\\inner.txt");
            MakeDirectory(box + "\\d");
            MakeFile(box + "\\d\\x");
            HKEY created = NULL;
            RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                            &created, NULL);
            RegCloseKey(created);

            std::string log = "FILE:" + box + "\\f.txt" + end + "Link:" + box + "\\l.lnk" + end +
                              "dIrW:" + box + "\\tree" + end + "file:" + box + "\\d\\x" + end +
                              "Dir:" + box + "\\d" + end + "kEy:HKCU\\" + key + "\\";
            EXPECT_EQ(nullptr, RunLog(box + "\\removal.log", log + (lastLineEnded ? end : "")));
            for (const char *gone : {"\\f.txt", "\\l.lnk", "\\tree", "\\d"})
                EXPECT_TRUE(Missing(box + gone));
            EXPECT_EQ(ERROR_FILE_NOT_FOUND,
                      RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &created));
            EXPECT_EQ(nullptr, PendingRemovalList);
            WipeTree(box);
        }
    }
}

TEST(ProcessRemovalLog, PassesOverRecordsOfNoKindAndFailuresAndGoesOn)
{
    ForgetDeferrals();
    std::string box = Sandbox("log-odd");
    std::string log = box + "\\removal.log";
    for (const char *name : {"\\blank", "\\tab", "\\bom", "\\caf\xe9", "\\after", "\\twice"})
        MakeFile(box + name);
    MakeDirectory(box + "\\full");
    MakeFile(box + "\\full\\stays");
    std::string contents = "\xef\xbb\xbf" "file:" + box + "\\bom\n" +
                           " file:" + box + "\\blank\n" +
                           "\tfile:" + box + "\\tab\n" +
                           "file:" + box + "\\caf\xe9\n" +
                           "dir:" + box + "\\full\n" +
                           "file:" + box + "\\after\n" +
                           "file:" + box + "\\twice\nfile:" + box + "\\twice\n" +
                           "files:" + box + "\\full\\stays\nfil\nlink:\n" +
                           "file:" + log + "\n";
    EXPECT_EQ(nullptr, RunLog(log, contents));
    EXPECT_TRUE(Exists(box + "\\bom"));
    EXPECT_TRUE(Exists(box + "\\blank"));
    EXPECT_TRUE(Missing(box + "\\tab"));
    EXPECT_TRUE(Missing(box + "\\caf\xe9"));
    EXPECT_TRUE(Exists(box + "\\full\\stays"));
    EXPECT_TRUE(Missing(box + "\\after"));
    EXPECT_TRUE(Missing(box + "\\twice"));
    EXPECT_TRUE(Missing(log)); /* closed before its own record ran */
    EXPECT_EQ(nullptr, PendingRemovalList);
    WipeTree(box);
}

TEST(ProcessRemovalLog, DefersTheProgramsOwnPathsButNeverALink)
{
    std::string box = Sandbox("log-own");
    std::string app = box + "\\Vorblend", own = app + "\\uninstall.exe";
    MakeDirectory(app);
    MakeFile(own);
    MakeFile(app + "\\data.txt");
    ForgetDeferrals(own);
    std::string log = box + "\\removal.log";
    EXPECT_EQ(nullptr, RunLog(log, "file:" + own + "\r\ndir:" + app + "\\\r\ndirw:" + app +
                                       "\r\nfile:\r\ndir:\r\ndirw:\r\n"));
    ASSERT_NE(nullptr, PendingRemovalList);
    EXPECT_EQ(Quoted(own) + " " + Quoted(app + "\\") + " " + Quoted(app) + " \"\" \"\" \"\"",
              std::string(PendingRemovalList));
    EXPECT_TRUE(Exists(own));
    EXPECT_TRUE(Exists(app + "\\data.txt")); /* a deferred tree is not entered */

    EXPECT_EQ(nullptr, RunLog(log, "link:" + own + "\n"));
    EXPECT_TRUE(Missing(own));
    ForgetDeferrals();
    WipeTree(box);
}

TEST(ProcessRemovalLog, NeverRemovesATreeThatCouldBeADriveOrTheCurrentFolder)
{
    ForgetDeferrals();
    std::string box = Sandbox("log-unsafe");
    std::string here = box + "\\here", log = box + "\\removal.log";
    MakeDirectory(here);
    MakeFile(here + "\\keep.txt");
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(here.c_str());
    std::string tooLong = box + "\\" + std::string(MAX_PATH, 'x');
    struct Case {
        std::string argument;
        DWORD code;
    } cases[] = {
        {".", ERROR_INVALID_PARAMETER},          {".\\", ERROR_INVALID_PARAMETER},
        {"keep.txt", ERROR_INVALID_PARAMETER},   {"\\", ERROR_INVALID_PARAMETER},
        {"C:", ERROR_INVALID_PARAMETER},         {"C:\\", ERROR_INVALID_PARAMETER},
        {"c:/\\/", ERROR_INVALID_PARAMETER},     {"C:keep.txt", ERROR_INVALID_PARAMETER},
        {"\\\\server\\share\\", ERROR_INVALID_PARAMETER},
        {"//server/share", ERROR_INVALID_PARAMETER},
        {"\\\\server\\", ERROR_INVALID_PARAMETER},
        {here + "\\..", ERROR_INVALID_PARAMETER}, {here + "\\.\\", ERROR_INVALID_PARAMETER},
        {tooLong, ERROR_FILENAME_EXCED_RANGE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.argument);
        ErrorRecord.code = 0;
        EXPECT_EQ(nullptr, RunLog(log, "dirw:" + c.argument + "\n"));
        EXPECT_EQ(c.code, ErrorRecord.code);
        EXPECT_TRUE(Exists(here + "\\keep.txt"));
    }
    SetCurrentDirectoryA(previous);
    /* Either separator will do for a qualified path. */
    std::string slashed = here;
    for (char &c : slashed)
        if (c == '\\')
            c = '/';
    EXPECT_EQ(nullptr, RunLog(log, "dirw:" + slashed + "\n"));
    EXPECT_TRUE(Missing(here));
    WipeTree(box);
}

TEST(ProcessRemovalLog, EmptyMissingOrFolderLogsRemoveNothing)
{
    ForgetDeferrals();
    std::string box = Sandbox("log-none");
    EXPECT_EQ(nullptr, RunLog(box + "\\empty.log", ""));
    EXPECT_EQ(nullptr, ProcessRemovalLog((box + "\\missing.log").c_str()));
    EXPECT_EQ(nullptr, ProcessRemovalLog(box.c_str()));
    EXPECT_EQ(nullptr, ProcessRemovalLog((box + "\\").c_str()));
    EXPECT_TRUE(Exists(box));
    WipeTree(box);
}

TEST(ProcessRemovalLog, AFailedOpenReadOrAllocationRemovesNothing)
{
    ForgetDeferrals();
    std::string box = Sandbox("log-fail");
    std::string victim = box + "\\victim.txt", log = box + "\\removal.log";
    MakeFile(victim);
    MakeFile(log, "file:" + victim + "\n");

    HANDLE held = CreateFileA(log.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE handle = (HANDLE)1;
    ErrorRef result = OpenForReading(log.c_str(), &handle);
    EXPECT_EQ(nullptr, handle);
    ASSERT_EQ(&ErrorRecord, result);
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, result->code);
    EXPECT_EQ(&ErrorRecord, ProcessRemovalLog(log.c_str()));
    CloseHandle(held);

    /* Wine keeps byte-range locks out of reads; a kernel attribute whose read
       fails is a real read failure on a file that probes with a size. */
    const char *unreadable = "Z:\\sys\\class\\net\\lo\\speed";
    EntryInfo info;
    ProbeEntry(unreadable, &info);
    if (info.kind == ENTRY_FILE && info.size > 0) {
        result = ProcessRemovalLog(unreadable);
        ASSERT_EQ(&ErrorRecord, result);
        EXPECT_NE(nullptr, strstr(result->text, "(ReadFile)"));
    }
    EXPECT_TRUE(Exists(victim));

    char block[4];
    EXPECT_EQ(nullptr, ReadBlock(INVALID_HANDLE_VALUE, block, 0));
    EXPECT_EQ(nullptr, ReadBlock(INVALID_HANDLE_VALUE, block, -1));
    EXPECT_EQ(&ErrorRecord, ReadBlock(INVALID_HANDLE_VALUE, block, 4));

    {
        ExhaustedHeap exhausted;
        result = ProcessRemovalLog(log.c_str());
    }
    EXPECT_EQ(nullptr, result);
    EXPECT_TRUE(Exists(victim));
    WipeTree(box);
}

TEST(ProcessRemovalLog, LogsOf2GiBOrMoreAreRefusedUnread)
{
    ForgetDeferrals();
    std::string box = Sandbox("log-huge");
    std::string victim = box + "\\victim.txt", log = box + "\\removal.log";
    MakeFile(victim);
    std::string record = "file:" + victim + "\n";
    for (LONGLONG size : {0x80000000LL, 0x100000000LL + (LONGLONG)record.size()}) {
        SCOPED_TRACE(size);
        ASSERT_TRUE(MakeLargeFile(log, record, size));
        ErrorRef result = ProcessRemovalLog(log.c_str());
        ASSERT_EQ(&ErrorRecord, result);
        EXPECT_EQ((DWORD)ERROR_FILE_TOO_LARGE, result->code);
        EXPECT_TRUE(Exists(victim));
    }
    WipeTree(box);
}

TEST(ProcessRemovalLog, OnlyTheBytesReadAreWalked)
{
    /* A kernel attribute file reports a size of a page but yields a few bytes;
       bytes never read must not be taken for records. */
    const char *shorter = "Z:\\sys\\kernel\\mm\\transparent_hugepage\\enabled";
    EntryInfo info;
    ProbeEntry(shorter, &info);
    if (info.kind != ENTRY_FILE || info.size < 1024)
        GTEST_SKIP() << "no file here that yields less than its size";
    ForgetDeferrals();
    EXPECT_EQ(nullptr, ProcessRemovalLog(shorter));
    EXPECT_EQ(nullptr, PendingRemovalList);
}
