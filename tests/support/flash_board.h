// A board's flash loader on a real pseudo-terminal, written from the board's
// side of the line: it takes request frames apart, checks them, keeps its own
// flash and answers with replies and data frames, or misbehaves as scripted.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qm730::test {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// LostByte: one data byte missing, the frame still long enough to hold a block.
enum class DataFault { None, Short, Overlong, LoneEscape, BadEscape, LostByte };

struct BoardScript {
    bool silent = false;            // answers nothing at all
    bool refuseCheck = false;
    bool silentAfterCheck = false;  // answers the check, then nothing
    std::uint32_t refuseErase = 0;  // the erase address refused, 0 for none
    bool strayAcceptAfterFirstErase = false;  // a spare "accepted" reply left on the line
    int refuseWriteBlock = -1;
    int corruptReadBlock = -1;      // one byte differs in this block's read-back:
    std::size_t corruptReadByte = 1000;  // this one, 0 to 2047
    int faultBlock = -1;
    DataFault fault = DataFault::None;
    bool endBytesInDataFrameHead = false;  // lone 03s among a data frame's first 15 bytes
    bool hangUpOnFirstWrite = false;       // the device goes away instead of replying
    int lateReadBlock = -1;  // this block's data frame starts lateReadBy after its request
    std::chrono::milliseconds lateReadBy{0};
    // The presence probe.
    int probesUnanswered = 0;  // probes that get no answer before the first answer
    std::uint8_t probeAnswer = 0x06;
    bool hangUpOnProbe = false;
    Bytes onLineAtStart;  // bytes waiting on the line before the program opens it
    Bytes flashAtStart;   // 131072 bytes the flash holds at first (default: all 00)
};

struct ReceivedFrame {
    std::uint8_t htag = 0;
    std::uint8_t command = 0;
    std::uint32_t address = 0;
    std::uint16_t count = 0;
    Bytes data;
    bool sound = false;  // start, length, complements, key and checksum all right
    Clock::time_point at;         // when its end byte arrived
    Clock::time_point answeredAt; // when the answer went out
};

