// tools/layout.sh on small trees of its own: each rule of the layout caught, and a tree
// that keeps them passed.
#include <gtest/gtest.h>

#include "tests/unit/process_support.h"

#include <stdio.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Files = std::vector<std::pair<const char*, const char*>>; // path, content

// Runs the check on a git tree holding the files; its output, and its exit status.
std::string check(const Files& files, int* status) {
    std::string dir = child::scratch("layout");
    for (const auto& f : files) {
        std::string path = dir + "/" + f.first;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path) << f.second;
    }
    std::string command = "cd '" + dir +
                          "' && git init -q . && " CAPSULE_SOURCE_DIR "/tools/layout.sh '" + dir +
                          "' 2>&1";
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    char buf[512];
    while (p && fgets(buf, sizeof buf, p))
        out += buf;
    *status = p ? pclose(p) : -1;
    std::filesystem::remove_all(dir);
    return out;
}

} // namespace

TEST(Layout, EachRuleCaught) {
    const Files base = {
        {"core/module_api.h", "#include <stdint.h>\n"},
        {"core/text/utf.h", "#include <string>\n"},
        {"core/engine/engine.h", "#include \"core/text/utf.h\"\n#include \"duktape.h\"\n"},
        {"modules/file/file.cpp", "#include \"core/module_api.h\"\n"},
        {"platforms/posix/io.cpp", "#include <unistd.h>\n#include \"core/text/utf.h\"\n"},
    };
    struct Case {
        const char* path;
        const char* content;
        const char* message; // null: the tree passes
    } cases[] = {
        {"core/lang/lang.h", "#include \"core/engine/engine.h\"\n", nullptr},
        {"core/text/back.h", "#include \"core/engine/engine.h\"\n", "is on a loop of includes"},
        {"core/xml/tree.cpp", "#include \"duktape.h\"\n",
         "includes duktape.h outside core/engine/"},
        {"core/xml/tree.cpp", "#include <sys/mman.h>\n", "operating-system header <sys/mman.h>"},
        {"modules/file/io.cpp", "#include \"core/engine/engine.h\"\n",
         "modules reach the engine through the table only"},
        {"core/xml/tree.cpp", "#include \"core/xml/missing.h\"\n", "which is not in the tree"},
    };
    for (const Case& c : cases) {
        Files files = base;
        files.push_back({c.path, c.content});
        int status;
        std::string out = check(files, &status);
        if (!c.message) {
            EXPECT_EQ(status, 0) << out;
            EXPECT_NE(out.find("core/lang                    -> core/engine"), std::string::npos)
                << out;
        } else {
            EXPECT_NE(status, 0) << c.path << "\n" << out;
            EXPECT_NE(out.find(c.message), std::string::npos) << c.path << "\n" << out;
        }
    }
}
