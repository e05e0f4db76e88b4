// The registry store under concurrent writers and a writer killed mid-write, with real
// processes (fork) on a store of the test's own (CAPSULE_REGISTRY).
#include <gtest/gtest.h>

#include "platforms/platform.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
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
