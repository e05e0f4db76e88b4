// Start-up as a real process sees it: argv and envp, the working directory, exit codes,
// the crash guard's log, and the console natives on real pipes. Each case runs
// build/script_host (next to this test binary) on a script written to a temporary folder.
#include <gtest/gtest.h>

#include "tests/unit/test_support.h"

#include <ctype.h>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

const std::string& hostPath() {
    static const std::string path = selfFolder() + "/script_host";
    return path;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

// A JavaScript string literal for arbitrary ASCII text.
std::string quote(const std::string& s) {
    std::string q = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            q += '\\';
            q += c;
        } else if (c == '\n') {
            q += "\\n";
        } else {
            q += c;
        }
    }
    return q + "\"";
}

// Whether s has the form of pattern, where "9" stands for a decimal digit and "H" for
// any number of upper-case hexadecimal ones (at least `minHex`).
bool matches(const std::string& s, const char* pattern, size_t minHex = 0) {
    size_t i = 0;
    for (const char* p = pattern; *p; p++) {
        if (*p == 'H') {
            size_t start = i;
            while (i < s.size() &&
                   (isdigit(static_cast<unsigned char>(s[i])) || (s[i] >= 'A' && s[i] <= 'F')))
                i++;
            if (i - start < minHex) return false;
        } else if (i >= s.size() ||
                   (*p == '9' ? !isdigit(static_cast<unsigned char>(s[i])) : s[i] != *p)) {
            return false;
        } else {
            i++;
        }
    }
    return i == s.size();
}

std::set<std::string> coreDumps(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (strncmp(e->d_name, "core_dump_", 10) == 0) names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

// A running script_host with pipes on its standard input and output.
struct Child {
    pid_t pid = -1;
    int in = -1;  // its standard input
    int out = -1; // its standard output
};

struct Options {
    std::vector<std::string> args;       // after the script file
    const std::vector<std::string>* env; // null: this process's environment
    std::string host;                    // empty: build/script_host
    int outFd;                           // >= 0: use as its standard output instead of a pipe
    Options() : env(nullptr), outFd(-1) {}
};

class StartupTest : public ::testing::Test {
  protected:
    std::string dir; // a fresh folder per case; also the working directory children start in

    void SetUp() override {
        const char* base = getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/startup_test.XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back(0);
        ASSERT_NE(mkdtemp(buf.data()), nullptr);
        dir = buf.data();
    }

    void TearDown() override {
        if (dir.empty()) return;
        std::string cmd = "rm -rf '" + dir + "'";
        EXPECT_EQ(system(cmd.c_str()), 0);
    }

    Child start(const std::string& script, const Options& o = Options()) {
        std::string file = dir + "/main.js";
        writeFile(file, script);
        std::vector<std::string> args{o.host.empty() ? hostPath() : o.host, file};
        args.insert(args.end(), o.args.begin(), o.args.end());
        std::vector<char*> argv, envv;
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (o.env) {
            for (auto& e : *o.env)
                envv.push_back(const_cast<char*>(e.c_str()));
            envv.push_back(nullptr);
        }
        char** envp = o.env ? envv.data() : environ;

        int inPipe[2], outPipe[2] = {-1, -1};
        Child c;
        if (pipe2(inPipe, O_CLOEXEC) != 0) return c;
        if (o.outFd < 0 && pipe2(outPipe, O_CLOEXEC) != 0) return c;
        c.pid = fork();
        if (c.pid == 0) {
            dup2(inPipe[0], 0);
            dup2(o.outFd >= 0 ? o.outFd : outPipe[1], 1);
            if (chdir(dir.c_str()) != 0) _exit(126);
            execve(argv[0], argv.data(), envp);
            _exit(127);
        }
        close(inPipe[0]);
        c.in = inPipe[1];
        if (outPipe[1] >= 0) close(outPipe[1]);
        c.out = outPipe[0];
        return c;
    }

    // Reads one line (without its line feed) from the child's output.
    static std::string readLine(const Child& c) {
        std::string line;
        char ch;
        while (readWithin(c, &ch, 1) == 1 && ch != '\n')
            line += ch;
        return line;
    }

    // Closes the child's input, reads the rest of its output and returns its exit code
    // (or 128 + the signal that ended it).
    static int finish(Child& c, std::string* output = nullptr) {
        if (c.in >= 0) close(c.in);
        c.in = -1;
        std::string out;
        if (c.out >= 0) {
            char buf[4096];
            ssize_t n;
            while ((n = readWithin(c, buf, sizeof buf)) > 0)
                out.append(buf, static_cast<size_t>(n));
            close(c.out);
            c.out = -1;
        }
        int status = 0;
        for (int waited = 0; waitpid(c.pid, &status, WNOHANG) == 0; waited++) {
            if (waited == kPatienceMs) kill(c.pid, SIGKILL); // then reaped below
            usleep(1000);
        }
        if (output) *output = out;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // A child that hangs is killed after this long, so that the case fails instead of
    // stalling the suite.
    static constexpr int kPatienceMs = 60000;

    static ssize_t readWithin(const Child& c, char* buf, size_t size) {
        struct pollfd p = {c.out, POLLIN, 0};
        if (poll(&p, 1, kPatienceMs) <= 0) {
            kill(c.pid, SIGKILL);
            return -1;
        }
        return read(c.out, buf, size);
    }

    // Runs a script with `input` on its standard input; returns the exit code.
    int run(const std::string& script, std::string* output, const std::string& input = "",
            const Options& o = Options()) {
        Child c = start(script, o);
        if (c.pid < 0) return -1;
        // Small inputs fit in the pipe: writing first cannot block.
        if (!input.empty() && write(c.in, input.data(), input.size()) != (ssize_t)input.size())
            return -1;
        return finish(c, output);
    }
};

// --- argv, envp and the working directory -----------------------------------------------

TEST_F(StartupTest, ArgvHoldsExecutablePathAndArgumentsInItsFolder) {
    Child c = start(R"(
        System.openConsole();
        System.print(argv.length);
        System.print(argv[0]);
        System.print(argv[1]);
        System.print("ready");
        System.getchar(); // holds the process while the test looks at it
    )",
                    [] {
                        Options o;
                        o.args = {"-x"};
                        return o;
                    }());
    ASSERT_GT(c.pid, 0);
    EXPECT_EQ(readLine(c), "2");
    EXPECT_EQ(readLine(c), hostPath());
    EXPECT_EQ(readLine(c), "-x");
    ASSERT_EQ(readLine(c), "ready");
    char cwd[PATH_MAX];
    std::string link = "/proc/" + std::to_string(c.pid) + "/cwd";
    ssize_t n = readlink(link.c_str(), cwd, sizeof cwd - 1);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(cwd, static_cast<size_t>(n)), selfFolder());
    EXPECT_NE(selfFolder(), dir);
    EXPECT_EQ(finish(c), 0);
}

