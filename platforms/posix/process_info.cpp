// Paths, directories and facts about the machine and the process.
#include "platforms/platform.h"

#include <elf.h>
#include <limits.h>
#include <link.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

namespace platform {

// Read once: the process keeps the file it started from (a link in /proc costs a path
// walk at every read).
std::string executablePath() {
    static const std::string path = [] {
        char buf[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }();
    return path;
}

namespace {
// The GNU build identifier note of the program's own image, from its loaded headers.
int findBuildId(struct dl_phdr_info* info, size_t, void* out) {
    for (int i = 0; i < info->dlpi_phnum; i++) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_NOTE) continue;
        const char* p = reinterpret_cast<const char*>(info->dlpi_addr + ph.p_vaddr);
        const char* end = p + ph.p_memsz;
        while (p + sizeof(ElfW(Nhdr)) <= end) {
            const ElfW(Nhdr)* note = reinterpret_cast<const ElfW(Nhdr)*>(p);
            const char* name = p + sizeof *note;
            const char* desc = name + ((note->n_namesz + 3) & ~3u);
            if (desc + note->n_descsz > end) break;
            if (note->n_type == NT_GNU_BUILD_ID && note->n_namesz == 4 && !memcmp(name, "GNU", 4)) {
                static_cast<std::string*>(out)->assign(desc, note->n_descsz);
                return 1;
            }
            p = desc + ((note->n_descsz + 3) & ~3u);
        }
    }
    return 1; // the first object is the program itself
}
} // namespace

std::string runtimeIdentity() {
    static const std::string id = [] {
        std::string found;
        dl_iterate_phdr(findBuildId, &found);
        return found;
    }();
    return id;
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

// The C library's exit: its handlers run beside the other threads, which end with it.
void endProcess(int code) {
    exit(code);
}

} // namespace platform
