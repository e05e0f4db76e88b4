// Packaging end to end, with real processes: build/capsule-pack packs an application
// folder behind the runtime, the packed program runs, lists and unpacks; the bootstrap
// loader takes its files from the package or the disk. The application is packed once
// for the suite; its autorun.js does what its first argument asks.
#include <gtest/gtest.h>

#include "tests/unit/test_support.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string packer() {
    return selfFolder() + "/capsule-pack";
}
std::string runtime() {
    return selfFolder() + "/capsule";
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& data, time_t mtime = 0) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << data;
    if (mtime) {
        struct utimbuf t = {mtime, mtime};
        utime(path.c_str(), &t);
    }
}

time_t mtimeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

std::string hex(const std::string& s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// A name as the runtime prints it: one byte per character (UTF-8 of U+0080..U+00FF
// becomes the single byte).
std::string narrow(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); i++) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size())
            out += static_cast<char>(((c & 3) << 6) | (utf8[++i] & 0x3F));
        else
            out += static_cast<char>(c);
    }
    return out;
}

struct Result {
    int code = -1;   // exit code, or 128 + the signal that ended the process
    std::string out; // standard output and error together
};

// Runs program with args in folder cwd, its output captured, no input, extra environment
// entries added; ended after 30 seconds so a hang fails the case instead of the suite.
Result run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
           const std::vector<std::string>& env = {}) {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envs(env);
    for (char** e = environ; *e; e++) {
        std::string entry(*e), name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const std::string& x : env)
            replaced |= x.compare(0, name.size(), name) == 0;
        if (!replaced) envs.push_back(entry);
    }
    std::vector<char*> envv;
    for (auto& e : envs)
        envv.push_back(const_cast<char*>(e.c_str()));
    envv.push_back(nullptr);

    Result r;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return r;
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        alarm(30);
        execve(argv[0], argv.data(), envv.data());
        _exit(127);
    }
    close(out[1]);
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0)
        r.out.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

// "key=value" lines of a program's output.
std::map<std::string, std::string> keyed(const std::string& out) {
    std::map<std::string, std::string> m;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return m;
}

// The packed application's entry script. The throw sits on line 2, so its location is
// known; the rest reports what the test asks for as key=value lines.
const char* const kAutorun = R"js(// entry script of the packaging test
if (argv[1] == "throw") throw new Error("boom");
function out(key, value) { System.print(key + "=" + value); }
function hex(s) {
    if (typeof s != "string") return String(s);
    var o = [];
    for (var i = 0; i < s.length; i++)
        o.push((s.charCodeAt(i) < 16 ? "0" : "") + s.charCodeAt(i).toString(16));
    return o.join("");
}
function attempt(f) {
    try { return f(); } catch (e) { return "error " + e.message; }
}
if (argv[1] == "facts") {
    out("argv0", argv[0]);
    out("argc", argv.length);
    out("arg2", argv[2]);
    out("cwd", File.getCurrentWorkingDir());
    out("env", envp.CAPSULE_PROBE);
    out("package", System.package instanceof File && System.package.path === argv[0]);
    out("included", Object.keys(include.list).join());
} else if (argv[1] == "extract") {
    var fsd = System.package.afs.fsd;
    for (var name in fsd)
        out("file " + name, hex(System.package.extract(name)) + " " + fsd[name].time / 1000);
} else if (argv[1] == "loader") {
    function content(name, mode) {
        return attempt(function () {
            var r = load(name, mode);
            return r.content + "@" + r.time / 1000;
        });
    }
    out("disk", content("data/both.txt"));
    out("disk other", content("data/both.txt", "other"));
    out("disk zero", content("data/both.txt", 0));
    out("afs", content("data/both.txt", "AFS"));
    out("package only", content("data/only.txt"));
    out("package only dotted", content("./data/only.txt"));
    out("disk only afs", content("disk-only.txt", "AFS"));
    out("missing", content("nothing.txt"));
    out("missing afs", content("nothing.txt", "AFS"));
    out("empty disk", content("empty-disk.txt"));
    out("empty package", content("empty.txt", "AFS"));
    attempt(function () { include("x.js"); });
    attempt(function () { include("x.js"); });
    out("x once", xRuns);
    attempt(function () { include("./x.js"); });
    out("x dotted", xRuns);
    out("bad first", attempt(function () { include("scripts/lib/bad.js"); return "ok"; }));
    out("bad second", attempt(function () { include("scripts/lib/bad.js"); return "ok"; }));
    out("bad runs", badRuns);
    out("missing include", attempt(function () { include("nothing.js"); return "ok"; }));
    out("missing include again", attempt(function () { include("nothing.js"); return "ok"; }));
    out("list", Object.keys(include.list).join());
}
)js";

