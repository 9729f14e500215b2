// The fault matrix: each operation against the simulated board (qm730sim, in
// its own process) misbehaving in one way, and what each front end must make
// of it. The command-line and the windowed tests both run every cell; each
// cell also runs the same operation once more against the board healed (or,
// after the device went away, a fresh one), which must succeed.
//
// With QM730_FAULT_MATRIX_REPORT naming a file, each cell appends one line
// of its result to it (tab-separated: front end, operation, fault, simulator
// options, outcome, exit status, message, seconds); scripts/fault_matrix.sh
// turns them into docs/fault-matrix.md.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace qm730::test {

enum class Op { Send, Read, Flash, Probe };

inline const char* opName(Op op) {
    switch (op) {
        case Op::Send: return "send";
        case Op::Read: return "read";
        case Op::Flash: return "flash";
        case Op::Probe: return "probe";
    }
    return "?";
}

struct FaultCell {
    const char* name;  // the test's parameter name
    Op op;
    const char* fault;  // in words, for the report
    std::vector<std::string> sim;  // qm730sim's options
    bool succeeds;
    // Why it failed, as qm730ctl prints it after "qm730ctl: OP on PORT: "
    // and the windows show it on hover (empty for a success). "{htag}"
    // stands for the sequence byte of the block read the board logged last.
    std::string reason;
    std::chrono::milliseconds atLeast;  // the operation cannot have ended sooner
    // The boxes the windows show, in order ("{htag}" as above). A probe
    // that finds no board shows none: the operator cancels it.
    std::vector<std::string> boxes;
    bool vanishes = false;  // the device goes away; the next run needs a new one
};

// CTest lists a cell by its name, not by its bytes.
inline void PrintTo(const FaultCell& cell, std::ostream* out) { *out << cell.name; }

inline constexpr const char* kNoBoardBox = "The target board is not found !";
inline constexpr const char* kTransmitErrorBox = "Transmit Error!";
inline constexpr const char* kNoGoAheadBox = "Command & Response Error!!!";
inline constexpr const char* kHungUp = "the line hung up (the device went away)";

using std::chrono::milliseconds;

