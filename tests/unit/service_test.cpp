// Running as a service without systemd: the packed application gets a real notification
// socket that the test listens on, as the service manager would give it. Managing
// services goes through a stand-in systemctl on PATH (the real one is never reached:
// PATH holds only the stand-in's folder), and the unit file it leaves is checked with
// systemd-analyze verify where that program exists.
#include <gtest/gtest.h>

#include "tests/unit/process_support.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace {

// A service whose work runs on the service thread until the stop control ends it.
const char kService[] = R"(
var dir = argv[1], stopping = false, config = {serviceName: "capsule-test"};
function mark(name) { var f = new File(dir + "/" + name, "ab"); f.write("x"); f.close(); }
System.control = function (name) {
    mark(name);
    if (name == "CONTROL_START") {
        System.controlService("CONTROL_START", config);
        while (!stopping) System.sleep(20);
    } else if (name == "CONTROL_STOP") {
        stopping = true;
        mark("stop-work");
        System.controlService("CONTROL_STOP", config);
    }
};
System.controlService("CONTROL_REGISTER", config);
mark("registered");
)";

class NotifySocket {
  public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        struct sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~NotifySocket() {
        close(fd_);
        unlink(path_.c_str());
    }
    bool bound() const { return bound_; }
    // The next datagram, or "" when none comes within ms.
    std::string next(int ms = 5000) {
        struct pollfd p = {fd_, POLLIN, 0};
        if (poll(&p, 1, ms) != 1) return std::string();
        char buf[512];
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }

  private:
    std::string path_;
    int fd_;
    bool bound_ = false;
};

class Service : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = child::scratch("service_test"); }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string dir_;
};

// Records its arguments, one call a line, and answers the queries from the unit folder
// and a state file, with shell built-ins only.
const char kSystemctl[] = R"(#!/bin/sh
printf '%s ' "$@" >> "$0.log"; echo >> "$0.log"
case "$1" in
show) if [ -f "$CAPSULE_UNIT_DIR/$4" ]; then echo loaded; else echo not-found; fi ;;
is-active) if [ -f "$0.state" ]; then read s < "$0.state"; echo "$s"; else echo inactive; fi ;;
start) echo active > "$0.state" ;;
stop) echo inactive > "$0.state" ;;
esac
exit 0
)";

} // namespace

TEST_F(Service, RunsUnderTheNotificationProtocol) {
    std::string app = child::pack(dir_, kService);
    ASSERT_FALSE(app.empty());
    NotifySocket manager(dir_ + "/notify");
    ASSERT_TRUE(manager.bound());
    pid_t pid = child::start({app, dir_}, {"NOTIFY_SOCKET=" + dir_ + "/notify"}, dir_ + "/out");
    EXPECT_EQ(manager.next(), "READY=1");
    EXPECT_EQ(child::readFile(dir_ + "/CONTROL_START"), "x");
    kill(pid, SIGTERM);
    EXPECT_EQ(manager.next(), "STOPPING=1");
    EXPECT_EQ(child::finish(pid), 0) << child::readFile(dir_ + "/out");
    EXPECT_EQ(child::readFile(dir_ + "/stop-work"), "x");
    EXPECT_EQ(child::readFile(dir_ + "/registered"), "x");
    EXPECT_EQ(child::readFile(dir_ + "/out"), "");
}

// The notification socket is the service's alone: a program the service starts, another
// copy of the application here, finds none in its environment, so its CONTROL_REGISTER
// returns at once and it reports nothing to the manager.
TEST_F(Service, ProgramsTheServiceStartsAreNoService) {
    std::string app = child::pack(dir_, R"(
var dir = argv[1], config = {serviceName: "capsule-test"};
function mark(name) { var f = new File(dir + "/" + name, "ab"); f.write("x"); f.close(); }
System.control = function (name) {
    mark((argv[2] || "") + name);
    if (name == "CONTROL_START" && !argv[2]) {
        System.exec('"' + argv[0] + '" "' + dir + '" child-', undefined, true);
        System.controlService("CONTROL_START", config);
    } else if (name == "CONTROL_STOP") {
        System.controlService("CONTROL_STOP", config);
    }
};
System.controlService("CONTROL_REGISTER", config);
mark((argv[2] || "") + (envp.NOTIFY_SOCKET === undefined ? "no-socket" : "socket"));
)");
    ASSERT_FALSE(app.empty());
    NotifySocket manager(dir_ + "/notify");
    ASSERT_TRUE(manager.bound());
    pid_t pid = child::start({app, dir_}, {"NOTIFY_SOCKET=" + dir_ + "/notify"}, dir_ + "/out");
    EXPECT_EQ(manager.next(), "READY=1");
    EXPECT_EQ(child::readFile(dir_ + "/child-no-socket"), "x");
    EXPECT_FALSE(child::exists(dir_ + "/child-CONTROL_START"));
    kill(pid, SIGTERM);
    EXPECT_EQ(manager.next(), "STOPPING=1");
    EXPECT_EQ(child::finish(pid), 0) << child::readFile(dir_ + "/out");
    EXPECT_EQ(manager.next(200), "") << "one READY=1 and one STOPPING=1 only";
}

