// System.shutdown through stand-ins for systemctl and loginctl that record their
// arguments (PATH holds only their folder, so the real programs are never reached), and
// System.createLink's launchers checked with desktop-file-validate and read back.
#include <gtest/gtest.h>

#include "tests/unit/process_support.h"

namespace {

class Power : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = child::scratch("power_test");
        chmod(dir_.c_str(), 0755); // readable by the unprivileged user of one case
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string dir_;
};

// The stand-in's name and arguments, one call a line; loginctl refuses.
const char kRecorder[] = "#!/bin/sh\nprintf '%s ' \"${0##*/}\" \"$@\" >> \"${0%/*}/calls\"\n"
                         "echo >> \"${0%/*}/calls\"\n[ \"${0##*/}\" = systemctl ]\n";

// A launcher's Exec value split back into its arguments: the file format's string
// escapes first, then the quoting of the desktop-entry rules, then "%%".
std::vector<std::string> splitExec(const std::string& value) {
    std::string s;
    for (size_t i = 0; i < value.size(); i++) {
        char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            char e = value[++i];
            c = e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e == 's' ? ' ' : e;
        }
        s += c;
    }
    std::vector<std::string> args;
    std::string cur;
    bool quoted = false, any = false;
    for (size_t i = 0; i < s.size(); i++) {
        char c = s[i];
        if (quoted && c == '\\' && i + 1 < s.size()) {
            cur += s[++i];
        } else if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any) args.push_back(cur);
            cur.clear();
            any = false;
        } else {
            cur += c;
            any = true;
        }
    }
    if (any) args.push_back(cur);
    for (std::string& a : args)
        for (size_t p = 0; (p = a.find("%%", p)) != std::string::npos; p++)
            a.erase(p, 1);
    return args;
}

std::string entry(const std::string& file, const std::string& key) {
    std::string text = child::readFile(file), prefix = "\n" + key + "=";
    size_t at = text.find(prefix);
    if (at == std::string::npos) return "<none>";
    at += prefix.size();
    return text.substr(at, text.find('\n', at) - at);
}

} // namespace

TEST_F(Power, OptionWordsBecomeSystemctlAndLoginctlCalls) {
    for (const char* name : {"systemctl", "loginctl"})
        child::writeFile(dir_ + "/" + name, kRecorder, 0755);
    std::string script = R"(
var texts = ["-hibernate -reboot", "-reboot -shutdown", "-shutdown -force", "-shutoff -force",
             "-reboot", "", "-force"];
var r = texts.map(function (t) { return System.shutdown(t); });
try { System.shutdown(); } catch (e) { r.push(e.message); }
System.print(r.join("|"));
)";
    std::vector<std::string> env = {"PATH=" + dir_, "XDG_SESSION_ID=7"};
    EXPECT_EQ(child::runScript(dir_, script, env),
              "true|true|true|true|true|false|false|"
              "Native function format error: System.shutdown(<params>)\n");
    EXPECT_EQ(child::readFile(dir_ + "/calls"), "systemctl hibernate --ignore-inhibitors \n"
                                                "systemctl halt \n"
                                                "systemctl halt --ignore-inhibitors \n"
                                                "systemctl poweroff --ignore-inhibitors \n"
                                                "systemctl reboot \n"
                                                "loginctl terminate-session 7 \n"
                                                "loginctl terminate-session 7 \n");
}

TEST_F(Power, WithoutThePrivilegeNothingIsAsked) {
    child::writeFile(dir_ + "/systemctl", kRecorder, 0755);
    int uid = geteuid() == 0 ? 65534 : -1; // root drops to nobody, anyone else is unprivileged
    std::string script =
        "try { System.shutdown('-reboot'); } catch (e) { System.print(e.message); }";
    EXPECT_EQ(child::runScript(dir_, script, {"PATH=" + dir_}, nullptr, "", uid),
              "Unable to retrieve shutdown privilege\n");
    EXPECT_FALSE(child::exists(dir_ + "/calls"));
}

