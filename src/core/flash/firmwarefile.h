// The firmware file: Motorola S-record text whose S2 records (24-bit
// addresses) fill the flash image. The whole file is checked before the
// image is touched, so a damaged file never reaches the board.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/config/notice.h"
#include "core/flash/flashimage.h"

namespace qm730 {

// A firmware file larger than this is not a firmware file.
inline constexpr std::uintmax_t kFirmwareFileLimit = 16u * 1024 * 1024;

enum class FirmwareLoadStatus {
    Ok,
    CannotOpen,      // missing, no permission, ...
    NotRegularFile,  // a folder, a FIFO, a device
    TooLarge,        // over kFirmwareFileLimit
    ReadFailed,
    BadRecord,       // a line that is not a sound record for this board
    NoData,          // nothing stored between 0xD0000 and 0xEFFFF
};

struct FirmwareLoad {
    FirmwareLoadStatus status = FirmwareLoadStatus::Ok;
    int line = 0;         // 1-based line of a bad record
    std::string problem;  // what is wrong with it, or the system's complaint
    int errorNumber = 0;  // errno of a failing open or read

    std::uint32_t bytesLoaded = 0;
    std::uint16_t checksum = 0;
    // The file stored bytes of its own at offsets 0x1FFFE/0x1FFFF that the
    // image checksum replaced (they differed from it).
    bool checksumReplaced = false;
    std::uint8_t fileChecksumLow = kErasedByte;
    std::uint8_t fileChecksumHigh = kErasedByte;

    bool ok() const { return status == FirmwareLoadStatus::Ok; }
    // One line for a terminal or a tool tip: "line 7: the record's checksum
    // does not match".
    std::string reason() const;
    // The "File Error" box.
    Notice notice() const;
};

// The box every refused load shows; a second line says what is wrong where
// there is more to say than the first.
inline constexpr const char* kFileErrorText = "Can't perform one of the following file operations: Open, Seek, Read, Close.";
inline constexpr const char* kFileErrorCaption = "File Error";

// Parses the text into a fresh image (erased, then the records, then the
// checksum). On failure the image holds whatever was parsed so far and must
// be thrown away.
FirmwareLoad parseFirmwareText(std::string_view text, FlashImage& image);

// The firmware of service mode: the image that Write sends and the file it
// came from. An empty file name means nothing is loaded.
struct Firmware {
    FlashImage image;
    std::string fileName;

    bool loaded() const { return !fileName.empty(); }
    void forget() { fileName.clear(); }
};

// The image as a firmware file that loads back into the same image: an S0
// record holding the header text (at most 252 characters are kept), S2
// records of 32 bytes in address order, and an S8 end record. A record that
// would hold only erased bytes is left out: a write erases the whole flash
// first, so the file is exact without it. The record of the two checksum
// bytes (EFFE0 to EFFFF) is always there, so every such file loads. Lines
// end with a line feed.
std::string firmwareFileText(const FlashImage& image, std::string_view header);

// Loads the file all or nothing: on success the image, BytesLoaded and the
// file name (made absolute) are replaced; on any failure the image is kept
// and the file name is cleared, so a Write asks for a file first.
FirmwareLoad loadFirmwareFile(const std::string& path, Firmware& firmware);

}  // namespace qm730
