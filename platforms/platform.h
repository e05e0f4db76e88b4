// The platform layer: what the host needs from the operating system, without its headers.
// Text crossing here is UTF-8 (the platform's own encoding of names). The platform layer
// (platforms/, with platforms/posix/ and platforms/win32/) is the one place besides the
// module libraries that includes operating-system headers; of the project it includes
// core/text/ only, and what it calls back is passed in. The entry point
// (platforms/<os>/entry.cpp and main.cpp) sits above everything: it starts core/runtime/.
#ifndef CAPSULE_PLATFORM_H
#define CAPSULE_PLATFORM_H

#include <stdint.h>
#include <stdio.h>
#include <string>
#include <vector>

struct HostOptions;

namespace platform {

// The process start: argv[0] becomes the executable's full path, the working directory
// its folder; then hostMain. Returns the exit code.
int runHost(int argc, char** argv, char** envp, const HostOptions& options);

// The executable's full path ("" if it cannot be read).
std::string executablePath();
// Bytes that tell this build of the runtime from every other (Linux: the executable's
// build identifier); "" when the platform has none, and then nothing derived from the
// runtime's own build (compiled scripts) is kept across starts.
std::string runtimeIdentity();
// The folder part of a path (up to the last separator), or "" when it has none.
std::string folderOf(const std::string& path);
bool changeDirectory(const std::string& path);

// Fault trap: hands access violations to `handler` on the faulting thread, with the
// exception code (0xC0000005 for an access violation) and the address. A handler that
// returns false leaves the fault to its default course; one that deals with it does not
// return.
using FaultHandler = bool (*)(unsigned code, const void* address);
void installFaultTrap(FaultHandler handler);
// Gives the calling thread the alternate stack that the trap runs on.
void prepareFaultStack();

// System information.
struct SystemVersion {
    std::string name; // "Linux"
    int major = 0, minor = 0, patch = 0;
};
SystemVersion systemVersion();
int processId();
bool isAdministrator();
// Cumulative processor times over all processors: busy and total ticks.
bool processorTimes(uint64_t* busy, uint64_t* total);
void sleepMs(unsigned ms);
// Ends the process with the code, its C streams flushed, while other threads may still run.
[[noreturn]] void endProcess(int code);

// Files and directories. Paths are UTF-8; a backslash in a path from a script is a
// separator, as on the system the scripts were first written for.
std::string localPath(const std::string& path);
FILE* openFile(const std::string& path, const char* mode);
// Size and modification time (seconds) of an open stream.
bool streamStatus(FILE* f, int64_t* size, int64_t* mtime);
// Reads up to n bytes at an absolute offset without moving the stream's position.
int64_t readAt(FILE* f, int64_t offset, void* buf, size_t n);
int64_t streamSize(FILE* f);

// File-system operations on local paths (see localPath). Failures carry no reason.
struct PathStatus {
    int64_t size = 0;  // bytes
    int64_t mtime = 0; // last modification, seconds since 1970
    bool isDir = false;
};
// A path containing a wildcard, or ending in a separator without being the root, is never
// found, as with the stat of the scripts' first home.
bool pathStatus(const std::string& path, PathStatus* status);
bool removeFile(const std::string& path); // a file (or link), never a directory
// Gives a file or folder a new name, replacing a file of that name, in one step where the
// system makes it one (within one file system; across file systems it fails and nothing
// moves). A file's content is on the disk before it takes the new name.
bool renamePath(const std::string& from, const std::string& to);
// Sets access and modification time to whole seconds since 1970.
bool setFileTime(const std::string& path, int64_t seconds);
bool createDirectory(const std::string& path); // one level
bool removeDirectory(const std::string& path); // an empty directory
std::string currentDirectory();                // "" when it cannot be read
// The absolute path of an existing file or folder with every link on the way resolved
// (what the path names in the end); "" when it names nothing, or a link leads nowhere.
std::string resolvedPath(const std::string& path);

struct DirEntry {
    std::string name;
    bool isDir;
};
// The entries that a pattern "folder/name" names: with * or ? in the name part those
// of the folder that match it (see wildcardMatch), in the system's order, "." and ".."
// included; without, the one path itself when it exists. Nothing found: empty.
std::vector<DirEntry> listDirectory(const std::string& pattern);
// Windows-style name matching: * any run, ? one UTF-16 unit, ASCII letters without
// regard to case, and a pattern ending in ".*" also matches names that have no dot.
bool wildcardMatch(const std::string& pattern, const std::string& name);

// Native libraries, loaded with every symbol bound at once and never unloaded.
// loadLibrary takes the file that path names (a bare name: in the working directory);
// loadSystemLibrary looks a bare name up by the system's own library search. Null when
// the library cannot be loaded, with the loader's reason in *reason.
void* loadLibrary(const std::string& path, std::string* reason);
void* loadSystemLibrary(const std::string& name, std::string* reason);
// Null when there is no library or it has no such symbol.
void* librarySymbol(void* library, const char* name);
bool isAbsolutePath(const std::string& path);
// The library whose bytes are given (a module taken from the package), loaded from what
// was given and from nothing a path could name in between (Linux: an anonymous memory
// file, sealed; Windows: a file of the user's local application data named after its
// content). The same bytes give the same library. Null, and the reason, when it cannot be.
void* loadLibraryFromBytes(const std::string& data, const std::string& name, std::string* reason);

// Private cache folders: "<base>/capsule/<folder>" (Linux: the cache folder of the
// base-directory convention), made on first use and held open for the process. Every level
// from the root must be a folder, not a link, owned by the user or root and writable by
// nobody else (but a sticky folder like /tmp); otherwise there is no such folder and the
// calls below fail. A file is reached through the open folder without following links, and
// read only when it is a regular file of the user's own that nobody else may write.
// Windows keeps no cache files: the calls fail there.
bool hasCacheFolder(const char* folder);
// The file whole, if it is at most maxBytes long; false when it is missing or not trusted.
bool readCacheFile(const char* folder, const std::string& name, size_t maxBytes, std::string* out);
// Bounds of a folder: its files that end in suffix count, the oldest (by modification time)
// removed before a write would take the folder past them.
struct CacheBounds {
    const char* suffix;
    size_t files;
    int64_t bytes;
};
// Writes the file whole (mode 0600, a temporary file renamed), after pruning to the bounds;
// with replace false an existing file stays and the call fails. False when anything fails.
bool writeCacheFile(const char* folder, const std::string& name, const std::string& data,
                    bool replace, const CacheBounds& bounds);
// Bytes from the system's random source; false when it gives none.
bool randomBytes(void* out, size_t n);
// The user's home folder: $HOME when it is an absolute path, else the password database's
// (Linux; a service started without $HOME has one all the same). "" when neither says.
std::string homeFolder();

// Gives a process started without a console one, with the standard streams that have no
// other destination bound to it (Windows); elsewhere the inherited streams stay as they are.
void attachConsole();

// Console events: calls deliver with "CONTROL_STOP", "CONTROL_LOGOFF" or
// "CONTROL_SHUTDOWN" on a thread of its own for each event. Installing again is harmless.
void installConsoleEvents(void (*deliver)(const char* name));

// Processes. Command lines follow the Windows C runtime: blanks and tabs separate
// arguments; double quotes group and are removed, and "" inside quotes is one literal
// quote; 2n backslashes before a quote give n and the quote groups, 2n+1 give n and a
// literal quote; other backslashes are plain characters.
std::vector<std::string> splitArguments(const std::string& line);
// The same, but the first argument (the program) takes backslashes as plain characters
// even before a quote.
std::vector<std::string> splitCommandLine(const std::string& line);
// Starts the program of a command line (when it names no folder: looked for in the
// application's folder, then the working directory, then on PATH) with
// the host's environment and standard streams, in a directory (null: the current one).
// With wait it returns once the program has ended; otherwise the child is reaped in the
// background. False when nothing was started.
bool startProcess(const std::string& commandLine, const std::string* directory, bool wait);
// Opens a file or address with the desktop's opener; an executable file named with a
// folder is started directly with params as its arguments. elevate goes through the
// system's elevation tool. Does not wait; false when nothing was started.
bool openWithDesktop(const std::string& file, const std::string& params, bool elevate);
struct ProcessEntry {
    std::string name; // base name of the executable, "" when unreadable
    uint32_t pid;
};
// The running processes (pid 0 excluded); false when they cannot be listed.
bool listProcesses(std::vector<ProcessEntry>* list);

// Threads. startThread runs run(arg) on a new detached thread and returns that thread's
// id (positive) once it is running, or -1 when no thread could be made (run is then
// never called).
int startThread(void (*run)(void*), void* arg);
void yieldThread(); // gives up the rest of the time slice
// The calling thread's stack: its lowest usable address and its size (both 0 when the
// system does not tell).
struct StackBounds {
    uintptr_t low = 0;
    size_t size = 0;
};
StackBounds stackBounds();

// Blocks of memory for a translation's syntax tree and tokens (64 KiB and up): from 2 MiB
// on in huge pages where the system has them (Linux: aligned to 2 MiB and marked for
// transparent huge pages), so that a large source costs a few page faults rather than
// thousands. Null when there is no memory; given back with freeBlock alone.
void* allocateBlock(size_t size);
void freeBlock(void* block);

// Makes the C library give every large block (128 KiB and up) its own mapping, returned to
// the system when freed. Without it glibc raises that bound after each large free, and a
// block that grows in steps (an object's property table) leaves each older, smaller copy
// as a hole in its heap that the next, larger one cannot reuse. Called once, at start-up.
void mapLargeBlocks();

// A range of address space for the engine heap's small blocks: readable and writable, its
// pages taken from the system only when first touched. Null when the system gives none.
// pagesUnused gives the pages of a part of it back to the system; they stay usable, their
// contents lost.
void* reserveAddressSpace(size_t size);
void pagesUnused(void* start, size_t size);

// Mutexes held by number: recursive (the owner must release once per successful lock),
// owned by the locking thread, and passed on when their owner thread ends holding them.
// Numbers count up from 1 and are never given out again; 0 and any number that names no
// live mutex make lockMutex fail at once and the others do nothing.
constexpr uint32_t kWaitForever = 0xFFFFFFFFu;
int createMutex(); // 0 when no mutex could be made
// Waits at most timeoutMs (0: only tries, kWaitForever: no limit); true when the calling
// thread owns the mutex. A lock that its ended owner left held counts as obtained; a wait
// on a mutex destroyed meanwhile fails once the mutex comes free.
bool lockMutex(int mutex, uint32_t timeoutMs);
void unlockMutex(int mutex); // one level, by the owner only
// Ends the number; the caller's whole hold is released. A mutex that another thread
// owns stays usable by its owner's unlockMutex until free.
void destroyMutex(int mutex);

// Files written whole or not at all: a temporary file in the same folder, flushed to
// the disk (unless durable is false: a cache that may lose its newest files in a crash),
// then renamed over the target. False when anything fails (the target is then as it was).
bool writeFileAtomically(const std::string& path, const std::string& data, unsigned mode,
                         bool durable = true);

// Registry: a key store on files, one tree per root key (registry_store.cpp). Paths are
// key names separated by backslashes; names are UTF-8, compared without regard to letter
// case and kept as first written. Every change is atomic and made under a lock of the
// tree, so that concurrent writers and a writer killed mid-way leave a readable store.
enum RegistryRoot { kClassesRoot, kCurrentUser, kLocalMachine, kUsers, kCurrentConfig };
enum RegistryType {
    kRegString = 1,
    kRegExpandString = 2,
    kRegBinary = 3,
    kRegNumber = 4, // 32-bit, stored as its decimal text
    kRegMultiString = 7,
};
struct RegistryValue {
    int type = kRegString;
    std::string data; // texts in UTF-8 (a multi-string NUL-separated), numbers as 4 bytes LE
};
// False when the key or the value is missing, unreadable or damaged.
bool registryRead(int root, const std::string& path, const std::string& name, RegistryValue* out);
// The subkey names, sorted without regard to case; false when the key is missing.
bool registrySubkeys(int root, const std::string& path, std::vector<std::string>* names);
// Creates the missing keys of the path and writes the value.
bool registryWrite(int root, const std::string& path, const std::string& name,
                   const RegistryValue& value);
bool registryDeleteValue(int root, const std::string& path, const std::string& name);
// Deletes a key with its values; never the root, never a key that has subkeys.
bool registryDeleteKey(int root, const std::string& path);
// Where a root's tree lives.
std::string registryTreePath(int root);

// Runs a program (searched on PATH) with arguments and waits for it; its standard output
// goes to *output when given. The exit status, or -1 when it could not be started or
// did not exit normally.
int runProgram(const std::vector<std::string>& args, std::string* output);
// Whether a program of that name is on PATH.
bool programOnPath(const std::string& name);

// Power: whether the process may shut the machine down (root, or CAP_SYS_BOOT; on Windows
// the shutdown privilege, which this enables), and the request itself through systemctl
// (loginctl for a log-off of the caller's session; on Windows ExitWindowsEx, after which
// the privilege is disabled again); force overrides the programs that hold a shutdown up.
// True when the request was accepted.
bool hasShutdownPrivilege();
enum PowerAction { kLogOff, kHalt, kPowerOff, kReboot, kHibernate };
bool requestPower(PowerAction action, bool force);

// A shortcut as a freedesktop launcher: link names the file (".lnk" becomes ".desktop"),
// command and params (a command line's arguments) become its Exec line, through pkexec
// when elevate is set. Written atomically; false when nothing was written.
struct Shortcut {
    std::string link, command, params, description, iconPath;
    int iconIndex = 0; // Windows: the icon's index in iconPath
    bool elevate = false;
};
bool writeShortcut(const Shortcut& shortcut);

// Services as systemd units (service_units.cpp). serviceManagerAvailable: systemctl is
// there and the caller may write units. Start and stop wait at most 30 s.
struct ServiceConfig {
    std::string name, commandLine, displayName, description;
    bool manualStart = false;
    bool interactive = false; // Windows: may interact with the desktop
    int restartDelayMs = -1;  // below 0: no restart on failure
};
bool serviceManagerAvailable();
// Creates the service, or changes the configuration of an existing one.
bool installService(const ServiceConfig& config);
bool uninstallService(const std::string& name); // false when it is not installed
bool startService(const std::string& name);     // true once it runs
bool stopService(const std::string& name);      // true once stopped, or not installed
// The unit file of a service name.
std::string serviceUnitPath(const std::string& name);

// The service manager's side of a service (service_notify.cpp). takeServiceSocket, once
// at start before any thread: keeps the notification socket that the manager gave the
// process and removes it from the environment, so that the programs the service starts
// (another runtime among them) do not take themselves for the service. runningAsService:
// the process was given one. notifyServiceManager sends one state
// message ("READY=1", "STOPPING=1"); false when it could not be sent.
void takeServiceSocket();
bool runningAsService();
bool notifyServiceManager(const char* state);
// While the service dispatcher runs, SIGTERM is the service's stop control instead of a
// console event: waitServiceEvent returns true for each stop request, and false once
// endServiceDispatch has been called (from any thread).
void beginServiceDispatch();
bool waitServiceEvent();
void endServiceDispatch();

} // namespace platform

#endif
