// The private cache folders' files (platforms/posix/cache_files.cpp): read only when they
// are regular files of the user's own that nobody else may write, reached without following
// links; written whole; pruned to their bounds, oldest first; a module loaded from bytes
// that nothing can change afterwards.
#include <gtest/gtest.h>

#include "platforms/platform.h"
#include "tests/unit/process_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

// Each test takes a folder name of its own: the platform keeps a folder open per name.
std::string useBase(const char* tag) {
    std::string base = child::scratch(tag);
    setenv("XDG_CACHE_HOME", base.c_str(), 1);
    return base;
}

} // namespace

TEST(CacheFiles, OnlyTrustedFilesAreRead) {
    std::string base = useBase("cache_files_test"), folder = base + "/capsule/reading";
    ASSERT_TRUE(platform::hasCacheFolder("reading"));
    child::writeFile(folder + "/good", "kept", 0600);
    child::writeFile(base + "/outside", "elsewhere", 0600);
    symlink((base + "/outside").c_str(), (folder + "/link").c_str());
    mkfifo((folder + "/fifo").c_str(), 0600);
    child::writeFile(folder + "/open", "anyone may write", 0666);
    child::writeFile(folder + "/large", std::string(100, 'x'), 0600);
    mkdir((folder + "/folder").c_str(), 0700);
    struct Case {
        const char* name;
        bool read;
    };
    const Case cases[] = {{"good", true},     {"link", false},      {"fifo", false},
                          {"open", false},    {"large", false},     {"folder", false},
                          {"missing", false}, {"../outside", false}};
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(platform::readCacheFile("reading", c.name, 64, &out), c.read) << c.name;
        if (c.read) {
            EXPECT_EQ(out, "kept");
        }
    }
    std::filesystem::remove_all(base);
}

// Past a bound the oldest files go first; files that do not count stay.
TEST(CacheFiles, WritesPruneTheOldestFirst) {
    std::string base = useBase("cache_files_test"), folder = base + "/capsule/pruning";
    ASSERT_TRUE(platform::hasCacheFolder("pruning"));
    child::writeFile(folder + "/key", "not counted", 0600);
    const platform::CacheBounds bounds = {".c", 3, 250};
    for (int i = 0; i < 5; i++) {
        std::string name = std::to_string(i) + ".c";
        ASSERT_TRUE(platform::writeCacheFile("pruning", name, std::string(60, 'a'), true, bounds));
        struct timespec times[2] = {{1000 + i, 0}, {1000 + i, 0}};
        utimensat(AT_FDCWD, (folder + "/" + name).c_str(), times, 0);
    }
    EXPECT_FALSE(child::exists(folder + "/1.c"));
    EXPECT_TRUE(child::exists(folder + "/2.c") && child::exists(folder + "/4.c"));
    EXPECT_TRUE(child::exists(folder + "/key"));
    // 3 x 60 bytes kept; 150 more would pass 250: two of the oldest go.
    ASSERT_TRUE(platform::writeCacheFile("pruning", "new.c", std::string(150, 'b'), true, bounds));
    EXPECT_FALSE(child::exists(folder + "/3.c"));
    EXPECT_TRUE(child::exists(folder + "/4.c") && child::exists(folder + "/new.c"));
    EXPECT_FALSE(
        platform::writeCacheFile("pruning", "huge.c", std::string(251, 'c'), true, bounds));
    // Without replace an existing file stays as it was.
    EXPECT_FALSE(platform::writeCacheFile("pruning", "new.c", "other", false, bounds));
    EXPECT_EQ(child::readFile(folder + "/new.c"), std::string(150, 'b'));
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        files += e.path().filename().string()[0] == '.'; // no temporary file left behind
    EXPECT_EQ(files, 0);
    std::filesystem::remove_all(base);
}

// A library loaded from bytes: the same bytes give the same library, and the memory file it
// came from takes no change afterwards.
TEST(CacheFiles, ALibraryLoadedFromBytesCannotBeChanged) {
    std::string bytes = child::readFile(selfFolder() + "/bin/mtest.so"), reason;
    ASSERT_FALSE(bytes.empty());
    void* library = platform::loadLibraryFromBytes(bytes, "mtest.so", &reason);
    ASSERT_NE(library, nullptr) << reason;
    EXPECT_NE(platform::librarySymbol(library, "initModule"), nullptr);
    EXPECT_EQ(platform::loadLibraryFromBytes(bytes, "mtest.so", &reason), library);
    EXPECT_EQ(platform::loadLibraryFromBytes("not a library", "bad.so", &reason), nullptr);
    EXPECT_FALSE(reason.empty());
    int changed = 0, found = 0;
    DIR* d = opendir("/proc/self/fd");
    ASSERT_NE(d, nullptr);
    while (struct dirent* e = readdir(d)) {
        char target[256] = {0};
        std::string link = std::string("/proc/self/fd/") + e->d_name;
        if (readlink(link.c_str(), target, sizeof target - 1) <= 0 ||
            std::string(target).find("memfd:mtest.so") == std::string::npos)
            continue;
        found++;
        int fd = open(link.c_str(), O_RDWR);
        if (fd >= 0 && (pwrite(fd, "x", 1, 0) == 1 || ftruncate(fd, 0) == 0)) changed++;
        if (fd >= 0) close(fd);
    }
    closedir(d);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(changed, 0);
}