TEST_F(Service, RegisterReturnsAtOnceOutsideAServiceManager) {
    std::string app = child::pack(dir_, kService);
    ASSERT_FALSE(app.empty());
    EXPECT_EQ(child::finish(child::start({app, dir_}, {"NOTIFY_SOCKET="}, dir_ + "/out")), 0);
    EXPECT_EQ(child::readFile(dir_ + "/registered"), "x");
    EXPECT_FALSE(child::exists(dir_ + "/CONTROL_START"));
}

TEST_F(Service, InstallStartStopUninstallThroughSystemctl) {
    std::string bin = dir_ + "/bin", units = dir_ + "/units";
    child::writeFile(bin + "/systemctl", kSystemctl, 0755);
    std::filesystem::create_directories(units);
    std::string exe = selfFolder() + "/capsule";
    std::string script = R"(
var cfg = {serviceName: "capsule-agent", commandLine: '"EXE" -service "a b" 100%$',
           displayName: "Capsule agent", description: "Watches\nthe power", onErrorRestartDelay: 1500};
function run(command, config) {
    try {
        return String(arguments.length < 2 ? System.controlService(command)
                                           : System.controlService(command, config));
    } catch (e) { return e.message; }
}
var results = [run("SERVICE_INSTALL", cfg), run("SERVICE_START", cfg), run("SERVICE_STOP", cfg),
               run("SERVICE_INSTALL", {serviceName: "x"}), run("service_install", cfg),
               run("SERVICE_START", {serviceName: "none"}), run("SERVICE_STOP", {serviceName: "none"}),
               run("SERVICE_UNINSTALL", {serviceName: "none"}), run("SERVICE_INSTALL", {}),
               run("SERVICE_START"), run("SERVICE_STOP", undefined), run("CONTROL_STOP", 1)];
System.print(results.join("|"));
)";
    size_t at = script.find("EXE");
    script.replace(at, 3, exe);
    std::vector<std::string> env = {"PATH=" + bin, "CAPSULE_UNIT_DIR=" + units};
    EXPECT_EQ(child::runScript(dir_, script, env),
              "true|true|true|undefined|undefined|false|true|false|undefined|"
              "Native function format error: System.controlService(<command>, <serviceConfig>)|"
              "System: serviceConfig is undefined|System: serviceConfig is not an object\n");
    std::string unit = child::readFile(units + "/capsule-agent.service");
    EXPECT_EQ(unit, "[Unit]\nDescription=Capsule agent\n# Watches the power\n\n"
                    "[Service]\nType=notify\nNotifyAccess=main\nExecStart=\"" +
                        exe +
                        "\" \"-service\" \"a b\" \"100%%$$\"\n"
                        "Restart=on-failure\nRestartSec=1500ms\n\n"
                        "[Install]\nWantedBy=multi-user.target\n");
    EXPECT_EQ(child::readFile(bin + "/systemctl.log"),
              "daemon-reload \nenable capsule-agent.service \n"
              "show --property=LoadState --value capsule-agent.service \n"
              "start capsule-agent.service \nis-active capsule-agent.service \n"
              "show --property=LoadState --value capsule-agent.service \n"
              "stop --no-block capsule-agent.service \nis-active capsule-agent.service \n"
              "show --property=LoadState --value none.service \n"
              "show --property=LoadState --value none.service \n");
    if (child::exists("/usr/bin/systemd-analyze")) {
        std::string out = dir_ + "/verify.out";
        int rc = child::finish(
            child::start({"/usr/bin/systemd-analyze", "verify", units + "/capsule-agent.service"},
                         {}, out),
            30000);
        EXPECT_EQ(rc, 0) << child::readFile(out);
    }
    // Reinstalled without a delay the restart settings stay; uninstalled, the file goes.
    script = R"(