// Source files of the application: path -> content, each with its own time.
struct Source {
    std::string path, content;
    time_t mtime;
};

std::vector<Source> appFiles() {
    std::string all;
    for (int i = 0; i < 512; i++)
        all += static_cast<char>(i & 255);
    return {
        {"scripts/autorun.js", kAutorun, 1346147708},
        {"scripts/lib/bad.js",
         "badRuns = (typeof badRuns == 'number' ? badRuns : 0) + 1; throw new Error('bad');",
         1346147709},
        {"data/both.txt", "from the package", 1346147710},
        {"data/only.txt", "package only", 1346147711},
        {"data/all.bin", all, 1346147712},
        {"data/caf\xc3\xa9.txt", "latin name", 1346147713},
        {"deep/a/b/c.txt", std::string("with\0nul", 8), 1346147714},
        {"empty.txt", "", 1346147715},
    };
}

class PackagingTest : public ::testing::Test {
  protected:
    static std::string root;   // scratch folder of the suite
    static std::string app;    // the application folder
    static std::string outDir; // a folder with a blank in its name
    static std::string exe;    // the packed application, its name with a blank too
    static Result packed;      // what capsule-pack said

    static void SetUpTestSuite() {
        const char* base = getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/packaging_test.XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back(0);
        if (!mkdtemp(buf.data())) return;
        root = buf.data();
        app = root + "/app";
        outDir = root + "/out dir";
        exe = outDir + "/my app";
        for (const Source& s : appFiles())
            writeFile(app + "/" + s.path, s.content, s.mtime);
        fs::create_directories(outDir);
        packed = run(packer(), {app, exe}, root);
    }

    static void TearDownTestSuite() {
        if (!root.empty()) fs::remove_all(root);
    }

    void SetUp() override {
        ASSERT_FALSE(root.empty());
        ASSERT_EQ(packed.code, 0) << packed.out;
    }

    // A fresh folder for one case.
    std::string folder(const std::string& name) {
        std::string path = root + "/" + name;
        fs::remove_all(path);
        fs::create_directories(path);
        return path;
    }
};

std::string PackagingTest::root, PackagingTest::app, PackagingTest::outDir, PackagingTest::exe;
Result PackagingTest::packed;

TEST_F(PackagingTest, PackerReportsAndWritesAnExecutable) {
    EXPECT_NE(packed.out.find("capsule-pack: 8 files"), std::string::npos) << packed.out;
    struct stat st;
    ASSERT_EQ(stat(exe.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0111, 0111u) << "run bits";
    // The image in front of the package is the bare runtime, although the packer that
    // wrote it is itself a packed program.
    std::string image = readFile(runtime()), whole = readFile(exe);
    ASSERT_GT(whole.size(), image.size());
    EXPECT_TRUE(whole.compare(0, image.size(), image) == 0);
    EXPECT_EQ(whole.substr(whole.size() - 8, 4), "\xab\xcd\xab\xcd");
}

TEST_F(PackagingTest, PackedAppSeesItsPathFolderArgumentsAndEnvironment) {
    // Started by a relative path from another folder.
    Result r = run("out dir/my app", {"facts", "two words"}, root, {"Capsule_Probe=mixed Case"});
    ASSERT_EQ(r.code, 0) << r.out;
    auto m = keyed(r.out);
    EXPECT_EQ(m["argv0"], exe);
    EXPECT_EQ(m["argc"], "3");
    EXPECT_EQ(m["arg2"], "two words");
    EXPECT_EQ(m["cwd"], outDir);
    EXPECT_EQ(m["env"], "mixed Case") << "the name upper-cased";
    EXPECT_EQ(m["package"], "true");
    EXPECT_EQ(m["included"], "scripts/autorun.js");
}

TEST_F(PackagingTest, ListNamesEveryFile) {
    Result r = run(packer(), {"--list", exe}, root);
    ASSERT_EQ(r.code, 0) << r.out;
    for (const Source& s : appFiles()) {
        std::string name = narrow(s.path), size = std::to_string(s.content.size());
        // "<size> <csize>  <module>  <name>" with the numbers right-aligned.
        bool found = false;
        std::istringstream in(r.out);
        std::string line;
        while (std::getline(in, line))
            if (line.size() > name.size() + 2 &&
                line.compare(line.size() - name.size() - 2, std::string::npos, "  " + name) == 0 &&
                std::stoul(line.substr(0, 10)) == s.content.size())
                found = true;
        EXPECT_TRUE(found) << s.path << " (" << size << " bytes) in\n" << r.out;
    }
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 8) << r.out;
}

