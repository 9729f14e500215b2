// The rules of the "Config" tab: each accepted value is written straight into
// the system block, and each rule touches only the bytes or bits of its own
// setting.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/config/editdecision.h"
#include "core/config/image.h"

namespace qm730 {

// --- Drop-down lists --------------------------------------------------------

enum class SystemList { UartBaud, UartData, Protocol, Heartbeat, Baud, PocsagBaud, PocsagType };
inline constexpr std::size_t kSystemListCount = 7;
inline constexpr std::array<SystemList, kSystemListCount> kSystemLists{
    SystemList::UartBaud,  SystemList::UartData,   SystemList::Protocol,  SystemList::Heartbeat,
    SystemList::Baud,      SystemList::PocsagBaud, SystemList::PocsagType};

// The items of a list, exactly as shown (doubled blanks included).
std::span<const std::string_view> listItems(SystemList list);
std::size_t listOffset(SystemList list);
// 0 where the byte holds the item index, 1 where it holds index + 1
// (cboCBaud, cboPBaud, cboPType).
int listCodeBase(SystemList list);

// Stores the chosen item as its code byte.
void storeListChoice(ConfigImage& image, SystemList list, int index);
// The item a stored byte selects; std::nullopt when it matches no item.
std::optional<int> listSelection(const ConfigImage& image, SystemList list);

// --- Numeric fields ---------------------------------------------------------

// Key rule of every numeric field (delays, preamble, duration, passwords and
// the frequency): digits and Backspace pass, Enter is swallowed, any other key
// is refused with "Please insert a numeric !".
KeyDecision numericKeyPress(char key);

enum class ByteField { Delay1, Delay2, Delay3, Delay4, Preamble, PagerDuration };
// `edtDelay1`..`edtDelay4` carry Tag 0..3.
ByteField delayField(int tag);
std::size_t byteFieldOffset(ByteField field);

// Stores the low eight bits of the number (300 is stored as 44). An empty
// field stores nothing; a text that is no number, or too large, stores
// nothing and returns a notice saying so.
std::optional<Notice> storeByteField(ConfigImage& image, ByteField field, std::string_view text);

enum class Password { Function, Setup };
std::size_t passwordLength(Password password);  // 4 and 7
// Stores the characters only when the text is exactly the password's length
// of digits; returns whether it did.
bool storePassword(ConfigImage& image, Password password, std::string_view text);
// The stored password as the field shows it.
std::string storedPassword(const ConfigImage& image, Password password);
// Told when a password entry is refused, so the operator never believes the
// board got a password it did not.
Notice passwordRefusedNotice(Password password);

// --- Status flags -----------------------------------------------------------

// `chkCtl0`..`chkCtl3` (Tag 0..3) own bits 0, 2, 3 and 4.
inline constexpr int kStatusCheckBoxCount = 4;
std::uint8_t statusBitOfTag(int tag);
// Sets or clears only the check box's own bit.
void storeStatusCheckBox(ConfigImage& image, int tag, bool checked);
// Leaving the "Status" group: bits 0, 2, 3, 4 from the four check boxes and
// bit 5 from the channel-space box; bits 1, 6 and 7 stay as stored.
void storeStatusGroup(ConfigImage& image, const std::array<bool, kStatusCheckBoxCount>& checked, int channelSpaceIndex);

}  // namespace qm730
