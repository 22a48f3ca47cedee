// The file of settings the window keeps between runs: what it reads, what it
// refuses (with the line and the reason), and that what it writes reads back.
#include "remembered_settings.h"

#include <gtest/gtest.h>

using namespace tarvo::rt;

TEST(KeptSettingsFile, ReadsWhatItWritesAndWhatAPersonMightEdit)
{
    struct Case {
        const char* name;
        std::string text;
        std::string panel;
        std::map<int, std::int64_t> values;
    };
    const Case cases[] = {
        {"as written",
         "# tarvo: the settings\npanel 3f2a9c0d51e47b86\n2 99\n6 3\n10 5000\n",
         "3f2a9c0d51e47b86",
         {{2, 99}, {6, 3}, {10, 5000}}},
        {"CR LF, tabs, blank lines, comments, no last newline",
         "\r\npanel 3f2a\r\n\t6\t3 \r\n  # 6 4\r\n10 4294967295",
         "3f2a",
         {{6, 3}, {10, 4294967295}}},
        {"a negative value (a control read through int)",
         "panel 00\n8 -2147483648\n",
         "00",
         {{8, -2147483648LL}}},
        {"only the panel", "panel ff\n", "ff", {}},
    };
    auto found = [](const RememberedRead& r) {
        return std::pair(r.settings.panel, r.settings.values);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RememberedRead r = parseRemembered(c.text);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(found(r), std::pair(c.panel, c.values));
        const RememberedRead again = parseRemembered(formatRemembered(r.settings));
        ASSERT_TRUE(again.ok) << again.error;
        EXPECT_EQ(found(again), std::pair(c.panel, c.values));
    }
    EXPECT_EQ(formatRemembered({"3f2a", {{6, 3}, {2, 99}}}),
              "# tarvo: the settings the window last started a run with\n"
              "panel 3f2a\n2 99\n6 3\n");
}

TEST(KeptSettingsFile, RefusesAnythingElseWithTheLineAndTheReason)
{
    struct Case {
        const char* name;
        std::string text;
        int line;
        const char* error;
    };
    const Case cases[] = {
        {"empty", "", 0, "no panel line"},
        {"no panel line", "6 3\n", 0, "no panel line"},
        {"a value too large", "panel ab\n10 4294967296\n", 2, "not a value: '4294967296'"},
        {"a value too small", "panel ab\n10 -2147483649\n", 2, "not a value: '-2147483649'"},
        {"a word for a value", "panel ab\n\n6 three\n", 3, "not a value: 'three'"},
        {"a control id of 0", "panel ab\n0 1\n", 2, "not a control id: '0'"},
        {"a control twice", "panel ab\n6 3\n6 4\n", 3, "control 6 a second time"},
        {"two panel lines", "panel ab\npanel cd\n", 2, "a second panel line"},
        {"a panel that is no digest", "panel Tarvo\n", 1, "not a panel digest: 'Tarvo'"},
        {"three words", "panel ab\n6 3 4\n", 2, "expected two words, found 3"},
        {"a zero byte", std::string("panel ab\n6 3\0", 13), 0, "not a text file"},
        {"too large", "panel ab\n" + std::string(kMaxRememberedBytes, '#'), 0,
         "larger than 65536 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RememberedRead r = parseRemembered(c.text);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.errorLine, c.line);
        EXPECT_EQ(r.error, c.error);
        EXPECT_TRUE(r.settings.values.empty());
    }
}
