// Console events after System.openConsole, with a packed application as a real process:
// hangup and terminate end it once System.control has returned (at once without one,
// after the grace time when it never returns); interrupt and quit only call it.
#include <gtest/gtest.h>

#include "tests/unit/process_support.h"

namespace {

// argv[1]: the folder for its marks; argv[2]: which System.control it sets.
const char kApp[] = R"(
var dir = argv[1], variant = argv[2];
function mark(name) { var f = new File(dir + "/" + name, "ab"); f.write("x"); f.close(); }
System.openConsole();
if (variant == "control") System.control = function (n) { mark(n); };
if (variant == "hang") System.control = function (n) { mark(n); for (;;) System.sleep(1000); };
mark("ready");
for (var i = 0; i < 600; i++) System.sleep(50);
mark("timeout");
)";

class ConsoleEvents : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = child::scratch("console_events_test");
        app_ = child::pack(dir_, kApp);
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }

    // Starts the application and waits until it has opened the console.
    pid_t launch(const std::string& variant) {
        std::string marks = dir_ + "/" + variant;
        std::filesystem::remove_all(marks);
        std::filesystem::create_directories(marks);
        pid_t pid = child::start({app_, marks, variant}, {}, marks + ".out");
        EXPECT_TRUE(child::waitUntil([&] { return child::exists(marks + "/ready"); }));
        return pid;
    }
    std::string marks(const std::string& variant, const char* name) {
        return child::readFile(dir_ + "/" + variant + "/" + name);
    }
    static std::string dir_, app_;
};
std::string ConsoleEvents::dir_, ConsoleEvents::app_;

} // namespace

TEST_F(ConsoleEvents, CloseEventsEndTheProcessAfterTheHandler) {
    ASSERT_FALSE(app_.empty());
    struct Case {
        const char* variant;
        int sig;
    } cases[] = {{"none", SIGTERM}, {"none", SIGHUP}, {"control", SIGTERM}, {"control", SIGHUP}};
    for (const Case& c : cases) {
        pid_t pid = launch(c.variant);
        kill(pid, c.sig);
        EXPECT_EQ(child::finish(pid, 3000), 128 + c.sig) << c.variant << " " << c.sig;
        if (std::string(c.variant) == "control") {
            EXPECT_EQ(marks(c.variant, "CONTROL_STOP"), "x") << "the handler ran once";
        }
    }
}

TEST_F(ConsoleEvents, InterruptAndQuitOnlyCallControl) {
    ASSERT_FALSE(app_.empty());
    pid_t pid = launch("control");
    kill(pid, SIGINT);
    kill(pid, SIGQUIT);
    EXPECT_TRUE(child::waitUntil([&] { return marks("control", "CONTROL_STOP") == "xx"; }));
    EXPECT_EQ(child::finish(pid, 300), -1) << "still running after interrupt and quit";
}

TEST_F(ConsoleEvents, AHandlerThatNeverReturnsGetsABoundedGraceTime) {
    ASSERT_FALSE(app_.empty());
    pid_t pid = launch("hang");
    long long sent = child::nowMs();
    kill(pid, SIGTERM);
    EXPECT_EQ(child::finish(pid, 10000), 128 + SIGTERM);
    long long took = child::nowMs() - sent;
    EXPECT_EQ(marks("hang", "CONTROL_STOP"), "x");
    EXPECT_GE(took, 4500) << "ended before the grace time";
    EXPECT_LT(took, 8000);
}