TEST_F(PackagingTest, UnpackReproducesBytesAndTimes) {
    std::string target = root + "/unpacked/new";
    Result r = run(packer(), {"--unpack", exe, target}, root);
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("capsule-pack: 8 files unpacked"), std::string::npos) << r.out;
    size_t count = 0;
    for (auto& e : fs::recursive_directory_iterator(target))
        count += e.is_regular_file();
    EXPECT_EQ(count, 8u);
    for (const Source& s : appFiles()) {
        std::string path = target + "/" + s.path;
        EXPECT_TRUE(readFile(path) == s.content) << s.path;
        EXPECT_EQ(mtimeOf(path), s.mtime) << s.path;
    }
}

TEST_F(PackagingTest, ExtractReadsBackWhatWasPacked) {
    Result r = run(exe, {"extract"}, root);
    ASSERT_EQ(r.code, 0) << r.out;
    auto m = keyed(r.out);
    for (const Source& s : appFiles()) {
        // An empty entry extracts to undefined.
        std::string want = s.content.empty() ? "undefined" : hex(s.content);
        EXPECT_EQ(m["file " + narrow(s.path)], want + " " + std::to_string(s.mtime)) << s.path;
    }
    EXPECT_EQ(m.size(), 8u) << r.out;
}

// Relative paths count from $PWD; an output name with quotes and blanks still gets its
// run bits (the packer hands it to chmod on a command line).
TEST_F(PackagingTest, PackerTakesPathsRelativeToWhereItStarted) {
    std::string here = folder("relative");
    writeFile(here + "/src/scripts/autorun.js", "System.print('relative ' + argv[1]);");
    Result r = run(packer(), {"src", "a \"quoted\" app"}, here, {"PWD=" + here});
    ASSERT_EQ(r.code, 0) << r.out;
    std::string out = here + "/a \"quoted\" app";
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0111, 0111u) << "run bits";
    Result a = run(out, {"works"}, root);
    EXPECT_EQ(a.code, 0);
    EXPECT_EQ(a.out, "relative works\n");
}

// --runtime packs behind another image, such as the Windows runtime; a packed program
// given as the image counts without its package.
TEST_F(PackagingTest, PackerPacksBehindAChosenRuntime) {
    std::string here = folder("runtime");
    const std::string image = "MZ: the image of another system\n";
    writeFile(here + "/other.exe", image);
    Result r = run(packer(), {"--runtime", here + "/other.exe", app, here + "/app.exe"}, root);
    ASSERT_EQ(r.code, 0) << r.out;
    std::string whole = readFile(here + "/app.exe");
    EXPECT_EQ(whole.compare(0, image.size(), image), 0);
    Result list = run(packer(), {"--list", here + "/app.exe"}, root);
    EXPECT_EQ(list.code, 0) << list.out;
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 8) << list.out;
    r = run(packer(), {"--runtime", exe, app, here + "/again"}, root);
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(readFile(here + "/again") == readFile(exe));
}

