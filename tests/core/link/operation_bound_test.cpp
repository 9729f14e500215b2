// Every operation is bounded as a whole: against the simulated board that
// keeps talking, a byte every 20 ms, through the real serial layer. The
// bounds are short ones set for the test; those the wire time gives are
// checked on a virtual clock with the transfer's other tests.
#include <gtest/gtest.h>

#include <regex>

#include "core/flash/programmer.h"
#include "core/link/serial_port.h"
#include "core/link/transfer_line.h"
#include "core/link/transfer_protocol.h"
#include "recording_host.h"
#include "simboard_thread.h"

using namespace qm730;
using namespace qm730::test;

namespace {

std::string readConfiguration(const std::string& port, std::chrono::milliseconds limit) {
    SerialPort serial;
    if (!openTransferPort(serial, port).opened) return "no port";
    RecordingHost host;
    ConfigImage image;
    auto transfer = std::make_unique<ConfigTransfer>(image, serial, host);
    transfer->setTimeLimit(limit);
    return transfer->ReceiveConfiguration() ? "read" : transfer->failureReason();
}

// A write of one block of firmware, or a read of the whole flash.
std::string onTheFlash(const std::string& port, std::chrono::milliseconds limit, bool writing) {
    RecordingHost host;
    LinkState state;
    SerialPort serial;
    BoardLink link(serial, host, state);
    link.setTimeLimit(limit);
    auto firmware = std::make_unique<Firmware>();
    std::fill_n(firmware->image.bytes.begin(), kFlashBlockSize, 0x5A);
    firmware->fileName = "crawl.s28";
    const FlashOutcome outcome = writing ? WriteFirmware(link, port, *firmware) : ReadFirmware(link, port, firmware->image);
    EXPECT_FALSE(serial.isOpen());
    return describeFlashOutcome(outcome);
}

}  // namespace

TEST(OperationBound, ABoardThatCrawlsIsGivenUpInOneLine) {
    struct Case {
        const char* name;
        std::function<std::string(const std::string&, std::chrono::milliseconds)> run;
        std::chrono::milliseconds limit;  // a write's erases alone take 2.1 s
        const char* said;
    };
    const std::vector<Case> cases = {
        {"read", readConfiguration, 1500ms, "the board sent [0-9]+ of 8846 bytes in [0-9]+ s: far slower than the line"},
        {"backup", [](const std::string& port, auto limit) { return onTheFlash(port, limit, false); }, 1500ms,
         "during the read of block 0 \\(D0000\\), the line carried [0-9]+ of 133919 bytes in [0-9]+ s: far slower "
         "than the line"},
        {"flash", [](const std::string& port, auto limit) { return onTheFlash(port, limit, true); }, 3500ms,
         "during the read-back of block 0 \\(D0000\\), the line carried [0-9]+ of 4264 bytes in [0-9]+ s: far "
         "slower than the line"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimOptions crawling;
        crawling.crawl = 20ms;
        SimBoardThread board(crawling);
        const auto start = std::chrono::steady_clock::now();
        const std::string said = c.run(board.port(), c.limit);
        EXPECT_TRUE(std::regex_match(said, std::regex(c.said))) << said;
        EXPECT_GE(std::chrono::steady_clock::now() - start, c.limit);
    }
}
