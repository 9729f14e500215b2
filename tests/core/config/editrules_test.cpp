#include <gtest/gtest.h>

#include "core/config/editrules.h"

using namespace qm730;

namespace {

Notice warning(const char* text) { return {text, "Warning!", NoticeButtons::RetryCancel, NoticeIcon::Stop}; }
Notice error(const char* text) { return {text, "Warning!", NoticeButtons::Ok, NoticeIcon::Stop}; }
Notice plain(const char* text) { return {text, "QM730C", NoticeButtons::Ok, NoticeIcon::None}; }

}  // namespace

TEST(KeyRules, LengthGuardWarnsAndTurnsTheKeyIntoBackspace) {
    const struct { DataColumn column; std::size_t limit; const char* text; } guards[] = {
        {DataColumn::Address, 7, "More then 7 digit !"},     {DataColumn::Name, 10, "More then 10 Characters!"},
        {DataColumn::Group, 3, "More then 3 Characters!"},   {DataColumn::Message, 60, "More then 60 Characters!"},
        {DataColumn::PagerId, 4, "More then 4 Characters!"}, {DataColumn::AlarmText, 59, "More then 59 Characters!"}};
    for (const auto& guard : guards) {
        SCOPED_TRACE(guard.text);
        EXPECT_EQ(dataKeyPress(guard.column, 0, guard.limit, '1').action, KeyAction::Pass);
        const KeyDecision over = dataKeyPress(guard.column, 0, guard.limit + 1, '1');
        EXPECT_EQ(over.action, KeyAction::Backspace);
        EXPECT_EQ(over.notice, warning(guard.text));
        const KeyDecision backspace = dataKeyPress(guard.column, 0, guard.limit + 1, 8);
        EXPECT_EQ(backspace.action, KeyAction::Backspace);
        EXPECT_EQ(backspace.notice, std::nullopt);
        // Enter on an over-long field is turned into Backspace too, never a move.
        EXPECT_EQ(dataKeyPress(guard.column, 0, guard.limit + 1, 13).action, KeyAction::Backspace);
    }
}

TEST(KeyRules, CharacterClassesRefuseOtherKeysIncludingHighBytes) {
    for (char key : {'a', 'Z', '5', ' ', char(8)}) EXPECT_EQ(dataKeyPress(DataColumn::Name, 0, 0, key).action, KeyAction::Pass);
    for (char key : {'-', char(0xE9), char(3), char(22)}) {
        const KeyDecision refused = dataKeyPress(DataColumn::Name, 0, 0, key);
        EXPECT_EQ(refused.action, KeyAction::Discard);
        EXPECT_EQ(refused.notice, error("Please insert an alphabet & numeric !"));
    }
    EXPECT_EQ(dataKeyPress(DataColumn::Group, 0, 0, 'a').notice, error("Please insert a numeric 0 ~ 99 !"));
    EXPECT_EQ(dataKeyPress(DataColumn::PagerId, 0, 0, ' ').notice, error("Please insert a numeric  !"));
    EXPECT_EQ(dataKeyPress(DataColumn::PagerId, 0, 0, '9').action, KeyAction::Pass);
    for (DataColumn free : {DataColumn::Address, DataColumn::Message, DataColumn::AlarmText})
        EXPECT_EQ(dataKeyPress(free, 0, 0, char(0xE9)).action, KeyAction::Pass);
}

TEST(KeyRules, EnterMovesToTheNextRowAndOnFromTheLast) {
    const auto target = [](DataColumn column, int row) { return dataKeyPress(column, row, 0, 13).focus; };
    EXPECT_EQ(target(DataColumn::Address, 0), (FocusTarget{FocusField::Address, 1}));
    EXPECT_EQ(target(DataColumn::Address, 9), (FocusTarget{FocusField::TypeBox, 0}));
    EXPECT_EQ(target(DataColumn::Name, 9), (FocusTarget{FocusField::Group, 0}));
    EXPECT_EQ(target(DataColumn::Group, 4), (FocusTarget{FocusField::Group, 5}));
    EXPECT_EQ(target(DataColumn::Group, 9), (FocusTarget{FocusField::Address, 0}));
    EXPECT_EQ(target(DataColumn::Message, 9), (FocusTarget{FocusField::Message, 0}));
    EXPECT_EQ(target(DataColumn::PagerId, 5), (FocusTarget{FocusField::PagerId, 6}));
    EXPECT_EQ(target(DataColumn::PagerId, 6)->field, FocusField::FocusSink);
    EXPECT_EQ(target(DataColumn::AlarmText, 6)->field, FocusField::FocusSink);
    EXPECT_EQ(dataKeyPress(DataColumn::Message, 0, 0, 13).action, KeyAction::MoveFocus);
}

