/*
 * The checked wrappers and the error record, on real failures of the real API.
 */
#include "syscalls/syscalls.h"
#include "support/test_support.h"

#include <functional>
#include <string>

using namespace testsupport;

namespace {

std::string SystemMessage(DWORD code)
{
    char buffer[252] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code, 0,
                   buffer, sizeof buffer, NULL);
    return buffer;
}

bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

/* A record that no test call writes, to prove that a call left it alone. */
void MarkRecord()
{
    ErrorRecord.code = 0xdeadbeef;
    memset(ErrorRecord.text, 'q', sizeof ErrorRecord.text);
    ErrorRecord.text[sizeof ErrorRecord.text - 1] = '\0';
}

::testing::AssertionResult RecordUntouched()
{
    if (ErrorRecord.code == 0xdeadbeef && std::string(ErrorRecord.text) == std::string(251, 'q'))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "record changed: " << ErrorRecord.code << " "
                                         << ErrorRecord.text;
}

const char *TestKey = "Software\\VorblendTests\\CheckedCalls";

} // namespace

TEST(CheckedCalls, SuccessfulCallsReturnNullAndLeaveTheRecordAlone)
{
    std::string box = Sandbox("checked-ok");
    std::string file = box + "\\a.txt";
    MakeFile(file, "abc");
    MakeDirectory(box + "\\sub");
    MarkRecord();

    HANDLE handle = NULL;
    EXPECT_EQ(nullptr, CheckedCreateFile(file.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL, &handle));
    char buffer[8];
    DWORD read = 0;
    EXPECT_EQ(nullptr, CheckedReadFile(handle, buffer, sizeof buffer, &read, NULL));
    EXPECT_EQ(3u, read);
    EXPECT_EQ(nullptr, CheckedCloseHandle(handle));

    WIN32_FIND_DATAA found;
    HANDLE search = NULL;
    DWORD end = 7;
    EXPECT_EQ(nullptr, CheckedFindFirstFile((box + "\\*").c_str(), &found, &search));
    EXPECT_EQ(nullptr, CheckedFindNextFile(search, &found, &end));
    EXPECT_EQ(0u, end);
    EXPECT_EQ(nullptr, CheckedFindClose(search));

    EXPECT_EQ(nullptr, CheckedDeleteFile(file.c_str()));
    EXPECT_EQ(nullptr, CheckedRemoveDirectory((box + "\\sub").c_str()));
    EXPECT_TRUE(Missing(file));
    EXPECT_TRUE(Missing(box + "\\sub"));

    HKEY key = NULL;
    RegCreateKeyExA(HKEY_CURRENT_USER, TestKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
    RegSetValueExA(key, "v", 0, REG_SZ, (const BYTE *)"1", 2);
    RegCloseKey(key);
    EXPECT_EQ(nullptr, CheckedRegOpenKey(HKEY_CURRENT_USER, TestKey, 0, KEY_ALL_ACCESS, &key));
    EXPECT_EQ(nullptr, CheckedRegDeleteValue(key, "v"));
    EXPECT_EQ(nullptr, CheckedRegCloseKey(key));
    EXPECT_EQ(nullptr, CheckedRegDeleteKey(HKEY_CURRENT_USER, TestKey));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, TestKey, 0, KEY_READ, &key));

    EXPECT_TRUE(RecordUntouched());
    WipeTree(box);
}

TEST(CheckedCalls, FailedDeletionRecordsCodeMessageLabelAndPath)
{
    std::string missing = Sandbox("checked-delete") + "\\no such file.txt";
    SetLastError(0xdeadbeef);
    ErrorRef result = CheckedDeleteFile(missing.c_str());
    ASSERT_EQ(&ErrorRecord, result);
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, result->code);
    EXPECT_EQ(SystemMessage(2) + "(DeleteFile) (2) (" + missing + ")", std::string(result->text));
}

