#include "sim/sim_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

#include "core/config/configfile.h"
#include "sim/flash_file.h"

namespace qm730::sim {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// An upload that goes quiet this long has been given up by the program.
constexpr auto kUploadSilence = 5s;
// A request frame that goes quiet this long before its end byte has been
// given up; the board listens afresh well before the program's next try,
// which comes only after its own 5 s wait for the answer.
constexpr auto kFrameSilence = 2s;
constexpr auto kIdlePoll = 250ms;

constexpr std::uint8_t kCr = 0x0D, kEsc = 0x1B, kAck = 0x06, kNak = 0x15;
const std::vector<std::uint8_t> kLogonAnswer = {'I', 'D', '=', kCr};
const std::vector<std::uint8_t> kWrongLogonAnswer = {'I', 'X', '=', kCr};
const std::vector<std::uint8_t> kGoAhead = {kAck, kCr, kEsc, '[', 'p', kCr};
const std::vector<std::uint8_t> kRefusal = {kNak, kCr};
const std::vector<std::uint8_t> kUploadRequest = {kEsc, 'P', 'G', '2'};
const std::vector<std::uint8_t> kDownloadRequest = {kEsc, 'P', 'G', '3'};
constexpr std::size_t kLongestCommand = 64;

// Thrown out of the exchange when the board lets the line go on purpose.
struct LineVanished {};

}  // namespace

SimBoard::SimBoard(SimOptions options, const ConfigImage& image, std::ostream& log, Bytes flash)
    : options_(std::move(options)), log_(log), image_(image), loader_(options_.flash, std::move(flash)) {
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

void SimBoard::heal() { healRequested_.store(true); }

// The board as after a power cycle that cured it: the line settings and the
// files it keeps stay, the faults go, and a half-done exchange is forgotten.
void SimBoard::applyHeal() {
    SimOptions healthy;
    healthy.pace = options_.pace;
    healthy.saveFile = options_.saveFile;
    healthy.flashSaveFile = options_.flashSaveFile;
    options_ = std::move(healthy);
    mode_ = Mode::Command;
    command_.clear();
    loggedOn_ = false;
    decoder_.reset();
    frame_.clear();
    frameBytes_ = 0;
    std::lock_guard lock(mutex_);
    loader_.heal();
    log_ << "qm730sim: healed: every fault is off from now on\n";
    log_.flush();
}

void SimBoard::put(SimLine& line, const std::uint8_t* data, std::size_t count) {
    if (!options_.vanishAfter) {
        line.send(data, count);
        return;
    }
    const std::size_t limit = *options_.vanishAfter;
    const std::size_t now = std::min(count, limit - std::min(lineBytes_ + line.queued(), limit));
    line.send(data, now);
    lineBytes_ += now;
    if (now < count) throw LineVanished{};
}

bool SimBoard::putCrawling(SimLine& line, const std::uint8_t* data, std::size_t count) {
    if (options_.crawl.count() == 0) {
        put(line, data, count);
        return true;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0 && !line.pause(options_.crawl, &healRequested_)) return false;
        put(line, data + i, 1);
    }
    return true;
}

void SimBoard::answerService(SimLine& line, std::vector<std::uint8_t> answer, std::chrono::milliseconds delay) {
    if (delay.count() > 0 && !line.pause(delay, &healRequested_)) return;
    if (options_.flash.cutReply && *options_.flash.cutReply < answer.size()) answer.resize(*options_.flash.cutReply);
    answer.insert(answer.begin(), options_.flash.noiseBeforeReply, 0x00);
    put(line, answer.data(), answer.size());
}

ConfigImage SimBoard::image() const {
    std::lock_guard lock(mutex_);
    return image_;
}