// The windows allow an answer 2,000 ms for the logon and the download frame's
// first byte and each later one, 400 + 2,000 ms for the go-ahead, 50 +
// 2,000 ms for the frame after the request; the flash loader 303 ms for the
// board check, 5,050 ms for every other reply and 1,010 ms for the probe.
// "Just inside" is 300 ms short of a window, "just outside" 500 ms past it.
inline const std::vector<FaultCell>& faultCells() {
    static const std::vector<FaultCell> cells = {
        {"send_silent", Op::Send, "silent board", {"--silent"}, false,
         "the board did not answer the logon within 2 seconds", milliseconds(2000), {kNoGoAheadBox}},
        {"send_refused", Op::Send, "refusal: NAK to the upload request", {"--refuse"}, false,
         "the board answered NAK CR instead of the go-ahead", milliseconds(0), {kNoGoAheadBox}},
        {"send_corrupted", Op::Send, "corrupted answer: IX= for ID=", {"--wrong-answer"}, false,
         "the board answered \"IX=\" CR instead of \"ID=\"", milliseconds(0), {kNoGoAheadBox}},
        // All three bytes are blanks to the answer's test: the wait runs out.
        {"send_cut_short", Op::Send, "answers cut to 3 bytes", {"--cut-reply", "3"}, false,
         "the board answered ACK CR ESC instead of the go-ahead", milliseconds(2000), {kNoGoAheadBox}},
        {"send_garbage", Op::Send, "garbage (00 00 00) before the answers", {"--noise-before-reply", "3"}, false,
         "the board answered NUL NUL NUL \"ID=\" CR instead of \"ID=\"", milliseconds(2000), {kNoGoAheadBox}},
        {"send_late_inside", Op::Send, "late answers, just inside", {"--delay", "logon=1700,service=2100"}, true, "",
         milliseconds(3800), {}},
        {"send_late_outside", Op::Send, "late answer, just outside", {"--delay", "logon=2500"}, false,
         "the board did not answer the logon within 2 seconds", milliseconds(2000), {kNoGoAheadBox}},
        {"send_vanishes", Op::Send, "device gone mid-upload", {"--vanish-after", "3000"}, false,
         std::string("the serial line failed: ") + kHungUp, milliseconds(0), {}, true},

        {"read_silent", Op::Read, "silent board", {"--silent"}, false,
         "the board did not answer the logon within 2 seconds", milliseconds(2000), {}},
        {"read_refused", Op::Read, "refusal: NAK to the download request", {"--refuse"}, false,
         "the board answered NAK CR instead of the configuration", milliseconds(2000), {}},
        {"read_corrupted", Op::Read, "corrupted frame checksum", {"--bad-checksum"}, false,
         "the configuration from the board has a wrong checksum", milliseconds(0), {}},
        {"read_cut_short", Op::Read, "frame cut after 5000 bytes", {"--stop-after", "5000"}, false,
         "the board stopped sending after 5000 of 8846 bytes of the configuration", milliseconds(2000), {}},
        {"read_garbage", Op::Read, "garbage (00 00 00) before the answers", {"--noise-before-reply", "3"}, false,
         "the board answered NUL NUL NUL \"ID=\" CR instead of \"ID=\"", milliseconds(2000), {}},
        {"read_late_inside", Op::Read, "late answers and a pause mid-frame, just inside",
         {"--delay", "logon=1700,service=1750,frame=1700"}, true, "", milliseconds(5150), {}},
        {"read_late_outside", Op::Read, "pause mid-frame, just outside", {"--delay", "frame=2500"}, false,
         "the board stopped sending after 4423 of 8846 bytes of the configuration", milliseconds(2000), {}},
        {"read_vanishes", Op::Read, "device gone mid-frame", {"--vanish-after", "3000"}, false,
         std::string("the serial line failed: ") + kHungUp, milliseconds(0), {}, true},

        {"flash_silent", Op::Flash, "silent board", {"--silent"}, false,
         "the target board is not found: no answer to the board check", milliseconds(400), {kNoBoardBox}},
        {"flash_refused_check", Op::Flash, "refusal: 15 to the check", {"--refuse-flash", "check"}, false,
         "the target board is not found: it refused the board check", milliseconds(0), {kNoBoardBox}},
        {"flash_refused_erase", Op::Flash, "refusal: 15 to the erase", {"--refuse-flash", "erase"}, false,
         "the board refused the erase of D0000", milliseconds(0), {kTransmitErrorBox}},
        {"flash_refused_write", Op::Flash, "refusal: 15 to the block write", {"--refuse-flash", "write"}, false,
         "the board refused the write of block 63 (EF800)", milliseconds(2000), {kTransmitErrorBox}},
        {"flash_corrupted", Op::Flash, "corrupted read-back byte", {"--corrupt-readback", "63"}, false,
         "block 63 (EF800) read back differs from the image (Htag = {htag})", milliseconds(2000),
         {"Read Error! Htag = {htag}"}},
        {"flash_cut_short", Op::Flash, "replies cut to 2 bytes", {"--cut-reply", "2"}, false,
         "the target board is not found: no answer to the board check", milliseconds(400), {kNoBoardBox}},
        {"flash_garbage", Op::Flash, "garbage (00 00 00) before the replies", {"--noise-before-reply", "3"}, false,
         "the target board is not found: it refused the board check", milliseconds(0), {kNoBoardBox}},
        {"flash_late_inside", Op::Flash, "late check and write replies, just inside",
         {"--delay", "check=100,write=4750"}, true, "", milliseconds(6750), {"Transmit Success!"}},
        {"flash_late_outside_check", Op::Flash, "late check reply, just outside", {"--delay", "check=800"}, false,
         "the target board is not found: no answer to the board check", milliseconds(400), {kNoBoardBox}},
        {"flash_late_outside_write", Op::Flash, "late write reply, just outside", {"--delay", "write=5550"}, false,
         "no answer from the board within 5 seconds during the write of block 63 (EF800)", milliseconds(7050),
         {kTransmitErrorBox}},
        {"flash_vanishes", Op::Flash, "device gone mid-write", {"--vanish-after", "1000"}, false,
         std::string("the serial line failed during the write of block 63 (EF800): ") + kHungUp, milliseconds(0),
         {kTransmitErrorBox}, true},

        {"probe_silent", Op::Probe, "silent board", {"--silent"}, false,
         "no answer from the board's flash loader (1 probe)", milliseconds(1010), {}},
        {"probe_refused", Op::Probe, "refusal: 15 to the probe", {"--refuse-flash", "probe"}, false,
         "something answered, but not the board's flash loader (1 probe)", milliseconds(0), {}},
        {"probe_garbage", Op::Probe, "garbage (00 00 00) before the answer", {"--noise-before-reply", "3"}, false,
         "something answered, but not the board's flash loader (1 probe)", milliseconds(0), {}},
        {"probe_late_inside", Op::Probe, "late answer, just inside", {"--delay", "probe=710"}, true, "",
         milliseconds(710), {"Connection Success !"}},
        {"probe_late_outside", Op::Probe, "late answer, just outside", {"--delay", "probe=1510"}, false,
         "no answer from the board's flash loader (1 probe)", milliseconds(1010), {}},
        {"probe_vanishes", Op::Probe, "device gone at the probe", {"--vanish-after", "1"}, false,
         std::string("the serial line failed: ") + kHungUp, milliseconds(0), {"Error opening comm port."}, true},
    };
    return cells;
}

// Firmware whose only block to write is the last one (EF800, which also holds
// the image checksum): the shortest write there is.
inline std::string lastBlockFirmware() {
    return "S00F000068656C6C6F202020202000003C\n"
           "S2140EF800000102030405060708090A0B0C0D0E0F6D\n"
           "S804000000FB\n";
}

// The sequence byte of the last block read the board logged ("Htag 133:
// read block 63 ..."), in decimal; "" when it logged none.
inline std::string lastReadHtag(const std::string& simLog) {
    const std::size_t read = simLog.rfind(": read block ");
    if (read == std::string::npos) return "";
    const std::size_t tag = simLog.rfind("Htag ", read);
    return tag == std::string::npos ? "" : simLog.substr(tag + 5, read - tag - 5);
}

inline std::string withHtag(std::string text, const std::string& htag) {
    const std::size_t at = text.find("{htag}");
    if (at != std::string::npos) text.replace(at, 6, htag);
    return text;
}

inline std::string joined(const std::vector<std::string>& parts, const char* separator = " ") {
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
    return text;
}

// One line of the report, when one is asked for.
// The exit status is qm730ctl's; the windows have none (-1).
inline void reportCell(const char* frontEnd, const FaultCell& cell, bool succeeded, int exitStatus,
                       const std::string& message, std::chrono::steady_clock::duration took) {
    const char* path = std::getenv("QM730_FAULT_MATRIX_REPORT");
    if (!path || !*path) return;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", std::chrono::duration<double>(took).count());
    std::ofstream(path, std::ios::app) << frontEnd << '\t' << opName(cell.op) << '\t' << cell.fault << '\t'
                                       << joined(cell.sim) << '\t' << (succeeded ? "success" : "failure") << '\t'
                                       << (exitStatus >= 0 ? std::to_string(exitStatus) : "") << '\t' << message << '\t' << seconds << '\n';
}

}  // namespace qm730::test
