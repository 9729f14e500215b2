#include "core/config/messagetable.h"

#include <array>
#include <map>
#include <optional>

#include "core/config/csv.h"
#include "core/config/pageviews.h"
#include "core/config/paging.h"
#include "core/config/settingkeys.h"
#include "core/config/texttrim.h"

namespace qm730 {

namespace {

using namespace tableimport;

enum MessageColumn { kKind, kMessageIndex, kPagerId, kContent, kMessageColumns };

// A PPG message or alarm text: trimmed as leaving its field does, at most
// `limit` characters and no control characters inside.
Decoded<std::string> decodeText(const std::string& text, const std::string& stored, std::size_t limit,
                                const char* what, std::optional<Refusal>& bad) {
    if (text == stored) return std::nullopt;
    const std::string trimmed = trimBoth(text);
    for (char c : trimmed) {
        if (isBlankOrControl(c) && c != ' ') {
            bad = Refusal{shown(text) + " holds the control character " + shown(std::string(1, c)) + "; " + what +
                          " is one line of text"};
            return std::nullopt;
        }
    }
    if (trimmed.size() > limit) {
        bad = Refusal{shown(text) + " has " + std::to_string(trimmed.size()) + " characters; " + what +
                      " holds at most " + std::to_string(limit)};
        return std::nullopt;
    }
    if (trimmed == stored) return std::nullopt;
    return trimmed;
}

Decoded<std::string> decodePagerId(const std::string& text, const std::string& stored, std::optional<Refusal>& bad) {
    if (text == stored) return std::nullopt;
    char refused = 0;
    if (text.empty() || text.size() > alarm::kPagerIdLength ||
        !typedCharactersPass(DataColumn::PagerId, text, refused) || pagerIdLeave(text).notice) {
        bad = Refusal{shown(text) + " is not a pager ID: 1 to 4 digits, a number from 0 to 899"};
        return std::nullopt;
    }
    return text;
}

struct MessageWish {
    std::optional<std::string> text;
    std::optional<std::string> pagerId;
};

// What the rows ask of the PPG messages and the alarms, by number.
struct MessageWishes {
    std::map<std::size_t, MessageWish> messages, alarms;
};

MessageWishes decodeRows(Problems& problems, const ConfigImage& image, const std::vector<Row>& rows) {
    MessageWishes wishes;
    auto& [messages, alarms] = wishes;
    static constexpr std::array<std::string_view, 2> kKinds{"PPG", "Alarm"};
    std::map<std::pair<int, std::size_t>, std::size_t> seen;  // (kind, number) -> line
    for (const Row& row : rows) {
        const std::optional<int> kind = matchItem(kKinds, row.fields[kKind]);
        if (!kind) {
            problems.add(row, kKind, shown(row.fields[kKind]) + " is not PPG or Alarm");
            continue;
        }
        const bool isAlarm = *kind == 1;
        std::string reason;
        const auto number =
            recordNumber(row.fields[kMessageIndex], isAlarm ? alarm::kRecordCount : message::kSlotCount, reason);
        if (!number) {
            problems.add(row, kMessageIndex, reason);
            continue;
        }
        const auto [earlier, fresh] = seen.emplace(std::make_pair(*kind, *number), row.line);
        if (!fresh) {
            problems.add(row, kMessageIndex,
                         std::string(isAlarm ? "alarm " : "PPG message ") + std::to_string(*number) +
                             " is given again (first on line " + std::to_string(earlier->second) + ")");
            continue;
        }
        MessageWish wish;
        if (isAlarm) {
            const std::uint8_t* record = image.alarmRecord(*number - 1);
            wish.pagerId = decodeColumn<std::string>(problems, row, kPagerId, [&](auto& bad) {
                return decodePagerId(row.fields[kPagerId], readPagerId(record), bad);
            });
            wish.text = decodeColumn<std::string>(problems, row, kContent, [&](auto& bad) {
                return decodeText(row.fields[kContent], readAlarmText(record), alarm::kTextMax, "an alarm text", bad);
            });
            alarms[*number] = wish;
        } else {
            if (!row.fields[kPagerId].empty())
                problems.add(row, kPagerId, "a PPG message has no pager ID; leave the column empty");
            wish.text = decodeColumn<std::string>(problems, row, kContent, [&](auto& bad) {
                return decodeText(row.fields[kContent], readMessage(image.messageSlot(*number - 1)), kMessageStoreMax,
                                  "a PPG message", bad);
            });
            messages[*number] = wish;
        }
    }
    return wishes;
}

// Stores the wishes through the pages that show the messages and alarms.
void storeWishes(ConfigImage& work, const MessageWishes& wishes) {
    const auto& [messages, alarms] = wishes;
    for (int page = 1; page <= kMessagePageCount; ++page) {
        MessageRows pageRows = loadMessagePage(work, page);
        bool any = false;
        for (int r = 0; r < kRowsPerPage; ++r) {
            const auto found = messages.find(messageSlotOfRow(page, r) + 1);
            if (found == messages.end() || !found->second.text) continue;
            pageRows[static_cast<std::size_t>(r)].text = *found->second.text;
            any = true;
        }
        if (any) storeMessagePage(work, page, pageRows);
    }
    AlarmRows alarmRows = loadAlarmPage(work);
    for (const auto& [number, wish] : alarms) {
        AlarmRow& row = alarmRows[number - 1];
        if (wish.pagerId) row.pagerId = *wish.pagerId;
        if (wish.text) row.text = *wish.text;
    }
    if (!alarms.empty()) storeAlarmPage(work, alarmRows);
}

}  // namespace

std::string exportMessages(const ConfigImage& image) {
    std::string out = std::string(kMessageTableHeader) + "\r\n";
    for (std::size_t m = 0; m < message::kSlotCount; ++m)
        out += csvRecord({"PPG", std::to_string(m + 1), "", latin1ToUtf8(readMessage(image.messageSlot(m)))});
    for (std::size_t j = 0; j < alarm::kRecordCount; ++j) {
        const std::uint8_t* record = image.alarmRecord(j);
        out += csvRecord({"Alarm", std::to_string(j + 1), latin1ToUtf8(readPagerId(record)),
                          latin1ToUtf8(readAlarmText(record))});
    }
    return out;
}

ImportResult importMessages(ConfigImage& image, std::string_view csv) {
    ImportResult result;
    Problems problems(result.problems);
    const std::vector<Row> rows = readTable(csv, kMessageTableHeader, problems);
    result.rows = rows.size();
    const MessageWishes wishes = decodeRows(problems, image, rows);
    if (problems.any()) {
        problems.sort();
        return result;
    }
    ConfigImage work = image;
    storeWishes(work, wishes);
    image = work;
    return result;
}

}  // namespace qm730
