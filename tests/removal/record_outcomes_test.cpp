/*
 * What the removal engine tells its hook: each record's outcome, code, line
 * and column, from real failures (a read-only file, a key with a subkey, a
 * folder that is a file), told apart where one code covers several causes.
 */
#include "driver/driver.h"
#include "removal/removal.h"
#include "support/test_support.h"

#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::vector<RecordReport> Told; /* what the hook heard, in order */

void Listen(const RecordReport *report) { Told.push_back(*report); }

} // namespace

TEST(RecordCarriedOut, TellsEachRecordsOutcomeCodeAndPlaceFromItsOwnResults)
{
    std::string box = Sandbox("outcomes");
    std::string key = "Software\\VorblendTests\\Outcomes-" + std::to_string(GetCurrentProcessId());
    MakeFile(box + "\\ro.txt");
    SetFileAttributesA((box + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    MakeDirectory(box + "\\folder");
    MakeFile(box + "\\file.txt");
    MakeDirectory(box + "\\full");
    MakeFile(box + "\\full\\x");
    MakeDirectory(box + "\\tree");
    MakeFile(box + "\\tree\\a");
    HKEY created;
    RegCreateKeyExA(HKEY_CURRENT_USER, (key + "\\Sub").c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                    &created, NULL);
    RegCloseKey(created);

    const struct {
        std::string record;
        Outcome outcome;
        DWORD code;
    } cases[] = {
        {"file:" + box + "\\ro.txt", WILL_FAIL_READ_ONLY, 5},
        {"file:" + box + "\\folder", WILL_FAIL_KIND, 5},
        {"file:" + box + "\\absent.txt", NAMES_NOTHING, 2},
        {"dir:" + box + "\\file.txt", WILL_FAIL_KIND, 267},
        {"dir:" + box + "\\full", WILL_FAIL_NOT_EMPTY, 145},
        {"dirw:" + box + "\\tree", WILL_REMOVE_TREE, 0},
        {"dirw:relative\\tree", REFUSED, 87},
        {"key:HKCU\\" + key + "\\", WILL_FAIL_SUBKEYS, 5},
        {"key:HKCU\\" + key + "\\Absent", NAMES_NOTHING, 2},
        {"key:HKXX\\" + key + "\\", WILL_FAIL_ROOT, 6},
        {"key:HKCU\\x", PASSED_OVER, 0},
        {"nothing:here", PASSED_OVER, 0},
    };
    std::string text = "\r\n";
    for (const auto &c : cases)
        text += "\t" + c.record + "\r\n"; /* a tab separates too: column 2 */
    MakeFile(box + "\\removal.log", text);
    PendingRemovalList = NULL;
    ModulePath[0] = '\0';
    Told.clear();
    RecordCarriedOut = Listen;
    ProcessRemovalLog((box + "\\removal.log").c_str());
    RecordCarriedOut = NULL;

    ASSERT_EQ(sizeof cases / sizeof cases[0], Told.size());
    for (size_t i = 0; i < Told.size(); i++) {
        SCOPED_TRACE(cases[i].record);
        EXPECT_EQ(cases[i].outcome, Told[i].outcome) << OutcomeName(Told[i].outcome);
        EXPECT_EQ(cases[i].code, Told[i].code);
        EXPECT_EQ(i + 2, Told[i].line);
        EXPECT_EQ(2u, Told[i].column);
    }
    EXPECT_EQ(1u, Told[5].tree.files);
    EXPECT_EQ(1u, Told[5].tree.folders);

    SetFileAttributesA((box + "\\ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    WipeTree(box);
    RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
}

TEST(RecordCarriedOut, TellsOfALogThatIsNotThereAsNamingNothing)
{
    Told.clear();
    RecordCarriedOut = Listen;
    ProcessRemovalLog((Sandbox("outcomes-absent") + "\\absent.log").c_str());
    RecordCarriedOut = NULL;
    ASSERT_EQ(1u, Told.size());
    EXPECT_TRUE(Told[0].record == NULL);
    EXPECT_EQ(NAMES_NOTHING, Told[0].outcome);
}

TEST(RecordCarriedOut, CountsLinesAsAnEditorDoesWhateverEndsThem)
{
    std::string box = Sandbox("outcomes-lines");
    /* LF, CR LF, a lone CR, a blank line and a tab: as the checker counts them. */
    MakeFile(box + "\\removal.log", "key:HKCU\\a\nkey:HKCU\\b\r\nkey:HKCU\\c\r\n\nkey:HKCU\\d\r"
                                    "x\tkey:HKCU\\e");
    const size_t expected[][2] = {{1, 1}, {2, 1}, {3, 1}, {5, 1}, {6, 1}, {6, 3}};
    Told.clear();
    RecordCarriedOut = Listen;
    ProcessRemovalLog((box + "\\removal.log").c_str());
    RecordCarriedOut = NULL;
    ASSERT_EQ(6u, Told.size());
    for (size_t i = 0; i < Told.size(); i++) {
        EXPECT_EQ(expected[i][0], Told[i].line) << i;
        EXPECT_EQ(expected[i][1], Told[i].column) << i;
    }
    WipeTree(box);
}
