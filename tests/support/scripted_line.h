// A pseudo-terminal whose far end plays a board up to a chosen point of a
// transfer: it answers the logon and the service request, takes the upload or
// sends part of the download frame, and there either closes its end (the
// device goes away) or goes on slowly, so the transfer is still running when
// the test acts. The near end is held open here too, as a serial device
// stays there after a program lets go of it, so its line settings and
// exclusive-use flag can be checked afterwards (helpers at the end).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace qm730::test {

class ScriptedLine {
public:
    enum class Point { Logon, Upload, Frame };
    enum class Then { HangUp, GoOnSlowly };

    // At the logon the far end acts on the first CR. In an upload it acts
    // once it has taken `bytes` bytes of blocks; in a download once the
    // program has read `bytes` bytes of the frame.
    ScriptedLine(Point point, Then then, std::size_t bytes = 0) : point_(point), then_(then), bytes_(bytes) {
        char name[128];
        if (::openpty(&far_, &near_, name, nullptr, nullptr) != 0)
            throw std::system_error(errno, std::generic_category(), "openpty");
        path_ = name;
        for (int fd : {far_, near_}) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);  // a program started meanwhile must not keep the far end alive
            termios tio{};
            ::tcgetattr(fd, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(fd, TCSANOW, &tio);
        }
        ::fcntl(far_, F_SETFL, ::fcntl(far_, F_GETFL) | O_NONBLOCK);
        if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::system_error(errno, std::generic_category());
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedLine() {
        [[maybe_unused]] const ssize_t ignored = ::write(wake_[1], "x", 1);
        thread_.join();
        for (int fd : {far_, near_, wake_[0], wake_[1]})
            if (fd >= 0) ::close(fd);
    }
    ScriptedLine(const ScriptedLine&) = delete;
    ScriptedLine& operator=(const ScriptedLine&) = delete;

    const std::string& path() const { return path_; }
    int nearEnd() const { return near_; }

    // True once the point is reached and the far end has acted on it.
    bool waitUntilReached(std::chrono::seconds guard = std::chrono::seconds(30)) {
        std::unique_lock lock(mutex_);
        return reached_changed_.wait_for(lock, guard, [this] { return reached_; });
    }

private:
    void reach() {
        if (then_ == Then::HangUp) {
            ::close(far_);
            far_ = -1;
        }
        std::lock_guard lock(mutex_);
        reached_ = true;
        reached_changed_.notify_all();
    }

    bool stopping(int waitMs, bool readable) {
        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {far_, POLLIN, 0}};
        const int count = readable && far_ >= 0 ? 2 : 1;
        ::poll(fds, count, waitMs);
        return (fds[0].revents & POLLIN) != 0;
    }

    void send(const std::vector<std::uint8_t>& data) {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const ssize_t n = ::write(far_, data.data() + sent, data.size() - sent);
            if (n > 0) sent += static_cast<std::size_t>(n);
            else if (stopping(1, false)) return;  // nobody reads any more
        }
    }

    // Bytes the program has not yet read from its end.
    std::size_t unreadAtNearEnd() const {
        int waiting = 0;
        ::ioctl(near_, FIONREAD, &waiting);
        return static_cast<std::size_t>(waiting);
    }

    // The bytes reach the near end a moment after they were written; once
    // they are there, wait until the program has read them all.
    void waitUntilTaken() {
        const auto start = std::chrono::steady_clock::now();
        bool arrived = false;
        while (!stopping(1, false)) {
            const std::size_t unread = unreadAtNearEnd();
            arrived = arrived || unread > 0 ||
                      std::chrono::steady_clock::now() - start > std::chrono::milliseconds(200);
            if (arrived && unread == 0) return;
        }
    }

    void serve() {
        std::vector<std::uint8_t> request;
        std::size_t uploaded = 0;
        bool uploading = false, sendingFrame = false, done = false;
        std::size_t frameSent = 0;
        while (!stopping(done && !uploading ? 100 : 10, !sendingFrame)) {
            if (far_ < 0) continue;
            if (sendingFrame) {  // the rest of the frame, a little at a time
                send(std::vector<std::uint8_t>(20, 0));
                frameSent += 20;
                if (frameSent >= 8800) sendingFrame = false;
                continue;
            }
            std::uint8_t buffer[256];
            // Slowly, once the point is passed: a board at line speed.
            const ssize_t got = ::read(far_, buffer, done ? 200 : sizeof buffer);
            if (got <= 0) continue;
            if (uploading) {
                uploaded += static_cast<std::size_t>(got);
                if (!done && uploaded >= bytes_) {
                    done = true;
                    reach();
                }
                if (done) ::usleep(100000);
                continue;
            }
            for (ssize_t i = 0; i < got && far_ >= 0 && !done; ++i) {
                request.push_back(buffer[i]);
                if (buffer[i] != '\r') continue;
                const std::string text(request.begin(), request.end());
                request.clear();
                if (text == "\r") {
                    if (point_ == Point::Logon) {
                        done = true;
                        reach();
                    } else {
                        send({'I', 'D', '=', '\r'});
                    }
                } else if (text == "\x1bPG2\r" && point_ == Point::Upload) {
                    send({0x06, '\r', 0x1B, '[', 'p', '\r'});
                    uploading = true;
                } else if (text == "\x1bPG3\r" && point_ == Point::Frame) {
                    send(std::vector<std::uint8_t>(bytes_, 0));
                    waitUntilTaken();
                    done = true;
                    reach();
                    sendingFrame = far_ >= 0;
                    frameSent = bytes_;
                }
            }
        }
    }

    Point point_;
    Then then_;
    std::size_t bytes_;
    int far_ = -1;
    int near_ = -1;
    int wake_[2] = {-1, -1};
    std::string path_;
    std::mutex mutex_;
    std::condition_variable reached_changed_;
    bool reached_ = false;
    std::thread thread_;
};

// Settings a device might have before the program opens it: slow, with line
// editing and newline translation on, unlike the board's raw line.
inline termios operatorSettings(int fd) {
    termios tio{};
    ::tcgetattr(fd, &tio);
    tio.c_iflag |= ICRNL | IXON;
    tio.c_oflag |= OPOST | ONLCR;
    tio.c_lflag |= ICANON | ISIG;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    ::cfsetispeed(&tio, B2400);
    ::cfsetospeed(&tio, B2400);
    return tio;
}

inline bool sameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           ::cfgetospeed(&a) == ::cfgetospeed(&b);
}

inline int exclusiveFlag(int fd) {
    int flag = -1;
    ::ioctl(fd, TIOCGEXCL, &flag);
    return flag;
}

}  // namespace qm730::test