TEST_F(StartupTest, ArgvAndEnvpAttributes) {
    std::string out;
    Options o;
    o.args = {"one"};
    int code = run(R"(
        test("argv elements are read-only and enumerable", function () {
            argv[0] = "changed";
            argv[1] = "changed";
            assertEq(argv[1], "one");
            assertTrue(argv[0] !== "changed", "argv[0] kept");
            assertEq(Object.keys(argv).join(), "0,1");
            var e = assertThrows(function () { "use strict"; argv[1] = "x"; });
            assertTrue(e instanceof TypeError, "strict assignment throws TypeError");
        });
        test("envp entries are read-only and enumerable", function () {
            var d = Object.getOwnPropertyDescriptor(envp, "PATH");
            assertTrue(d.enumerable && !d.writable, "PATH attributes");
            envp.PATH = "changed";
            assertTrue(envp.PATH !== "changed", "PATH kept");
        });
        test("argv and envp are hidden but writable and deletable", function () {
            var names = [];
            for (var k in this) names.push(k);
            assertEq(names.indexOf("argv"), -1);
            assertEq(names.indexOf("envp"), -1);
            var g = this;
            ["argv", "envp"].forEach(function (name) {
                var d = Object.getOwnPropertyDescriptor(g, name);
                assertTrue(d && !d.enumerable && d.writable && d.configurable, name);
            });
            argv = 5;
            assertEq(argv, 5);
            assertTrue(delete this.argv, "delete argv");
            assertEq(typeof argv, "undefined");
            assertTrue(delete this.envp, "delete envp");
            assertEq(typeof envp, "undefined");
        });
        done();
    )",
                   &out, "", o);
    EXPECT_EQ(code, 0) << out;
    EXPECT_EQ(out, "3 passed, 0 failed\n");
}

