#include "core/flash/firmwarefile.h"

#include <algorithm>
#include <memory>
#include <span>
#include <optional>
#include <vector>

#include "core/flash/firmwareread.h"

namespace qm730 {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Byte i of a record whose hex digits are already checked, counted from the
// length field (character 2).
std::uint8_t recordByte(std::string_view line, std::size_t i) {
    return static_cast<std::uint8_t>(hexDigit(line[2 + 2 * i]) << 4 | hexDigit(line[3 + 2 * i]));
}

bool isDataRecord(std::string_view line) {
    return line.size() >= 2 && (line[0] == 'S' || line[0] == 's') && (line[1] == '1' || line[1] == '2' || line[1] == '3');
}

std::string_view withoutTrailingBlanks(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

struct Record {
    int type = 0;
    std::uint32_t address = 0;
    std::size_t dataStart = 0;  // record byte index of the first data byte
    std::size_t dataCount = 0;
};

// Width of the address field of each record type; 0 for types that do not exist.
std::size_t addressBytes(int type) {
    switch (type) {
        case 0: case 5: case 9: return 2;
        case 2: case 6: case 8: return 3;
        case 7: return 4;
        default: return 0;
    }
}

// Checks one record completely; returns what is wrong with it, if anything.
std::optional<std::string> readRecord(std::string_view line, Record& record) {
    if (line[0] != 'S' && line[0] != 's') return "the line is not an S-record";
    if (line.size() < 2 || line[1] < '0' || line[1] > '9') return "the record type is not known";
    record.type = line[1] - '0';
    if (record.type == 1) return "S1 records have 16-bit addresses; the board's flash needs S2 records";
    if (record.type == 3) return "S3 records have 32-bit addresses; the board's flash needs S2 records";
    const std::size_t width = addressBytes(record.type);
    if (width == 0) return "the record type is not known";
    for (std::size_t i = 2; i < line.size(); ++i)
        if (hexDigit(line[i]) < 0) return "the record holds a character that is not a hexadecimal digit";
    if (line.size() < 4) return "the record ends before its length field";
    const std::size_t length = recordByte(line, 0);
    const std::size_t expected = 4 + 2 * length;
    if (line.size() < expected) return "the record is shorter than its length field";
    if (line.size() > expected) return "the record is longer than its length field";
    if (length < width + 1) return "the length field is too small for the record's address and checksum";
    unsigned sum = 0;
    for (std::size_t i = 0; i <= length; ++i) sum += recordByte(line, i);
    if ((sum & 0xFF) != 0xFF) return "the record's checksum does not match";
    record.address = 0;
    for (std::size_t i = 0; i < width; ++i) record.address = record.address << 8 | recordByte(line, 1 + i);
    record.dataStart = 1 + width;
    record.dataCount = length - width - 1;
    return std::nullopt;
}

constexpr std::size_t kRecordDataBytes = 32;
constexpr std::size_t kLongestHeader = 252;  // the length byte counts address and checksum too

void appendHexByte(std::string& out, unsigned value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += kDigits[(value >> 4) & 0xF];
    out += kDigits[value & 0xF];
}

// One record: its type, the length, the address in addressBytes bytes, the
// data and the checksum (the complement of the sum of everything after the
// type), and a line feed.
void appendRecord(std::string& out, char type, std::uint32_t address, int addressBytes,
                  std::span<const std::uint8_t> data) {
    const unsigned length = static_cast<unsigned>(addressBytes + data.size() + 1);
    unsigned sum = length;
    out += 'S';
    out += type;
    appendHexByte(out, length);
    for (int i = addressBytes - 1; i >= 0; --i) {
        const unsigned byte = address >> (8 * i) & 0xFF;
        sum += byte;
        appendHexByte(out, byte);
    }
    for (std::uint8_t byte : data) {
        sum += byte;
        appendHexByte(out, byte);
    }
    appendHexByte(out, ~sum & 0xFF);
    out += '\n';
}

FirmwareLoad refused(FirmwareLoadStatus status, int line, std::string problem, int errorNumber = 0) {
    FirmwareLoad result;
    result.status = status;
    result.line = line;
    result.problem = std::move(problem);
    result.errorNumber = errorNumber;
    return result;
}

}  // namespace

std::string FirmwareLoad::reason() const {
    switch (status) {
        case FirmwareLoadStatus::Ok: return "loaded";
        case FirmwareLoadStatus::CannotOpen: return "cannot open the file: " + problem;
        case FirmwareLoadStatus::ReadFailed: return "cannot read the file: " + problem;
        case FirmwareLoadStatus::NotRegularFile:
        case FirmwareLoadStatus::TooLarge:
        case FirmwareLoadStatus::NoData: return problem;
        case FirmwareLoadStatus::BadRecord: return "line " + std::to_string(line) + ": " + problem;
    }
    return problem;
}

Notice FirmwareLoad::notice() const {
    std::string text = kFileErrorText;
    switch (status) {
        case FirmwareLoadStatus::BadRecord: text += "\nLine " + std::to_string(line) + ": " + problem; break;
        case FirmwareLoadStatus::NotRegularFile: text += "\nThe file is not a regular file"; break;
        case FirmwareLoadStatus::TooLarge: text += "\nThe file is larger than 16 MiB"; break;
        case FirmwareLoadStatus::NoData: text += "\nThe file holds no data for addresses D0000 to EFFFF"; break;
        default: break;
    }
    return {text, kFileErrorCaption, NoticeButtons::OkCancel, NoticeIcon::None};
}

FirmwareLoad parseFirmwareText(std::string_view text, FlashImage& image) {
    image = FlashImage{};
    // An old end-of-file mark (^Z) may close the text, with line ends or
    // blanks around it.
    while (!text.empty() && (text.back() == '\x1A' || text.back() == '\n' || text.back() == '\r' ||
                             text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);

    bool headerPassed = false;
    bool fileSetChecksum = false;
    int number = 0;
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t end = text.find('\n', position);
        const std::string_view line =
            withoutTrailingBlanks(text.substr(position, end == std::string_view::npos ? std::string_view::npos : end - position));
        position = end == std::string_view::npos ? text.size() : end + 1;
        ++number;
        if (line.empty()) continue;
        // The first line is the file's header, whatever it holds, unless it
        // already carries data.
        const bool first = !headerPassed;
        headerPassed = true;
        if (first && !isDataRecord(line)) continue;

        Record record;
        if (auto problem = readRecord(line, record))
            return refused(FirmwareLoadStatus::BadRecord, number, std::move(*problem));
        if (record.type != 2 && record.type != 8) continue;  // header, count and end records store nothing
        // The flash stops at 0xEFFFF: what lies above it (and every later
        // line) belongs to other parts of the board and is not loaded.
        if (record.address >= kFlashEnd) break;
        if (record.type == 8 || record.dataCount == 0) continue;
        if (record.address < kFlashBase || record.address + record.dataCount > kFlashEnd)
            return refused(FirmwareLoadStatus::BadRecord, number, "the data lie outside D0000 to EFFFF");
        const std::size_t offset = record.address - kFlashBase;
        for (std::size_t i = 0; i < record.dataCount; ++i)
            image.bytes[offset + i] = recordByte(line, record.dataStart + i);
        image.BytesLoaded += static_cast<std::uint32_t>(record.dataCount);
        if (offset + record.dataCount > kChecksumLow) fileSetChecksum = true;
    }

    if (image.BytesLoaded == 0)
        return refused(FirmwareLoadStatus::NoData, 0, "the file holds no data for addresses D0000 to EFFFF");

    FirmwareLoad result;
    result.fileChecksumLow = image.bytes[kChecksumLow];
    result.fileChecksumHigh = image.bytes[kChecksumHigh];
    image.storeChecksum();
    result.bytesLoaded = image.BytesLoaded;
    result.checksum = image.storedChecksum();
    result.checksumReplaced = fileSetChecksum && (result.fileChecksumLow != image.bytes[kChecksumLow] ||
                                                  result.fileChecksumHigh != image.bytes[kChecksumHigh]);
    return result;
}

std::string firmwareFileText(const FlashImage& image, std::string_view header) {
    header = header.substr(0, kLongestHeader);
    std::string text;
    text.reserve(kFlashSize * 2 + kFlashSize / kRecordDataBytes * 16);
    appendRecord(text, '0', 0, 2,
                 std::span(reinterpret_cast<const std::uint8_t*>(header.data()), header.size()));
    for (std::size_t offset = 0; offset < kFlashSize; offset += kRecordDataBytes) {
        const std::span<const std::uint8_t> data(image.bytes.data() + offset, kRecordDataBytes);
        const bool erased = std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == kErasedByte; });
        if (erased && offset + kRecordDataBytes < kFlashSize) continue;
        appendRecord(text, '2', static_cast<std::uint32_t>(kFlashBase + offset), 3, data);
    }
    appendRecord(text, '8', 0, 3, {});
    return text;
}

FirmwareLoad loadFirmwareFile(const std::string& path, Firmware& firmware) {
    firmware.forget();
    std::string text;
    if (auto failure = readFirmwareFile(path, text)) return *failure;
    auto scratch = std::make_unique<FlashImage>();
    FirmwareLoad result = parseFirmwareText(text, *scratch);
    if (!result.ok()) return result;
    firmware.image = *scratch;
    firmware.fileName = absoluteFileName(path);
    return result;
}

}  // namespace qm730
