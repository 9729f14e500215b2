// qm730soak: a long run of the core in one process, as the windowed program
// runs it for hours: one serial-port object and one link state for the whole
// run, and cycle after cycle of send, read and firmware write against
// simulated boards, some of them faulty. After every cycle it notes the
// process's open descriptors and resident memory, so that a leak on any path
// (a success, a refusal, a time-out) shows as growth.
//
//   qm730soak --port DEVICE --firmware FILE [--firmware FILE] [--cycles N]
//             [--seed N] [--bound SECONDS] [--fault LABEL DEVICE EXPECT]...
//
// EXPECT says how send, read and flash end against that faulty board: three
// letters, o for success and x for failure ("oxo": only the read fails). A
// tenth of the cycles, chosen at random, go to a faulty board. One line per
// cycle and a summary go to stdout; the exit status is 0 when every cycle
// ended as expected within the bound and no descriptor was left open.
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/config/image.h"
#include "core/flash/programmer.h"
#include "core/link/boardlink.h"
#include "core/link/serial_port.h"
#include "core/link/transfer_line.h"
#include "core/link/transfer_protocol.h"
#include "recording_host.h"

namespace {

using namespace qm730;
using Clock = std::chrono::steady_clock;

struct Fault {
    std::string label;
    std::string port;
    std::string expect;  // "oxo": send, read, flash
};

struct Options {
    std::string port;
    std::vector<std::string> firmwareFiles;
    std::vector<Fault> faults;
    int cycles = 200;
    unsigned seed = 1;
    double boundSeconds = 30;
};

int openDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(dir);
    return count - 1;  // the listing's own descriptor
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = -1;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            break;
        }
        status.ignore(4096, '\n');
    }
    return value;
}

struct Result {
    bool ok = false;
    std::string why;
};

// One transfer on its own port handle, as the transfer dialog runs it.
Result transfer(const std::string& portName, ConfigImage& image, bool sending) {
    SerialPort serial;
    const TransferPortOpening opening = openTransferPort(serial, portName);
    if (!opening.opened) return {false, opening.reason};
    // Silent: the outcome says how a run ended.
    test::RecordingHost host;
    host.recording = false;
    auto run = std::make_unique<ConfigTransfer>(image, serial, host);
    if (!(sending ? run->SendConfiguration() : run->ReceiveConfiguration())) {
        serial.abandon();
        return {false, run->failureReason()};
    }
    try {
        serial.close();
    } catch (const SerialError& e) {
        return {false, "close: " + e.reason()};
    }
    return {true, {}};
}

// Pager records and messages the board sends back change every cycle, with
// every byte value, so that a read that returns a stale image shows.
void scramble(ConfigImage& image, std::mt19937& random) {
    std::uniform_int_distribution<int> slot(0, 98), byte(0, 255);
    for (int n = 0; n < 8; ++n) {
        std::uint8_t* pager = image.capcodeSlot(static_cast<std::size_t>(slot(random)));
        for (int i = 0; i < 22; ++i) pager[i] = static_cast<std::uint8_t>(byte(random));
        std::uint8_t* message = image.messageSlot(static_cast<std::size_t>(slot(random)));
        for (int i = 0; i < 60; ++i) message[i] = static_cast<std::uint8_t>(byte(random));
    }
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (arg == "--port") {
            options.port = next();
        } else if (arg == "--firmware") {
            options.firmwareFiles.push_back(next());
        } else if (arg == "--cycles") {
            options.cycles = std::atoi(next().c_str());
        } else if (arg == "--seed") {
            options.seed = static_cast<unsigned>(std::strtoul(next().c_str(), nullptr, 10));
        } else if (arg == "--bound") {
            options.boundSeconds = std::atof(next().c_str());
        } else if (arg == "--fault") {
            Fault fault{next(), next(), next()};
            if (fault.expect.size() != 3 || fault.expect.find_first_not_of("ox") != std::string::npos) return false;
            options.faults.push_back(fault);
        } else {
            return false;
        }
    }
    return !options.port.empty() && !options.firmwareFiles.empty() && options.cycles > 0;
}