TEST_F(StartupTest, EnvpNamesUpperCasedValuesAfterFirstEquals) {
    // Entries without a name, or without "=", are not environment variables and are left out.
    std::vector<std::string> env{"Path=/w", "a=b=c", "empty=", "=x", "noequals"};
    Options o;
    o.env = &env;
    std::string out;
    int code = run(R"(
        var names = [];
        for (var k in envp) names.push(k);
        System.print(names.join());
        System.print(JSON.stringify([envp.PATH, envp.A, envp.EMPTY]));
        System.print(typeof envp.Path);
    )",
                   &out, "", o);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, "PATH,A,EMPTY\n[\"/w\",\"b=c\",\"\"]\nundefined\n");
}

TEST_F(StartupTest, NonUtf8ArgumentBytesSurvive) {
    // Each invalid byte comes through as U+DC80..U+DCFF; valid UTF-8 decodes normally.
    Options o;
    o.args = {"a\xff"
              "b\xc3",
              "\xc3\xa9"};
    std::string out;
    int code = run(R"(
        function codes(s) {
            var r = [];
            for (var i = 0; i < s.length; i++) r.push(s.charCodeAt(i).toString(16));
            return r.join(" ");
        }
        System.print(codes(argv[1]));
        System.print(codes(argv[2]));
    )",
                   &out, "", o);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, "61 dcff 62 dcc3\ne9\n");
}

// --- exit codes -----------------------------------------------------------------------

// The reporter names the script's file and line and prints that line: for a compile
// error the message is the text alone, and an error of eval code shows the eval's own line.
TEST_F(StartupTest, UncaughtErrorsShowTheirLine) {
    const struct {
        const char* script;
        const char* out;
    } cases[] = {
        {"var a = 1;\nvar b = ;\n", "main.js:2 SyntaxError: syntax error\nvar b = ;\n"},
        {"var o = {};\n\no.f(1);\n", "main.js:3 TypeError: o.f is not a function\no.f(1);\n"},
        {"var s = 1;\n\neval('1;\\nnull.x');\n",
         "main.js:4 TypeError: null has no properties\nnull.x\n"},
        {"var s = 1;\neval('\\nx y');\n",
         "main.js:3 SyntaxError: missing ; before statement\nx y\n"},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(run(c.script, &out), 1) << c.script;
        EXPECT_EQ(out, c.out) << c.script;
    }
}

