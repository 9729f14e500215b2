// The simulator's command line, read with CLI11: every option with its
// check and its help, and what the options ask of the board.
#include "sim/sim_options.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <iostream>
#include <map>
#include <utility>
#include <vector>

#include "sim/loader_wire.h"

namespace qm730::sim {

namespace {

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

// A check of an option's text that says what it expects when the text does
// not fit: "expects WHAT, not 'TEXT'".
CLI::Validator expecting(const std::string& what, std::function<bool(const std::string&)> fits) {
    return CLI::Validator(
        [what, fits](std::string& text) -> std::string {
            if (fits(text)) return {};
            return "expects " + what + ", not '" + text + "'";
        },
        "");
}

// A decimal count from 0 to max, said in the operator's words when it is not.
CLI::Validator countUpTo(std::size_t max, const std::string& what) {
    return expecting(what + " from 0 to " + std::to_string(max),
                     [max](const std::string& text) { return parseCount(text, max).has_value(); });
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

// The options as typed, checked by CLI11; applied to the board's options
// once all are read.
struct Typed {
    std::string stopAfter, stopAfterFrames, eraseDelay, ignoreProbes, noise, cutReply, vanishAfter, crawl;
    std::vector<std::string> refusedFlash, corruptBlocks, delays, flippedBits, wrongSums, otherBlocks;
};

// The options of one group of the help, each description broken for the
// terminal.
class OptionGroup {
public:
    OptionGroup(CLI::App& app, std::string name) : app_(app), name_(std::move(name)) {}

    template <typename Value>
    CLI::Option* option(const char* name, Value& value, const char* typeName, const std::string& text) {
        return app_.add_option(name, value, wrapped(text))->type_name(typeName)->group(name_);
    }
    CLI::Option* flag(const char* name, bool& value, const std::string& text) {
        return app_.add_flag(name, value, wrapped(text))->group(name_);
    }

private:
    CLI::App& app_;
    std::string name_;
};

void addServiceOptions(CLI::App& app, SimCommandLine& commandLine, Typed& typed) {
    OptionGroup group(app, "Configuration service");
    group.option("--load", commandLine.loadFile, "FILE", "Start from this table file of exactly 40959 bytes (default: the default image)")
        ->check(kFileName);
    group.option("--save", commandLine.options.saveFile, "FILE",
                 "Write the image to FILE after each completed upload; its folder must exist and be writable")
        ->check(kFileName);
    group.flag("--wrong-answer", commandLine.options.wrongAnswer, "Answer the logon with \"IX=\" instead of \"ID=\"");
    group.flag("--refuse", commandLine.options.refuse,
               "Answer the service requests with NAK CR: the upload request instead of the go-ahead, the download "
               "request instead of the frame");
    group.flag("--bad-checksum", commandLine.options.badChecksum, "Send download frames with a wrong checksum");
    group.option("--stop-after", typed.stopAfter, "N", "Send only the first N bytes (0 to 8846) of a download frame")
        ->check(countUpTo(kFrameLength, "a byte count"));
}

void addFlashOptions(CLI::App& app, SimCommandLine& commandLine, Typed& typed) {
    OptionGroup group(app, "Flash loader");
    group.option("--flash-load", commandLine.flashLoadFile, "FILE",
                 "Start with this flash: S-record text, or exactly 131072 raw bytes (default: all erased)")
        ->check(kFileName);
    group.option("--flash-save", commandLine.options.flashSaveFile, "FILE",
                 "Write the flash to FILE at the start and after each erase and block write the board carries out, in "
                 "one step (S-records or raw bytes by the name's extension); its folder must exist and be writable")
        ->check(kFileName);
    group.option("--refuse-flash", typed.refusedFlash, "CMD",
                 "Answer this command with 15 and do not carry it out: check, erase, write or read, or answer the probe "
                 "with 15 (probe); repeat the option or separate with commas for several")
        ->delimiter(',')
        ->check(CLI::IsMember({"check", "erase", "write", "read", "probe"}));
    group.option("--corrupt-readback", typed.corruptBlocks, "BLOCK[:BYTE]",
                 "Send one byte of this block (0 to 63) inverted when it is read back: BYTE is first (also when left "
                 "out), last or a position from 0 to 2047 in the block, e.g. 63:last; the flash itself stays right; "
                 "repeat for several")
        ->check(expecting("BLOCK or BLOCK:BYTE with BLOCK from 0 to 63 and BYTE first, last or 0 to 2047",
                          [](const std::string& text) { return parseSpoiltByte(text).has_value(); }));
    group.option("--flip-bit", typed.flippedBits, "BLOCK",
                 "Flip a bit of this block (0 to 63) in its data frame after the frame's sum was made, as the line "
                 "would; repeat for several")
        ->check(countUpTo(loader::kBlocks - 1, "a block number"));
    group.option("--wrong-sum", typed.wrongSums, "BLOCK", "Send the data frame of this block (0 to 63) with a wrong sum; repeat for several")
        ->check(countUpTo(loader::kBlocks - 1, "a block number"));
    group.option("--other-block", typed.otherBlocks, "BLOCK",
                 "Answer a read of this block (0 to 63) with the sound data frame of the next block (63: of block 0), "
                 "its address included; repeat for several")
        ->check(countUpTo(loader::kBlocks - 1, "a block number"));
    group.flag("--damage-once",
               commandLine.options.flash.damageOnce,
               "Damage only the first read of each block that --flip-bit, --wrong-sum or --other-block names; a read "
               "again gets a sound frame");
    group.option("--stop-after-frames", typed.stopAfterFrames, "N",
                 "Answer only the first N request frames (0 to 1000000); later frames are neither carried out nor "
                 "answered, while probes still are")
        ->check(countUpTo(1000000, "a number of frames"));
    group.option("--erase-delay", typed.eraseDelay, "MS",
                 "Send the reply to an erase MS milliseconds (0 to 60000) after the erase frame came; the program waits "
                 "5050 ms for it (the same as --delay erase=MS)")
        ->check(countUpTo(kLongestDelayMs, "milliseconds"));
    group.option("--ignore-probes", typed.ignoreProbes, "N", "Leave the first N presence probes (0 to 1000000) unanswered")
        ->check(countUpTo(1000000, "a number of probes"));
}

// The options that shape both the configuration service and the flash loader.
void addLineOptions(CLI::App& app, SimCommandLine& commandLine, Typed& typed) {
    OptionGroup group(app, "Both");
    group.option("--noise-before-reply", typed.noise, "N",
                 "Send N bytes 00 (0 to 4096) before every answer, as line noise: before the logon answer, the "
                 "go-ahead or NAK, the download frame, every reply and data frame and the probe's answer")
        ->check(countUpTo(4096, "a byte count"));
    group.option("--cut-reply", typed.cutReply, "N",
                 "Send only the first N bytes (0 to 4127) of every answer but the probe's and the download frame's (see "
                 "--stop-after): of the logon answer, the go-ahead or NAK, every reply and data frame; a data frame is "
                 "at most 4128 bytes on the line")
        ->check(countUpTo(loader::kLongestDataFrame - 1, "a byte count"));
    group.option("--delay", typed.delays, "WHAT=MS",
                 "Hold an answer back MS milliseconds (0 to 60000): logon (the ID= answer), service (the go-ahead, NAK "
                 "or download frame), frame (a pause after half the download frame), check, erase, write, read or probe "
                 "(the flash loader's answers); repeat or separate with commas for several")
        ->delimiter(',')
        ->check(expecting("WHAT=MS with WHAT logon, service, frame, check, erase, write, read or probe and MS from 0 "
                          "to 60000",
                          [](const std::string& text) { return parseDelay(text).has_value(); }));
    group.option("--vanish-after", typed.vanishAfter, "N",
                 "Let the line go for good once N bytes (1 to 1000000) have passed on it, taken and sent counted "
                 "together, as a device pulled out in the middle of an exchange; the simulator then ends")
        ->check(expecting("a byte count from 1 to 1000000", [](const std::string& text) {
            const auto count = parseCount(text, 1000000);
            return count && *count > 0;
        }));
    group.option("--crawl", typed.crawl, "MS",
                 "Send the download frame and every data frame one byte every MS milliseconds (1 to 60000): a board that "
                 "keeps talking, far slower than the line")
        ->check(expecting("milliseconds from 1 to 60000", [](const std::string& text) {
            const auto ms = parseCount(text, kLongestDelayMs);
            return ms && *ms > 0;
        }));
    group.flag("--pace", commandLine.options.pace, "Take and send bytes at 19200 baud (11 bits a byte)");
    group.flag("--silent", commandLine.options.silent, "Answer nothing: no logon, no probe, no frame");
}

void applyFlashOptions(const Typed& typed, LoaderFaults& flash) {
    for (const std::string& command : typed.refusedFlash) flash.refusedCommands.insert(kDelayedLoaderAnswers.at(command));
    for (const std::string& text : typed.corruptBlocks) {
        const SpoiltByte spoilt = *parseSpoiltByte(text);
        flash.corruptReadback.emplace(spoilt.block, spoilt.byte);
    }
    for (const auto& [blocks, damage] : {std::pair{&typed.flippedBits, FrameDamage::FlippedBit},
                                         std::pair{&typed.wrongSums, FrameDamage::WrongSum},
                                         std::pair{&typed.otherBlocks, FrameDamage::OtherBlock}})
        for (const std::string& block : *blocks) flash.damagedReads[static_cast<int>(countOf(block))] = damage;
    if (!typed.stopAfterFrames.empty()) flash.answerFrames = countOf(typed.stopAfterFrames);
    if (!typed.eraseDelay.empty()) flash.replyDelay[loader::kErase] = std::chrono::milliseconds(countOf(typed.eraseDelay));
    flash.ignoreProbes = countOf(typed.ignoreProbes);
    flash.noiseBeforeReply = countOf(typed.noise);
    if (!typed.cutReply.empty()) flash.cutReply = countOf(typed.cutReply);
}

void applyOptions(const Typed& typed, SimOptions& options) {
    if (!typed.stopAfter.empty()) options.stopAfter = countOf(typed.stopAfter);
    applyFlashOptions(typed, options.flash);
    if (!typed.crawl.empty()) options.crawl = std::chrono::milliseconds(countOf(typed.crawl));
    for (const std::string& text : typed.delays) {
        const auto [what, ms] = *parseDelay(text);
        const std::chrono::milliseconds delay(ms);
        if (what == "logon") options.logonDelay = delay;
        else if (what == "service") options.serviceDelay = delay;
        else if (what == "frame") options.framePause = delay;
        else options.flash.replyDelay[kDelayedLoaderAnswers.at(what)] = delay;
    }
    if (!typed.vanishAfter.empty()) options.vanishAfter = countOf(typed.vanishAfter);
}

}  // namespace

std::optional<std::size_t> parseCount(std::string_view text, std::size_t max) {
    if (text.empty()) return std::nullopt;
    std::size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const std::size_t digit = static_cast<std::size_t>(c - '0');
        if (digit > max || value > (max - digit) / 10) return std::nullopt;  // beyond max, overflow included
        value = value * 10 + digit;
    }
    return value;
}

std::optional<SpoiltByte> parseSpoiltByte(std::string_view text) {
    const std::size_t colon = text.find(':');
    const auto block = parseCount(text.substr(0, colon), loader::kBlocks - 1);
    if (!block) return std::nullopt;
    SpoiltByte spoilt{static_cast<int>(*block), 0};
    if (colon == std::string_view::npos) return spoilt;
    const std::string_view byte = text.substr(colon + 1);
    if (byte == "last") {
        spoilt.byte = loader::kBlockBytes - 1;
    } else if (byte != "first") {
        const auto position = parseCount(byte, loader::kBlockBytes - 1);
        if (!position) return std::nullopt;
        spoilt.byte = *position;
    }
    return spoilt;
}

std::optional<int> parseCommandLine(int argc, char** argv, const std::string& version, SimCommandLine& commandLine) {
    CLI::App app(kDescription, "qm730sim");
    app.footer(kFooter);
    app.set_version_flag("--version", version, "Print the version and exit");
    app.get_formatter()->column_width(30);
    Typed typed;
    addServiceOptions(app, commandLine, typed);
    addFlashOptions(app, commandLine, typed);
    addLineOptions(app, commandLine, typed);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
        std::cerr << "qm730sim: " << error.what() << "\nRun qm730sim --help for the options.\n";
        return 2;
    }
    applyOptions(typed, commandLine.options);
    return std::nullopt;
}

}  // namespace qm730::sim
