// The platform's file-system layer: wildcard names, listings with links and odd names,
// large sizes and long working directories, on real files in a scratch folder.
#include "platforms/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using platform::wildcardMatch;

TEST(Wildcard, StarAndQuestionMark) {
    EXPECT_TRUE(wildcardMatch("*", ""));
    EXPECT_TRUE(wildcardMatch("*", "anything.at.all"));
    EXPECT_TRUE(wildcardMatch("*.js", "a.js"));
    EXPECT_TRUE(wildcardMatch("*.js", ".js"));
    EXPECT_TRUE(wildcardMatch("*.js", "x.tar.js"));
    EXPECT_FALSE(wildcardMatch("*.js", "a.json"));
    EXPECT_FALSE(wildcardMatch("*.js", "a.js.bak"));
    EXPECT_TRUE(wildcardMatch("a*b*c", "aXbYbZc"));
    EXPECT_FALSE(wildcardMatch("a*b*c", "aXbYbZ"));
    EXPECT_TRUE(wildcardMatch("**x", "x"));
    EXPECT_TRUE(wildcardMatch("?", "a"));
    EXPECT_FALSE(wildcardMatch("?", ""));
    EXPECT_FALSE(wildcardMatch("?", "ab"));
    EXPECT_TRUE(wildcardMatch("??.txt", "ab.txt"));
    EXPECT_TRUE(wildcardMatch("?.txt", "..txt"));
    EXPECT_FALSE(wildcardMatch("abc", "abcd"));
    EXPECT_FALSE(wildcardMatch("", "a"));
}

TEST(Wildcard, AsciiLettersIgnoreCase) {
    EXPECT_TRUE(wildcardMatch("*.JS", "a.js"));
    EXPECT_TRUE(wildcardMatch("ReadMe", "README"));
    EXPECT_FALSE(wildcardMatch("[", "{")); // neighbours of the letters are not folded
    EXPECT_FALSE(wildcardMatch("@", "`"));
}

TEST(Wildcard, DotStarAlsoMatchesNamesWithoutDot) {
    EXPECT_TRUE(wildcardMatch("*.*", "noext"));
    EXPECT_TRUE(wildcardMatch("*.*", "."));
    EXPECT_TRUE(wildcardMatch("*.*", ".."));
    EXPECT_TRUE(wildcardMatch("*.*", "a.b"));
    EXPECT_TRUE(wildcardMatch("name.*", "name"));
    EXPECT_TRUE(wildcardMatch("name.*", "name.txt"));
    EXPECT_FALSE(wildcardMatch("name.*", "names"));
    EXPECT_TRUE(wildcardMatch(".*", ".hidden"));
    EXPECT_FALSE(wildcardMatch(".*", "visible"));
}

TEST(Wildcard, QuestionMarkTakesOneUtf16Unit) {
    EXPECT_TRUE(wildcardMatch("?.txt", "\xC3\xA9.txt"));          // U+00E9: two bytes, one unit
    EXPECT_TRUE(wildcardMatch("??.txt", "\xF0\x9F\x98\x80.txt")); // U+1F600: a surrogate pair
    EXPECT_TRUE(wildcardMatch("?.txt", "\xFF.txt"));              // an invalid byte: one unit
    EXPECT_FALSE(wildcardMatch("\xC3\xA9", "\xC3\x89"));          // U+00E9 vs U+00C9: not ASCII
}

