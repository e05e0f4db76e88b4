// Helpers shared by the tests that run the project's programs as real processes.
#ifndef CAPSULE_TEST_SUPPORT_H
#define CAPSULE_TEST_SUPPORT_H

#include "core/engine/engine.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <string>
#include <unistd.h>
#include <zlib.h>

// The folder of the running test binary, which is the build folder holding the programs.
inline std::string selfFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<size_t>(n));
    return path.substr(0, path.find_last_of('/'));
}

// The one engine instance of a test process, created on first use and never destroyed.
inline HostContext* testEngine() {
    static bool made = engine::createInstance();
    EXPECT_TRUE(made);
    return engine::mainContext();
}

// A zlib stream of s, as packages hold their files.
inline std::string deflate(const std::string& s) {
    uLongf n = compressBound(s.size());
    std::string out(n, '\0');
    compress(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(s.data()),
             s.size());
    out.resize(n);
    return out;
}

#endif
