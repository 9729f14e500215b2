#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "core/config/pagertable.h"
#include "core/config/pageviews.h"
#include "images.h"
#include "import_places.h"

using namespace qm730;

namespace {

const std::string kPagerHeader = "Index,Address,FunBit,Type,Baud,Name,Group\r\n";

std::string address(const ConfigImage& image, std::size_t record) {
    return readAddress(image.capcodeSlot(record - 1));
}

}  // namespace

TEST(PagerTable, ExportShowsTheRecordsAsTheTabsDo) {
    ConfigImage image = defaultImage();
    std::uint8_t* slot = image.capcodeSlot(2);
    writeName(slot, "Ann, \"A\"");
    slot[capcode::kGroup] = 7;
    slot[capcode::kFuncBits] = 3;
    image.capcodeSlot(3)[capcode::kType] = 0;
    const std::string table = exportPagers(image);
    EXPECT_TRUE(table.starts_with(kPagerHeader +
                                  "1,1234560,0  0,Alpha,1200 bps,,\r\n"
                                  "2,1234561,0  0,Alpha,1200 bps,,\r\n"
                                  "3,1234562,1  1,Alpha,1200 bps,\"Ann, \"\"A\"\"\",7\r\n"
                                  "4,1234563,0  0,,1200 bps,,\r\n"
                                  "5,1234564,0  0,"));
    EXPECT_NE(table.find("\r\n100,0000100,0  0,Alpha,1200 bps,,\r\n"), std::string::npos);
    EXPECT_TRUE(table.ends_with("\r\n899,0000899,0  0,Alpha,1200 bps,,\r\n"));
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 900);
}

TEST(PagerTable, ExportThenImportChangesNothingWhateverTheImageHolds) {
    for (const ConfigImage& original : {defaultImage(), scrambledImage(730)}) {
        ConfigImage image = original;
        const ImportResult pagers = importPagers(image, exportPagers(image));
        EXPECT_TRUE(pagers.problems.empty()) << describeProblem(pagers.problems.front(), kPagerTableHeader);
        EXPECT_EQ(pagers.rows, 899u);
        EXPECT_EQ(image.bytes(), original.bytes());
    }
}

TEST(PagerTable, ChangedValuesPassTheFieldRulesAndLandAsThePagesStoreThem) {
    ConfigImage image = defaultImage();
    image.capcodeSlot(6)[capcode::kGroup] = 12;
    writeName(image.capcodeSlot(6), "Old");
    const ImportResult result = importPagers(image, kPagerHeader +
                                                        "5,12345,11,numeric,2400bps,  Bob 2 ,07\n"
                                                        "7,1234566,0  0,Alpha,1200 bps,,\n"
                                                        "9,+2097151,,,,,99\n"
                                                        "8,0000008,0 1,Tone, 512 bps,Ten Chars0,0\n");
    ASSERT_TRUE(result.problems.empty()) << describeProblem(result.problems.front(), kPagerTableHeader);
    const std::uint8_t* five = image.capcodeSlot(4);
    EXPECT_EQ(address(image, 5), "0012345");
    EXPECT_EQ(five[capcode::kFuncBits], 3);
    EXPECT_EQ(five[capcode::kType], 2);
    EXPECT_EQ(five[capcode::kBaud], 3);
    EXPECT_EQ(readName(five), "Bob 2");
    EXPECT_EQ(five[capcode::kGroup], 7);
    EXPECT_EQ(image.capcodeSlot(6)[capcode::kGroup], 100);  // emptied group: none
    EXPECT_EQ(readName(image.capcodeSlot(6)), "");           // emptied name: erased
    EXPECT_EQ(address(image, 9), "2097151");
    EXPECT_EQ(image.capcodeSlot(8)[capcode::kType], 1);  // empty lists leave the bytes
    EXPECT_EQ(image.capcodeSlot(8)[capcode::kGroup], 99);
    EXPECT_EQ(image.capcodeSlot(7)[capcode::kBaud], 1);
    EXPECT_EQ(readName(image.capcodeSlot(7)), "Ten Chars0");
    EXPECT_EQ(image.capcodeSlot(7)[capcode::kGroup], 0);
}

