// System.loadModule as a process sees it: what it prints when a module cannot be loaded
// or initialised. Each case runs build/script_host (next to this test binary), whose
// working directory is the build folder, on a script written to a temporary file.
#include <gtest/gtest.h>

#include "tests/unit/test_support.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

// Runs the script; returns its standard output and stores the exit code.
std::string run(const std::string& script, int* code) {
    const char* base = getenv("TMPDIR");
    std::string file = std::string(base && *base ? base : "/tmp") + "/modules_test.XXXXXX";
    int fd = mkstemp(&file[0]);
    if (fd < 0) return "<mkstemp failed>";
    close(fd);
    std::ofstream(file, std::ios::binary) << script;
    std::string command = "'" + selfFolder() + "/script_host' '" + file + "'";
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        int status = pclose(p);
        *code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    unlink(file.c_str());
    return out;
}

} // namespace

TEST(LoadModule, MissingLibraryPrintsLoadThenInitLine) {
    int code = -1;
    std::string out = run("System.print(System.loadModule('bin/missing.so'));\n"
                          "System.print(System.loadModule('/no/such/dir/m.so'));\n",
                          &code);
    EXPECT_EQ(out, "Unable to load module 'bin/missing.so'\n"
                   "Unable to init module 'bin/missing.so'\n"
                   "false\n"
                   "Unable to load module '/no/such/dir/m.so'\n"
                   "Unable to init module '/no/such/dir/m.so'\n"
                   "false\n");
    EXPECT_EQ(code, 0);
}

TEST(LoadModule, LibraryWithoutExportPrintsOnlyInitLine) {
    int code = -1;
    std::string out = run("System.print(System.loadModule('bin/mnoinit.so'));\n", &code);
    EXPECT_EQ(out, "Unable to init module 'bin/mnoinit.so'\nfalse\n");
    EXPECT_EQ(code, 0);
}

TEST(LoadModule, LinesShowThePathAsWrittenInNarrowText) {
    int code = -1;
    // Backslashes are printed as written; a character above U+00FF shows its low byte
    // (U+0141 is "A").
    std::string out = run("System.loadModule('bin\\\\x\\u0141.so');\n", &code);
    EXPECT_EQ(out, "Unable to load module 'bin\\xA.so'\nUnable to init module 'bin\\xA.so'\n");
    EXPECT_EQ(code, 0);
}

TEST(LoadModule, ModuleLoadsSilently) {
    int code = -1;
    std::string out =
        run("System.print(System.loadModule('bin/mtest.so') + ' ' + new TestThing('a').name());\n",
            &code);
    EXPECT_EQ(out, "true a\n");
    EXPECT_EQ(code, 0);
}
