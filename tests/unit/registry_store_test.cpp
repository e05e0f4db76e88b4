// The registry store under concurrent writers and a writer killed mid-write, with real
// processes (fork) on a store of the test's own (CAPSULE_REGISTRY).
#include <gtest/gtest.h>

#include "platforms/platform.h"

#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

class RegistryStore : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* shm = "/dev/shm";
        std::string base = std::filesystem::is_directory(shm) ? shm : "/tmp";
        dir_ = base + "/registry_store_test." + std::to_string(getpid());
        std::filesystem::remove_all(dir_);
        setenv("CAPSULE_REGISTRY", dir_.c_str(), 1);
    }
    void TearDown() override {
        std::filesystem::remove_all(dir_);
        unsetenv("CAPSULE_REGISTRY");
    }
    std::string dir_;
};

// A value that shows whether it is whole: its writer's letter, its number, and a tail
// whose length follows from the number.
std::string valueOf(char writer, int i) {
    return std::string(1, writer) + std::to_string(i) + ":" + std::string(100 + i % 400, writer);
}

bool whole(const std::string& v) {
    char w = v.empty() ? 0 : v[0];
    size_t colon = v.find(':');
    if ((w != 'a' && w != 'b') || colon == std::string::npos) return false;
    return v == valueOf(w, atoi(v.c_str() + 1));
}

bool write(const std::string& v) {
    platform::RegistryValue value;
    value.data = v;
    return platform::registryWrite(platform::kLocalMachine, "Soft\\Shared", "key", value);
}

std::string read() {
    platform::RegistryValue value;
    return platform::registryRead(platform::kLocalMachine, "soft\\shared", "KEY", &value)
               ? value.data
               : "<missing>";
}

// Writes its values and checks every value it reads in between; exits 0 when all were.
pid_t writer(char letter, int count) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    int bad = 0;
    for (int i = 0; i < count; i++) {
        if (!write(valueOf(letter, i))) bad++;
        if (!whole(read())) bad++;
    }
    _exit(bad ? 1 : 0);
}

} // namespace

TEST_F(RegistryStore, TwoWritersLeaveOnlyWholeValues) {
    pid_t a = writer('a', 500), b = writer('b', 500);
    int sa = -1, sb = -1;
    waitpid(a, &sa, 0);
    waitpid(b, &sb, 0);
    EXPECT_TRUE(WIFEXITED(sa) && WEXITSTATUS(sa) == 0) << "writer a saw a damaged value";
    EXPECT_TRUE(WIFEXITED(sb) && WEXITSTATUS(sb) == 0) << "writer b saw a damaged value";
    std::string last = read();
    EXPECT_TRUE(last == valueOf('a', 499) || last == valueOf('b', 499)) << last;
}

// The writer announces each number through a pipe before it writes it: killed at any
// point, the store holds the last announced value or the one before it.
TEST_F(RegistryStore, KilledWriterLeavesTheLastValueOrTheOneBefore) {
    ASSERT_TRUE(write(valueOf('a', 0)));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        for (int i = 1; i < 100000; i++) {
            if (::write(fds[1], &i, sizeof i) != sizeof i) _exit(1);
            write(valueOf('a', i));
        }
        _exit(0);
    }
    close(fds[1]);
    int last = 0, n;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
    while (std::chrono::steady_clock::now() < until && ::read(fds[0], &n, sizeof n) == sizeof n)
        last = n;
    kill(pid, SIGKILL);
    while (::read(fds[0], &n, sizeof n) == sizeof n)
        last = n;
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    ASSERT_GT(last, 1) << "the writer made no progress";
    std::string v = read();
    EXPECT_TRUE(v == valueOf('a', last) || v == valueOf('a', last - 1))
        << "last announced " << last << ", found " << v.substr(0, 12);
    // The store stays writable: the killed writer's leftovers are cleared by the next one.
    EXPECT_TRUE(write(valueOf('b', 1)));
    EXPECT_EQ(read(), valueOf('b', 1));
}