TEST_F(PackagingTest, PackerFailuresExitNonZeroWithAMessage) {
    std::string plain = app + "/data/only.txt";
    const std::vector<std::vector<std::string>> cases = {
        {root + "/no such dir", root + "/never"},
        {app, "/proc/x"},
        {app, root + "/missing dir/out"},
        {"--list", plain},
        {"--unpack", plain, root + "/never"},
        {"--list", root + "/no such file"},
        {"--unpack", root + "/no such file", root + "/never"},
        {"--runtime", root + "/no such image", app, root + "/never"},
    };
    for (const auto& args : cases) {
        Result r = run(packer(), args, root);
        std::string what = args[0] + " " + args[1];
        EXPECT_NE(r.code, 0) << what;
        EXPECT_LT(r.code, 128) << what << ": ended by a signal";
        EXPECT_EQ(r.out.rfind("capsule-pack: ", 0), 0u) << what << ": " << r.out;
    }
    // A name that a package cannot hold (a character beyond U+00FF) is refused, not mangled.
    std::string wide = folder("wide");
    writeFile(wide + "/scripts/autorun.js", "System.print(1);");
    writeFile(wide + "/\xc5\x82.txt", "l with stroke");
    Result r = run(packer(), {wide, root + "/never"}, root);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out.rfind("capsule-pack: cannot pack ", 0), 0u) << r.out;
    EXPECT_FALSE(fs::exists(root + "/never"));
    EXPECT_FALSE(fs::exists(root + "/missing dir"));
    Result usage = run(packer(), {}, root);
    EXPECT_NE(usage.code, 0);
    EXPECT_NE(usage.out.find("usage: capsule-pack"), std::string::npos) << usage.out;
}

// The packer refuses a folder without an entry script and scripts that do not compile
// (compiled, never run), leaves out .git/ and what --exclude names, packs what --no-check
// names unchecked, and says how much it packed.
TEST_F(PackagingTest, PackerChecksWhatItPacks) {
    std::string here = folder("checks");
    writeFile(here + "/empty/data/x.txt", "no entry script");
    const std::string good = "function fail() {}\nSystem.print('ran'); System.exit(5);\n";
    writeFile(here + "/bad/scripts/autorun.js", good);
    writeFile(here + "/bad/scripts/lib/one.js", "var a = 1;\n\nvar b = ;\n");
    writeFile(here + "/bad/two.js", "var s = 'open\n");
    const std::string browser = "const f = (x) => `${x}`;\n"; // not the runtime's language
    struct {
        const char* path;
        const std::string& content;
        bool packed;
    } files[] = {
        {"scripts/autorun.js", good, true}, {"web/page.js", browser, true},
        {"data/a.md", good, false},         {"tmp/x.txt", good, false},
        {".git/HEAD", good, false},         {"sub/.git/x.js", browser, false},
        {"sub/.gitignore", good, true},     {"notes/tmp", good, true},
    };
    for (const auto& f : files)
        writeFile(here + "/ok/" + f.path, f.content);
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out;
    } cases[] = {
        {{here + "/empty", here + "/out1"},
         1,
         "capsule-pack: " + here +
             "/empty has no entry script scripts/autorun.js: nothing would run\n"},
        {{here + "/bad", here + "/out2"},
         1,
         "scripts/lib/one.js:3 syntax error\ntwo.js:1 unterminated string literal\n"
         "capsule-pack: 2 scripts do not compile: nothing written\n"},
        {{"--exclude", "*.md", "--no-check", "web/*", "--exclude", "tmp/", here + "/ok",
          here + "/out3"},
         0,
         ""},
    };
    for (const Case& c : cases) {
        Result r = run(packer(), c.args, root);
        EXPECT_EQ(r.code, c.code) << r.out;
        if (c.code) {
            EXPECT_EQ(r.out, c.out);
            EXPECT_FALSE(fs::exists(c.args.back()));
        }
    }
    Result list = run(packer(), {"--list", here + "/out3"}, root);
    for (const auto& f : files)
        EXPECT_EQ(list.out.find(std::string("  ") + f.path + "\n") != std::string::npos, f.packed)
            << f.path << " in\n"
            << list.out;
    Result r = run(packer(), {here + "/ok", here + "/out4", "--no-check", "web/*"}, root);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("capsule-pack: 6 files, [0-9]+ bytes compressed "
                                                   "to [0-9]+; [0-9]+ bytes written to .*\n")))
        << r.out;
}

