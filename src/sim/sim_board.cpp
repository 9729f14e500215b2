#include "sim/sim_board.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

#include "config/configfile.h"

namespace qm730::sim {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// One byte at 19200 baud with start bit, 8 data bits and two stop bits.
constexpr std::chrono::nanoseconds kByteTime{11'000'000'000 / 19200};
// A UART hands bytes over in FIFO-sized pieces.
constexpr std::size_t kPacedChunk = 16;
// An upload that goes quiet this long has been given up by the program.
constexpr auto kUploadSilence = 5s;
constexpr auto kIdlePoll = 250ms;

constexpr std::uint8_t kCr = 0x0D, kEsc = 0x1B, kAck = 0x06, kNak = 0x15;
const std::vector<std::uint8_t> kLogonAnswer = {'I', 'D', '=', kCr};
const std::vector<std::uint8_t> kWrongLogonAnswer = {'I', 'X', '=', kCr};
const std::vector<std::uint8_t> kGoAhead = {kAck, kCr, kEsc, '[', 'p', kCr};
const std::vector<std::uint8_t> kRefusal = {kNak, kCr};
const std::vector<std::uint8_t> kUploadRequest = {kEsc, 'P', 'G', '2'};
const std::vector<std::uint8_t> kDownloadRequest = {kEsc, 'P', 'G', '3'};
constexpr std::size_t kLongestCommand = 64;

struct Stopped {};

}  // namespace

// The master side of the line, paced like a 19200 baud UART when asked.
class SimBoard::Line {
public:
    Line(int fd, int wakeFd, bool pace) : fd_(fd), wake_(wakeFd), pace_(pace) {}

    // Bytes read, or 0 when nothing came within the idle time.
    std::size_t receive(std::uint8_t* data, std::size_t capacity) {
        if (pace_) {
            std::this_thread::sleep_until(inputFreeAt_);
            capacity = std::min(capacity, kPacedChunk);
        }
        if (!waitFor(POLLIN, kIdlePoll)) return 0;
        const ssize_t got = ::read(fd_, data, capacity);
        if (got <= 0) return 0;
        if (pace_) inputFreeAt_ = std::max(inputFreeAt_, Clock::now()) + kByteTime * got;
        return static_cast<std::size_t>(got);
    }

    void send(const std::uint8_t* data, std::size_t count) {
        while (count > 0) {
            const std::size_t chunk = pace_ ? std::min(count, kPacedChunk) : count;
            if (pace_) {
                // The chunk reaches the program once its last bit is on the wire.
                outputFreeAt_ = std::max(outputFreeAt_, Clock::now()) + kByteTime * chunk;
                std::this_thread::sleep_until(outputFreeAt_);
            }
            writeAll(data, chunk);
            data += chunk;
            count -= chunk;
        }
    }

private:
    void writeAll(const std::uint8_t* data, std::size_t count) {
        while (count > 0) {
            const ssize_t put = ::write(fd_, data, count);
            if (put > 0) {
                data += put;
                count -= static_cast<std::size_t>(put);
            } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
                throw std::system_error(errno, std::generic_category(), "write to line");
            } else {
                waitFor(POLLOUT, kIdlePoll);
            }
        }
    }

    // False on time-out; throws Stopped when the board is told to stop.
    bool waitFor(short events, std::chrono::milliseconds timeout) {
        pollfd fds[2] = {{fd_, events, 0}, {wake_, POLLIN, 0}};
        const int ready = ::poll(fds, 2, static_cast<int>(timeout.count()));
        if (ready < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "poll");
        if (ready > 0 && fds[1].revents) throw Stopped{};
        return ready > 0 && (fds[0].revents & events);
    }

    int fd_;
    int wake_;
    bool pace_;
    Clock::time_point inputFreeAt_{};
    Clock::time_point outputFreeAt_{};
};

SimBoard::SimBoard(SimOptions options, const ConfigImage& image, std::ostream& log)
    : options_(std::move(options)), log_(log), image_(image) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
}

SimBoard::~SimBoard() {
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void SimBoard::stop() {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite_, &byte, 1);  // safe in a signal handler
}

ConfigImage SimBoard::image() const {
    std::lock_guard lock(mutex_);
    return image_;
}

SimStats SimBoard::stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

bool SimBoard::waitForUploads(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout,
                             [&] { return stats_.uploadsApplied + stats_.uploadsRejected >= count; });
}

