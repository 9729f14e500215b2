// The simulated board's flash loader: it carries out the requests of the
// board link on its own NOR flash and says what to answer. It does no line
// work itself; the board on the line feeds it whole frames and probes and
// sends what it returns.
//
// The flash behaves as NOR flash does: it starts erased (all FF) unless
// loaded, an erase sets its 64 KiB sector to FF, and a block write can only
// clear bits (new = old AND data), so a block written without an erase
// before it reads back wrong.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "sim/loader_wire.h"

namespace qm730::sim {

// How a block's data frame is damaged on its way: a bit of the block
// flipped after the sum was made, a wrong sum, or the sound frame of the
// next block (its address, data and sum) in its place.
enum class FrameDamage { FlippedBit, WrongSum, OtherBlock };

// Ways the loader can be told to misbehave, for trying the program's
// failure paths.
struct LoaderFaults {
    // Answered 15 and not carried out; loader::kProbe makes the probe's
    // answer 15 instead of 06.
    std::set<std::uint8_t> refusedCommands;
    // (block, byte): that byte of the block's data frame goes out inverted.
    std::set<std::pair<int, std::size_t>> corruptReadback;
    std::map<int, FrameDamage> damagedReads;  // blocks whose data frame arrives damaged
    bool damageOnce = false;                  // only a block's first read is damaged; the next is sound
    std::optional<std::size_t> answerFrames;  // frames answered before the loader falls silent
    // Waited before the answer to a command (or to the probe, loader::kProbe).
    std::map<std::uint8_t, std::chrono::milliseconds> replyDelay;
    std::size_t ignoreProbes = 0;             // probes left unanswered before the first answer
    std::size_t noiseBeforeReply = 0;         // line noise (00 bytes) before every answer, the probe's included
    std::optional<std::size_t> cutReply;      // only this many bytes of every reply and data frame
};

// What the loader wants done on the line for one frame or probe.
struct LoaderAnswer {
    Bytes bytes;                          // sent as they are; none for no answer
    std::chrono::milliseconds delay{0};  // waited before they go out
    bool flashChanged = false;            // an erase or block write was carried out
    bool refused = false;                 // answered 15: damaged, not allowed or refused on purpose
    bool dataFrame = false;               // the answer to a block read
    std::string note;                     // one line for the log
};

class FlashLoader {
public:
    // flash: the starting content, kFlashBytes long; anything else starts erased.
    explicit FlashLoader(LoaderFaults faults, Bytes flash = {});

    // One request, from its start byte up to, not including, its end byte.
    LoaderAnswer frame(std::span<const std::uint8_t> wire);
    // The presence probe.
    LoaderAnswer probe();

    const Bytes& flash() const { return flash_; }
    // Drops every fault from now on; the flash stays as it is.
    void heal() { faults_ = {}; }

private:
    std::chrono::milliseconds delayFor(std::uint8_t command) const;
    LoaderAnswer carryOut(const Request& request);
    // The data frame of a block read as the faults let it go out.
    Bytes readAnswer(std::uint8_t htag, int block, std::string& note);
    // The reply or data frame as the faults let it onto the line.
    Bytes onTheLine(Bytes answer) const;

    LoaderFaults faults_;
    Bytes flash_;
    std::set<int> damagedOnce_;  // blocks whose one damaged read has gone out
    std::size_t framesSeen_ = 0;
    std::size_t probesSeen_ = 0;
};

}  // namespace qm730::sim
