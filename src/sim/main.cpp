// qm730sim: a simulated board on a pseudo-terminal. Prints the device path to
// connect to as its first line, then serves until interrupted.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdint>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/board_wire.h"
#include "sim/flash_file.h"
#include "sim/pseudo_terminal.h"
#include "sim/sim_board.h"
#include "sim/sim_options.h"

namespace {

using namespace qm730::sim;

constexpr const char* kDescription =
    "Simulates the board on a pseudo-terminal: its configuration service (logon,\n"
    "upload and download of the configuration) and its flash loader (presence\n"
    "probe and the check, erase, block write and block read frames). The first\n"
    "line printed is the device to connect to, e.g. qm730ctl send --port DEVICE.\n"
    "What the board does and every frame it refuses, with the reason, go to the\n"
    "standard error.\n";

constexpr const char* kFooter =
    "The flash covers D0000 to EFFFF (128 KiB) and behaves as NOR flash: it starts\n"
    "erased (all FF) unless loaded, an erase sets its 64 KiB to FF, and a block\n"
    "write can only clear bits, so a block written without an erase reads back\n"
    "wrong.\n"
    "\n"
    "Answers of the flash loader: 02 06 Htag 03 when a check, erase or block write\n"
    "was carried out, 02 15 Htag 03 when it was refused (a damaged frame, a request\n"
    "the loader cannot carry out, or a --refuse-flash command; a refused block read\n"
    "gets the same 4 bytes). A block read is answered with a data frame: 02, Htag,\n"
    "length 2058, 12, ED, address and its complement, count 2048, the 2048 bytes,\n"
    "a 16-bit sum, stuffed like a request and closed by 03. The probe 0E gets 06.\n"
    "\n"
    "Flash files: --flash-load tells S-record text from raw bytes (exactly 131072)\n"
    "by their content; --flash-save writes S-records (S0 header, S2 records, S8\n"
    "end) for a name ending in .s19, .s28, .s37, .srec, .mot or .s, raw bytes for\n"
    "any other name. Give both the same file to keep the flash from one run to\n"
    "the next.\n"
    "\n"
    "Signals: SIGINT, SIGTERM or SIGHUP stop the board; SIGUSR1 heals it: every\n"
    "fault is off from then on and an answer a --delay or --crawl still holds\n"
    "back is not sent, so the next exchange meets a healthy board on the same\n"
    "device.\n"
    "\n"
    "Exit status: 0 after an interrupt or once --vanish-after has let the line go,\n"
    "1 when no pseudo-terminal could be had, 2 for a bad option, number or file\n"
    "at the start.\n";

SimBoard* runningBoard = nullptr;

extern "C" void onSignal(int) {
    if (runningBoard) runningBoard->stop();
}

extern "C" void onHeal(int) {
    if (runningBoard) runningBoard->heal();
}

// What --delay can hold back, and the flash loader's command for each of its own.
const std::map<std::string, std::uint8_t> kDelayedLoaderAnswers = {{"check", loader::kCheck},
                                                                    {"erase", loader::kErase},
                                                                    {"write", loader::kWriteBlock},
                                                                    {"read", loader::kReadBlock},
                                                                    {"probe", loader::kProbe}};
constexpr const char* kDelayedServiceAnswers[] = {"logon", "service", "frame"};
constexpr std::size_t kLongestDelayMs = 60000;

// WHAT=MS as --delay takes it; nothing when the text is not one.
std::optional<std::pair<std::string, std::size_t>> parseDelay(const std::string& text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) return std::nullopt;
    const std::string what = text.substr(0, equals);
    bool known = kDelayedLoaderAnswers.count(what) > 0;
    for (const char* service : kDelayedServiceAnswers) known = known || what == service;
    const auto ms = parseCount(std::string_view(text).substr(equals + 1), kLongestDelayMs);
    if (!known || !ms) return std::nullopt;
    return std::make_pair(what, *ms);
}

