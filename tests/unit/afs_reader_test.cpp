// The package reader against hand-made packages: the trailer and the scan window, and
// damaged blocks that must neither crash nor read outside the file.
#include "modules/package/afs_reader.h"
#include "tests/unit/test_support.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string>
#include <zlib.h>

namespace {

std::string u32(uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

// image + block{dir text, one file}; the trailer's length can be overridden.
struct Package {
    std::string image = std::string(100, 'I');
    std::string dir = "({'a.txt':{size:5, csize:0}})";
    std::string content = "hello";
    std::string bytes(int64_t lengthDelta = 0) const {
        std::string zdir = deflate(dir), zfile = deflate(content);
        std::string block = u32(zdir.size()) + u32(dir.size()) + zdir + zfile + "\xAB\xCD\xAB\xCD";
        block += u32(uint32_t(int64_t(block.size()) + 4 + lengthDelta));
        return image + block;
    }
};

FILE* fileWith(const std::string& bytes) {
    FILE* f = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), f);
    fflush(f);
    return f;
}

} // namespace

TEST(AfsReader, FindsTheBlockBehindTheImageAndReadsItsFiles) {
    Package p;
    FILE* f = fileWith(p.bytes());
    afs::Block b;
    ASSERT_TRUE(afs::locate(f, &b));
    EXPECT_EQ(b.start, 100);
    EXPECT_EQ(b.dirSize, p.dir.size());
    std::string text, out;
    ASSERT_EQ(afs::readDirectory(f, b, &text), afs::Status::Ok);
    EXPECT_EQ(text, p.dir);
    int64_t pos = b.start + 8 + b.dirCsize;
    ASSERT_EQ(afs::readEntry(f, pos, deflate("hello").size(), 5, &out), afs::Status::Ok);
    EXPECT_EQ(out, "hello");
    fclose(f);
}

TEST(AfsReader, ScanWindowFindsABlockWithDataBehindIt) {
    Package p;
    p.image = std::string(20000, 'I');
    std::string trailing(3000, 'T');
    FILE* f = fileWith(p.bytes() + trailing);
    afs::Block b;
    ASSERT_TRUE(afs::locate(f, &b));
    EXPECT_EQ(b.start, 20000);
    fclose(f);
    // Shorter than the window: only the last 8 bytes count.
    Package small;
    f = fileWith(small.bytes() + "xx");
    EXPECT_FALSE(afs::locate(f, &b));
    fclose(f);
}

TEST(AfsReader, RejectsBlocksThatPointOutsideTheFile) {
    Package p;
    afs::Block b;
    for (int64_t delta : {int64_t(1000), int64_t(-20), int64_t(0x7FFFFFFF)}) {
        FILE* f = fileWith(p.bytes(delta));
        EXPECT_FALSE(afs::locate(f, &b)) << delta;
        fclose(f);
    }
    // A file of nothing but a trailer, and files too short for one.
    for (std::string s :
         {std::string("\xAB\xCD\xAB\xCD") + u32(8), std::string("abc"), std::string()}) {
        FILE* f = fileWith(s);
        EXPECT_FALSE(afs::locate(f, &b));
        fclose(f);
    }
}

TEST(AfsReader, DamagedStreamsAreReportedNotTrusted) {
    Package p;
    std::string bytes = p.bytes();
    FILE* f = fileWith(bytes);
    afs::Block b;
    ASSERT_TRUE(afs::locate(f, &b));
    int64_t pos = b.start + 8 + b.dirCsize, csize = deflate("hello").size();
    std::string out;
    // Wrong size either way, a stream past the end of the file, negative values.
    EXPECT_EQ(afs::readEntry(f, pos, csize, 4, &out), afs::Status::Damaged);
    EXPECT_EQ(afs::readEntry(f, pos, csize, 6, &out), afs::Status::Damaged);
    EXPECT_EQ(afs::readEntry(f, pos, int64_t(bytes.size()), 5, &out), afs::Status::Damaged);
    EXPECT_EQ(afs::readEntry(f, -1, csize, 5, &out), afs::Status::Damaged);
    EXPECT_EQ(afs::readEntry(f, pos, -5, 5, &out), afs::Status::Damaged);
    // A size no script could hold is refused before anything is allocated.
    EXPECT_EQ(afs::readEntry(f, pos, csize, int64_t(1) << 40, &out), afs::Status::NoMemory);
    fclose(f);
    // A directory stream that is not zlib data.
    std::string broken = bytes;
    broken[100 + 8 + 2] ^= 0x55;
    f = fileWith(broken);
    ASSERT_TRUE(afs::locate(f, &b));
    EXPECT_EQ(afs::readDirectory(f, b, &out), afs::Status::Damaged);
    fclose(f);
}
