// Compiled scripts kept across starts (core/engine/script_cache.cpp), seen from outside: a
// packed application started twice against a cache folder of its own, its output compared
// between the start that compiles and the one that loads, and the cache file damaged or
// the script changed in between, and the folder or its files made by someone else.
#include <gtest/gtest.h>

#include "tests/unit/process_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// Over the cache's size threshold, and touching what a loaded script must keep: function
// texts (declarations, expressions, methods, a translated one), names, file and line of an
// error, regular expressions, strict code, E4X.
const char kScript[] = R"(// A script that the cache keeps: it must run as it did when compiled.
function add(a, b) { return a + b; }
var obj = {twice: function (x) { return x * 2; }, fail: function fail() { throw new Error("boom"); }};
function swap() { let [p, q] = [1, 2]; [p, q] = [q, p]; return p * 10 + q; }
var strict = function () { "use strict"; return this === undefined; };
var lines = [add(1, 2), obj.twice(4), swap(), strict(), /a(b+)c/.exec("xabbbc")[1]];
lines.push(add.toString(), obj.twice.toSource(), uneval(obj), swap.toString(), add.name);
try { obj.fail(); } catch (e) { lines.push(e.message + " " + e.fileName + ":" + e.lineNumber); }
var x = <a b="1">{add(2, 3)}</a>;
lines.push(x.toXMLString());
System.print(lines.join("\n"));
)";

struct App {
    std::string dir, path, cache, folder;
    std::vector<std::string> env;
};

App makeApp(const std::string& script) {
    App a;
    a.dir = child::scratch("script_cache_test");
    a.path = child::pack(a.dir, script);
    a.cache = a.dir + "/cache";
    a.folder = a.cache + "/capsule/scripts";
    a.env = {"XDG_CACHE_HOME=" + a.cache};
    return a;
}

std::string run(const App& a, int* rc = nullptr) {
    int code = child::finish(child::start({a.path}, a.env, a.dir + "/out"));
    if (rc) *rc = code;
    return child::readFile(a.dir + "/out");
}

std::vector<std::string> cacheFiles(const App& a) {
    std::vector<std::string> files;
    if (!child::exists(a.folder)) return files;
    for (const auto& e : std::filesystem::directory_iterator(a.folder))
        if (e.path().extension() == ".jsc") files.push_back(e.path().string());
    return files;
}

} // namespace