namespace {

class Scratch : public ::testing::Test {
  protected:
    std::string dir;
    void SetUp() override {
        char name[] = "fs_unit_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override { removeTree(dir); }
    static void removeTree(const std::string& path) {
        for (const platform::DirEntry& e : platform::listDirectory(path + "/*")) {
            if (e.name == "." || e.name == "..") continue;
            std::string p = path + "/" + e.name;
            struct stat st;
            if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                removeTree(p);
            else
                unlink(p.c_str());
        }
        rmdir(path.c_str());
    }
    void touch(const std::string& name) {
        int fd = open((dir + "/" + name).c_str(), O_CREAT | O_WRONLY, 0666);
        ASSERT_GE(fd, 0);
        close(fd);
    }
    std::vector<std::string> listed(const std::string& pattern) {
        std::vector<std::string> out;
        for (const platform::DirEntry& e : platform::listDirectory(pattern))
            out.push_back(e.name + (e.isDir ? "/" : ""));
        std::sort(out.begin(), out.end());
        return out;
    }
};

using Strings = std::vector<std::string>;

} // namespace

TEST_F(Scratch, LinksCountAsWhatTheyPointTo) {
    ASSERT_EQ(mkdir((dir + "/real").c_str(), 0777), 0);
    touch("file");
    ASSERT_EQ(symlink("real", (dir + "/to-dir").c_str()), 0);
    ASSERT_EQ(symlink("file", (dir + "/to-file").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (dir + "/broken").c_str()), 0);
    EXPECT_EQ(listed(dir + "/*"),
              (Strings{"../", "./", "broken", "file", "real/", "to-dir/", "to-file"}));
    EXPECT_EQ(listed(dir + "/to-dir"), Strings{"to-dir/"});
    EXPECT_EQ(listed(dir + "/broken"), Strings{"broken"}); // the link itself exists
    platform::PathStatus st;
    EXPECT_FALSE(platform::pathStatus(dir + "/broken", &st));
    ASSERT_TRUE(platform::pathStatus(dir + "/to-dir", &st));
    EXPECT_TRUE(st.isDir);
    EXPECT_FALSE(platform::removeFile(dir + "/real"));
    EXPECT_TRUE(platform::removeFile(dir + "/to-dir")); // the link, not its target
    EXPECT_TRUE(platform::pathStatus(dir + "/real", &st));
}

TEST_F(Scratch, NamesThatAreNotUtf8AreListedByteForByte) {
    touch("\xFF\xFE.bin");
    touch("\xC3\xA9.txt");
    EXPECT_EQ(listed(dir + "/*.bin"), Strings{"\xFF\xFE.bin"});
    EXPECT_EQ(listed(dir + "/?.txt"), Strings{"\xC3\xA9.txt"});
    EXPECT_EQ(listed(dir + "/\xFF\xFE.bin"), Strings{"\xFF\xFE.bin"});
}

TEST_F(Scratch, PatternFormsThatNameNothing) {
    touch("a");
    EXPECT_TRUE(listed(dir + "/").empty());
    EXPECT_TRUE(listed("").empty());
    EXPECT_TRUE(listed(dir + "/missing/*").empty());
    EXPECT_TRUE(listed(dir + "/a/*").empty()); // a file is no folder
    EXPECT_EQ(listed(dir + "//a"), Strings{"a"});
}

TEST_F(Scratch, SizesPastFourGigabytesAreKept) {
    std::string path = dir + "/big";
    int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0666);
    ASSERT_GE(fd, 0);
    int64_t size = (int64_t(5) << 30) + 7; // sparse: no disk space used
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
    platform::PathStatus st;
    ASSERT_TRUE(platform::pathStatus(path, &st));
    EXPECT_EQ(st.size, size);
    EXPECT_FALSE(st.isDir);
}

TEST_F(Scratch, SetTimeSetsBothTimes) {
    touch("t");
    ASSERT_TRUE(platform::setFileTime(dir + "/t", 1350000000));
    struct stat st;
    ASSERT_EQ(stat((dir + "/t").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1350000000);
    EXPECT_EQ(st.st_atime, 1350000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 0);
}

TEST_F(Scratch, LongWorkingDirectoryIsReadWhole) {
    std::string start = platform::currentDirectory();
    ASSERT_FALSE(start.empty());
    std::string expected = start, step(200, 'd');
    for (int i = 0; i < 30; i++) { // about 6000 bytes: past the first buffers and PATH_MAX
        std::string rel = i == 0 ? dir + "/" + step : step;
        ASSERT_EQ(mkdir(rel.c_str(), 0777), 0);
        ASSERT_TRUE(platform::changeDirectory(rel));
        expected += "/" + rel;
    }
    std::string got = platform::currentDirectory();
    for (int i = 0; i < 30; i++) // climb back out: the whole path is too long for rmdir
        EXPECT_TRUE(platform::changeDirectory("..") && platform::removeDirectory(step));
    ASSERT_TRUE(platform::changeDirectory(start));
    EXPECT_EQ(got, expected);
}
