// The simulated board's flash as a file: the 128 KiB raw, or Motorola
// S-records with 24-bit addresses (S2) that the program's firmware loader
// takes as they are.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sim/loader_wire.h"

namespace qm730::sim {

enum class FlashFormat { Binary, SRecord };

// The format a save writes: S-records for a name ending in .s19, .s28,
// .s37, .srec, .mot or .s (any case), the raw bytes for any other name.
FlashFormat formatForName(const std::string& path);

// The flash as S-record text: an S0 header, S2 records of 32 bytes for
// every stretch that is not erased (an erased flash loads as all FF), and an
// S8 end record.
std::string toSRecords(const Bytes& flash);

// Reads S-record text into an erased flash. Every line must be a sound
// record (its length and checksum right); S2 and S3 data must lie within
// D0000 to EFFFF; S0, S5 and S6 are passed over and an S7, S8 or S9 ends it.
// Returns what is wrong, naming the line, or nothing.
std::optional<std::string> fromSRecords(std::string_view text, Bytes& flash);

// Loads a flash file; the format is told by its content: S-record text, or
// exactly 131072 raw bytes. Folders, pipes and devices are refused without
// being read. Returns what is wrong, or nothing when flash was replaced.
std::optional<std::string> loadFlashFile(const std::string& path, Bytes& flash);

// Saves the flash in the format its name asks for, as the program saves its
// files (filesave.h): a failed save leaves the old file whole. Returns what
// went wrong, or nothing.
std::optional<std::string> saveFlashFile(const std::string& path, const Bytes& flash);

}  // namespace qm730::sim
