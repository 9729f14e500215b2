// The line of a configuration transfer: the transfer dialog keeps its
// settings in two selectors, a baud-rate list and a data-format list, whose
// items map to the line's settings here; and the port is opened as the
// dialog opens it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "core/config/notice.h"
#include "core/link/serial_line.h"

namespace qm730 {

// "1200 bps" .. "19200 bps"
inline constexpr std::array<std::uint32_t, 5> kSelectorBaudRates{1200, 2400, 4800, 9600, 19200};

struct DataFormat {
    int dataBits;
    Parity parity;
    int stopBits;
};

// "7,E,1", "8,N,1", "8,N,2". The first item has always set two stop bits
// despite its text, as the serial-port class's format code 0 does; it is
// kept so for boards set up that way.
inline constexpr std::array<DataFormat, 3> kSelectorDataFormats{{
    {7, Parity::Even, 2},
    {8, Parity::None, 1},
    {8, Parity::None, 2},
}};

// The settings for the chosen items; an item outside its list (nothing
// chosen) keeps the board's own value for that part of the line.
constexpr LineSettings lineSettingsFromSelectors(int baudItem, int dataItem) {
    LineSettings settings = kBoardLine;
    if (baudItem >= 0 && baudItem < static_cast<int>(kSelectorBaudRates.size()))
        settings.baudRate = kSelectorBaudRates[static_cast<std::size_t>(baudItem)];
    if (dataItem >= 0 && dataItem < static_cast<int>(kSelectorDataFormats.size())) {
        const DataFormat& format = kSelectorDataFormats[static_cast<std::size_t>(dataItem)];
        settings.dataBits = format.dataBits;
        settings.parity = format.parity;
        settings.stopBits = format.stopBits;
    }
    return settings;
}

static_assert(lineSettingsFromSelectors(4, 2) == kBoardLine, "the selectors' design items give the board's line");

Notice openPortErrorNotice();     // "Open Port Error!!" / "Comm Error"
Notice portSettingErrorNotice();  // "Port Setting Error!!!" / "Set Error"

struct TransferPortOpening {
    bool opened = false;
    std::optional<Notice> notice;  // what to show the operator when not opened
    // Why, in one line that does not repeat the port's name: "cannot open
    // the port: not a serial port", "cannot set up the port: ...".
    std::string reason;
};

// Opens the named port ("COM1".."COM5" or a device path) exclusively at
// 19200 baud, 8 data bits, no parity, two stop bits, or the settings given.
// A port whose settings are refused is closed again.
TransferPortOpening openTransferPort(SerialLine& line, const std::string& portName,
                                     const LineSettings& settings = kBoardLine);

}  // namespace qm730