var cfg = {serviceName: "capsule-agent", commandLine: "EXE", manualStart: 1};
System.print(System.controlService(argv[1] ? "SERVICE_UNINSTALL" : "SERVICE_INSTALL", cfg));
)";
    script.replace(script.find("EXE"), 3, exe);
    unlink((bin + "/systemctl.log").c_str());
    EXPECT_EQ(child::runScript(dir_, script, env), "true\n");
    unit = child::readFile(units + "/capsule-agent.service");
    EXPECT_NE(unit.find("ExecStart=\"" + exe + "\"\nRestart=on-failure\nRestartSec=1500ms\n"),
              std::string::npos)
        << unit;
    EXPECT_EQ(child::runScript(dir_, script, env, nullptr, "uninstall"), "true\n");
    EXPECT_EQ(child::runScript(dir_, script, env, nullptr, "uninstall"), "false\n");
    EXPECT_EQ(child::readFile(bin + "/systemctl.log"),
              "daemon-reload \ndisable capsule-agent.service \n"
              "disable capsule-agent.service \ndaemon-reload \n");
    EXPECT_FALSE(child::exists(units + "/capsule-agent.service"));
}

// A unit file holds what the script gave and no more: a carriage return (where systemd
// ends a line), a control character or a backslash at the end of a value adds no
// directive, and text that is no UTF-16 leaves the file UTF-8 (the command line keeps its
// bytes through \x escapes).
TEST_F(Service, UnitTextAddsNoDirectives) {
    std::string bin = dir_ + "/bin", units = dir_ + "/units";
    child::writeFile(bin + "/systemctl", kSystemctl, 0755);
    std::filesystem::create_directories(units);
    std::string script = R"(
System.print(System.controlService("SERVICE_INSTALL", {serviceName: "crlf",
    commandLine: "/bin/true\rExecStartPre=touch X\rUser=nobody\r# \u0001\uD800\u00e9",
    displayName: "Name\rUser=nobody\\", description: "Text\u000b\uDC00 end\\\\"}));
)";
    EXPECT_EQ(child::runScript(dir_, script, {"PATH=" + bin, "CAPSULE_UNIT_DIR=" + units}),
              "true\n");
    std::string unit = child::readFile(units + "/crlf.service");
    EXPECT_EQ(unit, "[Unit]\nDescription=Name User=nobody\\\\\n# Text \xef\xbf\xbd end\\\\\n\n"
                    "[Service]\nType=notify\nNotifyAccess=main\n"
                    "ExecStart=\"/bin/true\\rExecStartPre=touch\" "
                    "\"X\\rUser=nobody\\r#\" \"\\x01\\xed\\xa0\\x80\xc3\xa9\"\n\n"
                    "[Install]\nWantedBy=multi-user.target\n");
    if (child::exists("/usr/bin/systemd-analyze")) {
        std::string out = dir_ + "/verify.out";
        // systemd takes no control character in the program's name: the rest is checked
        // with a plain one.
        child::writeFile(bin + "/true", "#!/bin/sh\n", 0755);
        std::string fixed = unit, first = "/bin/true\\rExecStartPre=touch";
        fixed.replace(fixed.find(first), first.size(), bin + "/true");
        child::writeFile(units + "/crlf.service", fixed);
        int rc = child::finish(
            child::start({"/usr/bin/systemd-analyze", "verify", units + "/crlf.service"}, {}, out),
            30000);
        EXPECT_EQ(rc, 0) << child::readFile(out);
    }
}

TEST_F(Service, WithoutSystemctlTheManagerCannotBeOpened) {
    std::string script = R"(
var r = [];
["SERVICE_INSTALL", "SERVICE_UNINSTALL", "SERVICE_START", "SERVICE_STOP"].forEach(function (c) {
    try { r.push(System.controlService(c, {serviceName: "a"})); } catch (e) { r.push(e.message); }
});
r.push(String(System.controlService("CONTROL_REGISTER", {})));
System.print(r.join("|"));
)";
    std::string m = "Unable to open Service Control Manager";
    EXPECT_EQ(child::runScript(dir_, script, {"PATH=" + dir_, "CAPSULE_UNIT_DIR=" + dir_}),
              m + "|" + m + "|" + m + "|" + m + "|undefined\n");
}
