// Helpers for the tests that run the runtime as a real child process with an environment
// of their own: scratch folders, starting and bounding children, packed applications.
#ifndef CAPSULE_PROCESS_SUPPORT_H
#define CAPSULE_PROCESS_SUPPORT_H

#include "tests/unit/test_support.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace child {

inline std::string scratch(const char* tag) {
    const char* base = getenv("TMPDIR");
    std::string dir = std::string(base && *base ? base : "/tmp") + "/" + tag + ".XXXXXX";
    return mkdtemp(&dir[0]) ? dir : std::string();
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::string& path, const std::string& data, mode_t mode = 0644) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << data;
    chmod(path.c_str(), mode);
}

inline bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

inline long long nowMs() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

// Polls for a condition every 10 ms, at most ms milliseconds.
template <class F> bool waitUntil(F cond, int ms = 5000) {
    long long end = nowMs() + ms;
    while (!cond() && nowMs() < end)
        usleep(10000);
    return cond();
}

// Starts a program with extra environment entries ("NAME=value"), its standard output
// and error going to outFile; as another user when uid is not -1.
inline pid_t start(const std::vector<std::string>& args, const std::vector<std::string>& env,
                   const std::string& outFile, int uid = -1) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    for (const std::string& e : env)
        putenv(const_cast<char*>(e.c_str()));
    int fd = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
    }
    if (uid >= 0 && (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0))
        _exit(126);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

// The child's exit code (128 + the signal that ended it), or -1 when it had not ended
// within ms milliseconds; it is killed then, so that no test leaves a process behind.
inline int finish(pid_t pid, int ms = 10000) {
    int status = 0;
    bool ended = false; // waitpid reaps once: the condition must remember it
    waitUntil([&] { return ended = ended || waitpid(pid, &status, WNOHANG) == pid; }, ms);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A second local user for the multi-user cases, made when root runs the test and removed
// at the end; uid is -1 (and the case is skipped) otherwise.
struct OtherUser {
    std::string name;
    int uid = -1;
    OtherUser() {
        if (geteuid() != 0) return;
        name = "capsule-t" + std::to_string(getpid());
        if (finish(
                start({"/usr/sbin/useradd", "-M", "-N", "-s", "/bin/false", name}, {}, "/dev/null"),
                30000) != 0)
            return;
        struct passwd* pw = getpwnam(name.c_str());
        uid = pw ? static_cast<int>(pw->pw_uid) : -1;
    }
    ~OtherUser() {
        if (!name.empty()) finish(start({"/usr/sbin/userdel", name}, {}, "/dev/null"), 30000);
    }
};

// Runs a script in build/script_host (the test harness included) and returns its output.
inline std::string runScript(const std::string& dir, const std::string& script,
                             const std::vector<std::string>& env, int* code = nullptr,
                             const std::string& arg = "", int uid = -1) {
    std::string file = dir + "/script.js", out = dir + "/script.out";
    writeFile(file, script);
    std::vector<std::string> args = {selfFolder() + "/script_host", file};
    if (!arg.empty()) args.push_back(arg);
    int rc = finish(start(args, env, out, uid), 60000);
    if (code) *code = rc;
    return readFile(out);
}

// Packs a folder holding scripts/autorun.js into <dir>/app; its path, "" on failure.
inline std::string pack(const std::string& dir, const std::string& autorun) {
    writeFile(dir + "/app-src/scripts/autorun.js", autorun);
    std::string app = dir + "/app";
    int rc = finish(
        start({selfFolder() + "/capsule-pack", dir + "/app-src", app}, {}, dir + "/pack.out"),
        60000);
    chmod(app.c_str(), 0755);
    return rc == 0 ? app : std::string();
}

} // namespace child

#endif
