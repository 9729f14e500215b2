// The simulated board on one line. Its configuration service answers the
// logon and the service requests, takes upload blocks into its own image and
// sends its image back as the download frame; its flash loader answers the
// presence probe and the board link's request frames.
//
// Between exchanges a byte 0E is the probe, 02 starts a request frame (up to
// its end byte 03) and CR the configuration logon; during an upload every
// byte belongs to the upload.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/config/image.h"
#include "sim/board_wire.h"
#include "sim/flash_loader.h"
#include "sim/sim_line.h"

namespace qm730::sim {

struct SimOptions {
    bool silent = false;        // answer nothing at all, neither service nor loader
    bool wrongAnswer = false;   // answer the logon with something other than "ID="
    bool refuse = false;        // answer both service requests with NAK CR instead of the go-ahead or the frame
    bool badChecksum = false;   // send download frames with a wrong checksum
    std::optional<std::size_t> stopAfter;  // send only this many bytes of a download frame
    std::chrono::milliseconds logonDelay{0};    // before the answer to the logon
    std::chrono::milliseconds serviceDelay{0};  // before the answer to a service request (go-ahead, NAK or frame)
    std::chrono::milliseconds framePause{0};    // in the middle of the download frame
    // Between the bytes of the download frame and of every data frame: a
    // board that keeps talking, far slower than the line.
    std::chrono::milliseconds crawl{0};
    // Bytes that pass on the line (taken and sent) before the board closes
    // it for good, as a device that is pulled out.
    std::optional<std::size_t> vanishAfter;
    bool pace = false;          // 19200 baud, 11 bits a byte, in both directions
    std::string saveFile;       // table file written after each applied upload
    // How the flash loader misbehaves. Its line noise and cut replies shape
    // the configuration service's answers too (not the download frame's
    // length: stopAfter does that).
    LoaderFaults flash;
    std::string flashSaveFile;  // flash file written after each erase or block write
};

struct SimStats {
    int uploadsApplied = 0;
    int uploadsRejected = 0;
    int malformedBlocks = 0;
    int framesSent = 0;
    int logons = 0;
    int probes = 0;
    int flashFrames = 0;   // request frames taken off the line, answered or not
    int flashRefused = 0;  // of them answered 15: damaged, not fit or refused on purpose
    int flashSaves = 0;
};

class SimBoard {
public:
    // flash: the loader's starting flash, 131072 bytes; erased when empty.
    SimBoard(SimOptions options, const ConfigImage& image, std::ostream& log, Bytes flash = {});
    ~SimBoard();

    // Serves the line (the pseudo-terminal's master, non-blocking) until
    // stop() is called from any thread, or until the board lets the line go
    // on purpose (vanishAfter): then it returns true, and the caller closes
    // the pseudo-terminal so that the program sees the device go away.
    bool serve(int lineFd);
    void stop();
    // From now on the board is healthy: every fault is dropped, an answer
    // that a delay still holds back is not sent, and the next exchange
    // starts afresh. Safe to call from a signal handler or any thread.
    void heal();

    ConfigImage image() const;
    Bytes flash() const;
    SimStats stats() const;
    // Waits until the given number of uploads has been applied or rejected.
    bool waitForUploads(int count, std::chrono::milliseconds timeout) const;

private:
    enum class Mode { Command, Upload, Frame };

    void applyHeal();
    // Sends what the line lets through before the board lets it go.
    void put(SimLine& line, const std::uint8_t* data, std::size_t count);
    // As put(), one byte every `crawl` when the board crawls; false when it
    // is healed meanwhile, and the rest is not sent.
    bool putCrawling(SimLine& line, const std::uint8_t* data, std::size_t count);
    // An answer of the configuration service after its delay, shaped by the
    // line noise and cut faults; nothing when the board is healed meanwhile.
    void answerService(SimLine& line, std::vector<std::uint8_t> answer, std::chrono::milliseconds delay);
    void onCommandByte(SimLine& line, std::uint8_t byte);
    void onFrameByte(SimLine& line, std::uint8_t byte);
    void answerProbe(SimLine& line);
    void answerFrame(SimLine& line);
    void saveFlash();
    void onUploadByte(SimLine& line, std::uint8_t byte);
    void finishUpload();
    void sendFrame(SimLine& line);

    SimOptions options_;
    std::ostream& log_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;

    Mode mode_ = Mode::Command;
    std::vector<std::uint8_t> command_;
    bool loggedOn_ = false;
    std::optional<BlockDecoder> decoder_;
    bool uploadDamaged_ = false;
    std::size_t uploadLineBytes_ = 0;  // bytes taken off the line during the upload
    std::chrono::steady_clock::time_point lastUploadByte_{};

    Bytes frame_;                 // the request frame being taken off the line
    std::size_t frameBytes_ = 0;  // its bytes so far, those beyond the longest request included
    std::chrono::steady_clock::time_point lastFrameByte_{};
    bool flashUnsaved_ = false;  // changed since the last good save
    std::size_t lineBytes_ = 0;  // taken and sent, counted against vanishAfter
    std::atomic<bool> healRequested_{false};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    ConfigImage image_;
    FlashLoader loader_;
    SimStats stats_;
};

}  // namespace qm730::sim
