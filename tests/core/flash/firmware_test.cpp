// The firmware file and the flash image: what a load stores, what refuses a
// load (and that a refused load changes nothing), the image checksum, and
// which blocks a write must send.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/flash/firmwarefile.h"
#include "file_bytes.h"
#include "srecords.h"
#include "tempdir.h"

using namespace qm730;

namespace {

std::vector<std::uint8_t> run(std::size_t count, std::uint8_t first, std::uint8_t step = 1) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i * step);
    return bytes;
}

const std::string kHeader = "S00F000068656C6C6F202020202000003C";

struct Parsed {
    std::unique_ptr<FlashImage> image = std::make_unique<FlashImage>();
    FirmwareLoad load;
};

Parsed parse(const std::string& text) {
    Parsed parsed;
    parsed.load = parseFirmwareText(text, *parsed.image);
    return parsed;
}

}  // namespace

TEST(FirmwareLoad, StoresS2DataBetweenHeaderAndEnd) {
    const std::string text = kHeader + "\r\n" + s2Record(0xD0000, run(16, 0x10)) + "\r\n\r\n" +
                             s2Record(0xD0008, run(4, 0xA0)) + "  \r\n" +  // a byte stored twice counts twice
                             s2Record(0x00000, {}) + "\n" +               // L = 4 stores nothing, wherever it points
                             s2Record(0xEF000, run(2, 0x55)) + "\n" +
                             "S5030004F8\n"
                             "S8040D0000 EE\n"  // blank before the checksum
                             ;
    // The S8 line above has a blank inside: it must be refused, not skipped.
    Parsed bad = parse(text);
    EXPECT_EQ(bad.load.status, FirmwareLoadStatus::BadRecord);
    EXPECT_EQ(bad.load.line, 8);

    const std::string good = text.substr(0, text.rfind("S804")) + "S8040D0000EE\n\x1A";
    Parsed parsed = parse(good);
    ASSERT_TRUE(parsed.load.ok()) << parsed.load.reason();
    const FlashImage& image = *parsed.image;
    EXPECT_EQ(image.BytesLoaded, 16u + 4 + 2);
    EXPECT_EQ(parsed.load.bytesLoaded, 22u);
    EXPECT_EQ(image.bytes[0], 0x10);
    EXPECT_EQ(image.bytes[7], 0x17);
    EXPECT_EQ(image.bytes[8], 0xA0);
    EXPECT_EQ(image.bytes[11], 0xA3);
    EXPECT_EQ(image.bytes[12], 0x1C);
    EXPECT_EQ(image.bytes[16], 0xFF);
    EXPECT_EQ(image.bytes[0x1F000], 0x55);
    EXPECT_EQ(image.bytes[0x1F002], 0xFF);
    EXPECT_EQ(image.storedChecksum(), image.computeChecksum());
    EXPECT_FALSE(parsed.load.checksumReplaced);
}

TEST(FirmwareLoad, FirstLineIsSkippedUnlessItCarriesData) {
    // A first line that is not a data record is skipped whatever it holds.
    Parsed withJunk = parse("any title at all\n" + s2Record(0xD0000, {1, 2}) + "\n");
    ASSERT_TRUE(withJunk.load.ok()) << withJunk.load.reason();
    EXPECT_EQ(withJunk.image->BytesLoaded, 2u);

    // A file without a header keeps its first record, and no final line feed
    // is needed.
    Parsed headerless = parse("\n\n" + s2Record(0xD0000, {1, 2}) + "\n" + s2Record(0xD0100, {3}));
    ASSERT_TRUE(headerless.load.ok()) << headerless.load.reason();
    EXPECT_EQ(headerless.image->BytesLoaded, 3u);
    EXPECT_EQ(headerless.image->bytes[0], 1);
    EXPECT_EQ(headerless.image->bytes[0x100], 3);
}

TEST(FirmwareLoad, RecordAtF0000EndsTheLoad) {
    Parsed parsed = parse(kHeader + "\n" + s2Record(0xD0000, {1}) + "\n" + s2Record(0xF0000, {2}) + "\n" + s2Record(0xD0001, {3}) +
                          "\nnot even a record\n");
    ASSERT_TRUE(parsed.load.ok()) << parsed.load.reason();
    EXPECT_EQ(parsed.image->BytesLoaded, 1u);
    EXPECT_EQ(parsed.image->bytes[1], 0xFF);

    // The stopping record must itself be sound: a damaged address digit must
    // not cut the firmware short unnoticed.
    std::string damaged = s2Record(0xD1000, {2});
    damaged[4] = 'F';
    Parsed cut = parse(kHeader + "\n" + s2Record(0xD0000, {1}) + "\n" + damaged + "\n" + s2Record(0xD0001, {3}) + "\n");
    EXPECT_EQ(cut.load.status, FirmwareLoadStatus::BadRecord);
    EXPECT_EQ(cut.load.line, 3);
}

