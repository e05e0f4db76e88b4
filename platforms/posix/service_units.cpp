// Services as systemd units: install writes <name>.service (Type=notify, so that the
// service counts as started once it reports ready) into the unit folder and enables it;
// the others go through systemctl. CAPSULE_UNIT_DIR moves the unit folder (tests).
#include "platforms/platform.h"

#include "core/text/utf.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kPollMs = 200, kPolls = 150; // 30 s in all

std::string unitFolder() {
    const char* moved = getenv("CAPSULE_UNIT_DIR");
    return moved && *moved ? moved : "/etc/systemd/system";
}

// A service name as a unit name: characters that a unit name cannot hold become \xNN.
std::string unitName(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); i++) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        bool plain = (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') ||
                     c == ':' || c == '_' || c == '-' || (c == '.' && i > 0);
        if (plain) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out + ".service";
}

// One word of an ExecStart line: quoted, with C escapes ("\\n", "\\r", "\\t", and "\\xNN"
// for the bytes of the other control characters and of what is no UTF-8, so that no line
// ends inside the word and the file stays UTF-8 while the word keeps its bytes), "$$" for
// '$' and "%%" for '%'.
std::string execWord(const std::string& word) {
    std::u16string w = text::fromUtf8(word.data(), word.size());
    std::string out = "\"";
    for (size_t i = 0; i < w.size(); i++) {
        char16_t c = w[i];
        bool pair = c >= 0xD800 && c < 0xDC00 && i + 1 < w.size() && w[i + 1] >= 0xDC00 &&
                    w[i + 1] < 0xE000;
        std::string bytes = text::toUtf8(reinterpret_cast<const uint16_t*>(&w[i]), pair ? 2 : 1);
        if (pair) i++;
        if (c == '\n' || c == '\r' || c == '\t') {
            out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
        } else if (c < 0x20 || c == 0x7F || (c >= 0xD800 && c < 0xE000 && !pair)) {
            for (unsigned char b : bytes) {
                char hex[8];
                snprintf(hex, sizeof hex, "\\x%02x", b);
                out += hex;
            }
        } else {
            if (c == '"' || c == '\\') out += '\\';
            if (c == '$' || c == '%') out += static_cast<char>(c);
            out += bytes;
        }
    }
    return out + "\"";
}

// A one-line setting value: control characters (line breaks among them) become blanks,
// what is no UTF-8 becomes U+FFFD, '%' is doubled, and a backslash at the end is doubled
// so that it does not join the next line to this one.
std::string lineValue(const std::string& s) {
    std::string out;
    bool escaped = false;
    for (char c : text::validUtf8(s)) {
        if (c == '%') out += '%';
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c;
        escaped = c == '\\' && !escaped;
    }
    return escaped ? out + '\\' : out;
}

// The whole file, "" when it cannot be read (stdio: iostreams would link the C++ locale
// machinery into the executable for this one read).
std::string readText(const std::string& path) {
    std::string text;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return text;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
        text.append(buf, n);
    fclose(f);
    return text;
}

std::string systemctlLine(std::vector<std::string> args) {
    std::string out;
    args.insert(args.begin(), "systemctl");
    if (runProgram(args, &out) < 0) return std::string();
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

bool known(const std::string& unit) {
    std::string state = systemctlLine({"show", "--property=LoadState", "--value", unit});
    return !state.empty() && state != "not-found";
}

// Polls the unit's state until done() says so: true then, false when a query fails or
// the time runs out.
template <class Done> bool waitFor(const std::string& unit, Done done) {
    for (int i = 0; i < kPolls; i++) {
        std::string state = systemctlLine({"is-active", unit});
        if (state.empty()) return false;
        int verdict = done(state);
        if (verdict >= 0) return verdict == 1;
        sleepMs(kPollMs);
    }
    return false;
}

} // namespace

std::string serviceUnitPath(const std::string& name) {
    return unitFolder() + "/" + unitName(name);
}

bool serviceManagerAvailable() {
    return programOnPath("systemctl") && access(unitFolder().c_str(), W_OK) == 0;
}

bool installService(const ServiceConfig& c) {
    if (c.name.empty()) return false;
    std::string path = serviceUnitPath(c.name);
    std::vector<std::string> words = splitCommandLine(c.commandLine);
    if (words.empty()) return false;
    words[0] = localPath(words[0]);
    if (words[0][0] != '/' && words[0].find('/') != std::string::npos)
        words[0] = currentDirectory() + "/" + words[0];
    std::string exec;
    for (const std::string& w : words)
        exec += (exec.empty() ? "" : " ") + execWord(w);

    std::string restart;
    if (c.restartDelayMs >= 0) {
        restart = "Restart=on-failure\nRestartSec=" + std::to_string(c.restartDelayMs) + "ms\n";
    } else {
        // No delay given: the restart settings of an earlier install stay.
        std::string old = readText(path);
        for (size_t at = 0; at < old.size();) {
            size_t end = old.find('\n', at);
            if (end == std::string::npos) end = old.size();
            std::string line = old.substr(at, end - at);
            if (line.compare(0, 8, "Restart=") == 0 || line.compare(0, 11, "RestartSec=") == 0)
                restart += line + "\n";
            at = end + 1;
        }
    }
    std::string title = !c.displayName.empty()   ? c.displayName
                        : !c.description.empty() ? c.description
                                                 : c.name;
    std::string unit = "[Unit]\nDescription=" + lineValue(title) + "\n";
    if (!c.displayName.empty() && !c.description.empty())
        unit += "# " + lineValue(c.description) + "\n";
    unit += "\n[Service]\nType=notify\nNotifyAccess=main\nExecStart=" + exec + "\n" + restart +
            "\n[Install]\nWantedBy=multi-user.target\n";
    if (!writeFileAtomically(path, unit, 0644)) return false;
    std::string name = unitName(c.name);
    runProgram({"systemctl", "daemon-reload"}, nullptr);
    runProgram({"systemctl", c.manualStart ? "disable" : "enable", name}, nullptr);
    return true;
}

bool uninstallService(const std::string& name) {
    std::string path = serviceUnitPath(name);
    if (name.empty() || access(path.c_str(), F_OK) != 0) return false;
    runProgram({"systemctl", "disable", unitName(name)}, nullptr);
    bool removed = unlink(path.c_str()) == 0;
    runProgram({"systemctl", "daemon-reload"}, nullptr);
    return removed;
}

bool startService(const std::string& name) {
    std::string unit = unitName(name);
    if (name.empty() || !known(unit)) return false;
    runProgram({"systemctl", "start", unit}, nullptr);
    return waitFor(unit, [](const std::string& state) {
        return state == "active" ? 1 : state == "activating" || state == "reloading" ? -1 : 0;
    });
}

bool stopService(const std::string& name) {
    std::string unit = unitName(name);
    if (name.empty() || !known(unit)) return true;
    runProgram({"systemctl", "stop", "--no-block", unit}, nullptr);
    return waitFor(unit, [](const std::string& state) {
        return state == "inactive" || state == "failed" ? 1 : -1;
    });
}

} // namespace platform
