// The error reporter: prints uncaught script errors and warnings on standard output.
#ifndef CAPSULE_ENGINE_ERROR_REPORT_H
#define CAPSULE_ENGINE_ERROR_REPORT_H

#include <stdio.h>

constexpr unsigned kReportWarning = 0x1;
constexpr unsigned kReportStrict = 0x4;

struct ErrorReport {
    const char* fileName = nullptr; // null when unknown
    unsigned line = 0;              // 0 when unknown
    const char* sourceLine = nullptr;
    const char* token = nullptr; // points into sourceLine; null when no column is known
    unsigned flags = 0;
};

// Prints "file:line message", the source line and a caret under the token (tabs widen to
// the next multiple of 8), then the warning label. Without a record, or without a file
// and line, the message stands alone on its line.
void printErrorReport(FILE* out, const char* message, const ErrorReport* report);

#endif
