// The file of a compiled script (core/engine/script_store.cpp): only what this user's
// process of this build wrote for this very source opens; damaged and forged files do not.
#include <gtest/gtest.h>

#include "core/engine/script_store.h"

#include <string>

namespace {

const engine::ScriptSeal kMine = {std::string(32, 'k'), "build-1"};
const std::string kName = "scripts/autorun.js";
const std::string kCode = "var a = 1; function f() { return a; }";
const std::string kDump = "the engine's dump of the function";

std::string genuine(const engine::ScriptSeal& seal = kMine, const std::string& dump = kDump) {
    return engine::sealScript(seal, kName, kCode.data(), kCode.size(), {"function f() {}"}, dump);
}

} // namespace

TEST(ScriptStore, OnlyTheFileThisUserWroteForThisSourceOpens) {
    engine::StoredScript s; // points into the file's bytes
    std::string file = genuine();
    ASSERT_TRUE(engine::openScript(file, kMine, kName, kCode.data(), kCode.size(), &s));
    EXPECT_EQ(std::string(s.dump, s.dumpLength), kDump);
    ASSERT_EQ(s.texts.size(), 1u);
    EXPECT_EQ(std::string(s.texts[0].first, s.texts[0].second), "function f() {}");

    std::string other = kCode;
    other[4] = 'b'; // the same length, another source
    struct Case {
        const char* name;
        std::string file;
        engine::ScriptSeal seal;
        std::string source;
    };
    std::string flipped = genuine(), cut = genuine(), longer = genuine() + "x";
    flipped[flipped.size() - 3] ^= 1;
    cut.resize(cut.size() - 1);
    const Case cases[] = {
        {"another user's key", genuine(), {std::string(32, 'K'), "build-1"}, kCode},
        {"another build", genuine(), {kMine.key, "build-2"}, kCode},
        {"another source", genuine(), kMine, other},
        {"a byte of the dump changed", flipped, kMine, kCode},
        {"cut short", cut, kMine, kCode},
        {"a byte added", longer, kMine, kCode},
        {"forged: another dump sealed with a key of the forger's",
         genuine({std::string(32, 'f'), "build-1"}, "evil"), kMine, kCode},
        {"forged: sealed with no key", genuine({std::string(), "build-1"}, "evil"), kMine, kCode},
        {"a header and nothing else", genuine().substr(0, 64), kMine, kCode},
        {"empty", std::string(), kMine, kCode},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(
            engine::openScript(c.file, c.seal, kName, c.source.data(), c.source.size(), &s))
            << c.name;
    EXPECT_FALSE(
        engine::openScript(genuine(), kMine, "scripts/other.js", kCode.data(), kCode.size(), &s))
        << "another script's name";
}