TEST(FirmwareLoad, ImageChecksumReplacesWhatTheFileStoredThere) {
    Parsed parsed = parse(kHeader + "\n" + s2Record(0xD0000, std::vector<std::uint8_t>(16, 0x00)) + "\n" +
                          s2Record(0xEFFFC, {0x11, 0x22, 0x33, 0x44}) + "\n");
    ASSERT_TRUE(parsed.load.ok()) << parsed.load.reason();
    // 0xFF at every other offset up to 0x1FFFB, then 0x11 0x22.
    const unsigned sum = (0x1FFFE - 16 - 2) * 0xFF + 0x11 + 0x22;
    EXPECT_EQ(parsed.image->bytes[0x1FFFE], sum & 0xFF);
    EXPECT_EQ(parsed.image->bytes[0x1FFFF], (sum >> 8) & 0xFF);
    EXPECT_EQ(parsed.load.checksum, sum & 0xFFFF);
    EXPECT_TRUE(parsed.load.checksumReplaced);
    EXPECT_EQ(parsed.load.fileChecksumLow, 0x33);
    EXPECT_EQ(parsed.load.fileChecksumHigh, 0x44);
    EXPECT_EQ(parsed.image->bytes[0x1FFFD], 0x22);

    // An erased image sums to 0xFE02; sixteen zeros at the start to 0xEE12.
    FlashImage erased;
    erased.storeChecksum();
    EXPECT_EQ(erased.bytes[0x1FFFE], 0x02);
    EXPECT_EQ(erased.bytes[0x1FFFF], 0xFE);
    Parsed zeros = parse(kHeader + "\n" + s2Record(0xD0000, std::vector<std::uint8_t>(16, 0x00)) + "\n");
    EXPECT_EQ(zeros.image->storedChecksum(), 0xEE12);
    EXPECT_FALSE(zeros.load.checksumReplaced);

    // Data that end just before the checksum leave it alone; one byte at
    // EFFFE is already replaced.
    EXPECT_FALSE(parse(kHeader + "\n" + s2Record(0xEFFFA, {1, 2, 3, 4}) + "\n").load.checksumReplaced);
    EXPECT_TRUE(parse(kHeader + "\n" + s2Record(0xEFFFE, {0x11}) + "\n").load.checksumReplaced);
}

TEST(FirmwareLoad, DamagedOrForeignRecordsRefuseTheLoadNamingTheLine) {
    const std::string good = s2Record(0xD0000, run(8, 0x30));
    std::string badChecksum = good;
    badChecksum.back() = badChecksum.back() == '0' ? '1' : '0';
    std::string badDigit = good;
    badDigit[12] = 'G';
    struct Case {
        std::string line;
        std::string reason;
    };
    const std::vector<Case> cases{
        {badChecksum, "the record's checksum does not match"},
        {badDigit, "the record holds a character that is not a hexadecimal digit"},
        {good.substr(0, good.size() - 2), "the record is shorter than its length field"},
        {good + "00", "the record is longer than its length field"},
        {"S2", "the record ends before its length field"},
        {"S203D0002C", "the length field is too small for the record's address and checksum"},
        {"S1050000112295", "S1 records have 16-bit addresses; the board's flash needs S2 records"},
        {"S3070000D000112232", "S3 records have 32-bit addresses; the board's flash needs S2 records"},
        {"S4030000FC", "the record type is not known"},
        {":100000000102030405060708090A0B0C0D0E0F1068", "the line is not an S-record"},
        {s2Record(0xCFFFF, {1}), "the data lie outside D0000 to EFFFF"},
        {s2Record(0xEFFFE, {1, 2, 3}), "the data lie outside D0000 to EFFFF"},
    };
    for (const Case& c : cases) {
        Parsed parsed = parse(kHeader + "\n" + good + "\n\n" + c.line + "\r\n" + good + "\n");
        EXPECT_EQ(parsed.load.status, FirmwareLoadStatus::BadRecord) << c.line;
        EXPECT_EQ(parsed.load.line, 4) << c.line;
        EXPECT_EQ(parsed.load.reason(), "line 4: " + c.reason) << c.line;
    }
    const Parsed first = parse("S1050000112295\n" + good + "\n");
    EXPECT_EQ(first.load.reason(), "line 1: S1 records have 16-bit addresses; the board's flash needs S2 records")
        << "a data record in the first line is read, not skipped";
    EXPECT_EQ(parse(kHeader + "\n" + badChecksum + "\n").load.notice(),
              (Notice{"Can't perform one of the following file operations: Open, Seek, Read, Close.\n"
                      "Line 2: the record's checksum does not match",
                      "File Error", NoticeButtons::OkCancel, NoticeIcon::None}));
}