/* Every failing wrapper: the code the system gave and the appended form. */
TEST(CheckedCalls, EachWrapperRecordsItsLabelAndForm)
{
    std::string box = Sandbox("checked-labels");
    std::string writeOnly = box + "\\w.txt";
    HANDLE writer = CreateFileA(writeOnly.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    std::string absent = box + "\\absent\\x";
    HANDLE handle = NULL;
    HWND window = (HWND)1;
    HKEY key = NULL;
    char buffer[4];
    DWORD count = 0;
    WIN32_FIND_DATAA found;

    /* The code is the system's own choice where Windows and Wine differ (-1): the
       form is then checked against whatever code was recorded. */
    struct Case {
        const char *name;
        std::function<ErrorRef()> call;
        long code;
        std::string detail;
    } cases[] = {
        {"CreateFile", [&] { return CheckedCreateFile(absent.c_str(), GENERIC_READ, 0, NULL,
                                                      OPEN_EXISTING, 0, NULL, &handle); },
         3, " (" + absent + ")"},
        {"CloseHandle", [&] { return CheckedCloseHandle((HANDLE)0x1234); }, 6, ""},
        {"ReadFile", [&] { return CheckedReadFile(writer, buffer, 4, &count, NULL); },
         5, ""},
        {"Remove Directory", [&] { return CheckedRemoveDirectory(absent.c_str()); },
         3, " (" + absent + ")"},
        {"FindFirstFile", [&] { return CheckedFindFirstFile(absent.c_str(), &found, &handle); },
         3, " (" + absent + ")"},
        {"FindClose", [&] { return CheckedFindClose((HANDLE)0x1234); }, 6, ""},
        {"RegOpenKey", [&] { return CheckedRegOpenKey(HKEY_CURRENT_USER, TestKey, 0,
                                                      KEY_ALL_ACCESS, &key); },
         2, std::string(" (") + TestKey + ")"},
        {"RegDeleteKey", [&] { return CheckedRegDeleteKey(HKEY_CURRENT_USER, TestKey); },
         2, std::string(" (") + TestKey + ")"},
        {"RegDeleteValue", [&] { return CheckedRegDeleteValue(HKEY_CURRENT_USER, "no-value"); },
         2, " (no-value)"},
        {"RegCloseKey", [&] { return CheckedRegCloseKey((HKEY)0x1234); }, 6, ""},
        {"CreateDialog", [&] { return CheckedCreateDialog(GetModuleHandleA(NULL), "NoSuchTemplate",
                                                          NULL, NULL, &window); },
         -1, ""},
        {"DestroyWindow", [&] { return CheckedDestroyWindow((HWND)0x1234); },
         -1, ""},
        {"GetDlgItem", [&] { return CheckedGetDlgItem((HWND)0x1234, 1, &window); },
         -1, ""},
        {"SetFocus", [&] { return CheckedSetFocus((HWND)0x1234, &window); }, -1, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0xdeadbeef);
        ErrorRef result = c.call();
        ASSERT_EQ(&ErrorRecord, result);
        if (c.code >= 0) {
            EXPECT_EQ((DWORD)c.code, result->code);
        }
        std::string text = result->text;
        std::string ending = std::string("(") + c.name + ") (" +
                             std::to_string((int)result->code) + ")" + c.detail;
        EXPECT_TRUE(EndsWith(text, ending)) << text;
        EXPECT_EQ(0u, text.find(SystemMessage(result->code)));
    }
    EXPECT_EQ(INVALID_HANDLE_VALUE, handle); /* the failure value is handed out too */
    EXPECT_EQ(nullptr, window);
    CloseHandle(writer);
    WipeTree(box);
}

TEST(CheckedCalls, FailureValueWithoutLastErrorCountsAsSuccess)
{
    MarkRecord();
    HWND previous = (HWND)1;
    /* No window of this thread has the focus: SetFocus answers null without a code. */
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(nullptr, CheckedSetFocus(NULL, &previous));
    EXPECT_EQ(nullptr, previous);
    EXPECT_TRUE(RecordUntouched());
}

TEST(CheckedCalls, EndOfListingIsNoFailureButLeavesCode18)
{
    std::string box = Sandbox("checked-end");
    WIN32_FIND_DATAA found;
    HANDLE search = NULL;
    ASSERT_EQ(nullptr, CheckedFindFirstFile((box + "\\*").c_str(), &found, &search));
    DWORD end = 0;
    int entries = 1;
    ErrorRef result = NULL;
    while ((result = CheckedFindNextFile(search, &found, &end)) == NULL && end == 0)
        entries++;
    EXPECT_EQ(nullptr, result);
    EXPECT_EQ(1u, end);
    EXPECT_EQ(2, entries); /* "." and ".." only */
    EXPECT_EQ((DWORD)ERROR_NO_MORE_FILES, ErrorRecord.code);
    EXPECT_TRUE(EndsWith(ErrorRecord.text, "(FindNextFile) (18) ()")) << ErrorRecord.text;
    FindClose(search);

    /* Any other failure: the reference, and the caller's flag as it was. */
    end = 7;
    EXPECT_EQ(&ErrorRecord, CheckedFindNextFile(INVALID_HANDLE_VALUE, &found, &end));
    EXPECT_EQ(7u, end);
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, ErrorRecord.code);
    WipeTree(box);
}