TEST_F(StartupTest, ExitCodes) {
    std::string out;
    EXPECT_EQ(run("var x = 1;", &out), 0);
    // An uncaught error is reported, and the process fails.
    EXPECT_EQ(run("var a = 1;\nundefinedName;", &out), 1);
    EXPECT_EQ(out, "main.js:2 ReferenceError: undefinedName is not defined\n"
                   "undefinedName;\n");
    EXPECT_EQ(run("System.exit(); System.print('not reached');", &out), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(run("System.exit(undefined)", &out), 0);
    EXPECT_EQ(run("System.exit(3.9)", &out), 3);
    EXPECT_EQ(run("System.exit(-1)", &out), 255);
    // The status is 8 bits: "abc" converts to NaN, the code to -2147483648, whose low byte is 0.
    EXPECT_EQ(run("System.exit('abc')", &out), 0);
    EXPECT_EQ(run("System.exit(257)", &out), 1);
    // Output still buffered in the pipe is flushed by the exit.
    EXPECT_EQ(run("System.print('bye'); System.exit(4)", &out), 4);
    EXPECT_EQ(out, "bye\n");
}

// A reader that has gone away (`app | head -1`) ends no process: the writes fail quietly
// and the script goes on. The programs it starts get SIGPIPE's default back.
TEST_F(StartupTest, PrintToAClosedPipeFailsQuietly) {
    Options o;
    o.args = {dir};
    Child c = start(R"(
        System.print("first");
        System.getchar(); // the test has closed the reading end
        for (var i = 0; i < 1000; i++) System.print("line " + i);
        System.exec("/bin/sh -c \"grep SigIgn /proc/self/status >'" + argv[1] + "/ignored'\"",
                    undefined, true);
        System.exit(7);
    )",
                    o);
    ASSERT_GT(c.pid, 0);
    ASSERT_EQ(readLine(c), "first");
    close(c.out);
    c.out = -1;
    EXPECT_EQ(finish(c), 7);
    std::string ignored = readFile(dir + "/ignored");
    ASSERT_EQ(ignored.compare(0, 7, "SigIgn:"), 0) << ignored;
    EXPECT_EQ(strtoull(ignored.c_str() + 7, nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u);
}

// Teardown runs the finalizer of every object still alive (it need not free the heap):
// a database left open inside a transaction is closed, which rolls the transaction back
// and removes its journal. System.exit skips teardown, so there the journal stays.
TEST_F(StartupTest, TeardownRunsFinalizersOfLiveObjects) {
    std::string out;
    const std::string module = quote(selfFolder() + "/bin/msqlite.so"), file = quote(dir + "/t.db");
    const std::string open = "System.loadModule(" + module + ");\nvar db = new SQLite(" + file +
                             ");\ndb.query('CREATE TABLE t(a); BEGIN; INSERT INTO t VALUES(1)');\n";
    const std::string journal = dir + "/t.db-journal";
    for (bool viaExit : {true, false}) {
        unlink((dir + "/t.db").c_str());
        unlink(journal.c_str());
        EXPECT_EQ(run(open + (viaExit ? "System.exit(0);" : ""), &out), 0) << out;
        EXPECT_EQ(access(journal.c_str(), F_OK) == 0, viaExit) << (viaExit ? "exit" : "return");
    }
}

// --- the crash guard ------------------------------------------------------------------

// The included file: line 12 calls a native that faults.
const char* const kRunJs = "// scripts/run.js\n"
                           "var a = 1;\n"
                           "var b = 2;\n"
                           "\n"
                           "function step() {\n"
                           "    return a + b;\n"
                           "}\n"
                           "\n"
                           "step();\n"
                           "\n"
                           "// the fault:\n"
                           "Test.crash();\n"
                           "var after = 3;\n";

TEST_F(StartupTest, CrashGuardWritesLogInExecutableFolderAndExitsWithOne) {
    // A copy of the host in a folder of its own: its working directory, where the log goes,
    // is then private to this case.
    std::string bin = dir + "/bin";
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    Options o;
    o.host = bin + "/script_host";
    writeFile(o.host, readFile(hostPath()));
    ASSERT_EQ(chmod(o.host.c_str(), 0755), 0);

    std::string crash = "System.print('before the crash');\n"
                        "System.evaluate('scripts/run.js', " +
                        quote(kRunJs) +
                        ");\n"
                        "System.print('not reached');\n";
    std::string out;
    EXPECT_EQ(run(crash, &out, "", o), 1);
    EXPECT_EQ(out, "before the crash\n"); // normal exit processing flushed it
    std::set<std::string> logs = coreDumps(bin);
    ASSERT_EQ(logs.size(), 1u);
    const std::string& name = *logs.begin();
    EXPECT_TRUE(matches(name, "core_dump_99999999_999999.log")) << name;
    EXPECT_TRUE(coreDumps(dir).empty()); // not where it was started
    std::string log = readFile(bin + "/" + name);
    std::string first = std::string("Core exception (0xC0000005) in '") + kRunJs +
                        "' from 'scripts/run.js' -> 12\n";
    ASSERT_EQ(log.substr(0, first.size()), first);
    // Line 2 has no line end.
    std::string second = log.substr(first.size());
    EXPECT_TRUE(matches(second, "from (0xH)", 8)) << second;
    unlink((bin + "/" + name).c_str());

    // With the switch off the same crash still exits with 1 but leaves no log.
    EXPECT_EQ(run("Test.coreDumpOff();\n" + crash, &out, "", o), 1);
    EXPECT_EQ(out, "before the crash\n");
    EXPECT_TRUE(coreDumps(bin).empty());
}

// --- print, getchar and getInput on real pipes ----------------------------------------

TEST_F(StartupTest, PrintWritesNarrowBytesAndALineFeed) {
    std::string out;
    int code = run(R"(
        System.print("a\nb");
        System.print(1.5);
        System.print(undefined);
        System.print("\u00e9\u0141"); // one byte per character: its low 8 bits
    )",
                   &out);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, "a\nb\n1.5\nundefined\n\xe9"
                   "A\n");
}