TEST(FirmwareLoad, FileWithoutFlashDataIsRefused) {
    for (const std::string& text :
         {std::string(), kHeader + "\n", kHeader + "\nS5030000FC\nS8040D0000EE\n", kHeader + "\n" + s2Record(0xD0000, {}) + "\n",
          kHeader + "\n" + s2Record(0xF0000, {1, 2}) + "\n" + s2Record(0xD0000, {1}) + "\n"}) {
        Parsed parsed = parse(text);
        EXPECT_EQ(parsed.load.status, FirmwareLoadStatus::NoData) << text;
        EXPECT_EQ(parsed.load.notice().text,
                  "Can't perform one of the following file operations: Open, Seek, Read, Close.\n"
                  "The file holds no data for addresses D0000 to EFFFF");
    }
}

TEST(FirmwareFile, LoadIsAllOrNothing) {
    TempDir dir;
    const std::string good = dir.file("good.s19");
    writeFileText(good, kHeader + "\r\n" + s2Record(0xD0000, {0x12, 0x34}) + "\r\n\x1A");
    auto firmware = std::make_unique<Firmware>();
    const FirmwareLoad loaded = loadFirmwareFile(good, *firmware);
    ASSERT_TRUE(loaded.ok()) << loaded.reason();
    EXPECT_EQ(firmware->fileName, good);
    EXPECT_TRUE(firmware->loaded());
    EXPECT_EQ(firmware->image.bytes[1], 0x34);
    const auto before = firmware->image.bytes;

    // A damaged record late in the file: nothing of it reaches the image,
    // and the file name is cleared so that a write asks for a file first.
    const std::string damaged = dir.file("damaged.s19");
    writeFileText(damaged, kHeader + "\n" + s2Record(0xD0000, {0x99, 0x99}) + "\n" + s2Record(0xD0002, {1}) + "X\n");
    const FirmwareLoad refused = loadFirmwareFile(damaged, *firmware);
    EXPECT_EQ(refused.status, FirmwareLoadStatus::BadRecord);
    EXPECT_EQ(refused.line, 3);
    EXPECT_FALSE(firmware->loaded());
    EXPECT_EQ(firmware->image.bytes, before);
    EXPECT_EQ(firmware->image.BytesLoaded, 2u);

    // Whatever is not a readable regular file is refused at once; a FIFO
    // without a writer, or a console, must not hang the load.
    const std::string big = dir.file("big.s19");
    writeFileText(big, "");
    std::filesystem::resize_file(big, 16 * 1024 * 1024 + 1);
    struct Case {
        std::string path;
        FirmwareLoadStatus status;
        std::string secondLine;
    };
    std::vector<Case> cases{Case{dir.file("missing.s19"), FirmwareLoadStatus::CannotOpen, ""},
                            Case{big, FirmwareLoadStatus::TooLarge, "\nThe file is larger than 16 MiB"}};
#ifdef _WIN32
    const std::vector<std::string> notRegular{dir.path().string(), "NUL", "CON", "COM1", dir.file("COM2")};
#else
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::string> notRegular{dir.path().string(), fifo, "/dev/zero"};
#endif
    for (const std::string& path : notRegular)
        cases.push_back(Case{path, FirmwareLoadStatus::NotRegularFile, "\nThe file is not a regular file"});
    for (const Case& c : cases) {
        loadFirmwareFile(good, *firmware);
        const FirmwareLoad result = loadFirmwareFile(c.path, *firmware);
        EXPECT_EQ(result.status, c.status) << c.path;
        EXPECT_EQ(result.notice().text,
                  "Can't perform one of the following file operations: Open, Seek, Read, Close." + c.secondLine);
        EXPECT_EQ(result.notice().caption, "File Error");
        EXPECT_FALSE(firmware->loaded()) << c.path;
        EXPECT_EQ(firmware->image.bytes, before) << c.path;
    }
}