TEST(ScriptCache, ALoadedScriptRunsAsTheCompiledOneDid) {
    App a = makeApp(kScript);
    ASSERT_FALSE(a.path.empty()) << child::readFile(a.dir + "/pack.out");
    int rc = -1;
    std::string first = run(a, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(first.find("3\n8\n21\ntrue\nbbb\nfunction add(a, b) { return a + b; }\n"),
              std::string::npos)
        << first;
    EXPECT_NE(first.find("boom scripts/autorun.js:3\n"), std::string::npos) << first;
    EXPECT_NE(first.find("<a b=\"1\">5</a>"), std::string::npos) << first;
    // The bootstrap and the entry script; the folder is the user's alone.
    std::vector<std::string> files = cacheFiles(a);
    EXPECT_EQ(files.size(), 2u);
    struct stat st;
    ASSERT_EQ(stat(a.folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // Loaded, not compiled and written again (a new file would be a new inode).
    std::vector<ino_t> kept;
    for (const std::string& f : files)
        kept.push_back(stat(f.c_str(), &st) == 0 ? st.st_ino : 0);
    EXPECT_EQ(run(a, &rc), first);
    EXPECT_EQ(rc, 0);
    for (size_t i = 0; i < files.size(); i++)
        EXPECT_TRUE(stat(files[i].c_str(), &st) == 0 && st.st_ino == kept[i]) << files[i];
    std::filesystem::remove_all(a.dir);
}

// A loaded script's errors read as the compiled one's did: the expression found on the
// line (its program and function texts), the stack with its arguments, eval's lines.
TEST(ScriptCache, ALoadedScriptsErrorsNameWhatFailed) {
    std::string script =
        "// errors of a script that the cache keeps\n"
        "var u, o = {}, out = [];\n"
        "function f(a) { return a.b.c; }\n"
        "try { u.x; } catch (e) { out.push(e.message); }\n"
        "try { o.missing(); } catch (e) { out.push(e.message); }\n"
        "try { f({}); } catch (e) { out.push(e.message, e.stack.split('\\n')[0]); }\n"
        "try { eval('1;\\nu.y'); } catch (e) { out.push(e.lineNumber); }\n"
        "System.print(out.join('\\n'));\n" +
        std::string(600, '/') + "\n";
    App a = makeApp(script);
    ASSERT_FALSE(a.path.empty()) << child::readFile(a.dir + "/pack.out");
    std::string first = run(a);
    EXPECT_EQ(first, "u is undefined\no.missing is not a function\na.b is undefined\n"
                     "f([object Object])@scripts/autorun.js:3\n8\n");
    EXPECT_EQ(cacheFiles(a).size(), 2u);
    EXPECT_EQ(run(a), first);
    std::filesystem::remove_all(a.dir);
}

// A damaged file is not given to the engine; the script is compiled again and its file
// replaced. A changed script is never answered from the file of its old text.
TEST(ScriptCache, DamagedFilesAndChangedScriptsAreCompiledAnew) {
    struct Damage {
        const char* name;
        void (*apply)(std::string&);
    };
    const Damage damages[] = {
        {"last byte changed", [](std::string& d) { d.back() ^= 0x55; }},
        {"a byte of the header", [](std::string& d) { d[20] ^= 1; }},
        {"cut short", [](std::string& d) { d.resize(d.size() / 2); }},
        {"empty", [](std::string& d) { d.clear(); }},
    };
    App a = makeApp(kScript);
    ASSERT_FALSE(a.path.empty()) << child::readFile(a.dir + "/pack.out");
    std::string expected = run(a);
    std::vector<std::string> files = cacheFiles(a);
    ASSERT_EQ(files.size(), 2u);
    std::string entry =
        child::readFile(files[0]).size() > child::readFile(files[1]).size() ? files[0] : files[1];
    std::string good = child::readFile(entry);
    for (const Damage& d : damages) {
        std::string bad = good;
        d.apply(bad);
        child::writeFile(entry, bad, 0600);
        int rc = -1;
        EXPECT_EQ(run(a, &rc), expected) << d.name;
        EXPECT_EQ(rc, 0) << d.name;
        EXPECT_TRUE(child::readFile(entry) == good) << d.name << ": not replaced";
    }
    std::filesystem::remove_all(a.dir + "/app-src");
    std::string changed = kScript;
    changed.replace(changed.find("return a + b;"), 13, "return a - b;");
    ASSERT_EQ(child::pack(a.dir, changed), a.path);
    std::string out = run(a);
    EXPECT_EQ(out.substr(0, 3), "-1\n") << out;
    EXPECT_EQ(run(a), out);
    EXPECT_EQ(cacheFiles(a).size(), 2u); // replaced, not added
    std::filesystem::remove_all(a.dir);
}

// Without a usable cache folder every start compiles, and nothing fails.
TEST(ScriptCache, NoCacheFolderStillRuns) {
    App a = makeApp(kScript);
    ASSERT_FALSE(a.path.empty()) << child::readFile(a.dir + "/pack.out");
    child::writeFile(a.cache, "a file where the folder would be");
    std::string first = run(a);
    EXPECT_NE(first.find("<a b=\"1\">5</a>"), std::string::npos) << first;
    EXPECT_EQ(run(a), first);
    std::filesystem::remove_all(a.dir);
}

// The cache is used only where nobody but the user can change it: a base folder that others
// may write (but a sticky one, like /tmp), a folder swapped for a link, a level that
// another user made: no file is read or written there, and the application runs all the same.
TEST(ScriptCache, OnlyAFolderOfTheUsersOwnIsUsed) {
    child::OtherUser other;
    struct Case {
        const char* name;
        bool needsOtherUser;
        bool cached;
        void (*prepare)(const App& a, int uid);
    };
    const Case cases[] = {
        {"a base anyone may write", false, false,
         [](const App& a, int) {
             std::filesystem::create_directories(a.cache);
             chmod(a.cache.c_str(), 0777);
         }},
        {"a sticky base anyone may write", false, true,
         [](const App& a, int) {
             std::filesystem::create_directories(a.cache);
             chmod(a.cache.c_str(), 01777);
         }},
        {"the folder a link to one of the user's own", false, false,
         [](const App& a, int) {
             std::filesystem::create_directories(a.dir + "/elsewhere");
             std::filesystem::create_directories(a.cache + "/capsule");
             symlink((a.dir + "/elsewhere").c_str(), a.folder.c_str());
         }},
        {"capsule/ made by another user, mode 0777", true, false,
         [](const App& a, int uid) {
             std::filesystem::create_directories(a.cache);
             chmod(a.dir.c_str(), 0711);
             chmod(a.cache.c_str(), 01777);
             child::finish(child::start({"/bin/mkdir", "-m", "0777", a.cache + "/capsule"}, {},
                                        "/dev/null", uid));
             struct stat st;
             EXPECT_TRUE(stat((a.cache + "/capsule").c_str(), &st) == 0 &&
                         st.st_uid == static_cast<uid_t>(uid));
         }},
    };
    for (const Case& c : cases) {
        if (c.needsOtherUser && other.uid < 0) {
            printf("skipped \"%s\": it needs root to make a second user\n", c.name);
            continue;
        }
        App a = makeApp(kScript);
        ASSERT_FALSE(a.path.empty()) << child::readFile(a.dir + "/pack.out");
        c.prepare(a, other.uid);
        std::string first = run(a);
        EXPECT_NE(first.find("<a b=\"1\">5</a>"), std::string::npos) << c.name << first;
        EXPECT_EQ(run(a), first) << c.name;
        EXPECT_EQ(cacheFiles(a).size(), c.cached ? 2u : 0u) << c.name;
        if (child::exists(a.dir + "/elsewhere")) {
            EXPECT_TRUE(std::filesystem::is_empty(a.dir + "/elsewhere")) << c.name;
        }
        std::filesystem::remove_all(a.dir);
    }
}

// A FIFO in place of a cache file is not waited on: the script is compiled, and the FIFO
// replaced by a file.
TEST(ScriptCache, AFifoInPlaceOfAFileDoesNotHang) {
    App a = makeApp(kScript);
    ASSERT_FALSE(a.path.empty()) << child::readFile(a.dir + "/pack.out");
    std::string expected = run(a);
    std::vector<std::string> files = cacheFiles(a);
    ASSERT_EQ(files.size(), 2u);
    for (const std::string& f : files) {
        unlink(f.c_str());
        ASSERT_EQ(mkfifo(f.c_str(), 0600), 0);
    }
    int rc = -1;
    EXPECT_EQ(run(a, &rc), expected);
    EXPECT_EQ(rc, 0);
    struct stat st;
    for (const std::string& f : files)
        EXPECT_TRUE(stat(f.c_str(), &st) == 0 && S_ISREG(st.st_mode)) << f;
    std::filesystem::remove_all(a.dir);
}