struct Watch {
    int firstFds = 0, lastFds = 0, maxFds = 0;
    long firstKiB = 0, settledKiB = 0, lastKiB = 0, maxKiB = 0;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::cerr << "usage: qm730soak --port DEVICE --firmware FILE [--firmware FILE] [--cycles N] [--seed N]\n"
                     "                 [--bound SECONDS] [--fault LABEL DEVICE EXPECT]...\n";
        return 2;
    }
    std::vector<std::unique_ptr<Firmware>> firmwares;
    for (const std::string& file : options.firmwareFiles) {
        auto firmware = std::make_unique<Firmware>();
        const FirmwareLoad load = loadFirmwareFile(file, *firmware);
        if (!load.ok()) {
            std::cerr << "qm730soak: cannot load " << file << ": " << load.reason() << "\n";
            return 2;
        }
        firmwares.push_back(std::move(firmware));
    }

    std::mt19937 random(options.seed);
    // A tenth of the cycles, at random places, go to a faulty board.
    std::vector<bool> faulty(static_cast<std::size_t>(options.cycles), false);
    if (!options.faults.empty()) {
        std::fill_n(faulty.begin(), std::max(1, options.cycles / 10), true);
        std::shuffle(faulty.begin(), faulty.end(), random);
    }

    // As in the windowed program: one port object and one link state for
    // the whole run; Htag runs on from cycle to cycle.
    SerialPort commPort;
    LinkState state;
    test::RecordingHost host;
    host.recording = false;
    BoardLink link(commPort, host, state);

    ConfigImage sent = defaultImage();
    Watch watch;
    int failures = 0;
    double longest[3] = {0, 0, 0};
    double longestCycle = 0;
    std::map<std::string, int> injected;  // faulty cycles per fault
    const char* names[3] = {"send", "read", "flash"};
    std::uniform_int_distribution<std::size_t> pick(0, options.faults.empty() ? 0 : options.faults.size() - 1);

    for (int cycle = 1; cycle <= options.cycles; ++cycle) {
        const bool faultyCycle = faulty[static_cast<std::size_t>(cycle - 1)];
        const Fault* fault = faultyCycle ? &options.faults[pick(random)] : nullptr;
        const std::string port = fault ? fault->port : options.port;
        const std::string expect = fault ? fault->expect : "ooo";
        if (fault) ++injected[fault->label];
        scramble(sent, random);
        const Firmware& firmware = *firmwares[static_cast<std::size_t>(cycle - 1) % firmwares.size()];

        std::string line = "cycle " + std::to_string(cycle) + " " + (fault ? fault->label : "healthy") + ":";
        bool cycleOk = true;
        double cycleSeconds = 0;
        bool sentOk = false;
        for (int op = 0; op < 3; ++op) {
            const auto start = Clock::now();
            Result result;
            if (op == 0) {
                ConfigImage image = sent;
                result = transfer(port, image, true);
                sentOk = result.ok;
            } else if (op == 1) {
                // What the board does not send comes from the table sent. The
                // board holds the table sent when the send succeeded, and never
                // one whose upload failed (the records changed every cycle show it).
                ConfigImage image = sent;
                result = transfer(port, image, false);
                if (result.ok && sentOk && image.bytes() != sent.bytes())
                    result = {false, "the image read differs from the image sent"};
                else if (result.ok && !sentOk && image.bytes() == sent.bytes())
                    result = {false, "the board holds the image whose upload failed"};
            } else {
                const FlashOutcome outcome = WriteFirmware(link, port, firmware);
                result = {outcome.ok(), outcome.ok() ? std::string() : describeFlashOutcome(outcome)};
            }
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            longest[op] = std::max(longest[op], seconds);
            cycleSeconds += seconds;
            const bool asExpected = result.ok == (expect[static_cast<std::size_t>(op)] == 'o');
            const bool inTime = seconds <= options.boundSeconds;
            char took[32];
            std::snprintf(took, sizeof took, " %.2f s", seconds);
            line += std::string(" ") + names[op] + (result.ok ? " ok" : " failed") + took;
            if (!asExpected) line += " (UNEXPECTED: " + (result.ok ? std::string("succeeded") : result.why) + ")";
            if (!inTime) line += " (OVER THE BOUND)";
            cycleOk = cycleOk && asExpected && inTime;
        }
        longestCycle = std::max(longestCycle, cycleSeconds);
        const int fds = openDescriptors();
        const long kib = residentKiB();
        if (cycle == 1) {
            watch.firstFds = fds;
            watch.firstKiB = kib;
        }
        // Allocators and the first runs of each path settle within a few
        // cycles; growth is counted from here.
        if (cycle == std::min(10, options.cycles)) watch.settledKiB = kib;
        watch.lastFds = fds;
        watch.lastKiB = kib;
        watch.maxFds = std::max(watch.maxFds, fds);
        watch.maxKiB = std::max(watch.maxKiB, kib);
        line += ", fds " + std::to_string(fds) + ", rss " + std::to_string(kib) + " KiB";
        if (!cycleOk) ++failures;
        std::cout << (cycleOk ? "" : "FAILED ") << line << std::endl;
    }

    const bool fdsGrew = watch.lastFds > watch.firstFds;
    // More than a few KiB a cycle after the first ten is a leak, not the
    // allocator finding its size.
    const bool memoryGrew = watch.lastKiB - watch.settledKiB > 1024;
    std::printf("summary: %d cycles, %d failed\n", options.cycles, failures);
    std::printf("summary: descriptors first %d, last %d, most %d%s\n", watch.firstFds, watch.lastFds, watch.maxFds,
                fdsGrew ? " (GREW)" : "");
    std::printf("summary: resident KiB first %ld, after cycle 10 %ld, last %ld, most %ld%s\n", watch.firstKiB,
                watch.settledKiB, watch.lastKiB, watch.maxKiB, memoryGrew ? " (GREW)" : "");
    std::printf("summary: longest send %.2f s, read %.2f s, flash %.2f s\n", longest[0], longest[1], longest[2]);
    std::printf("summary: longest cycle %.2f s\n", longestCycle);
    std::string faults;
    for (const auto& [label, count] : injected)
        faults += (faults.empty() ? "" : ", ") + label + " x" + std::to_string(count);
    std::printf("summary: faults %s\n", faults.empty() ? "none" : faults.c_str());
    return failures == 0 && !fdsGrew && !memoryGrew ? 0 : 1;
}
