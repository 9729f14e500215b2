// qm730sim as an operator runs it: its start-up checks, and a send followed at
// once by a read against the paced board.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/config/configfile.h"
#include "run_ctl.h"
#include "tempdir.h"

using namespace qm730;
using namespace qm730::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// The simulator in a child process; its output is read from a pipe, its
// messages go to a file. It is stopped when the object goes.
class SimProcess {
public:
    SimProcess(const std::vector<std::string>& args, const std::string& errFile) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(err, 2);
            std::vector<char*> argv{const_cast<char*>(QM730SIM_PATH)};
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(QM730SIM_PATH, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
    }
    ~SimProcess() {
        if (pid_ > 0 && !ended_) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }

    // The first line it prints (the device to use), or "" when it printed
    // none within the limit.
    std::string firstLine(std::chrono::milliseconds limit) {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        char c = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd entry{out_, POLLIN, 0};
            if (::poll(&entry, 1, 100) <= 0) continue;
            if (::read(out_, &c, 1) != 1) return "";
            if (c == '\n') return line;
            line += c;
        }
        return "";
    }

    // Its exit status once it has ended by itself; -1 when it was still
    // running at the limit.
    int exitStatus(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                ended_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            ::usleep(10000);
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool ended_ = false;
};

ConfigImage patternImage(int seed) {
    ConfigImage image;
    for (std::size_t i = 0; i < kImageSize; ++i) image[i] = static_cast<std::uint8_t>(i * 13 + seed + (i >> 8));
    return image;
}

void copy(const ConfigImage& from, ConfigImage& to, std::size_t offset, std::size_t length) {
    std::memcpy(to.data() + offset, from.data() + offset, length);
}

// `base` with what an upload of `sent` carries.
ConfigImage afterUpload(ConfigImage base, const ConfigImage& sent) {
    copy(sent, base, 0, 96);
    for (std::size_t k = 0; k < 999; ++k) copy(sent, base, capcodeSlotOffset(k), 22);
    copy(sent, base, alarmRecordOffset(0), 7 * 64);
    for (std::size_t m = 0; m < 100; ++m) copy(sent, base, messageSlotOffset(m), 60);
    return base;
}

// `base` with what a download of `onBoard` carries.
ConfigImage afterDownload(ConfigImage base, const ConfigImage& onBoard) {
    copy(onBoard, base, 0, 96);
    for (std::size_t k = 0; k < 99; ++k) copy(onBoard, base, capcodeSlotOffset(k), 22);
    for (std::size_t k = 99; k < 800; k += 100) copy(onBoard, base, capcodeSlotOffset(k), 22);
    copy(onBoard, base, alarmRecordOffset(0), 7 * 64);
    for (std::size_t m = 0; m < 99; ++m) copy(onBoard, base, messageSlotOffset(m), 60);
    return base;
}

std::string imageBytes(const ConfigImage& image) { return std::string(image.data(), image.data() + kImageSize); }

class Qm730sim : public ::testing::Test {
protected:
    std::string file(const char* name) const { return dir_.file(name); }
    TempDir dir_;
};

}  // namespace

TEST_F(Qm730sim, RefusesBadFilesAndCountsAtStartWithStatus2) {
    ASSERT_TRUE(saveTableFile(file("good.tbl"), defaultImage()).ok());
    std::ofstream(file("short.tbl"), std::ios::binary) << std::string(100, 'x');
    std::ofstream(file("long.tbl"), std::ios::binary) << std::string(kImageSize + 1, 'x');
    fs::create_directory(file("folder"));
    ASSERT_EQ(::mkfifo(file("pipe.tbl").c_str(), 0644), 0);
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--load", file("short.tbl")}, "is 100 bytes; a table file is exactly 40959 bytes"},
        {{"--load", file("long.tbl")}, "is 40960 bytes; a table file is exactly 40959 bytes"},
        {{"--load", file("missing.tbl")}, "cannot load '" + file("missing.tbl") + "': No such file or directory"},
        {{"--load", file("folder")}, "it is a folder"},
        {{"--load", file("pipe.tbl")}, "it is a pipe, not a file"},
        {{"--stop-after", "-1"}, "--stop-after takes a byte count from 0 to 8846, not '-1'"},
        {{"--stop-after", "18446744073709551617"}, "not '18446744073709551617'"},
        {{"--stop-after", "8847"}, "not '8847'"},
        {{"--stop-after", "12k"}, "not '12k'"},
        {{"--stop-after", ""}, "not ''"},
        {{"--stop-after"}, "unknown or incomplete option '--stop-after'"},
        {{"--save", file("folder")}, "cannot save to '" + file("folder") + "': it is a folder"},
        {{"--save", file("no-folder/board.tbl")}, "folder '" + file("no-folder") + "': No such file or directory"},
        {{"--save", ""}, "--save needs a file name"},
        {{"--load", file("good.tbl"), "--save", "/dev/null"}, "it is a device, not a file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + (c.args.size() > 1 ? c.args.back() : ""));
        SimProcess sim(c.args, file("sim.err"));
        EXPECT_EQ(sim.firstLine(5s), "") << "it started";
        EXPECT_EQ(sim.exitStatus(5s), 2);
        EXPECT_NE(fileText(file("sim.err")).find(c.message), std::string::npos) << fileText(file("sim.err"));
    }
}

TEST_F(Qm730sim, StartsWithAWholeFileAndCountsAtTheLimits) {
    ASSERT_TRUE(saveTableFile(file("good.tbl"), defaultImage()).ok());
    for (const char* count : {"0", "8846"}) {
        SimProcess sim({"--load", file("good.tbl"), "--save", file("new.tbl"), "--stop-after", count}, file("sim.err"));
        EXPECT_EQ(sim.firstLine(10s).rfind("/dev/", 0), 0u) << fileText(file("sim.err"));
    }
}

// A pseudo-terminal reports a program's output as sent at once, so
// qm730ctl send ends long before the paced board has the upload, and the
// read that follows discards its output buffer as it starts.
TEST_F(Qm730sim, SendThenReadAtOnceGivesBackWhatWasSent) {
    const ConfigImage base = patternImage(11), sent = patternImage(57);
    ASSERT_TRUE(saveTableFile(file("base.tbl"), base).ok());
    ASSERT_TRUE(saveTableFile(file("sent.tbl"), sent).ok());
    SimProcess sim({"--pace", "--load", file("base.tbl"), "--save", file("board.tbl")}, file("sim.err"));
    const std::string port = sim.firstLine(10s);
    ASSERT_FALSE(port.empty()) << fileText(file("sim.err"));

    const std::string folder = dir_.path().string();
    const CtlRun send = runQm730ctl(folder, "send --port " + port + " " + file("sent.tbl"), 60);
    ASSERT_EQ(send.status, 0) << send.err;
    const CtlRun read = runQm730ctl(folder, "read --port " + port + " --base " + file("base.tbl") + " " + file("read.tbl"), 60);
    EXPECT_EQ(read.status, 0) << read.err << fileText(file("sim.err"));
    EXPECT_TRUE(fileText(file("read.tbl")) == imageBytes(afterDownload(base, sent))) << fileText(file("sim.err"));
    EXPECT_TRUE(fileText(file("board.tbl")) == imageBytes(afterUpload(base, sent))) << fileText(file("sim.err"));
}
