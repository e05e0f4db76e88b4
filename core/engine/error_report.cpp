#include "core/engine/error_report.h"

#include <string.h>

void printErrorReport(FILE* out, const char* message, const ErrorReport* report) {
    if (!message) message = "";
    if (!report || !report->fileName || report->line == 0) {
        fprintf(out, "%s\n", message);
        if (!report) return;
    } else {
        fprintf(out, "%s:%u %s\n", report->fileName, report->line, message);
    }
    if (report->sourceLine) {
        const char* line = report->sourceLine;
        fprintf(out, "%s", line);
        if (*line && !strchr(line, '\n')) fprintf(out, "\n");
        if (report->token) {
            unsigned column = 0;
            for (const char* p = line; *p && p < report->token; p++) {
                if (*p == '\t') {
                    for (unsigned next = (column + 8) & ~7u; column < next; column++)
                        fputc('-', out);
                } else {
                    fputc('-', out);
                    column++;
                }
            }
            fprintf(out, "^\n");
        }
    }
    if (report->flags & kReportWarning) {
        fprintf(out, "warning");
        if (report->flags & kReportStrict) fprintf(out, " (strict)");
        fprintf(out, ": ");
    }
}