class FlashBoard {
public:
    explicit FlashBoard(BoardScript script) : script_(std::move(script)), flash_(0x20000, 0x00) {
        if (script_.flashAtStart.size() == flash_.size()) flash_ = script_.flashAtStart;
        char name[128];
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
        path_ = name;
        // A program the test starts must not inherit the board's side of the
        // line: a copy of it would keep the line up when the board hangs up.
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
        termios tio{};
        ::tcgetattr(slave_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(slave_, TCSANOW, &tio);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        if (!script_.onLineAtStart.empty()) {
            send(script_.onLineAtStart);
            pollfd entry{slave_, POLLIN, 0};
            ::poll(&entry, 1, 2000);  // the bytes reach the other side asynchronously
        }
        thread_ = std::thread([this] { serve(); });
    }
    ~FlashBoard() {
        stop_ = true;
        thread_.join();
        if (master_ >= 0) ::close(master_);
        ::close(slave_);
    }
    FlashBoard(const FlashBoard&) = delete;
    FlashBoard& operator=(const FlashBoard&) = delete;

    const std::string& port() const { return path_; }
    std::vector<ReceivedFrame> frames() {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    Bytes flash() {
        std::lock_guard lock(mutex_);
        return flash_;
    }
    int probes() const { return probes_; }
    // When each probe byte arrived.
    std::vector<Clock::time_point> probeTimes() {
        std::lock_guard lock(mutex_);
        return probeTimes_;
    }

private:
    void serve() {
        Bytes frame;
        bool inFrame = false;
        while (!stop_ && master_ >= 0) {
            pollfd entry{master_, POLLIN, 0};
            if (::poll(&entry, 1, 10) <= 0) continue;
            std::uint8_t buffer[4096];
            const ssize_t got = ::read(master_, buffer, sizeof buffer);
            if (got <= 0) continue;  // EIO while the program has the port closed
            for (ssize_t i = 0; i < got && master_ >= 0; ++i) {
                const std::uint8_t byte = buffer[i];
                if (!inFrame) {
                    if (byte == 0x0E) probe();
                    if (byte == 0x02) {
                        inFrame = true;
                        frame.assign(1, byte);
                    }
                    continue;
                }
                if (byte != 0x03) {
                    frame.push_back(byte);
                    continue;
                }
                inFrame = false;
                handle(frame);
            }
        }
    }

    void hangUp() {
        ::close(master_);
        master_ = -1;
    }

    void probe() {
        {
            std::lock_guard lock(mutex_);
            probeTimes_.push_back(Clock::now());
        }
        const int number = ++probes_;
        if (script_.hangUpOnProbe) return hangUp();
        if (number <= script_.probesUnanswered) return;
        send({script_.probeAnswer});
    }

    static Bytes unstuff(const Bytes& stuffed) {
        Bytes plain;
        for (std::size_t i = 0; i < stuffed.size(); ++i)
            plain.push_back(stuffed[i] == 0x1B && i + 1 < stuffed.size() ? static_cast<std::uint8_t>(~stuffed[++i])
                                                                         : stuffed[i]);
        return plain;
    }

    static Bytes stuff(const Bytes& plain) {
        Bytes stuffed;
        for (std::uint8_t byte : plain) {
            if (byte == 0x03 || byte == 0x1B) {
                stuffed.push_back(0x1B);
                stuffed.push_back(static_cast<std::uint8_t>(~byte));
            } else {
                stuffed.push_back(byte);
            }
        }
        return stuffed;
    }

    static std::uint32_t field(const Bytes& f, std::size_t at, int size) {
        std::uint32_t value = 0;
        for (int i = size - 1; i >= 0; --i) value = value << 8 | f[at + static_cast<std::size_t>(i)];
        return value;
    }

    static ReceivedFrame takeApart(const Bytes& stuffed) {
        const Bytes f = unstuff(stuffed);
        ReceivedFrame r;
        r.at = Clock::now();
        if (f.size() < 26) return r;
        r.htag = f[1];
        r.command = f[4];
        r.address = field(f, 16, 3);
        r.count = static_cast<std::uint16_t>(field(f, 22, 2));
        const std::size_t dataSize = r.command == 0x11 ? r.count : 0;
        if (f.size() != 26 + dataSize) return r;
        r.data.assign(f.begin() + 24, f.begin() + 24 + static_cast<long>(dataSize));
        unsigned sum = 0;
        for (std::size_t i = 0; i + 2 < f.size(); ++i) sum += f[i];
        const std::string key(f.begin() + 6, f.begin() + 16);
        r.sound = f[0] == 0x02 && field(f, 2, 2) == r.count + 10u && f[5] == static_cast<std::uint8_t>(~f[4]) &&
                  key == "VolmarKine" && field(f, 19, 3) == (~r.address & 0xFFFFFF) &&
                  field(f, f.size() - 2, 2) == (sum & 0xFFFF);
        return r;
    }

    void handle(const Bytes& stuffed) {
        ReceivedFrame r = takeApart(stuffed);
        const int block = r.address >= 0xD0000 ? static_cast<int>((r.address - 0xD0000) / 2048) : -1;
        const std::size_t offset = r.address >= 0xD0000 ? r.address - 0xD0000 : 0;
        const bool first = frames_.empty();
        bool accept = r.sound;
        bool answer = !script_.silent && (!script_.silentAfterCheck || first);
        Bytes dataFrame;
        {
            std::lock_guard lock(mutex_);
            switch (r.command) {
                case 0x18: accept = accept && !script_.refuseCheck; break;
                case 0x10:
                    accept = accept && r.address != script_.refuseErase && (offset == 0 || offset == 0x10000);
                    if (accept) std::fill_n(flash_.begin() + static_cast<long>(offset), 0x10000, 0xFF);
                    break;
                case 0x11:
                    if (script_.hangUpOnFirstWrite) {
                        frames_.push_back(r);
                        return hangUp();
                    }
                    accept = accept && block != script_.refuseWriteBlock && offset + r.count <= flash_.size();
                    if (accept) std::copy(r.data.begin(), r.data.end(), flash_.begin() + static_cast<long>(offset));
                    break;
                case 0x12: dataFrame = readBack(r, block, offset); break;
                default: accept = false;
            }
            r.answeredAt = Clock::now();
            frames_.push_back(r);
        }
        if (!answer) return;
        if (r.command == 0x12 && block == script_.lateReadBlock) {
            pause(script_.lateReadBy);
            std::lock_guard lock(mutex_);
            frames_.back().answeredAt = Clock::now();
        }
        if (r.command == 0x12) return send(dataFrame);
        // Only byte 1 carries the answer; the others hold the opposite on purpose.
        send(accept ? Bytes{0x15, 0x06, 0x15, 0x15} : Bytes{0x06, 0x15, 0x06, 0x06});
        if (r.command == 0x10 && script_.strayAcceptAfterFirstErase && r.address == 0xD0000)
            send({0x00, 0x06, 0x00, 0x00});
    }

    Bytes readBack(const ReceivedFrame& r, int block, std::size_t offset) {
        const std::uint32_t a = r.address, na = ~r.address & 0xFFFFFF;
        Bytes plain{0x02, r.htag, 0x0A, 0x08, 0x12, 0xED, static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(a >> 8),
                    static_cast<std::uint8_t>(a >> 16), static_cast<std::uint8_t>(na), static_cast<std::uint8_t>(na >> 8),
                    static_cast<std::uint8_t>(na >> 16), 0x00, 0x08};
        if (offset + 2048 <= flash_.size())
            plain.insert(plain.end(), flash_.begin() + static_cast<long>(offset),
                         flash_.begin() + static_cast<long>(offset + 2048));
        if (block == script_.corruptReadBlock) plain[14 + script_.corruptReadByte] ^= 0x01;
        unsigned sum = 0;
        for (std::uint8_t byte : plain) sum += byte;
        plain.push_back(static_cast<std::uint8_t>(sum));
        plain.push_back(static_cast<std::uint8_t>(sum >> 8));
        const DataFault fault = block == script_.faultBlock ? script_.fault : DataFault::None;
        if (fault == DataFault::Short) plain.resize(14 + 2047);
        if (fault == DataFault::LostByte) plain.erase(plain.begin() + 14 + 1000);
        if (fault == DataFault::Overlong) plain.resize(14 + 10000, 0x55);
        Bytes wire = stuff(plain);
        if (fault == DataFault::LoneEscape) wire.push_back(0x1B);
        if (fault == DataFault::BadEscape) wire.insert(wire.begin() + 600, {0x1B, 0x00});
        if (script_.endBytesInDataFrameHead) {
            // One before any byte, one after 14: the most bytes a lone 03 is dropped after.
            wire.insert(wire.begin() + 14, 0x03);
            wire.insert(wire.begin(), 0x03);
        }
        wire.push_back(0x03);
        return wire;
    }

    // A pause that a board shutting down does not sit out.
    void pause(std::chrono::milliseconds time) {
        const auto until = Clock::now() + time;
        while (!stop_ && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    // Writes without blocking for ever: a program that has stopped reading
    // must not keep the board from shutting down.
    void send(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size() && !stop_ && master_ >= 0) {
            const ssize_t put = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (put > 0) {
                done += static_cast<std::size_t>(put);
                continue;
            }
            pollfd entry{master_, POLLOUT, 0};
            ::poll(&entry, 1, 10);
        }
    }

    BoardScript script_;
    int master_ = -1;
    int slave_ = -1;  // held open so the line stays up between the program's opens
    std::string path_;
    std::mutex mutex_;
    std::vector<ReceivedFrame> frames_;
    Bytes flash_;
    std::atomic<int> probes_{0};
    std::vector<Clock::time_point> probeTimes_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace qm730::test
