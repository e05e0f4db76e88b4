// Paths, directories and facts about the machine and the process.
#include "platforms/platform.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

namespace platform {

std::string executablePath() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::string();
    return std::string(buf, static_cast<size_t>(n));
}

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool changeDirectory(const std::string& path) {
    return chdir(path.c_str()) == 0;
}

SystemVersion systemVersion() {
    SystemVersion v;
    struct utsname u;
    if (uname(&u) != 0) return v;
    v.name = u.sysname;
    sscanf(u.release, "%d.%d.%d", &v.major, &v.minor, &v.patch);
    return v;
}

// The identifier never changes for the life of the process; asking once spares a system
// call per script call.
int processId() {
    static const int pid = static_cast<int>(getpid());
    return pid;
}

bool isAdministrator() {
    return geteuid() == 0;
}

bool processorTimes(uint64_t* busy, uint64_t* total) {
    FILE* f = fopen("/proc/stat", "r");
    if (!f) return false;
    unsigned long long t[10] = {0};
    int n = fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu", &t[0], &t[1], &t[2],
                   &t[3], &t[4], &t[5], &t[6], &t[7], &t[8], &t[9]);
    fclose(f);
    if (n < 4) return false;
    // user nice system idle iowait irq softirq steal guest guest_nice; guest time is
    // already counted in user and nice.
    uint64_t idle = t[3] + t[4];
    uint64_t all = 0;
    for (int i = 0; i < 8 && i < n; i++)
        all += t[i];
    *busy = all - idle;
    *total = all;
    return true;
}

void sleepMs(unsigned ms) {
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0) {}
}

} // namespace platform