int refuse(const std::string& problem) {
    std::cerr << "qm730sim: " << problem << "\n";
    return 2;
}

// A decimal count from 0 to max, said in the operator's words when it is not.
CLI::Validator countUpTo(std::size_t max, const std::string& what) {
    return CLI::Validator(
        [max, what](std::string& text) -> std::string {
            if (parseCount(text, max)) return {};
            return "expects " + what + " from 0 to " + std::to_string(max) + ", not '" + text + "'";
        },
        "");
}

const CLI::Validator kFileName(
    [](std::string& text) -> std::string { return text.empty() ? "needs a file name" : std::string(); }, "");

// CLI11 prints an option's description in one line; broken at the words,
// the help stays within 80 columns.
std::string wrapped(const std::string& text) {
    constexpr std::size_t kWidth = 48;
    std::string out, line;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(start, end - start);
        if (!line.empty() && line.size() + 1 + word.size() > kWidth) {
            out += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        start = end + 1;
    }
    return out + line;
}

std::size_t countOf(const std::string& text) { return parseCount(text, SIZE_MAX).value_or(0); }

// A process started with a standard stream closed would hand that number to
// the pseudo-terminal, and the device's name would be written into the line.
void parkClosedStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) continue;
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) ::close(opened);
    }
}

}  // namespace