TEST(PagerTable, BadRowsAreEachNamedWithLineAndColumnAndNothingIsStored) {
    ConfigImage image = defaultImage();
    const ConfigImage before = image;
    const ImportResult result = importPagers(image, kPagerHeader +
                                                        "1,1234599,0  0,Alpha,1200 bps,Fine,\n"    // 2: good
                                                        "2,1234561,0  0,Alpha,1200 bps,ElevenChars,\n"
                                                        "3,2097152,0  0,Alpha,1200 bps,,\n"
                                                        "4,7,0  0,Alpha,1200 bps,,\n"
                                                        "5,1234564,0  0,Alpha,1200 bps,,100\n"
                                                        "6,1234565,0  0,Alpha,1200 bps,\n"
                                                        "7,1234566,0  0,Alpha,1200 bps,Ja\"ne,\n"
                                                        "8,12a,0  2,Beta,300 bps,A-B,x\n"
                                                        "900,1234567,0  0,Alpha,1200 bps,,\n"
                                                        "1,1234560,0  0,Alpha,1200 bps,,\n"
                                                        "10,1234569,0  0,Alpha,1200 bps,\xE2\x82\xAC,,\n"
                                                        "11,1234570,0  0,Alpha,1200 bps,\xE2\x82\xAC,\n"
                                                        "0,1234560,0  0,Alpha,1200 bps,,\n");
    EXPECT_EQ(places(result), (Places{{3, 6}, {4, 2}, {5, 2}, {6, 7}, {7, 7}, {8, 6}, {9, 2}, {9, 3}, {9, 4},
                                      {9, 5}, {9, 6}, {9, 7}, {10, 1}, {11, 1}, {12, 8}, {13, 6}, {14, 1}}));
    EXPECT_EQ(image.bytes(), before.bytes());
    const auto text = [&](std::size_t i) { return describeProblem(result.problems.at(i), kPagerTableHeader); };
    EXPECT_EQ(text(0), "line 3, column 6 (Name): 'ElevenChars' has 11 characters; a name holds at most 10");
    EXPECT_EQ(text(1), "line 4, column 2 (Address): '2097152' is not a number from 8 to 2097151");
    EXPECT_EQ(text(3), "line 6, column 7 (Group): '100' is not a group: a number from 0 to 99, or empty for none");
    EXPECT_EQ(text(4), "line 7, column 7 (Group): the row has 6 columns where the header has 7");
    EXPECT_EQ(text(6), "line 9, column 2 (Address): '12a' is not a decimal number");
    EXPECT_EQ(text(8), "line 9, column 4 (Type): 'Beta' is not one of: Alpha, Numeric, Tone");
    EXPECT_EQ(text(13), "line 11, column 1 (Index): record 1 is given again (first on line 2)");
    EXPECT_EQ(text(16), "line 14, column 1 (Index): '0' is not a number from 1 to 899");

    EXPECT_EQ(places(importPagers(image, "Index,Address\r\n1,2\r\n")), (Places{{1, 0}}));
    EXPECT_EQ(places(importPagers(image, "")), (Places{{1, 0}}));
    EXPECT_TRUE(importPagers(image, "index, address ,funbit,TYPE,Baud,Name,Group\n").problems.empty());
}