TEST(LeaveRules, AddressAcceptsEightTo2097151AsSevenDigits) {
    const AddressLeave eight = addressLeave("8", 100);
    EXPECT_EQ(eight.fieldText, "0000008");
    EXPECT_EQ(eight.acceptedNumber, 8);
    EXPECT_FALSE(eight.notice);
    EXPECT_EQ(addressLeave("2097151", 0).acceptedNumber, 2097151);

    for (const char* outside : {"7", "2097152"}) {
        const AddressLeave refused = addressLeave(outside, 0);
        EXPECT_EQ(refused.notice, plain("Please insert a number between 8 to 2097151!"));
        EXPECT_TRUE(refused.refocus);
        EXPECT_FALSE(refused.acceptedNumber);
        EXPECT_FALSE(refused.fieldText);
    }
    for (const char* notDecimal : {"-5", "12a", "99999999999"}) {
        const AddressLeave refused = addressLeave(notDecimal, 0);
        EXPECT_EQ(refused.notice, plain("Please Input Decimal!")) << notDecimal;
        EXPECT_TRUE(refused.refocus);
    }
}

TEST(LeaveRules, EmptiedAddressShowsTheTableEntryWithoutLeadingZeros) {
    const AddressLeave refill = addressLeave("", 100);
    EXPECT_EQ(refill.fieldText, "100");
    EXPECT_FALSE(refill.acceptedNumber);
    EXPECT_FALSE(refill.notice);
}

TEST(LeaveRules, NameWarnsWhenLongAndIsAlwaysTrimmed) {
    const LeaveDecision tidy = nameLeave("  Abc  ");
    EXPECT_EQ(tidy.fieldText, "Abc");
    EXPECT_FALSE(tidy.notice);
    const LeaveDecision tooLong = nameLeave("ABCDEFGHIJK");
    EXPECT_EQ(tooLong.notice, warning("More then 10 Characters!"));
    EXPECT_TRUE(tooLong.refocus);
    EXPECT_EQ(tooLong.fieldText, "ABCDEFGHIJK");
}

TEST(LeaveRules, GroupTurnsOffWhenEmptiedAndRefusesLargeOrNonNumbers) {
    EXPECT_TRUE(groupLeave("", true).uncheck);
    EXPECT_FALSE(groupLeave("", false).uncheck);
    EXPECT_FALSE(groupLeave("99", true).notice);
    const GroupLeave large = groupLeave("100", true);
    EXPECT_EQ(large.notice, warning("More then 99 !"));
    EXPECT_TRUE(large.refocus);
    const GroupLeave pasted = groupLeave("4x", true);
    EXPECT_EQ(pasted.notice->text, "'4x' is not a valid integer value.");
    EXPECT_TRUE(pasted.refocus);
    EXPECT_FALSE(pasted.fieldText);
    for (const char* sign : {"+-5", "+", "-+5", "++5"}) EXPECT_TRUE(groupLeave(sign, true).notice) << sign;
    EXPECT_FALSE(groupLeave("+5", true).notice) << "one plus sign belongs to the number";
}

TEST(LeaveRules, MessagesAndAlarmTextsWarnAtTheirLimits) {
    EXPECT_FALSE(messageLeave(std::string(60, 'm')).notice);
    EXPECT_EQ(messageLeave(std::string(61, 'm')).notice, warning("More then 60 Characters!"));
    EXPECT_EQ(messageLeave(" hi \n").fieldText, "hi");
    EXPECT_FALSE(alarmTextLeave(std::string(59, 'a')).notice);
    EXPECT_EQ(alarmTextLeave(std::string(60, 'a')).notice, warning("More then 59 Characters!"));
}

TEST(LeaveRules, PagerIdBoundIs899AndTextStays) {
    EXPECT_FALSE(pagerIdLeave("899").notice);
    const LeaveDecision over = pagerIdLeave("900");
    EXPECT_EQ(over.notice, warning("More then 999 !"));
    EXPECT_TRUE(over.refocus);
    EXPECT_FALSE(over.fieldText);
    const LeaveDecision empty = pagerIdLeave("");
    EXPECT_EQ(empty.notice->text, "'' is not a valid integer value.");
    EXPECT_FALSE(empty.fieldText);
}