Bytes SimBoard::flash() const {
    std::lock_guard lock(mutex_);
    return loader_.flash();
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

bool SimBoard::serve(int lineFd) {
    SimLine line(lineFd, wakeRead_, options_.pace);
    std::uint8_t buffer[4096];
    bool vanished = false;
    try {
        for (;;) {
            // The board takes no more than the line carries before it goes.
            if (options_.vanishAfter)
                line.allowTaking(*options_.vanishAfter - std::min(lineBytes_ + line.queued(), *options_.vanishAfter));
            else
                line.allowTaking(SIZE_MAX);
            const std::size_t got = line.receive(buffer, sizeof buffer, kIdlePoll);
            if (healRequested_.exchange(false)) applyHeal();
            if (options_.silent) continue;
            if (got == 0) {
                if (mode_ == Mode::Upload && Clock::now() - lastUploadByte_ > kUploadSilence) {
                    log_ << "qm730sim: upload abandoned after " << decoder_->stream().size() << " bytes\n";
                    finishUpload();
                }
                if (mode_ == Mode::Frame && Clock::now() - lastFrameByte_ > kFrameSilence) {
                    std::lock_guard lock(mutex_);
                    log_ << "qm730sim: request frame broken off after " << frameBytes_
                         << " bytes without an end byte; not answered\n";
                    mode_ = Mode::Command;
                }
                continue;
            }
            for (std::size_t i = 0; i < got; ++i) {
                if (healRequested_.exchange(false)) applyHeal();
                ++lineBytes_;
                switch (mode_) {
                    case Mode::Upload: onUploadByte(line, buffer[i]); break;
                    case Mode::Frame: onFrameByte(line, buffer[i]); break;
                    case Mode::Command: onCommandByte(line, buffer[i]); break;
                }
                // Once the line has carried its share the board lets it go.
                if (options_.vanishAfter && lineBytes_ >= *options_.vanishAfter) throw LineVanished{};
            }
        }
    } catch (const LineStopped&) {
    } catch (const LineVanished&) {
        std::lock_guard lock(mutex_);
        log_ << "qm730sim: the line is let go on purpose after " << lineBytes_ << (lineBytes_ == 1 ? " byte\n" : " bytes\n");
        log_.flush();
        vanished = true;
    }
    // What crossed the line while the board served it, for timing a run
    // against the line speed.
    {
        std::lock_guard lock(mutex_);
        log_ << "qm730sim: line totals: " << line.bytesTaken() << " bytes received, " << line.bytesSent()
             << " bytes sent\n";
        log_.flush();
    }
    // A save that failed is tried once more before the board goes.
    if (flashUnsaved_) saveFlash();
    return vanished;
}

void SimBoard::onCommandByte(SimLine& line, std::uint8_t byte) {
    // The flash loader's bytes are never part of a configuration request.
    if (byte == loader::kProbe) {
        answerProbe(line);
        return;
    }
    if (byte == loader::kStart) {
        mode_ = Mode::Frame;
        frame_.assign(1, byte);
        frameBytes_ = 1;
        lastFrameByte_ = Clock::now();
        return;
    }
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
        answerService(line, options_.wrongAnswer ? kWrongLogonAnswer : kLogonAnswer, options_.logonDelay);
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
    if (options_.refuse) {
        answerService(line, kRefusal, options_.serviceDelay);
        return;
    }
    if (command == kDownloadRequest) {
        sendFrame(line);
        return;
    }
    answerService(line, kGoAhead, options_.serviceDelay);
    if (healRequested_.load()) return;  // the go-ahead was held back and dropped
    mode_ = Mode::Upload;
    decoder_.emplace();
    uploadDamaged_ = false;
    uploadLineBytes_ = 0;
    lastUploadByte_ = Clock::now();
}

void SimBoard::onFrameByte(SimLine& line, std::uint8_t byte) {
    lastFrameByte_ = Clock::now();
    if (byte == loader::kEnd) {
        answerFrame(line);
        return;
    }
    // One byte beyond the longest request is enough to tell it is too long.
    ++frameBytes_;
    if (frame_.size() <= loader::kLongestRequest) frame_.push_back(byte);
}

void SimBoard::answerProbe(SimLine& line) {
    LoaderAnswer answer;
    {
        std::lock_guard lock(mutex_);
        answer = loader_.probe();
        ++stats_.probes;
        log_ << "qm730sim: " << answer.note << "\n";
    }
    if (answer.delay.count() > 0 && !line.pause(answer.delay, &healRequested_)) return;
    put(line, answer.bytes.data(), answer.bytes.size());
}

void SimBoard::answerFrame(SimLine& line) {
    mode_ = Mode::Command;
    LoaderAnswer answer;
    {
        std::lock_guard lock(mutex_);
        answer = loader_.frame(frame_);
        ++stats_.flashFrames;
        if (answer.refused) ++stats_.flashRefused;
        log_ << "qm730sim: " << answer.note << "\n";
        log_.flush();
    }
    frame_.clear();
    if (answer.flashChanged) flashUnsaved_ = true;
    if (answer.delay.count() == 0 || line.pause(answer.delay, &healRequested_)) {
        if (answer.dataFrame)
            putCrawling(line, answer.bytes.data(), answer.bytes.size());
        else
            put(line, answer.bytes.data(), answer.bytes.size());
    }
    // Saved once the answer is out, so the save never delays it.
    if (answer.flashChanged) saveFlash();
}

void SimBoard::saveFlash() {
    if (options_.flashSaveFile.empty()) return;
    const auto problem = saveFlashFile(options_.flashSaveFile, flash());
    std::lock_guard lock(mutex_);
    if (problem) {
        log_ << "qm730sim: " << *problem << "\n";
        log_.flush();
        return;
    }
    flashUnsaved_ = false;
    ++stats_.flashSaves;
}

void SimBoard::onUploadByte(SimLine& line, std::uint8_t byte) {
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

void SimBoard::sendFrame(SimLine& line) {
    if (options_.serviceDelay.count() > 0 && !line.pause(options_.serviceDelay, &healRequested_)) return;
    const std::vector<std::uint8_t> frame = buildDownloadFrame(image(), options_.badChecksum);
    const std::size_t count = std::min(frame.size(), options_.stopAfter.value_or(frame.size()));
    const std::vector<std::uint8_t> noise(options_.flash.noiseBeforeReply, 0x00);
    put(line, noise.data(), noise.size());
    // A board that falls silent part-way goes quiet after half the frame.
    std::size_t sent = 0;
    if (options_.framePause.count() > 0) {
        sent = std::min(count, frame.size() / 2);
        if (!putCrawling(line, frame.data(), sent)) return;
        if (!line.pause(options_.framePause, &healRequested_)) return;
    }
    if (!putCrawling(line, frame.data() + sent, count - sent)) return;
    std::lock_guard lock(mutex_);
    ++stats_.framesSent;
    log_ << "qm730sim: sent " << count << " of " << frame.size() << " frame bytes";
    if (options_.framePause.count() > 0) log_ << ", " << options_.framePause.count() << " ms quiet after " << sent;
    if (options_.crawl.count() > 0) log_ << ", one every " << options_.crawl.count() << " ms";
    log_ << "\n";
    log_.flush();
}

}  // namespace qm730::sim