void SimBoard::serve(int lineFd) {
    Line line(lineFd, wakeRead_, options_.pace);
    std::uint8_t buffer[4096];
    try {
        for (;;) {
            const std::size_t got = line.receive(buffer, sizeof buffer);
            if (options_.silent) continue;
            if (got == 0) {
                if (mode_ == Mode::Upload && Clock::now() - lastUploadByte_ > kUploadSilence) {
                    log_ << "qm730sim: upload abandoned after " << decoder_->stream().size() << " bytes\n";
                    finishUpload();
                }
                continue;
            }
            for (std::size_t i = 0; i < got; ++i) {
                if (mode_ == Mode::Upload) onUploadByte(line, buffer[i]);
                else onCommandByte(line, buffer[i]);
            }
        }
    } catch (const Stopped&) {
    }
}

void SimBoard::onCommandByte(Line& line, std::uint8_t byte) {
    if (byte != kCr) {
        if (command_.size() == kLongestCommand) command_.erase(command_.begin());
        command_.push_back(byte);
        return;
    }
    const std::vector<std::uint8_t> command = std::exchange(command_, {});
    if (command.empty()) {
        {
            std::lock_guard lock(mutex_);
            ++stats_.logons;
        }
        loggedOn_ = true;
        const auto& answer = options_.wrongAnswer ? kWrongLogonAnswer : kLogonAnswer;
        line.send(answer.data(), answer.size());
        return;
    }
    const bool wasLoggedOn = std::exchange(loggedOn_, false);
    if (command != kUploadRequest && command != kDownloadRequest) {
        log_ << "qm730sim: unknown request of " << command.size() << " bytes ignored\n";
        return;
    }
    if (!wasLoggedOn) {
        log_ << "qm730sim: service request without logon ignored\n";
        return;
    }
    if (command == kDownloadRequest) {
        sendFrame(line);
        return;
    }
    if (options_.refuse) {
        line.send(kRefusal.data(), kRefusal.size());
        return;
    }
    line.send(kGoAhead.data(), kGoAhead.size());
    mode_ = Mode::Upload;
    decoder_.emplace();
    uploadDamaged_ = false;
    uploadLineBytes_ = 0;
    lastUploadByte_ = Clock::now();
}

void SimBoard::onUploadByte(Line& line, std::uint8_t byte) {
    lastUploadByte_ = Clock::now();
    ++uploadLineBytes_;
    if (byte == kCr && decoder_->idle()) {
        // A CR between blocks is a new logon: the program gave up this upload.
        log_ << "qm730sim: upload broken off after " << decoder_->stream().size() << " bytes\n";
        finishUpload();
        onCommandByte(line, byte);
        return;
    }
    switch (decoder_->feed(byte)) {
        case BlockDecoder::Event::None: return;
        case BlockDecoder::Event::Stray:
        case BlockDecoder::Event::BlockMalformed: {
            std::lock_guard lock(mutex_);
            ++stats_.malformedBlocks;
            uploadDamaged_ = true;
            log_ << "qm730sim: malformed block after block " << decoder_->blocks() << ": " << decoder_->lastProblem()
                 << "\n";
            return;
        }
        case BlockDecoder::Event::BlockDone:
            if (decoder_->stream().size() >= kStreamLength) finishUpload();
            return;
    }
}

void SimBoard::finishUpload() {
    mode_ = Mode::Command;
    const bool complete = decoder_->stream().size() >= kStreamLength;
    std::unique_lock lock(mutex_);
    if (!complete || uploadDamaged_) {
        ++stats_.uploadsRejected;
        log_ << "qm730sim: upload rejected\n";
    } else {
        applyUploadStream(decoder_->stream(), image_);
        ++stats_.uploadsApplied;
        log_ << "qm730sim: upload applied, " << decoder_->blocks() << " blocks, " << uploadLineBytes_
             << " line bytes\n";
        if (!options_.saveFile.empty()) {
            const FileResult saved = saveTableFile(options_.saveFile, image_);
            if (!saved.ok()) log_ << "qm730sim: cannot save " << options_.saveFile << ": " << saved.reason << "\n";
        }
    }
    log_.flush();
    lock.unlock();
    changed_.notify_all();
}

void SimBoard::sendFrame(Line& line) {
    const std::vector<std::uint8_t> frame = buildDownloadFrame(image(), options_.badChecksum);
    const std::size_t count = std::min(frame.size(), options_.stopAfter.value_or(frame.size()));
    line.send(frame.data(), count);
    std::lock_guard lock(mutex_);
    ++stats_.framesSent;
    log_ << "qm730sim: sent " << count << " of " << frame.size() << " frame bytes\n";
    log_.flush();
}

}  // namespace qm730::sim
