// Processes: command lines split by the rules of the Windows C runtime, programs started
// with posix_spawn (no shell), files and addresses handed to xdg-open, elevation through
// pkexec, and the process list from /proc.
#include "platforms/platform.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <mutex>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// One argument by the C runtime's rules, starting at s[i] (not a blank); moves i past it.
std::string nextArgument(const std::string& s, size_t& i) {
    std::string arg;
    bool quoted = false;
    const size_t n = s.size();
    while (i < n) {
        size_t slashes = 0;
        while (i < n && s[i] == '\\')
            slashes++, i++;
        if (i < n && s[i] == '"') {
            arg.append(slashes / 2, '\\');
            if (slashes % 2) {
                arg += '"'; // \" is a literal quote
                i++;
            } else if (quoted && i + 1 < n && s[i + 1] == '"') {
                arg += '"'; // "" inside quotes is a literal quote; the quotes go on
                i += 2;
            } else {
                quoted = !quoted;
                i++;
            }
            continue;
        }
        arg.append(slashes, '\\');
        if (i >= n || (!quoted && isBlank(s[i]))) break;
        arg += s[i++];
    }
    return arg;
}

void splitInto(const std::string& s, size_t i, std::vector<std::string>* out) {
    for (;;) {
        while (i < s.size() && isBlank(s[i]))
            i++;
        if (i >= s.size()) return;
        out->push_back(nextArgument(s, i));
    }
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string absolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    std::string cwd = currentDirectory();
    return cwd.empty() ? path : cwd + "/" + path;
}

// Children that no thread could be made for; later starts collect them.
std::mutex gUnreapedLock;
std::vector<pid_t> gUnreaped;

void collectUnreaped() {
    std::lock_guard<std::mutex> hold(gUnreapedLock);
    for (size_t i = 0; i < gUnreaped.size();) {
        if (waitpid(gUnreaped[i], nullptr, WNOHANG) != 0) {
            gUnreaped[i] = gUnreaped.back();
            gUnreaped.pop_back();
        } else {
            i++;
        }
    }
}

void waitFor(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {}
}

void* reaper(void* arg) {
    waitFor(static_cast<pid_t>(reinterpret_cast<intptr_t>(arg)));
    return nullptr;
}

// A child not waited for is reaped by a small detached thread that waits for that pid
// only, so no zombie stays behind and no other wait in the process is disturbed.
void reapLater(pid_t pid) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old); // the reaper takes no signals
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, reaper, reinterpret_cast<void*>(intptr_t{pid}));
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        std::lock_guard<std::mutex> hold(gUnreapedLock);
        gUnreaped.push_back(pid);
    }
}

// Starts args[0] (searched on PATH unless it holds a slash) with the host's environment and
// standard streams; no other descriptor reaches the child. A relative program path is taken
// from the host's directory even when the child starts elsewhere.
bool spawn(std::vector<std::string> args, const std::string* directory, bool wait) {
    collectUnreaped();
    if (args.empty()) return false;
    std::string dir;
    if (directory) {
        dir = localPath(*directory);
        if (!isDirectory(dir)) return false;
        if (args[0].find('/') != std::string::npos) args[0] = absolutePath(args[0]);
    }
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    if (directory) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // The child starts with no signal blocked and SIGPIPE at its default, whatever this
    // thread blocks or the host ignores.
    sigset_t none, pipe;
    sigemptyset(&none);
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &pipe);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid;
    int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return false;
    if (wait)
        waitFor(pid);
    else
        reapLater(pid);
    return true;
}

