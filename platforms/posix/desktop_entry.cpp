// Shortcuts as freedesktop launchers (.desktop files). Exec arguments are quoted by the
// desktop-entry rules: an argument with a reserved character goes in double quotes with
// '"', '`', '$' and '\' escaped by a backslash, '%' is doubled, and the string escapes of
// the file format are applied on top.
#include "platforms/platform.h"

#include "core/text/utf.h"

#include <string.h>

namespace platform {

namespace {

// A string value: what is no UTF-8 becomes U+FFFD, the escapes of the format for
// backslash, line feed, tab, carriage return and leading blanks (which readers would
// strip), and the other control characters, which the format does not allow, left out.
std::string escapeString(const std::string& s) {
    std::string out;
    bool leading = true;
    for (char c : text::validUtf8(s)) {
        leading = leading && c == ' ';
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case ' ':
            out += leading ? "\\s" : " ";
            break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
        }
    }
    return out;
}

std::string quoteArgument(const std::string& arg) {
    static const char kReserved[] = " \t\n\"'\\><~|&;$*?#()`";
    bool quote = arg.empty() || arg.find_first_of(kReserved) != std::string::npos;
    std::string out = quote ? "\"" : "";
    for (char c : arg) {
        if (quote && strchr("\"`$\\", c)) out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    return quote ? out + "\"" : out;
}

std::string absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    std::string cwd = currentDirectory();
    return cwd.empty() ? path : cwd + "/" + path;
}

bool endsWithLnk(const std::string& s) {
    return s.size() >= 4 && strcasecmp(s.c_str() + s.size() - 4, ".lnk") == 0;
}

} // namespace

bool writeShortcut(const Shortcut& s) {
    if (s.link.empty() || s.command.empty()) return false;
    std::string file = localPath(s.link);
    if (endsWithLnk(file)) file.resize(file.size() - 4);
    size_t slash = file.find_last_of('/');
    std::string name = file.substr(slash == std::string::npos ? 0 : slash + 1);
    file += ".desktop";

    std::vector<std::string> args;
    if (s.elevate) args.push_back("pkexec");
    std::string program = localPath(s.command);
    args.push_back(program.find('/') == std::string::npos ? program : absolute(program));
    for (const std::string& a : splitArguments(s.params))
        args.push_back(a);
    std::string exec;
    for (const std::string& a : args)
        exec += (exec.empty() ? "" : " ") + quoteArgument(a);

    std::string text = "[Desktop Entry]\nType=Application\nName=" + escapeString(name) + "\n";
    if (!s.description.empty()) text += "Comment=" + escapeString(s.description) + "\n";
    text += "Exec=" + escapeString(exec) + "\n";
    if (!s.iconPath.empty()) text += "Icon=" + escapeString(absolute(localPath(s.iconPath))) + "\n";
    return writeFileAtomically(file, text, 0755);
}

} // namespace platform