TEST_F(Power, CreateLinkWritesAValidLauncher) {
    std::string script = R"(
var dir = argv[1], r = [];
r.push(System.createLink({link: dir + "/My App.lnk", command: "/opt/my app/run",
                          params: 'plain "two words" quote\\"d 100% $HOME back\\slash',
                          description: "Line one\nline two", iconPath: "/opt/icon.png", iconIndex: 2.7}));
r.push(System.createLink({link: dir + "/admin.LNK", command: "/usr/bin/tool", runas: true}));
r.push(System.createLink({link: dir + "/plain", command: "tool"}));
r.push(System.createLink({link: dir + "/no/such/x.lnk", command: "tool"}));
try { System.createLink(); } catch (e) { r.push(e.message); }
try { System.createLink(undefined); } catch (e) { r.push(e.message); }
System.print(r.join("|"));
)";
    EXPECT_EQ(child::runScript(dir_, script, {}, nullptr, dir_),
              "||||Native function format error: System.createLink(<link>)|"
              "System: link is undefined\n");
    struct Case {
        const char* file;
        std::vector<std::string> exec;
        const char* comment;
        const char* icon;
    } cases[] = {
        {"My App.desktop",
         {"/opt/my app/run", "plain", "two words", "quote\"d", "100%", "$HOME", "back\\slash"},
         "Line one\\nline two",
         "/opt/icon.png"},
        {"admin.desktop", {"pkexec", "/usr/bin/tool"}, "<none>", "<none>"},
        {"plain.desktop", {"tool"}, "<none>", "<none>"},
    };
    for (const Case& c : cases) {
        std::string file = dir_ + "/" + c.file;
        ASSERT_TRUE(child::exists(file)) << c.file;
        EXPECT_EQ(splitExec(entry(file, "Exec")), c.exec) << c.file;
        EXPECT_EQ(entry(file, "Comment"), c.comment) << c.file;
        EXPECT_EQ(entry(file, "Icon"), c.icon) << c.file;
        std::string out = dir_ + "/validate.out";
        int rc = child::finish(child::start({"/usr/bin/desktop-file-validate", file}, {}, out));
        EXPECT_EQ(rc, 0) << c.file << ": " << child::readFile(out);
        EXPECT_EQ(child::readFile(out), "") << c.file;
    }
    EXPECT_EQ(entry(dir_ + "/My App.desktop", "Name"), "My App");
    EXPECT_FALSE(child::exists(dir_ + "/no"));
}

// Every field may hold control characters, blanks to keep and text that is no UTF-16 (a
// lone surrogate): the launcher stays one that desktop-file-validate accepts and whose
// values read back as close to what was given as the format allows.
TEST_F(Power, CreateLinkKeepsTheFileValid) {
    std::string script = R"(
System.createLink({link: argv[1] + "/ odd\u0001\uD800.lnk", command: "/opt/a\u0002b\uDC00/run",
                   params: "x\ty \u0007 \"\rz\"", description: "  two\u0008 blanks\uDBFF",
                   iconPath: "/icons/\u001Fi\uDFFF.png"});
)";
    EXPECT_EQ(child::runScript(dir_, script, {}, nullptr, dir_), "");
    std::string file = dir_ + "/ odd\x01\xed\xa0\x80.desktop"; // the file keeps its name
    ASSERT_TRUE(child::exists(file));
    const std::string kFffd = "\xef\xbf\xbd";
    struct {
        const char* key;
        std::string value;
    } fields[] = {
        {"Name", "\\sodd" + kFffd},
        {"Comment", "\\s\\stwo blanks" + kFffd},
        {"Icon", "/icons/i" + kFffd + ".png"},
    };
    for (const auto& f : fields)
        EXPECT_EQ(entry(file, f.key), f.value) << f.key;
    EXPECT_EQ(splitExec(entry(file, "Exec")),
              (std::vector<std::string>{"/opt/ab" + kFffd + "/run", "x", "y", "\rz"}));
    std::string out = dir_ + "/validate.out";
    EXPECT_EQ(child::finish(child::start({"/usr/bin/desktop-file-validate", file}, {}, out)), 0)
        << child::readFile(out);
    EXPECT_EQ(child::readFile(out), "");
}
