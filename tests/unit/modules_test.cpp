// System.loadModule as a process sees it: what it prints when a module cannot be loaded
// or initialised. Each case runs build/script_host (next to this test binary), whose
// working directory is the build folder, on a script written to a temporary file.
#include <gtest/gtest.h>

#include "tests/unit/process_support.h"

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

// Then a line with the loader's reason.
TEST(LoadModule, MissingLibraryPrintsLoadThenInitLine) {
    int code = -1;
    std::string out = run("System.print(System.loadModule('bin/missing.so'));\n"
                          "System.print(System.loadModule('/no/such/dir/m.so'));\n"
                          "System.print(System.loadModule('libno-such-capsule-library.so.1'));\n"
                          "System.print(System.loadModule('CMakeCache.txt'));\n",
                          &code);
    const std::string missing = ": cannot open shared object file: No such file or directory\n";
    EXPECT_EQ(out, "Unable to load module 'bin/missing.so'\n"
                   "Unable to init module 'bin/missing.so'\n" +
                       selfFolder() + "/bin/missing.so" + missing +
                       "false\n"
                       "Unable to load module '/no/such/dir/m.so'\n"
                       "Unable to init module '/no/such/dir/m.so'\n"
                       "/no/such/dir/m.so" +
                       missing +
                       "false\n"
                       "Unable to load module 'libno-such-capsule-library.so.1'\n"
                       "Unable to init module 'libno-such-capsule-library.so.1'\n"
                       "libno-such-capsule-library.so.1" +
                       missing +
                       "false\n"
                       // A text is no library; the reason says why.
                       "Unable to load module 'CMakeCache.txt'\n"
                       "Unable to init module 'CMakeCache.txt'\n" +
                       selfFolder() +
                       "/CMakeCache.txt: invalid ELF header\n"
                       "false\n");
    EXPECT_EQ(code, 0);
}

// A bare name that is neither beside the executable nor in the working directory goes to
// the system's library search: the C library loads, and has no initModule.
TEST(LoadModule, LibraryWithoutExportPrintsOnlyInitLine) {
    int code = -1;
    std::string out = run("System.print(System.loadModule('bin/mnoinit.so'));\n"
                          "System.print(System.loadModule('libc.so.6'));\n",
                          &code);
    EXPECT_EQ(out, "Unable to init module 'bin/mnoinit.so'\nfalse\n"
                   "Unable to init module 'libc.so.6'\nfalse\n");
    EXPECT_EQ(code, 0);
}

TEST(LoadModule, LinesShowThePathAsWrittenInNarrowText) {
    int code = -1;
    // Backslashes are printed as written; a character above U+00FF shows its low byte
    // (U+0141 is "A").
    std::string out = run("System.loadModule('bin\\\\x\\u0141.so');\n", &code);
    // The loader's reason names the file it looked for, in UTF-8.
    EXPECT_EQ(out, "Unable to load module 'bin\\xA.so'\nUnable to init module 'bin\\xA.so'\n" +
                       selfFolder() +
                       "/bin/x\xc5\x81.so: cannot open shared object file: No such file or "
                       "directory\n");
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

// A relative path is looked for beside the executable first, then in the working
// directory; names beyond ASCII reach the file system as File's names do.
TEST(LoadModule, ExecutableFolderComesBeforeTheWorkingDirectory) {
    std::string dir = child::scratch("modules_test");
    std::string test = child::readFile(selfFolder() + "/bin/mtest.so");
    child::writeFile(dir + "/host/script_host", child::readFile(selfFolder() + "/script_host"),
                     0755);
    child::writeFile(dir + "/host/bin/mtest.so", test);
    child::writeFile(dir + "/work/bin/mtest.so", child::readFile(selfFolder() + "/bin/mnoinit.so"));
    child::writeFile(dir + "/work/d\xc3\xa9/only.so", test);
    child::writeFile(dir + "/script.js", R"(
File.changeDir(argv[1]);
System.print(System.loadModule("bin/mtest.so") + " " + System.loadModule("d\u00e9/only.so") +
             " " + TestTools.inits());
)");
    int rc = child::finish(child::start(
        {dir + "/host/script_host", dir + "/script.js", dir + "/work"}, {}, dir + "/out"));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(child::readFile(dir + "/out"), "true true 1\n"); // two files: two counters
    std::filesystem::remove_all(dir);
}

// A library that is on no disk but in the package is loaded from the bytes read from the
// package, and nothing is written for it: a file planted in the cache folder where a copy
// used to go is never loaded. Two copies of the application that start at once both load
// it; two entries of the same content are one library.
TEST(LoadModule, FromThePackageWithoutAFile) {
    std::string dir = child::scratch("modules_test");
    std::string test = child::readFile(selfFolder() + "/bin/mtest.so");
    child::writeFile(dir + "/app-src/bin/mtest.so", test);
    child::writeFile(dir + "/app-src/d\xc3\xa9/mtest.so", test);
    std::string app = child::pack(dir, R"(
System.print(System.loadModule("bin/mtest.so") + " " + System.loadModule("d\u00e9/mtest.so") +
             " " + new TestThing("a").name());
)");
    ASSERT_FALSE(app.empty()) << child::readFile(dir + "/pack.out");
    std::filesystem::remove_all(dir + "/app-src");
    std::string cache = dir + "/cache", folder = cache + "/capsule/modules";
    child::writeFile(folder + "/mtest.so", "planted", 0600);
    std::vector<std::string> env = {"XDG_CACHE_HOME=" + cache};
    pid_t a = child::start({app}, env, dir + "/a.out"),
          b = child::start({app}, env, dir + "/b.out");
    EXPECT_EQ(child::finish(a), 0);
    EXPECT_EQ(child::finish(b), 0);
    EXPECT_EQ(child::readFile(dir + "/a.out"), "true true a\n");
    EXPECT_EQ(child::readFile(dir + "/b.out"), "true true a\n");
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"mtest.so"});
    std::filesystem::remove_all(dir);
}
