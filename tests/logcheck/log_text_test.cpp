/*
 * Lines and columns as an editor counts them, over every line end the
 * uninstaller accepts: a finding must point at the byte where its record starts.
 */
#include "logcheck/logcheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

TEST(LineAndColumn, CountsLinesEndedByLfCrLfOrALoneCr)
{
    struct Row {
        const char *name;
        std::string log;
        std::vector<std::string> starts; /* "LINE:COLUMN" of each record */
    } rows[] = {
        {"LF", "file:a\n\ndir:b\n", {"1:1", "3:1"}},
        {"CR LF", "file:a\r\n\r\ndir:b\r\n", {"1:1", "3:1"}},
        {"lone CR", "file:a\r\rdir:b", {"1:1", "3:1"}},
        {"mixed", "file:a\r\n\rdir:b\n\r\nkey:c", {"1:1", "3:1", "5:1"}},
        {"tab and NUL inside a line", "file:a\tdir:b\0link:c\n"s, {"1:1", "1:8", "1:14"}},
        {"no line end at all", " file:a", {"1:1"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        LogText log;
        ASSERT_TRUE(ParseLog(&log, "t.log", row.log.data(), row.log.size()));
        std::vector<std::string> starts;
        for (size_t i = 0; i < log.recordCount; i++) {
            size_t line, column;
            LineAndColumn(&log, log.records[i].start, &line, &column);
            starts.push_back(std::to_string(line) + ":" + std::to_string(column));
        }
        EXPECT_EQ(row.starts, starts);
        FreeLog(&log);
    }
}
