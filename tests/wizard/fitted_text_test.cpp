/*
 * Page texts fitted to their controls: a path cut in its middle at character
 * boundaries (code page 932 too), and a page 3 line, in this program's own
 * copy of the page, shortened until it fits, every & doubled.
 */
#include "wizard/wizard.h"

#include "removal/records.h"
#include "resources/resource_ids.h"
#include "support/wizard_driver.h"

#include <gtest/gtest.h>

#include <string>

TEST(ShortenMiddle, CutsAPathInItsMiddleAtCharacterBoundaries)
{
    const std::string wide = "C:\\\x95\x5C\x95\x5C\x95\x5C\x95\x5C\x95\x5C\\a"; /* five 0x5C-ending characters */
    const struct {
        std::string path;
        size_t keep;
        unsigned codePage;
        std::string shortened;
    } cases[] = {
        {"C:\\Program Files\\Vorblend\\data\\a.txt", 36, 1252, "C:\\Program Files\\Vorblend\\data\\a.txt"},
        {"C:\\Program Files\\Vorblend\\data\\a.txt", 15, 1252, "C:\\Pro...\\a.txt"},
        {wide, 9, 932, "C:\\...\\a"},
        {wide, 9, 1252, "C:\\...\x5C\\a"}, /* byte by byte, a second byte starts the end */
        {wide, 12, 932, "C:\\...\x95\x5C\\a"},
        {wide, 12, 1252, "C:\\\x95...\x5C\x95\x5C\\a"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shortened);
        char out[MAX_PATH];
        size_t length = ShortenMiddle(c.path.data(), c.path.size(), c.keep, out, LeadBytesOfCodePage(c.codePage));
        EXPECT_EQ(c.shortened, std::string(out, length));
    }
}

TEST(SetFittedText, ShortensThePathsOfALineThatDoesNotFitAndDoublesEveryAmpersand)
{
    InstanceHandle = GetModuleHandleA(NULL);
    ASSERT_TRUE(RegisterUninstallClass());
    ASSERT_EQ(NULL, CreateFrameWindow(SW_HIDE));
    ASSERT_EQ(NULL, ShowPage("Prompt3", Prompt3Handler));
    const std::string path = "C:\\Brenhow & Sons\\" + std::string(200, 'x') + "\\last & least.vbp";
    const struct {
        std::string text, shown;
    } cases[] = {
        {"'C:\\A & B\\x.vbp' is read-only", "'C:\\A && B\\x.vbp' is read-only"},
        {"'" + path + "' is read-only", "'C:\\Brenhow && Sons\\x"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const char *paths[] = {NULL, path.c_str(), ""};
        SetFittedText(CurrentPage, IDC_PROMPT3_TOP, c.text.c_str(), paths, 3);
        std::string shown = wizarddriver::ItemText(CurrentPage, IDC_PROMPT3_TOP);
        EXPECT_EQ(0u, shown.find(c.shown)) << shown;
        if (c.text.size() > 100) {
            EXPECT_LT(shown.size(), c.text.size());
            EXPECT_NE(std::string::npos, shown.find("x...x")) << shown;
            EXPECT_NE(std::string::npos, shown.find("\\last && least.vbp' is read-only")) << shown;
        }
    }
    ClosePage();
    DestroyWindow(FrameWindow);
    FrameWindow = NULL;
    UnregisterClassA("Uninstall", InstanceHandle);
}
