// The error reporter's output: location line, source line, caret line and warning label.
#include "core/engine/error_report.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>

static std::string render(const char* message, const ErrorReport* report) {
    char* buf = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buf, &size);
    if (!out) return "<open_memstream failed>";
    printErrorReport(out, message, report);
    fclose(out);
    std::string s(buf, size);
    free(buf);
    return s;
}

static ErrorReport located(const char* line, const char* token) {
    ErrorReport r;
    r.fileName = "f.js";
    r.line = 7;
    r.sourceLine = line;
    r.token = token;
    return r;
}

TEST(ErrorReport, CaretUnderTheToken) {
    const char* line = "var x = 1;";
    ErrorReport r = located(line, line + 4);
    EXPECT_EQ(render("boom", &r), "f.js:7 boom\nvar x = 1;\n----^\n");

    // The token on the first character: no dashes at all.
    r.token = line;
    EXPECT_EQ(render("boom", &r), "f.js:7 boom\nvar x = 1;\n^\n");
}

TEST(ErrorReport, TabsWidenToTheNextMultipleOfEight) {
    const char* tab = "\tx";
    ErrorReport r = located(tab, tab + 1);
    EXPECT_EQ(render("m", &r), "f.js:7 m\n\tx\n--------^\n");

    // A tab after two characters fills only up to column 8.
    const char* mixed = "ab\tc";
    r = located(mixed, mixed + 3);
    EXPECT_EQ(render("m", &r), "f.js:7 m\nab\tc\n--------^\n");

    // Two tabs, the second starting on a boundary.
    const char* two = "\t\ty";
    r = located(two, two + 2);
    EXPECT_EQ(render("m", &r), "f.js:7 m\n\t\ty\n" + std::string(16, '-') + "^\n");
}

TEST(ErrorReport, LineBreakOnlyWhereTheSourceLineLacksOne) {
    // An empty source line: the caret follows directly, with no extra line break.
    const char* empty = "";
    ErrorReport r = located(empty, empty);
    EXPECT_EQ(render("m", &r), "f.js:7 m\n^\n");

    // A source line that carries its own line feed gets no second one.
    const char* ended = "ab\n";
    r = located(ended, ended + 1);
    EXPECT_EQ(render("m", &r), "f.js:7 m\nab\n-^\n");
}

TEST(ErrorReport, SourceLineWithoutTokenHasNoCaret) {
    ErrorReport r = located("let y;", nullptr);
    EXPECT_EQ(render("m", &r), "f.js:7 m\nlet y;\n");
}

TEST(ErrorReport, MessageAloneWithoutLocation) {
    EXPECT_EQ(render("only this", nullptr), "only this\n");
    EXPECT_EQ(render(nullptr, nullptr), "\n");

    // A record without a file name, or with line 0, prints the message on its own line
    // instead of dropping it.
    ErrorReport r;
    r.line = 3;
    EXPECT_EQ(render("no file", &r), "no file\n");
    r.fileName = "f.js";
    r.line = 0;
    EXPECT_EQ(render("no line", &r), "no line\n");

    // Its source line still follows.
    const char* line = "a+";
    r.sourceLine = line;
    r.token = line + 1;
    EXPECT_EQ(render("no line", &r), "no line\na+\n-^\n");
}

TEST(ErrorReport, WarningLabelLeadsWhatFollows) {
    ErrorReport r = located(nullptr, nullptr);
    r.flags = kReportWarning;
    EXPECT_EQ(render("w", &r), "f.js:7 w\nwarning: ");
    r.flags = kReportWarning | kReportStrict;
    EXPECT_EQ(render("w", &r), "f.js:7 w\nwarning (strict): ");

    // The label comes after the source and caret lines.
    const char* line = "x;";
    r = located(line, line + 1);
    r.flags = kReportWarning;
    EXPECT_EQ(render("w", &r), "f.js:7 w\nx;\n-^\nwarning: ");

    // The strict bit alone is no warning.
    r.flags = kReportStrict;
    EXPECT_EQ(render("w", &r), "f.js:7 w\nx;\n-^\n");
}
