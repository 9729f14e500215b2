#include "sim/flash_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/config/file_descriptor.h"
#include "core/config/filesave.h"
#include "sim/file_checks.h"

namespace qm730::sim {

namespace {

using namespace loader;

// Far more than any flash file of this board, S-records included.
constexpr std::size_t kLargestFile = 4u * 1024 * 1024;
constexpr std::size_t kRecordData = 32;

std::string systemError() { return std::strerror(errno); }

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void appendHex(std::string& out, unsigned value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += kDigits[(value >> 4) & 0xF];
    out += kDigits[value & 0xF];
}

// One record: type, then the length, address, data and checksum bytes.
std::string record(char type, std::uint32_t address, int addressBytes, const std::uint8_t* data, std::size_t count) {
    std::string line{'S', type};
    const unsigned length = static_cast<unsigned>(addressBytes + count + 1);
    unsigned sum = length;
    appendHex(line, length);
    for (int i = addressBytes - 1; i >= 0; --i) {
        const unsigned byte = (address >> (8 * i)) & 0xFF;
        sum += byte;
        appendHex(line, byte);
    }
    for (std::size_t i = 0; i < count; ++i) {
        sum += data[i];
        appendHex(line, data[i]);
    }
    appendHex(line, ~sum & 0xFF);
    line += '\n';
    return line;
}

int addressBytesOf(int type) {
    switch (type) {
        case 0: case 1: case 5: case 9: return 2;
        case 2: case 6: case 8: return 3;
        case 3: case 7: return 4;
        default: return 0;
    }
}

std::string lineProblem(std::size_t number, const std::string& problem) {
    return "line " + std::to_string(number) + ": " + problem;
}

// S-record text, as opposed to raw flash bytes: it begins with a record
// type and holds nothing but printable characters and line ends.
bool looksLikeSRecords(std::string_view content) {
    const std::size_t first = content.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos || first + 1 >= content.size()) return false;
    if ((content[first] != 'S' && content[first] != 's') || content[first + 1] < '0' || content[first + 1] > '9')
        return false;
    return std::all_of(content.begin(), content.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u >= 0x20 && u < 0x7F) || c == '\n' || c == '\r' || c == '\t' || c == '\x1A';
    });
}

}  // namespace

FlashFormat formatForName(const std::string& path) {
    const std::size_t dot = path.find_last_of('.');
    const std::size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return FlashFormat::Binary;
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* known : {"s19", "s28", "s37", "srec", "mot", "s"})
        if (extension == known) return FlashFormat::SRecord;
    return FlashFormat::Binary;
}

std::string toSRecords(const Bytes& flash) {
    static constexpr char kHeader[] = "qm730sim flash";
    std::string text = record('0', 0, 2, reinterpret_cast<const std::uint8_t*>(kHeader), sizeof kHeader - 1);
    for (std::size_t offset = 0; offset < flash.size(); offset += kRecordData) {
        const std::size_t count = std::min(kRecordData, flash.size() - offset);
        const auto begin = flash.begin() + static_cast<long>(offset);
        if (std::all_of(begin, begin + static_cast<long>(count), [](std::uint8_t b) { return b == kErased; })) continue;
        text += record('2', static_cast<std::uint32_t>(kFlashStart + offset), 3, flash.data() + offset, count);
    }
    text += record('8', 0, 3, nullptr, 0);
    return text;
}

std::optional<std::string> fromSRecords(std::string_view text, Bytes& flash) {
    Bytes loaded(kFlashBytes, kErased);
    std::size_t number = 0;
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t end = std::min(text.find('\n', position), text.size());
        std::string_view line = text.substr(position, end - position);
        position = end + 1;
        ++number;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t' || line.back() == '\x1A'))
            line.remove_suffix(1);
        if (line.empty()) continue;

        if (line[0] != 'S' && line[0] != 's') return lineProblem(number, "not an S-record");
        const int type = line.size() > 1 ? hexDigit(line[1]) : -1;
        const int addressBytes = type >= 0 && type <= 9 ? addressBytesOf(type) : 0;
        if (addressBytes == 0) return lineProblem(number, "unknown record type");
        if (line.size() < 4 || line.size() % 2 != 0) return lineProblem(number, "the record is cut short");
        Bytes bytes;  // length, address, data, checksum
        for (std::size_t i = 2; i < line.size(); i += 2) {
            const int high = hexDigit(line[i]), low = hexDigit(line[i + 1]);
            if (high < 0 || low < 0) return lineProblem(number, "a character that is not a hexadecimal digit");
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
        }
        if (bytes[0] + 1u != bytes.size()) return lineProblem(number, "the length field does not match the record");
        if (bytes[0] < addressBytes + 1) return lineProblem(number, "the record is too short for its address");
        unsigned sum = 0;
        for (const std::uint8_t byte : bytes) sum += byte;
        if ((sum & 0xFF) != 0xFF) return lineProblem(number, "the record's checksum does not match");

        if (type >= 7) break;  // the end record
        if (type != 1 && type != 2 && type != 3) continue;  // header and counts
        std::uint32_t address = 0;
        for (int i = 0; i < addressBytes; ++i) address = address << 8 | bytes[1 + static_cast<std::size_t>(i)];
        const std::size_t count = bytes.size() - 2 - static_cast<std::size_t>(addressBytes);
        if (count == 0) continue;
        if (address < kFlashStart || address >= kFlashEnd || count > kFlashEnd - address) {
            char range[64];
            std::snprintf(range, sizeof range, "data at %X to %zX lie outside the flash (D0000 to EFFFF)", address,
                          address + count - 1);
            return lineProblem(number, range);
        }
        std::copy(bytes.begin() + 1 + addressBytes, bytes.end() - 1, loaded.begin() + (address - kFlashStart));
    }
    flash = std::move(loaded);
    return std::nullopt;
}

std::optional<std::string> loadFlashFile(const std::string& path, Bytes& flash) {
    const std::string complaint = "cannot load flash " + quoted(path) + ": ";
    // Opened without waiting, so a pipe cannot stall the start.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) return complaint + systemError();
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return complaint + systemError();
    if (!S_ISREG(info.st_mode)) return complaint + "it " + kindOf(info.st_mode);
    if (static_cast<std::size_t>(info.st_size) > kLargestFile) return complaint + "it is far too large for a flash file";
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return complaint + systemError();
        if (got == 0) break;
        content.append(buffer, static_cast<std::size_t>(got));
        if (content.size() > kLargestFile) return complaint + "it is far too large for a flash file";
    }
    if (looksLikeSRecords(content)) {
        if (auto problem = fromSRecords(content, flash)) return complaint + *problem;
        return std::nullopt;
    }
    if (content.size() != kFlashBytes)
        return complaint + "it is " + std::to_string(content.size()) +
               " bytes and not S-record text; a raw flash file is exactly 131072 bytes";
    flash.assign(content.begin(), content.end());
    return std::nullopt;
}

std::optional<std::string> saveFlashFile(const std::string& path, const Bytes& flash) {
    const std::string content = formatForName(path) == FlashFormat::SRecord
                                    ? toSRecords(flash)
                                    : std::string(flash.begin(), flash.end());
    const FileResult saved =
        saveFileContents(path, FileContents(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()));
    if (saved.ok()) return std::nullopt;
    return "cannot save flash to " + quoted(path) + ": " + saved.reason;
}

}  // namespace qm730::sim
