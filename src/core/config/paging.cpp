#include "core/config/paging.h"

namespace qm730 {

int nextCapcodePage(int page) { return page >= kCapcodePageCount ? 1 : page + 1; }
int previousCapcodePage(int page) { return page <= 1 ? 1 : page - 1; }
int nextMessagePage(int page) { return page >= kMessagePageCount ? 1 : page + 1; }
int previousMessagePage(int page) { return page <= 1 ? kMessagePageCount : page - 1; }

std::string capcodeTabCaption(int page, CapcodePageVia via) {
    if (page == kBlockPage) return via == CapcodePageVia::NextCommand ? "DataBase100 -- 799" : "DataBase100 -- 899";
    return "Pager DataBase" + std::to_string(page);
}

std::string messageTabCaption(int page) { return "PPG Message" + std::to_string(page); }

std::size_t capcodeSlotOfRow(int page, int row) {
    if (page == kBlockPage) return kFirstBlockSlot + kBlockSize * static_cast<std::size_t>(row);
    return static_cast<std::size_t>((page - 1) * kRowsPerPage + row);
}

std::size_t messageSlotOfRow(int page, int row) { return static_cast<std::size_t>((page - 1) * kRowsPerPage + row); }

int capcodeTableIndex(int page, int row) { return (page - 1) * kRowsPerPage + row; }

bool capcodeRowEnabled(int page, int row) { return page != kBlockPage || row < kBlockRows; }

std::optional<std::string> capcodeRowLabel(int page, int row) {
    if (page != kBlockPage) return std::to_string((page - 1) * kRowsPerPage + row + 1);
    if (row < kBlockRows) return std::to_string(100 * (row + 1));
    return std::nullopt;
}

std::string messageRowLabel(int page, int row) { return std::to_string((page - 1) * kRowsPerPage + row + 1); }

const std::array<std::string_view, kCapcodePageCount>& capcodeSelectorItems() {
    static constexpr std::array<std::string_view, kCapcodePageCount> items{
        "CapCode#    1 -- 10", "CapCode#   11 -- 20", "CapCode#   21 -- 30", "CapCode#   31 -- 40",
        "CapCode#   41 -- 50", "CapCode#   51 -- 60", "CapCode#   61 -- 70", "CapCode# 71 -- 80",
        "CapCode# 81 -- 90",   "CapCode# 91 -- 99",   "CapCode# 100 -- 899"};
    return items;
}

const std::array<std::string_view, kMessagePageCount>& messageSelectorItems() {
    static constexpr std::array<std::string_view, kMessagePageCount> items{
        "Message#    1  --  10", "Message#  11  --  20", "Message#  21  --  30", "Message#  31  --  40",
        "Message#  41  --  50", "Message#  51  --  60", "Message#  61  --  70", "Message#  71  --  80",
        "Message#  81  --  90", "Message#  91  --  99"};
    return items;
}

}  // namespace qm730