// The packer's check is the runtime's compilation: what the runtime would report when it
// compiles a script (an error of the translator of any kind, or of the engine's compiler)
// stops the packing, named "file:line message" in the language's words; nothing runs.
TEST_F(PackagingTest, PackerCompilesAsTheRuntimeDoes) {
    std::string here = folder("compiles");
    const struct {
        const char* source;
        const char* error; // "" when it packs
    } cases[] = {
        {"function g() { yield 1; return 2; }\n", "scripts/autorun.js:1 generator function g "
                                                  "returns a value"},
        {"\nconst c = 1;\nvar c = 2;\n", "scripts/autorun.js:3 redeclaration of const c"},
        {"var a = [1,\n2;\n", "scripts/autorun.js:2 missing ] after element list"},
        {"if (x) {\n", "scripts/autorun.js:2 missing } in compound statement"},
        {"System.exit(9);\nnoSuchFunction();\n", ""},
    };
    int i = 0;
    for (const auto& c : cases) {
        std::string dir = here + "/app" + std::to_string(i++);
        writeFile(dir + "/scripts/autorun.js", c.source);
        Result r = run(packer(), {dir, dir + ".out"}, root);
        if (*c.error) {
            EXPECT_EQ(r.code, 1) << c.source;
            EXPECT_EQ(r.out, std::string(c.error) +
                                 "\ncapsule-pack: 1 script does not compile: nothing written\n")
                << c.source;
        } else {
            EXPECT_EQ(r.code, 0) << c.source << r.out;
        }
    }
}

TEST_F(PackagingTest, FolderWithTrailingSeparatorIsPacked) {
    Result r = run(packer(), {app + "//", root + "/slashed"}, root);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("capsule-pack: 8 files"), std::string::npos) << r.out;
}

TEST_F(PackagingTest, BareRuntimeReportsTheMissingEntryScript) {
    std::string here = folder("bare");
    fs::copy_file(runtime(), here + "/capsule");
    Result r = run(here + "/capsule", {}, root);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out,
              "(new Error(\"Unable to load 'scripts/autorun.js'\", \"startupScript\", 1))\n");
}

// The example application of the README, packed by the build (it is written in the script
// language: a generator, let and for each).
TEST_F(PackagingTest, HelloExampleRuns) {
    Result r = run(selfFolder() + "/hello", {"tester"}, root);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Hello, tester!"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("scripts/greeting.js"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("One file carries the runtime"), std::string::npos) << r.out;
}

// An error that the application does not catch is printed in its source form and is a
// failure of the process, so that a service manager or a shell sees it.
TEST_F(PackagingTest, ExceptionOfThePackedAppIsPrintedAndExitsOne) {
    Result r = run(exe, {"throw"}, root);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "(new Error(\"boom\", \"scripts/autorun.js\", 2))\n");
}

// A thrown value that has no source form, or whose getters throw, is still printed as
// well as it can be, on the main thread and on a script thread, never the start-up's text.
TEST_F(PackagingTest, OddThrownValuesArePrinted) {
    std::string here = folder("odd");
    const char* getter = "var e = new Error('kept'); Object.defineProperty(e, 'fileName', "
                         "{ get: function () { throw 1; } });";
    const struct {
        std::string source;
        const char* out;
        int code;
    } cases[] = {
        {"throw Object.create(null);", "uncaught exception: ({})\n", 1},
        {"var o = Object.create(null); o.a = 1; throw o;", "uncaught exception: ({a:1})\n", 1},
        {std::string(getter) + " throw e;", "Error: kept\n", 1},
        {"var e = new Error('kept'); Object.defineProperty(e, 'lineNumber', "
         "{ get: function () { throw 1; } }); throw e;",
         "Error: kept\n", 1},
        {"System.createThread('throw Object.create(null)'); System.sleep(300);",
         "uncaught exception: ({})\n", 0},
        {"System.createThread(\"" + std::string(getter) + " throw e;\"); System.sleep(300);",
         "Error: kept\n", 0},
    };
    int i = 0;
    for (const auto& c : cases) {
        std::string dir = here + "/app" + std::to_string(i++);
        writeFile(dir + "/scripts/autorun.js", c.source);
        Result packed = run(packer(), {dir, dir + ".exe"}, root);
        ASSERT_EQ(packed.code, 0) << packed.out;
        Result r = run(dir + ".exe", {}, root);
        EXPECT_EQ(r.code, c.code) << c.source;
        EXPECT_EQ(r.out, c.out) << c.source;
    }
}