TEST(CheckedCalls, CloseHandleKeepingErrorReportsTheFirstFailure)
{
    std::string box = Sandbox("checked-keep");
    std::string file = box + "\\f";
    auto openFile = [&] {
        return CreateFileA(file.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    };

    ErrorRef earlier = CheckedDeleteFile((box + "\\missing").c_str());
    ASSERT_NE(nullptr, earlier);
    EXPECT_EQ(earlier, CloseHandleKeepingError(openFile(), earlier));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, ErrorRecord.code);

    EXPECT_EQ(nullptr, CloseHandleKeepingError(openFile(), NULL));

    ErrorRef closeOnly = CloseHandleKeepingError((HANDLE)0x1234, NULL);
    EXPECT_EQ(&ErrorRecord, closeOnly);
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, ErrorRecord.code);

    earlier = CheckedDeleteFile((box + "\\missing").c_str());
    EXPECT_EQ(earlier, CloseHandleKeepingError((HANDLE)0x1234, earlier));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, ErrorRecord.code); /* the close was recorded last */
    EXPECT_TRUE(EndsWith(ErrorRecord.text, "(CloseHandle) (6)"));
    WipeTree(box);
}

TEST(CheckedCalls, SecondFailureReplacesTheWholeText)
{
    CheckedDeleteFile("C:\\vorblend-no-such-folder\\file");
    CheckedCloseHandle((HANDLE)0x1234);
    std::string text = ErrorRecord.text;
    EXPECT_EQ(SystemMessage(6) + "(CloseHandle) (6)", text);
    EXPECT_EQ(std::string::npos, text.find("DeleteFile"));
}

TEST(CheckedCalls, OverlongDetailIsCutInsideTheRecord)
{
    std::string longPath = "C:\\" + std::string(3000, 'd') + "\\file";
    ErrorRecord.text[0] = '\0';
    ErrorRef result = CheckedDeleteFile(longPath.c_str());
    ASSERT_EQ(&ErrorRecord, result);
    EXPECT_EQ('\0', result->text[sizeof result->text - 1]);
    std::string text = result->text;
    EXPECT_EQ(sizeof result->text - 1, text.size());
    std::string head = SystemMessage(result->code) + "(DeleteFile) (" +
                       std::to_string(result->code) + ") (C:\\ddd";
    EXPECT_EQ(0u, text.find(head)) << text;

    /* A code the system has no message for still gives a terminated record. */
    EXPECT_EQ(&ErrorRecord, RecordErrorCode(0x2fffffff, "Label", "%s", longPath.c_str()));
    EXPECT_EQ(0u, std::string(ErrorRecord.text).find("(Label) (805306367) (C:\\ddd"));
    EXPECT_EQ('\0', ErrorRecord.text[sizeof ErrorRecord.text - 1]);
}