// The current user's settings are private; a root key exists before its first write.
TEST_F(RegistryStore, UserTreeIsPrivateAndRootsAlwaysExist) {
    std::vector<std::string> names;
    EXPECT_TRUE(platform::registrySubkeys(platform::kCurrentConfig, "", &names));
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(platform::registrySubkeys(platform::kCurrentConfig, "Missing", &names));
    platform::RegistryValue value;
    value.data = "secret";
    ASSERT_TRUE(platform::registryWrite(platform::kCurrentUser, "Private", "v", value));
    struct stat st;
    std::string tree = platform::registryTreePath(platform::kCurrentUser);
    ASSERT_EQ(stat((tree + "/Private/@v").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((tree + "/Private").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// The machine's trees are readable by everybody whatever the umask of the writer.
TEST_F(RegistryStore, ModesDoNotDependOnTheUmask) {
    mode_t old = umask(077);
    platform::RegistryValue value;
    value.data = "shared";
    bool written = platform::registryWrite(platform::kLocalMachine, "Umask\\Deep", "v", value);
    umask(old);
    ASSERT_TRUE(written);
    std::string tree = platform::registryTreePath(platform::kLocalMachine);
    for (const char* p : {"", "/Umask", "/Umask/Deep", "/Umask/Deep/@v", "/.lock"}) {
        struct stat st;
        ASSERT_EQ(stat((tree + p).c_str(), &st), 0) << p;
        EXPECT_EQ(st.st_mode & 0777, S_ISDIR(st.st_mode) ? 0755u : 0644u) << p;
    }
}

// Without $HOME the user's tree is in the home of the password database; a relative
// $XDG_CONFIG_HOME counts as none.
TEST_F(RegistryStore, UserTreeFollowsTheBaseDirectoryConvention) {
    unsetenv("CAPSULE_REGISTRY");
    std::string saved[2];
    const char* names[2] = {"HOME", "XDG_CONFIG_HOME"};
    for (int i = 0; i < 2; i++)
        if (const char* v = getenv(names[i])) saved[i] = v;
    struct passwd* pw = getpwuid(geteuid());
    ASSERT_NE(pw, nullptr);
    std::string own = std::string(pw->pw_dir) + "/.config/capsule/registry/HKEY_CURRENT_USER";
    struct {
        const char* home;
        const char* config;
        std::string tree;
    } cases[] = {
        {nullptr, nullptr, own},
        {nullptr, "relative/config", own},
        {"", "", own},
        {"/h", nullptr, "/h/.config/capsule/registry/HKEY_CURRENT_USER"},
        {"/h", "/c", "/c/capsule/registry/HKEY_CURRENT_USER"},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < 2; i++) {
            const char* v = i ? c.config : c.home;
            if (v)
                setenv(names[i], v, 1);
            else
                unsetenv(names[i]);
        }
        EXPECT_EQ(platform::registryTreePath(platform::kCurrentUser), c.tree)
            << (c.home ? c.home : "-") << " " << (c.config ? c.config : "-");
    }
    for (int i = 0; i < 2; i++) {
        if (saved[i].empty())
            unsetenv(names[i]);
        else
            setenv(names[i], saved[i].c_str(), 1);
    }
}

// Files of the earlier format, whose names were written plainly however long, are read
// and written in place; names too long for a file name get entries of a bounded length.
TEST_F(RegistryStore, EarlierFilesStayAndLongNamesFit) {
    std::string longName(210, 'n'), tree = platform::registryTreePath(platform::kLocalMachine);
    std::filesystem::create_directories(tree + "/Old/" + longName);
    std::ofstream(tree + "/Old/" + longName + "/@" + longName)
        << "capsule-registry 1 REG_SZ 3\nold";
    platform::RegistryValue value;
    ASSERT_TRUE(
        platform::registryRead(platform::kLocalMachine, "old\\" + longName, longName, &value));
    EXPECT_EQ(value.data, "old");
    value.data = "new";
    ASSERT_TRUE(
        platform::registryWrite(platform::kLocalMachine, "Old\\" + longName, longName, value));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tree + "/Old/" + longName),
                            std::filesystem::directory_iterator()),
              1);
    ASSERT_TRUE(platform::registryWrite(platform::kLocalMachine,
                                        "New\\" + std::string(255 * 3, '%'),
                                        std::string(16383, '/'), value));
    for (const auto& e : std::filesystem::recursive_directory_iterator(tree + "/New"))
        EXPECT_LE(e.path().filename().string().size(), 40u) << e.path();
}