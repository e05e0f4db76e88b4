// What a script thread's errors look like on standard output, where the error reporter
// prints them: build/script_host (next to this test binary) runs a script whose threads
// fail, and the test reads the process's output as it comes.
#include <gtest/gtest.h>

#include "platforms/platform.h"
#include "tests/unit/test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Result {
    std::string output;
    int exitCode = -1; // -1 when the process was killed
};

// Runs a script_host on a script (main.js in dir, which becomes its working directory)
// and collects its output until every expected text has appeared, the process has
// ended, or 10 s have passed; a process still running then is killed.
Result run(const std::string& host, const std::string& dir, const std::string& script,
           const std::vector<std::string>& expected = {}) {
    Result result;
    std::string file = dir + "/main.js";
    std::ofstream(file) << script;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return result;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        if (chdir(dir.c_str()) != 0) _exit(126);
        execl(host.c_str(), host.c_str(), file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto allSeen = [&] {
        for (const std::string& e : expected)
            if (result.output.find(e) == std::string::npos) return false;
        return !expected.empty();
    };
    bool ended = false;
    while (!allSeen() && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[4096];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) {
            ended = true;
            break;
        }
        result.output.append(buf, static_cast<size_t>(n));
    }
    if (!ended) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    close(out[0]);
    unlink(file.c_str());
    return result;
}

// A fresh folder, removed with everything in it at the end.
struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/threads_test.XXXXXX";
        if (mkdtemp(tmpl)) path = tmpl;
    }
    ~TempDir() {
        if (!path.empty()) {
            EXPECT_EQ(system(("rm -rf '" + path + "'").c_str()), 0);
        }
    }
};

std::string runUntilSeen(const std::string& script, const std::vector<std::string>& expected) {
    TempDir dir;
    return run(selfFolder() + "/script_host", dir.path, script, expected).output;
}

// Holds the process open (bounded) while the test reads; the test kills it.
const char* const kLinger = "for (var i = 0; i < 1000; i++) System.sleep(10);\n";

} // namespace

TEST(ScriptThreads, SyntaxErrorIsReportedUnderRunThreadWithItsLine) {
    std::string out = runUntilSeen(
        std::string("System.openConsole();\n"
                    "var id = System.createThread('var a = 1;\\n\\nvar = 2;');\n"
                    "System.print('created ' + (id > 0));\n"
                    "try { null.x; } catch (e) { System.print('main caught ' + e.name); }\n") +
            kLinger,
        {"created true", "main caught TypeError", "runThread:3 ", "var = 2;\n"});
    EXPECT_NE(out.find("created true\n"), std::string::npos) << out;
    EXPECT_NE(out.find("main caught TypeError\n"), std::string::npos) << out;
    size_t report = out.find("runThread:3 SyntaxError");
    ASSERT_NE(report, std::string::npos) << out;
    // The offending source line follows the report line.
    size_t eol = out.find('\n', report);
    ASSERT_NE(eol, std::string::npos);
    EXPECT_EQ(out.compare(eol + 1, 9, "var = 2;\n"), 0) << out;
}

TEST(ScriptThreads, UncaughtExceptionIsReportedAndTheCreatorGoesOn) {
    std::string out = runUntilSeen(
        std::string(
            "System.openConsole();\n"
            "System.createThread('reached = true;\\nthrow new Error(\"thrown in thread\");');\n"
            "for (var i = 0; i < 500 && typeof reached === 'undefined'; i++) System.sleep(10);\n"
            "System.print('main saw ' + reached);\n") +
            kLinger,
        {"main saw true"});
    // The thread reports before it lets the engine go, so the report comes first.
    size_t report = out.find("runThread:2 Error: thrown in thread\n"
                             "throw new Error(\"thrown in thread\");\n");
    ASSERT_NE(report, std::string::npos) << out;
    EXPECT_LT(report, out.find("main saw true")) << out;
}

// A fault inside a script thread is handled like one on the main thread: the log names
// the thread's source and line, and the process ends with exit code 1.
TEST(ScriptThreads, FaultInAThreadWritesTheLogAndEndsTheProcess) {
    // A copy of the host, so that the log lands in a folder of this test's own (the
    // host's working directory becomes its executable's folder).
    TempDir dir;
    std::string host = dir.path + "/script_host";
    ASSERT_EQ(system(("cp '" + selfFolder() + "/script_host' '" + host + "'").c_str()), 0);
    Result r = run(host, dir.path,
                   "System.createThread('var a = 1;\\nTest.crash();');\n"
                   "for (var i = 0; i < 500; i++) System.sleep(10);\n"
                   "System.print('main went on');\n");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_EQ(r.output, "");
    std::string log;
    if (DIR* d = opendir(dir.path.c_str())) {
        while (dirent* e = readdir(d))
            if (strncmp(e->d_name, "core_dump_", 10) == 0) log = dir.path + "/" + e->d_name;
        closedir(d);
    }
    ASSERT_FALSE(log.empty());
    std::ifstream in(log);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("in 'var a = 1;\nTest.crash();' from 'runThread' -> 2\n"),
              std::string::npos)
        << text;
}

// The main thread's stack as read from its start (no /proc/self/maps) ends where the
// thread library's reading says, and reaches as far down; another thread gets the
// library's own answer.
TEST(StackBounds, MainThreadAsTheThreadLibrarySeesIt) {
    auto library = [] {
        platform::StackBounds b;
        pthread_attr_t attr;
        void* low = nullptr;
        size_t size = 0;
        if (pthread_getattr_np(pthread_self(), &attr) == 0 &&
            pthread_attr_getstack(&attr, &low, &size) == 0) {
            b.low = reinterpret_cast<uintptr_t>(low);
            b.size = size;
        }
        pthread_attr_destroy(&attr);
        return b;
    };
    platform::StackBounds ours = platform::stackBounds(), theirs = library();
    uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    ASSERT_NE(theirs.low, 0u);
    EXPECT_LE(ours.low > theirs.low ? ours.low - theirs.low : theirs.low - ours.low, page);
    EXPECT_GE(ours.low + ours.size, theirs.low + theirs.size);
    uintptr_t here = reinterpret_cast<uintptr_t>(&page);
    EXPECT_TRUE(here > ours.low && here < ours.low + ours.size);
    std::thread([&] {
        platform::StackBounds a = platform::stackBounds(), b = library();
        EXPECT_EQ(a.low, b.low);
        EXPECT_EQ(a.size, b.size);
    }).join();
}
