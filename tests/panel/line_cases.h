// Script lines and the reasons they are refused with, checked the same way
// by the parser's tests and the panel's check.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

struct LineCase {
    const char* line;
    const char* fragment;  // a part of the reason
};

// Puts each case's line third in a script after `firstTwoLines` and hands
// the script to `report`, which gives the line and reason it refuses it
// with: line 3, a reason of one line that holds the fragment.
template <class Report>
void expectEachRefusedOnLine3(std::initializer_list<LineCase> cases,
                              const std::string& firstTwoLines, Report report)
{
    for (const LineCase& c : cases) {
        const std::pair<int, std::string> refused = report(firstTwoLines + c.line + "\n");
        EXPECT_EQ(refused.first, 3) << c.line;
        EXPECT_NE(refused.second.find(c.fragment), std::string::npos)
            << c.line << " -> " << refused.second;
        EXPECT_EQ(refused.second.find('\n'), std::string::npos) << c.line;
    }
}
