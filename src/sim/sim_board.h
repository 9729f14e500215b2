// The simulated board on one line. Its configuration service answers the
// logon and the service requests, takes upload blocks into its own image and
// sends its image back as the download frame; its flash loader answers the
// presence probe and the board link's request frames.
//
// Between exchanges a byte 0E is the probe, 02 starts a request frame (up to
// its end byte 03) and CR the configuration logon; during an upload every
// byte belongs to the upload.
#pragma once

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
    bool refuse = false;        // answer the upload request with NAK instead of the go-ahead
    bool badChecksum = false;   // send download frames with a wrong checksum
    std::optional<std::size_t> stopAfter;  // send only this many bytes of a download frame
    bool pace = false;          // 19200 baud, 11 bits a byte, in both directions
    std::string saveFile;       // table file written after each applied upload
    LoaderFaults flash;         // how the flash loader misbehaves
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
    // stop() is called from any thread.
    void serve(int lineFd);
    void stop();

    ConfigImage image() const;
    Bytes flash() const;
    SimStats stats() const;
    // Waits until the given number of uploads has been applied or rejected.
    bool waitForUploads(int count, std::chrono::milliseconds timeout) const;

private:
    enum class Mode { Command, Upload, Frame };

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

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    ConfigImage image_;
    FlashLoader loader_;
    SimStats stats_;
};

}  // namespace qm730::sim