TEST(PagerTable, BlocksChangeOnlyThroughTheirFirstRecordAsOnTheLastPage) {
    // The block page: the row labelled 400 set to "Numeric" and left.
    ConfigImage viaPage = defaultImage();
    CapcodeRows rows;
    loadCapcodePage(viaPage, 11, rows);
    rows[3].type = 1;
    rows[3].address = "0123400";
    ASSERT_FALSE(storeCapcodePage(viaPage, 11, rows));
    const ConfigImage rewritten = viaPage;

    ConfigImage image = defaultImage();
    image.capcodeSlot(420)[capcode::kGroup] = 5;  // a rewrite takes groups away
    writeName(image.capcodeSlot(420), "Kept");    // but keeps names
    writeName(viaPage.capcodeSlot(420), "Kept");
    ImportResult result = importPagers(image, kPagerHeader +
                                                  "400,123400,0  0,Numeric,1200 bps,,\n"
                                                  "401,0000401,0  0,Alpha,1200 bps,,\n"      // as it was
                                                  "402,0123402,0  0,numeric,1200 bps,,\n");  // as the rewrite gives
    ASSERT_TRUE(result.problems.empty()) << describeProblem(result.problems.front(), kPagerTableHeader);
    EXPECT_EQ(image.bytes(), viaPage.bytes());
    EXPECT_EQ(address(image, 499), "0123499");
    EXPECT_EQ(image.capcodeSlot(498)[capcode::kType], 2);
    EXPECT_EQ(image.capcodeSlot(499)[capcode::kType], 1);

    // A whole table exported after a rewrite imports as that rewrite.
    ConfigImage fresh = defaultImage();
    ASSERT_TRUE(importPagers(fresh, exportPagers(rewritten)).problems.empty());
    EXPECT_EQ(fresh.bytes(), rewritten.bytes());

    const ConfigImage before = image;
    result = importPagers(image, kPagerHeader +
                                     "250,0000250,0  0,Numeric,1200 bps,,\n"      // alone in its block
                                     "251,0000251,0  0,Alpha,1200 bps,Name,\n"    // names are fixed
                                     "252,0000252,0  0,Alpha,1200 bps,,3\n"       // groups too
                                     "300,0300000,0  0,Alpha,1200 bps,,\n"
                                     "301,0000333,0  0,Alpha,1200 bps,,\n"        // neither old nor rewritten
                                     "800,2097053,0  0,Alpha,1200 bps,,\n"        // runs one past 2097151
                                     // A block's first record takes neither a name nor a group either.
                                     "200,0000200,0  0,Alpha,1200 bps,Named,\n"
                                     "700,0000700,0  0,Alpha,1200 bps,,7\n"
                                     "600,0600000,0  0,Alpha,1200 bps,Renamed,\n"  // rewritten, still no name
                                     "500,0500000,0  0,Alpha,1200 bps,,5\n");
    EXPECT_EQ(places(result), (Places{{2, 4}, {3, 6}, {4, 7}, {6, 2}, {7, 2}, {8, 6}, {9, 7}, {10, 6}, {11, 7}}));
    EXPECT_EQ(describeProblem(result.problems[0], kPagerTableHeader),
              "line 2, column 4 (Type): records 201 to 299 follow record 200 and cannot be changed one by one");
    EXPECT_EQ(describeProblem(result.problems[3], kPagerTableHeader),
              "line 6, column 2 (Address): records 301 to 399 follow record 300: expected '0300001'");
    EXPECT_EQ(describeProblem(result.problems[4], kPagerTableHeader),
              "line 7, column 2 (Address): the block of records 800 to 899 would get the addresses 2097053 to "
              "2097152, outside 8 to 2097151");
    EXPECT_EQ(describeProblem(result.problems[5], kPagerTableHeader),
              "line 8, column 6 (Name): the names of records 101 to 899 cannot be changed");
    EXPECT_EQ(describeProblem(result.problems[6], kPagerTableHeader),
              "line 9, column 7 (Group): records 101 to 899 cannot be given a group");
    EXPECT_EQ(describeProblem(result.problems[8], kPagerTableHeader),
              "line 11, column 7 (Group): a block that is rewritten has no groups");
    EXPECT_EQ(image.bytes(), before.bytes());

    // The smallest and the largest address bound the first and the last block exactly.
    ConfigImage edges = defaultImage();
    result = importPagers(edges, kPagerHeader +
                                     "100,8,0  0,Alpha,1200 bps,,\n"
                                     "800,2097052,0  0,Alpha,1200 bps,,\n");
    ASSERT_TRUE(result.problems.empty()) << describeProblem(result.problems.front(), kPagerTableHeader);
    EXPECT_EQ(address(edges, 100), "0000008");
    EXPECT_EQ(address(edges, 199), "0000107");
    EXPECT_EQ(address(edges, 800), "2097052");
    EXPECT_EQ(address(edges, 899), "2097151");
}

TEST(PagerTable, Record100IsAlsoTheLastRowOfPage10) {
    ConfigImage image = defaultImage();
    ASSERT_TRUE(importPagers(image, kPagerHeader + "100,0000100,0  0,Alpha,1200 bps,Hundred,42\n").problems.empty());
    EXPECT_EQ(readName(image.capcodeSlot(99)), "Hundred");
    EXPECT_EQ(image.capcodeSlot(99)[capcode::kGroup], 42);
    EXPECT_EQ(image.capcodeSlot(100)[capcode::kGroup], 100);

    // Its new address rewrites records 100 to 199, which then have no group.
    ConfigImage again = image;
    EXPECT_EQ(places(importPagers(again, kPagerHeader + "100,0005000,0  0,Alpha,1200 bps,Hundred,43\n")),
              (Places{{2, 7}}));
    ASSERT_TRUE(importPagers(image, kPagerHeader + "100,5000,0  0,Alpha,1200 bps,Renamed,\n").problems.empty());
    EXPECT_EQ(address(image, 100), "0005000");
    EXPECT_EQ(address(image, 199), "0005099");
    EXPECT_EQ(readName(image.capcodeSlot(99)), "Renamed");
    EXPECT_EQ(image.capcodeSlot(99)[capcode::kGroup], 100);
}