TEST_F(PackagingTest, LoaderChoosesBetweenPackageAndDisk) {
    // Disk files beside the packed program, which works in its own folder.
    const time_t diskTime = 1000000000;
    writeFile(outDir + "/data/both.txt", "from the disk", diskTime);
    writeFile(outDir + "/disk-only.txt", "disk only", diskTime);
    writeFile(outDir + "/empty-disk.txt", "");
    writeFile(outDir + "/x.js", "xRuns = (typeof xRuns == 'number' ? xRuns : 0) + 1;");
    // The package's entry script wins over one on disk.
    writeFile(outDir + "/scripts/autorun.js", "System.print('the disk autorun ran');");
    Result r = run(exe, {"loader"}, root);
    fs::remove_all(outDir + "/data");
    fs::remove_all(outDir + "/scripts");
    for (const char* name : {"disk-only.txt", "empty-disk.txt", "x.js"})
        fs::remove(outDir + "/" + name);
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out.find("the disk autorun ran"), std::string::npos) << r.out;
    auto m = keyed(r.out);
    EXPECT_EQ(m["disk"], "from the disk@1000000000");
    EXPECT_EQ(m["disk other"], "from the disk@1000000000");
    EXPECT_EQ(m["disk zero"], "from the disk@1000000000");
    EXPECT_EQ(m["afs"], "from the package@1346147710");
    EXPECT_EQ(m["package only"], "package only@1346147711");
    EXPECT_EQ(m["package only dotted"], "error Unable to load './data/only.txt'");
    EXPECT_EQ(m["disk only afs"], "disk only@1000000000") << "the disk is the fallback";
    EXPECT_EQ(m["missing"], "error Unable to load 'nothing.txt'");
    EXPECT_EQ(m["missing afs"], "error Unable to load 'nothing.txt'");
    EXPECT_EQ(m["empty disk"], "error Empty file 'empty-disk.txt'");
    EXPECT_EQ(m["empty package"], "error Unable to load 'empty.txt'")
        << "an empty entry extracts to nothing and the disk has no such file";
    EXPECT_EQ(m["x once"], "1");
    EXPECT_EQ(m["x dotted"], "2") << "x.js and ./x.js are two names";
    EXPECT_EQ(m["bad first"], "error bad");
    EXPECT_EQ(m["bad second"], "ok") << "a failed include is not tried again";
    EXPECT_EQ(m["bad runs"], "1");
    EXPECT_EQ(m["missing include"], "error Unable to load 'nothing.js'");
    EXPECT_EQ(m["missing include again"], "ok");
    EXPECT_EQ(m["list"], "scripts/autorun.js,x.js,./x.js,scripts/lib/bad.js,nothing.js");
}

