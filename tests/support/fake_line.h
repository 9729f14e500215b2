// A scripted board on a line in memory, for running the transfer without a
// device: answers arrive at chosen times, waits advance the clock instead of
// sleeping, and everything written is kept with the time it was written.
// A Session runs the transfer against it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "core/link/transfer_protocol.h"
#include "memory_line.h"
#include "recording_host.h"

namespace qm730::test {

using namespace std::chrono_literals;

// One answer from the board: the bytes and when they arrive.
struct Piece {
    Bytes data;
    std::chrono::milliseconds after;
};

inline std::vector<Piece> answer(Bytes data) { return {{std::move(data), 1ms}}; }

const Bytes kGoAheadAnswer = {0x06, 0x0D, 0x1B, '[', 'p', 0x0D};
constexpr std::size_t kLogonBytes = 6;  // CR, then ESC P G d CR

// A transfer against a board that answers the logon CR and then the service
// request with the given pieces.
struct Session {
    VirtualClock clock;
    MemoryLine line{clock};
    RecordingHost host{&clock};
    ConfigImage image = defaultImage();
    ConfigTransfer transfer{image, line, host};

    Session(std::vector<Piece> logon, std::vector<Piece> service) {
        line.onWrite = [logon = std::move(logon), service = std::move(service)](MemoryLine& p, std::span<const std::uint8_t>) {
            const std::size_t written = p.allWritten().size();
            if (written == 1)
                for (const auto& piece : logon) p.deliver(piece.data, piece.after);
            if (written == kLogonBytes && p.writes.size() == kLogonBytes)
                for (const auto& piece : service) p.deliver(piece.data, piece.after);
        };
    }
};

}  // namespace qm730::test
