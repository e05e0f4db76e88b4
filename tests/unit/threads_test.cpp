// What a script thread's errors look like on standard output, where the error reporter
// prints them: build/script_host (next to this test binary) runs a script whose threads
// fail, and the test reads the process's output as it comes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string selfFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<size_t>(n));
    return path.substr(0, path.find_last_of('/'));
}

// Runs script_host on a script and collects its output until every expected text has
// appeared (or 10 s have passed); the process is then killed. Returns the output.
std::string runUntilSeen(const std::string& script, const std::vector<std::string>& expected) {
    char tmpl[] = "/tmp/threads_test.XXXXXX";
    if (!mkdtemp(tmpl)) return "";
    std::string dir = tmpl, file = dir + "/main.js";
    std::ofstream(file) << script;
    std::string host = selfFolder() + "/script_host";
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return "";
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        if (chdir(dir.c_str()) != 0) _exit(126);
        execl(host.c_str(), host.c_str(), file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string output;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto allSeen = [&] {
        for (const std::string& e : expected)
            if (output.find(e) == std::string::npos) return false;
        return true;
    };
    while (!allSeen() && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[4096];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        output.append(buf, static_cast<size_t>(n));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(out[0]);
    unlink(file.c_str());
    rmdir(dir.c_str());
    return output;
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