std::string u32(uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

// A package written by hand: an image, then the directory text and the one file "x".
std::string handPackage(const std::string& dirText) {
    std::string zdir = deflate(dirText), zfile = deflate("x");
    std::string block = u32(zdir.size()) + u32(dirText.size()) + zdir + zfile + "\xAB\xCD\xAB\xCD";
    return "IMAGE" + block + u32(uint32_t(block.size() + 4));
}

// Listing or unpacking a package runs nothing of it, and unpacking refuses every name that
// would land outside the target folder, writing nothing.
TEST_F(PackagingTest, ReadingAPackageRunsNoneOfIt) {
    std::string here = folder("hostile");
    writeFile(here + "/script.pkg", handPackage("System.print('ran'), ({x:{size:1, csize:9}})"));
    const std::vector<std::vector<std::string>> reads = {
        {"--list", here + "/script.pkg"}, {"--unpack", here + "/script.pkg", here + "/out"}};
    for (const auto& args : reads) {
        Result r = run(packer(), args, root);
        EXPECT_EQ(r.code, 1) << args[0];
        EXPECT_EQ(r.out, "capsule-pack: no package in " + here + "/script.pkg\n") << args[0];
    }
    const char* names[] = {
        "../x", "..\\\\..\\\\x", "scripts/../../../x", "/tmp/x", "a//b", "./x", "C:x", "a/."};
    for (const char* name : names) {
        std::string text = std::string("({'ok':{size:1, csize:9, time:0}, '") + name +
                           "':{size:1, csize:9, time:0}})";
        writeFile(here + "/bad.pkg", handPackage(text));
        std::string target = here + "/deep/a/b/target";
        fs::create_directories(target);
        Result r = run(packer(), {"--unpack", here + "/bad.pkg", target}, root);
        EXPECT_EQ(r.code, 1) << name;
        EXPECT_EQ(r.out.rfind("capsule-pack: refused to unpack ", 0), 0u) << name << ": " << r.out;
        EXPECT_TRUE(fs::is_empty(target)) << name;
        EXPECT_EQ(std::distance(fs::recursive_directory_iterator(here + "/deep"),
                                fs::recursive_directory_iterator()),
                  3)
            << name << ": nothing written beside the target";
    }
}

// An output that is also an input is refused, a failing pack leaves the earlier package
// as it was, and a file too big to pack is refused before it is read.
TEST_F(PackagingTest, PackerLosesNothing) {
    std::string here = folder("keeps");
    std::string image = here + "/image", good = here + "/good";
    fs::copy_file(exe, image);
    ASSERT_EQ(run(packer(), {app, good}, root).code, 0);
    const std::string before = readFile(good), imageBytes = readFile(image);
    writeFile(here + "/big/scripts/autorun.js", "System.print(1);");
    writeFile(here + "/big/sparse.bin", "");
    fs::resize_file(here + "/big/sparse.bin", uintmax_t(2) << 30);
    const std::vector<std::vector<std::string>> cases = {
        {"--runtime", image, app, image},
        {"--runtime", image, app, here + "/./image"},
        {app, app + "/data/both.txt"},
        {here + "/big", good},
    };
    for (const auto& args : cases) {
        Result r = run(packer(), args, root);
        EXPECT_EQ(r.code, 1) << args[args.size() - 1] << ": " << r.out;
        EXPECT_EQ(r.out.rfind("capsule-pack: ", 0), 0u) << r.out;
    }
    EXPECT_TRUE(readFile(image) == imageBytes) << "the runtime image kept";
    EXPECT_TRUE(readFile(good) == before) << "the earlier package kept";
    EXPECT_EQ(readFile(app + "/data/both.txt"), "from the package");
    EXPECT_EQ(std::distance(fs::directory_iterator(here), fs::directory_iterator()), 3)
        << "no scratch file left";
}

// A top-level file named __proto__ is a file like any other; relative paths are taken
// from the real working directory even when $PWD names another.
TEST_F(PackagingTest, PackerTakesEveryNameAndTheRealWorkingDirectory) {
    std::string here = folder("names");
    writeFile(here + "/src/scripts/autorun.js", "System.print(load('__proto__').content);");
    writeFile(here + "/src/__proto__", "proto file");
    Result r = run(packer(), {"src", "out"}, here, {"PWD=" + root});
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(run(here + "/out", {}, root).out, "proto file\n");
    r = run(packer(), {"--unpack", "out", "back"}, here, {"PWD=" + root});
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(readFile(here + "/back/__proto__"), "proto file");
}

// Links: one that stays inside the folder is packed as what it leads to; one that leads out
// of the folder, to a folder that holds it, or nowhere is refused with its name.
TEST_F(PackagingTest, PackerFollowsOnlyLinksThatStayInside) {
    std::string here = folder("links");
    std::string good = here + "/good";
    writeFile(good + "/scripts/autorun.js", "System.print(load('lib/util.js').content);");
    writeFile(good + "/shared/util.js", "util");
    fs::create_directory_symlink("shared", good + "/lib");
    fs::create_symlink("shared/util.js", good + "/alias.js");
    Result r = run(packer(), {good, here + "/good.out"}, root);
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(run(here + "/good.out", {}, root).out, "util\n");
    r = run(packer(), {"--list", here + "/good.out"}, root);
    EXPECT_NE(r.out.find("alias.js"), std::string::npos) << r.out;

    const struct {
        const char* name;
        const char* target;
        bool dir;
        const char* message;
    } cases[] = {
        {"root", "/", true, "cannot pack root: a link to /, outside the folder"},
        {"data/up", "..", true, "cannot pack data/up: a link to a folder that holds it"},
        {"passwd", "/etc/passwd", false, "cannot pack passwd: a link to /etc/passwd, outside"},
        {"gone", "no such file", false, "cannot pack gone: a link that leads nowhere"},
    };
    for (const auto& c : cases) {
        std::string bad = here + "/bad-" + std::to_string(&c - cases);
        writeFile(bad + "/scripts/autorun.js", "System.print(1);");
        fs::create_directories(bad + "/data");
        fs::create_symlink(c.target, bad + "/" + c.name);
        r = run(packer(), {bad, bad + ".out"}, root);
        EXPECT_EQ(r.code, 1) << c.name << ": " << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
        EXPECT_FALSE(fs::exists(bad + ".out"));
    }
}
} // namespace