int main(int argc, char** argv) {
    parkClosedStandardStreams();

    SimOptions options;
    std::string loadFile, flashLoadFile, stopAfter, stopAfterFrames, eraseDelay, ignoreProbes, noise, cutReply,
        vanishAfter, crawl;
    std::vector<std::string> refusedFlash, corruptBlocks, delays, flippedBits, wrongSums, otherBlocks;

    CLI::App app(kDescription, "qm730sim");
    app.footer(kFooter);
    app.set_version_flag("--version", std::string("qm730sim ") + QM730_VERSION, "Print the version and exit");
    app.get_formatter()->column_width(30);

    // Every option in its group, its description broken for the terminal.
    std::string group;
    auto option = [&](const char* name, auto& value, const char* typeName, const std::string& text) {
        return app.add_option(name, value, wrapped(text))->type_name(typeName)->group(group);
    };
    auto flag = [&](const char* name, bool& value, const std::string& text) {
        return app.add_flag(name, value, wrapped(text))->group(group);
    };

    group = "Configuration service";
    option("--load", loadFile, "FILE", "Start from this table file of exactly 40959 bytes (default: the default image)")
        ->check(kFileName);
    option("--save", options.saveFile, "FILE",
           "Write the image to FILE after each completed upload; its folder must exist and be writable")
        ->check(kFileName);
    flag("--wrong-answer", options.wrongAnswer, "Answer the logon with \"IX=\" instead of \"ID=\"");
    flag("--refuse", options.refuse,
         "Answer the service requests with NAK CR: the upload request instead of the go-ahead, the download "
         "request instead of the frame");
    flag("--bad-checksum", options.badChecksum, "Send download frames with a wrong checksum");
    option("--stop-after", stopAfter, "N", "Send only the first N bytes (0 to 8846) of a download frame")
        ->check(countUpTo(kFrameLength, "a byte count"));

    group = "Flash loader";
    option("--flash-load", flashLoadFile, "FILE",
           "Start with this flash: S-record text, or exactly 131072 raw bytes (default: all erased)")
        ->check(kFileName);
    option("--flash-save", options.flashSaveFile, "FILE",
           "Write the flash to FILE at the start and after each erase and block write the board carries out, in "
           "one step (S-records or raw bytes by the name's extension); its folder must exist and be writable")
        ->check(kFileName);
    option("--refuse-flash", refusedFlash, "CMD",
           "Answer this command with 15 and do not carry it out: check, erase, write or read, or answer the probe "
           "with 15 (probe); repeat the option or separate with commas for several")
        ->delimiter(',')
        ->check(CLI::IsMember({"check", "erase", "write", "read", "probe"}));
    option("--corrupt-readback", corruptBlocks, "BLOCK[:BYTE]",
           "Send one byte of this block (0 to 63) inverted when it is read back: BYTE is first (also when left "
           "out), last or a position from 0 to 2047 in the block, e.g. 63:last; the flash itself stays right; "
           "repeat for several")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                if (parseSpoiltByte(text)) return {};
                return "expects BLOCK or BLOCK:BYTE with BLOCK from 0 to 63 and BYTE first, last or 0 to 2047, "
                       "not '" + text + "'";
            },
            ""));
    option("--flip-bit", flippedBits, "BLOCK",
           "Flip a bit of this block (0 to 63) in its data frame after the frame's sum was made, as the line "
           "would; repeat for several")
        ->check(countUpTo(loader::kBlocks - 1, "a block number"));
    option("--wrong-sum", wrongSums, "BLOCK", "Send the data frame of this block (0 to 63) with a wrong sum; repeat for several")
        ->check(countUpTo(loader::kBlocks - 1, "a block number"));
    option("--other-block", otherBlocks, "BLOCK",
           "Answer a read of this block (0 to 63) with the sound data frame of the next block (63: of block 0), "
           "its address included; repeat for several")
        ->check(countUpTo(loader::kBlocks - 1, "a block number"));
    flag("--damage-once",
         options.flash.damageOnce,
         "Damage only the first read of each block that --flip-bit, --wrong-sum or --other-block names; a read "
         "again gets a sound frame");
    option("--stop-after-frames", stopAfterFrames, "N",
           "Answer only the first N request frames (0 to 1000000); later frames are neither carried out nor "
           "answered, while probes still are")
        ->check(countUpTo(1000000, "a number of frames"));
    option("--erase-delay", eraseDelay, "MS",
           "Send the reply to an erase MS milliseconds (0 to 60000) after the erase frame came; the program waits "
           "5050 ms for it (the same as --delay erase=MS)")
        ->check(countUpTo(kLongestDelayMs, "milliseconds"));
    option("--ignore-probes", ignoreProbes, "N", "Leave the first N presence probes (0 to 1000000) unanswered")
        ->check(countUpTo(1000000, "a number of probes"));

    group = "Both";
    option("--noise-before-reply", noise, "N",
           "Send N bytes 00 (0 to 4096) before every answer, as line noise: before the logon answer, the "
           "go-ahead or NAK, the download frame, every reply and data frame and the probe's answer")
        ->check(countUpTo(4096, "a byte count"));
    option("--cut-reply", cutReply, "N",
           "Send only the first N bytes (0 to 4127) of every answer but the probe's and the download frame's (see "
           "--stop-after): of the logon answer, the go-ahead or NAK, every reply and data frame; a data frame is "
           "at most 4128 bytes on the line")
        ->check(countUpTo(loader::kLongestDataFrame - 1, "a byte count"));
    option("--delay", delays, "WHAT=MS",
           "Hold an answer back MS milliseconds (0 to 60000): logon (the ID= answer), service (the go-ahead, NAK "
           "or download frame), frame (a pause after half the download frame), check, erase, write, read or probe "
           "(the flash loader's answers); repeat or separate with commas for several")
        ->delimiter(',')
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                if (parseDelay(text)) return {};
                return "expects WHAT=MS with WHAT logon, service, frame, check, erase, write, read or probe and MS "
                       "from 0 to 60000, not '" + text + "'";
            },
            ""));
    option("--vanish-after", vanishAfter, "N",
           "Let the line go for good once N bytes (1 to 1000000) have passed on it, taken and sent counted "
           "together, as a device pulled out in the middle of an exchange; the simulator then ends")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                const auto count = parseCount(text, 1000000);
                if (count && *count > 0) return {};
                return "expects a byte count from 1 to 1000000, not '" + text + "'";
            },
            ""));
    option("--crawl", crawl, "MS",
           "Send the download frame and every data frame one byte every MS milliseconds (1 to 60000): a board that "
           "keeps talking, far slower than the line")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                const auto ms = parseCount(text, kLongestDelayMs);
                if (ms && *ms > 0) return {};
                return "expects milliseconds from 1 to 60000, not '" + text + "'";
            },
            ""));
    flag("--pace", options.pace, "Take and send bytes at 19200 baud (11 bits a byte)");
    flag("--silent", options.silent, "Answer nothing: no logon, no probe, no frame");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
        std::cerr << "qm730sim: " << error.what() << "\nRun qm730sim --help for the options.\n";
        return 2;
    }

    if (!stopAfter.empty()) options.stopAfter = countOf(stopAfter);
    for (const std::string& command : refusedFlash) {
        options.flash.refusedCommands.insert(kDelayedLoaderAnswers.at(command));
    }
    for (const std::string& text : corruptBlocks) {
        const SpoiltByte spoilt = *parseSpoiltByte(text);
        options.flash.corruptReadback.emplace(spoilt.block, spoilt.byte);
    }
    for (const auto& [blocks, damage] : {std::pair{&flippedBits, FrameDamage::FlippedBit},
                                         std::pair{&wrongSums, FrameDamage::WrongSum},
                                         std::pair{&otherBlocks, FrameDamage::OtherBlock}})
        for (const std::string& block : *blocks) options.flash.damagedReads[static_cast<int>(countOf(block))] = damage;
    if (!crawl.empty()) options.crawl = std::chrono::milliseconds(countOf(crawl));
    if (!stopAfterFrames.empty()) options.flash.answerFrames = countOf(stopAfterFrames);
    if (!eraseDelay.empty()) options.flash.replyDelay[loader::kErase] = std::chrono::milliseconds(countOf(eraseDelay));
    for (const std::string& text : delays) {
        const auto [what, ms] = *parseDelay(text);
        const std::chrono::milliseconds delay(ms);
        if (what == "logon") options.logonDelay = delay;
        else if (what == "service") options.serviceDelay = delay;
        else if (what == "frame") options.framePause = delay;
        else options.flash.replyDelay[kDelayedLoaderAnswers.at(what)] = delay;
    }
    if (!vanishAfter.empty()) options.vanishAfter = countOf(vanishAfter);
    options.flash.ignoreProbes = countOf(ignoreProbes);
    options.flash.noiseBeforeReply = countOf(noise);
    if (!cutReply.empty()) options.flash.cutReply = countOf(cutReply);

    qm730::ConfigImage image = qm730::defaultImage();
    if (!loadFile.empty()) {
        if (const auto problem = loadWholeImage(loadFile, image)) return refuse(*problem);
    }
    if (!options.saveFile.empty()) {
        if (const auto problem = saveTargetProblem(options.saveFile)) return refuse(*problem);
    }
    Bytes flash;
    if (!flashLoadFile.empty()) {
        if (const auto problem = loadFlashFile(flashLoadFile, flash)) return refuse(*problem);
    }
    if (!options.flashSaveFile.empty()) {
        // Saved once at the start, so the file holds the board's flash for
        // as long as the board runs, changed or not.
        if (const auto problem = saveTargetProblem(options.flashSaveFile)) return refuse(*problem);
        if (flash.empty()) flash.assign(loader::kFlashBytes, loader::kErased);
        if (const auto problem = saveFlashFile(options.flashSaveFile, flash)) return refuse(*problem);
    }

    try {
        PseudoTerminal line;
        SimBoard board(options, image, std::cerr, std::move(flash));
        runningBoard = &board;
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        std::signal(SIGHUP, onSignal);
        std::signal(SIGUSR1, onHeal);
        std::cout << line.slavePath() << std::endl;
        // Returns when stopped, or when the board has let the line go: the
        // pseudo-terminal then closes with the board, and the device is gone.
        board.serve(line.master());
        runningBoard = nullptr;
    } catch (const std::exception& e) {
        std::cerr << "qm730sim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