#ifdef QM730_SAMPLES_DIR
// The sample firmware of the demo: loadable as it ships, with blocks in both
// halves of the flash so a write shows both erases at work.
TEST(FirmwareFile, DemoSampleLoads) {
    auto firmware = std::make_unique<Firmware>();
    const FirmwareLoad loaded = loadFirmwareFile(QM730_SAMPLES_DIR "/demo-firmware.s28", *firmware);
    ASSERT_TRUE(loaded.ok()) << loaded.reason();
    EXPECT_EQ(std::string(firmware->image.bytes.begin(), firmware->image.bytes.begin() + 6), "QM730C");
    EXPECT_EQ(firmware->image.blocksToProgram(), (std::vector<int>{0, 1, 32, 63}));
}
#endif

TEST(FlashImage, OnlyBlocksThatDifferFromErasedFlashAreProgrammed) {
    // 16 KiB of firmware from 0xD0000, one block of it all zeros: the zero
    // block must be written (an erased block holds 0xFF, not 0), the empty
    // rest is skipped but for the last block, which holds the checksum.
    std::string text = kHeader + "\n";
    for (std::uint32_t offset = 0; offset < 16 * 1024; offset += 32) {
        const bool zeroBlock = offset / 2048 == 3;
        text += s2Record(0xD0000 + offset, zeroBlock ? std::vector<std::uint8_t>(32, 0) : run(32, offset & 0xFF, 3)) + "\n";
    }
    Parsed parsed = parse(text);
    ASSERT_TRUE(parsed.load.ok()) << parsed.load.reason();
    EXPECT_EQ(parsed.image->blocksToProgram(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 63}));

    // A block of 0xFF from the file is already what the erase leaves.
    Parsed ffBlock = parse(kHeader + "\n" + s2Record(0xD0800, std::vector<std::uint8_t>(16, 0xFF)) + "\n");
    ASSERT_TRUE(ffBlock.load.ok());
    EXPECT_EQ(ffBlock.image->blocksToProgram(), (std::vector<int>{63}));
}

// A flash written out as a file loads back as the same flash, but for the two
// checksum bytes, which every load computes: records of nothing but erased
// bytes are left out, the checksum's record never is, and the header never
// outgrows its record.
TEST(FirmwareFileText, LoadsBackAsTheFlashItWasMadeFrom) {
    struct Case {
        const char* name;
        std::function<void(FlashImage&)> fill;
        std::string header;
        std::size_t dataRecords;  // S2 records in the file
    };
    const std::vector<Case> cases{
        {"erased flash", [](FlashImage&) {}, "QM730C flash D0000-EFFFF", 1},
        {"data, gaps and stray checksum bytes",
         [](FlashImage& image) {
             for (std::size_t i = 0; i < 100; ++i) image.bytes[i] = static_cast<std::uint8_t>(i * 37);  // 4 records
             image.bytes[0x1001F] = 0x00;                      // one record, its other 31 bytes erased
             image.bytes[0x10020] = 0xFE;                      // the next record
             image.bytes[kChecksumLow] = 0x12;
             image.bytes[kChecksumHigh] = 0x34;
         },
         "", 7},
        {"no erased byte anywhere",
         [](FlashImage& image) {
             for (std::size_t i = 0; i < kFlashSize; ++i) image.bytes[i] = static_cast<std::uint8_t>(i % 251);
         },
         std::string(400, 'h'), kFlashSize / 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto flash = std::make_unique<FlashImage>();
        c.fill(*flash);
        const std::string text = firmwareFileText(*flash, c.header);

        std::vector<std::string> lines;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find('\n', at);
            ASSERT_NE(end, std::string::npos) << "every line ends with a line feed";
            lines.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        ASSERT_EQ(lines.size(), c.dataRecords + 2);
        EXPECT_EQ(lines.front().substr(0, 2), "S0");
        EXPECT_EQ(lines.back(), "S804000000FB");
        EXPECT_EQ(lines[lines.size() - 2].substr(0, 10), "S2240EFFE0") << "the checksum's record";

        Parsed parsed = parse(text);
        ASSERT_TRUE(parsed.load.ok()) << parsed.load.reason();
        EXPECT_TRUE(std::equal(flash->bytes.begin(), flash->bytes.end() - 2, parsed.image->bytes.begin()));
        EXPECT_EQ(parsed.image->storedChecksum(), flash->computeChecksum());
    }
    // The header is kept as given, as far as its record can hold it.
    auto erased = std::make_unique<FlashImage>();
    EXPECT_EQ(firmwareFileText(*erased, "AB").substr(0, 14), "S0050000414277");
    EXPECT_EQ(firmwareFileText(*erased, std::string(400, 'h')).find('\n'), 4u + 2 * 255);
}