bool isExecutableFile(const std::string& path) {
    struct stat st;
    return path.find('/') != std::string::npos && stat(path.c_str(), &st) == 0 &&
           S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// A program named without a folder is looked for as on the scripts' first home: in the
// application's folder (so that a helper shipped next to the executable starts by its
// bare name), then in the working directory; failing both, spawn searches PATH.
std::string findProgram(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return name;
    const std::string folders[] = {folderOf(executablePath()), currentDirectory()};
    for (const std::string& folder : folders) {
        std::string candidate = folder + (folder == "/" ? "" : "/") + name;
        if (!folder.empty() && isExecutableFile(candidate)) return candidate;
    }
    return name;
}

// The process's executable name: the base name of /proc/<pid>/exe, else the command name
// of /proc/<pid>/stat (kernel threads, other users' processes). False when the process
// has gone.
bool processName(const char* pid, std::string* name) {
    std::string dir = std::string("/proc/") + pid;
    char buf[PATH_MAX];
    ssize_t n = readlink((dir + "/exe").c_str(), buf, sizeof buf - 1);
    if (n > 0) {
        std::string exe(buf, static_cast<size_t>(n));
        static const char kDeleted[] = " (deleted)";
        const size_t kn = sizeof kDeleted - 1;
        if (exe.size() > kn && exe.compare(exe.size() - kn, kn, kDeleted) == 0)
            exe.resize(exe.size() - kn);
        *name = exe.substr(exe.find_last_of('/') + 1);
        return true;
    }
    FILE* f = fopen((dir + "/stat").c_str(), "re");
    if (!f) {
        name->clear();
        return errno != ENOENT && errno != ESRCH;
    }
    size_t got = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    std::string line(buf, got);
    size_t first = line.find('('), last = line.rfind(')');
    if (first != std::string::npos && last != std::string::npos && last > first)
        *name = line.substr(first + 1, last - first - 1);
    else
        name->clear();
    return true;
}

} // namespace

std::vector<std::string> splitCommandLine(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size() && isBlank(line[i]))
        i++;
    if (i >= line.size()) return out;
    // The program name: quotes group and are removed, backslashes are plain characters.
    std::string program;
    bool quoted = false;
    for (; i < line.size() && (quoted || !isBlank(line[i])); i++) {
        if (line[i] == '"')
            quoted = !quoted;
        else
            program += line[i];
    }
    out.push_back(program);
    splitInto(line, i, &out);
    return out;
}

std::vector<std::string> splitArguments(const std::string& line) {
    std::vector<std::string> out;
    splitInto(line, 0, &out);
    return out;
}

bool startProcess(const std::string& commandLine, const std::string* directory, bool wait) {
    std::vector<std::string> args = splitCommandLine(commandLine);
    if (!args.empty()) args[0] = findProgram(localPath(args[0]));
    return spawn(args, directory, wait);
}

bool openWithDesktop(const std::string& file, const std::string& params, bool elevate) {
    std::string local = localPath(file);
    struct stat st;
    std::vector<std::string> args;
    if (isExecutableFile(local)) {
        args.push_back(absolutePath(local));
        splitInto(params, 0, &args);
    } else {
        args.push_back("xdg-open");
        // An existing file goes by its absolute path: pkexec starts in another directory,
        // and xdg-open takes a leading '-' for an option.
        args.push_back(stat(local.c_str(), &st) == 0 ? absolutePath(local) : file);
    }
    if (elevate) args.insert(args.begin(), "pkexec");
    return spawn(args, nullptr, false);
}

bool listProcesses(std::vector<ProcessEntry>* list) {
    DIR* proc = opendir("/proc");
    if (!proc) return false;
    while (struct dirent* e = readdir(proc)) {
        char* end;
        errno = 0;
        unsigned long pid = strtoul(e->d_name, &end, 10);
        if (*end || end == e->d_name || e->d_name[0] < '0' || e->d_name[0] > '9' || errno ||
            pid == 0 || pid > UINT32_MAX)
            continue;
        ProcessEntry entry;
        entry.pid = static_cast<uint32_t>(pid);
        if (processName(e->d_name, &entry.name)) list->push_back(entry);
    }
    closedir(proc);
    return true;
}

} // namespace platform