TEST_F(StartupTest, PrintIsOneWritePerLine) {
    // A packet socket as standard output keeps the boundaries of each write; with the
    // console opened the stream is unbuffered, so every print shows as its own write.
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv), 0);
    Options o;
    o.outFd = sv[1];
    Child c = start(R"(
        System.openConsole();
        System.print("first\nsecond");
        var long = "";
        for (var i = 0; i < 3000; i++) long += "x";
        System.print(long);
    )",
                    o);
    close(sv[1]);
    ASSERT_GT(c.pid, 0);
    EXPECT_EQ(finish(c), 0);
    std::vector<std::string> writes;
    std::vector<char> buf(65536);
    ssize_t n;
    while ((n = recv(sv[0], buf.data(), buf.size(), 0)) > 0)
        writes.emplace_back(buf.data(), static_cast<size_t>(n));
    close(sv[0]);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], "first\nsecond\n");
    EXPECT_EQ(writes[1], std::string(3000, 'x') + "\n");
}

TEST_F(StartupTest, PrintReachesAPipeAtOnce) {
    // Standard output is a pipe, not a terminal: each line must arrive while the process
    // still runs (here: waits for input), not when it ends.
    Child c = start(R"(
        System.print("first");
        try { System.loadModule("no-such-module.so"); } catch (e) {}
        System.getInput();
    )");
    ASSERT_GT(c.pid, 0);
    std::string seen;
    char buf[256];
    struct pollfd p = {c.out, POLLIN, 0};
    while (seen.find("No such file or directory\n") == std::string::npos &&
           poll(&p, 1, 10000) > 0) {
        ssize_t n = read(c.out, buf, sizeof buf);
        if (n <= 0) break;
        seen.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(seen, "first\nUnable to load module 'no-such-module.so'\n"
                    "Unable to init module 'no-such-module.so'\n"
                    "no-such-module.so: cannot open shared object file: No such file or "
                    "directory\n");
    EXPECT_EQ(finish(c), 0);
}

TEST_F(StartupTest, GetInputReadsOneLineWithItsLineFeed) {
    std::string out;
    int code = run(R"(
        var line = System.getInput();
        System.print(JSON.stringify(line) + " " + line.length);
        line = System.getInput();
        System.print(line.length + " " + line.charCodeAt(3).toString(16));
        System.print(JSON.stringify(System.getInput()));
        System.print(JSON.stringify(System.getInput()));
    )",
                   &out, "yes\ncaf\xe9\n");
    EXPECT_EQ(code, 0);
    // At the end of input: the empty text, again and again.
    EXPECT_EQ(out, "\"yes\\n\" 4\n5 e9\n\"\"\n\"\"\n");
}

TEST_F(StartupTest, GetInputCutsLongLinesAndDropsTheirRest) {
    std::string input = std::string(255, 'a') + std::string(45, 'b') + "\nnext\n" +
                        std::string(255, 'c') + "\n" + "tail";
    std::string out;
    int code = run(R"(
        function show(s) { return s.length + ":" + s.charAt(0) + s.charAt(s.length - 1); }
        System.print(show(System.getInput()));
        System.print(JSON.stringify(System.getInput()));
        System.print(show(System.getInput())); // exactly 255 before the line feed
        System.print(JSON.stringify(System.getInput())); // last line without a line feed
        System.print(JSON.stringify(System.getInput()));
    )",
                   &out, input);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, "255:aa\n\"next\\n\"\n255:cc\n\"tail\"\n\"\"\n");
}

TEST_F(StartupTest, GetcharReadsOneByteAndU00FFAtEnd) {
    std::string out;
    int code = run(R"(
        var s = System.getchar();
        System.print(s.length + " " + s);
        System.print(JSON.stringify(System.getInput())); // the rest of the line stays
        var c = System.getchar();
        System.print(c.length + " " + c.charCodeAt(0).toString(16));
        System.print(System.getchar() === "\u00ff");
        System.print(System.getchar() === "\u00ff");
        System.print(JSON.stringify(System.getInput()));
    )",
                   &out, "xyz\n\xe9");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, "1 x\n\"yz\\n\"\n1 e9\ntrue\ntrue\n\"\"\n");
}

// --- system information that a script cannot check by itself ---------------------------

TEST_F(StartupTest, ProcessFacts) {
    std::string out;
    Child c = start("System.print(System.getPID()); System.print(System.getAdminRights());");
    ASSERT_GT(c.pid, 0);
    int pid = c.pid;
    EXPECT_EQ(finish(c, &out), 0);
    EXPECT_EQ(out, std::to_string(pid) + "\n" + (geteuid() == 0 ? "true" : "false") + "\n");
}

} // namespace
