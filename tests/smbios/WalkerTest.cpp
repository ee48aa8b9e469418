// The structure walk, string lookup and BIOS information record shared by
// every parser.
#include "SmbiosTestSupport.h"
#include "smbios/SMBiosData.h"

using namespace smbiostest;
using svcproc::sim::SmbiosTableBuilder;

namespace {

// The common scan with a dispatch that records what it is handed.
class WalkRecorder : public CSMBiosData {
public:
    bool Initialise(CRawSMBios& raw) override {
        Attach(raw);
        ScanTable(
            "WalkRecorder - pTable=0x%x", [this](uint8_t type, uint8_t) { return fields[type]; },
            [this](const uint8_t* s) { dispatched.push_back(s); });
        return true;
    }
    void Attach(CRawSMBios& raw) { AttachTable(raw); }
    uint32_t fields[256] = {};
    std::vector<const uint8_t*> dispatched;
};

class WalkerTest : public ::testing::Test {
protected:
    // Reads `table` through the table source; returns its first byte.
    const uint8_t* Read(const std::vector<uint8_t>& table) {
        EXPECT_TRUE(Load(m_raw, m_file, table));
        m_walker.Attach(m_raw);
        m_log.Clear();
        return m_raw.GetBytes();
    }
    void Scan(const std::vector<uint8_t>& table) {
        ASSERT_TRUE(Load(m_raw, m_file, table));
        m_log.Clear();
        m_walker.Initialise(m_raw);
    }
    const uint8_t* Begin() const { return m_raw.GetBytes(); }
    const uint8_t* End() const { return m_raw.GetBytes() + m_raw.GetByteCount(); }
    static std::string PastEnd(const uint8_t* p) {
        return Format("CSMBiosData::GetNextTable - Past end of SMBIOS, pCurrent=0x%08x",
                      Address(p));
    }
    static std::string AddressLine(const uint8_t* p) {
        return Format("WalkRecorder - pTable=0x%x", Address(p));
    }

    LogCapture m_log;
    TableFile m_file;
    CRawSMBios m_raw;
    WalkRecorder m_walker;
};

SmbiosTableBuilder WithBios() {
    SmbiosTableBuilder b;
    b.Bios("1.0.0 AB12");
    return b;
}

TEST_F(WalkerTest, HeaderDumpShowsTypeLengthAndAllFourHandleDigits) {
    Scan(WithBios().Structure(0x99, 0xAB12, {1, 2, 3}).End().Build());
    const uint8_t* second = Begin() + WithBios().Build().size();
    std::vector<std::string> lines = m_log.Texts();
    int at = m_log.Find(AddressLine(second));
    ASSERT_GE(at, 0);
    ASSERT_LT(at + 4, static_cast<int>(lines.size()));
    EXPECT_EQ(lines[at + 1], "Header:");
    EXPECT_EQ(lines[at + 2], "  Type:   0x99, (153)");
    EXPECT_EQ(lines[at + 3], "  Length: 0x07");
    EXPECT_EQ(lines[at + 4], "  Handle: 0xab12");
    ASSERT_EQ(m_walker.dispatched.size(), 1u);
    EXPECT_EQ(m_walker.dispatched[0], second);
}

TEST_F(WalkerTest, SecondStructureEndOfTableIsDumpedAndEndsTheWalk) {
    Scan(WithBios().End(0xFEFF).Build());
    const uint8_t* end = End() - 6;
    std::vector<std::string> lines = m_log.Texts();
    int at = m_log.Find(AddressLine(end));
    ASSERT_GE(at, 0);
    ASSERT_EQ(lines.size(), static_cast<size_t>(at + 6));
    EXPECT_EQ(lines[at + 2], "  Type:   0x7f, (127)");
    EXPECT_EQ(lines[at + 3], "  Length: 0x04");
    EXPECT_EQ(lines[at + 4], "  Handle: 0xfeff");
    EXPECT_EQ(lines[at + 5], "CSMBiosData::GetNextTable - End Structure (127) found");
    EXPECT_TRUE(m_walker.dispatched.empty());
    EXPECT_TRUE(m_log.TextsAt(LOG_ERROR).empty());
}

TEST_F(WalkerTest, FirstStructureOfType127IsStoredAsBiosAndEndsTheWalkAtOnce) {
    std::vector<uint8_t> fields(0x14, 0x11);
    Scan(SmbiosTableBuilder().Structure(127, 0x0102, fields, {"X"}).Build());
    EXPECT_EQ(m_walker.m_Bios.m_Type, 127);
    EXPECT_EQ(m_walker.m_Bios.m_Handle, 0x0102);
    EXPECT_EQ(m_walker.m_Bios.m_StartingSegment, 0x1111);
    EXPECT_EQ(m_log.Texts().back(), "CSMBiosData::GetNextTable - End Structure (127) found");
    EXPECT_EQ(m_log.Find("Header:"), -1);
}

TEST_F(WalkerTest, StructureWithoutStringsIsFollowedRightAfterItsTwoNuls) {
    const uint8_t* first = Read(SmbiosTableBuilder()
                                    .Structure(0x90, 1, {7, 7})
                                    .Structure(0x91, 2, {}, {"ABC"})
                                    .End()
                                    .Build());
    const uint8_t* next = m_walker.GetNextTable(first);
    EXPECT_EQ(next, first + 6 + 2);
    for (uint8_t number : {0, 1, 2, 3, 255}) {
        EXPECT_EQ(m_walker.GetStructureString(first, number), "") << int(number);
    }
}

TEST_F(WalkerTest, StringNumbersStayInsideTheStringSet) {
    const uint8_t* first = Read(SmbiosTableBuilder()
                                    .Structure(0x90, 1, {}, {"ABC", "DEF"})
                                    .Structure(0x91, 2, {}, {"GHI"})
                                    .End()
                                    .Build());
    struct Case {
        uint8_t number;
        const char* text;
    } cases[] = {{0, "ABC"}, {1, "ABC"}, {2, "DEF"}, {3, ""}, {4, ""}, {255, ""}};
    for (const Case& c : cases) {
        EXPECT_EQ(m_walker.GetStructureString(first, c.number), c.text) << int(c.number);
    }
}

TEST_F(WalkerTest, LengthZeroSearchesForTheStringSetEndFromItsOwnTypeByte) {
    // Handle 0x0000: the first NUL pair is the Length byte and the low handle byte.
    const uint8_t* first =
        Read(SmbiosTableBuilder().Structure(0x90, 0x0000, {5, 5}, {"A"}).WithLength(0).Build());
    EXPECT_EQ(m_walker.GetNextTable(first), first + 3);
}

TEST_F(WalkerTest, TableWithoutEndStructureEndsWithThePastEndLineAtTheTableEnd) {
    Scan(WithBios().Structure(0x99, 0x10, {1}).Build());
    ASSERT_EQ(m_walker.dispatched.size(), 1u);
    EXPECT_EQ(m_log.TextsAt(LOG_ERROR), std::vector<std::string>{PastEnd(End())});
    EXPECT_EQ(m_log.Texts().back(), PastEnd(End()));
}

TEST_F(WalkerTest, NullTableIsReportedAndNothingIsRead) {
    CRawSMBios empty;
    m_walker.Attach(empty);
    m_log.Clear();
    EXPECT_EQ(m_walker.GetNextTable(nullptr), nullptr);
    EXPECT_EQ(m_walker.GetStructureString(nullptr, 1), "");
    m_walker.Initialise(empty);
    EXPECT_EQ(m_log.TextsAt(LOG_ERROR),
              (std::vector<std::string>{"CSMBiosData::GetNextTable - m_pRawBytes==NULL",
                                        "CSMBiosData::GetNextTable - m_pRawBytes==NULL"}));
    EXPECT_TRUE(m_walker.m_Bios.m_Version.empty());
}

// A structure that leaves the table ends the walk with the past-end line at
// its own address and is not dispatched.
struct TruncationCase {
    const char* name;
    std::vector<uint8_t> tail; // the last structure, cut
    uint32_t fieldBytes;       // fixed fields the parser would read from type 0x99
};

class WalkerTruncationTest : public WalkerTest,
                             public ::testing::WithParamInterface<TruncationCase> {};

TEST_P(WalkerTruncationTest, EndsTheWalkAtTheStructureThatDoesNotFit) {
    const TruncationCase& c = GetParam();
    std::vector<uint8_t> table = WithBios().Build();
    size_t lastAt = table.size();
    table.insert(table.end(), c.tail.begin(), c.tail.end());
    m_walker.fields[0x99] = c.fieldBytes;
    Scan(table);
    EXPECT_TRUE(m_walker.dispatched.empty());
    const uint8_t* last = Begin() + lastAt;
    if (c.tail.size() < 4) {
        EXPECT_EQ(m_log.Find(AddressLine(last)), -1);
    } else {
        EXPECT_GE(m_log.Find(AddressLine(last)), 0);
    }
    EXPECT_EQ(m_log.TextsAt(LOG_ERROR), std::vector<std::string>{PastEnd(last)});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WalkerTruncationTest,
    ::testing::Values(TruncationCase{"HeaderCut", {0x99, 0x08}, 0},
                      TruncationCase{"FieldsCut", {0x99, 0x04, 0x10, 0x00, 0x00, 0x00}, 11},
                      TruncationCase{"LengthBeyondTable", {0x99, 0xF0, 0x10, 0x00, 0x00, 0x00}, 0},
                      TruncationCase{"StringSetUnterminated", {0x99, 0x05, 0x10, 0, 1, 'V', 0}, 5},
                      TruncationCase{"NoStringSet", {0x99, 0x05, 0x10, 0x00, 0x01}, 5}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WalkerTest, FirstStructureWithUnterminatedStringSetEndsTheWalk) {
    std::vector<uint8_t> table = WithBios().Build();
    table.resize(table.size() - 1);
    Scan(table);
    EXPECT_EQ(m_log.TextsAt(LOG_ERROR), std::vector<std::string>{PastEnd(Begin())});
    EXPECT_TRUE(m_walker.m_Bios.m_Version.empty());
    EXPECT_EQ(m_walker.m_Bios.m_StartingSegment, 0);
}

TEST_F(WalkerTest, BiosRecordTakesEveryFieldAndLogsThemInOrder) {
    svcproc::sim::BiosFields f;
    f.vendor = "Tessaro";
    f.releaseDate = "03/04/2022";
    f.startingSegment = 0xE800;
    f.romSize = 0x1F;
    for (int i = 0; i < 8; ++i) {
        f.characteristics[i] = static_cast<uint8_t>(0xA0 + i);
    }
    f.extension1 = 0x33;
    f.extension2 = 0x0D;
    f.biosMajor = 0x04;
    f.biosMinor = 0x06;
    f.firmwareMajor = 0x16;
    f.firmwareMinor = 0x17;
    Scan(SmbiosTableBuilder().Bios("2.1.7 XY", f, 0x0A0B).End().Build());
    const BiosInformation& b = m_walker.m_Bios;
    EXPECT_EQ(b.m_Type, 0);
    EXPECT_EQ(b.m_Length, 0x18);
    EXPECT_EQ(b.m_Handle, 0x0A0B);
    EXPECT_EQ(b.m_Vendor, "Tessaro");
    EXPECT_EQ(b.m_Version, "2.1.7 XY");
    EXPECT_EQ(b.m_ReleaseDate, "03/04/2022");
    EXPECT_EQ(b.m_VendorNumber, 1);
    EXPECT_EQ(b.m_VersionNumber, 2);
    EXPECT_EQ(b.m_ReleaseDateNumber, 3);
    std::vector<std::string> expected = {
        "CSMBiosChipData::StoreType00",       "  BIOS Vendor:            Tessaro",
        "  BIOS Version:           2.1.7 XY", "  BIOS Release Date:      03/04/2022",
        "  BIOS Start Seg:         0xe800",   "  BIOS ROM Size:          0x1f",
        "  BIOS Characteristics:   0xa0",     "                          0xa1",
        "                          0xa2",     "                          0xa3",
        "                          0xa4",     "                          0xa5",
        "                          0xa6",     "                          0xa7",
        "  Extension Byte 1:       0x33",     "  Extension Byte 2:       0x0d",
        "  BIOS Major Release:     0x04",     "  BIOS Minor Release:     0x06",
        "  Firmware Major Release: 0x16",     "  Firmware Minor Release: 0x17"};
    std::vector<std::string> lines = m_log.Texts();
    ASSERT_GE(lines.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + expected.size()), expected);
}

TEST_F(WalkerTest, OlderBiosStructureStillYields24BytesFromItsStringSet) {
    // Length 0x12: bytes 0x12 to 0x17 are the start of the string set "ABCDEFGH".
    std::vector<uint8_t> fields = {1, 1, 0x00, 0xF0, 1, 0x07, 0, 0, 0, 0, 0, 0, 0, 0};
    Scan(SmbiosTableBuilder().Structure(0, 0, fields, {"ABCDEFGH"}).End().Build());
    const BiosInformation& b = m_walker.m_Bios;
    EXPECT_EQ(b.m_Length, 0x12);
    EXPECT_EQ(b.m_ExtensionByte1, 'A');
    EXPECT_EQ(b.m_FirmwareMinorRelease, 'F');
    EXPECT_EQ(b.m_Version, "ABCDEFGH");
    EXPECT_TRUE(m_log.Contains("  Extension Byte 1:       0x41"));
}

TEST_F(WalkerTest, FirstStructureShorterThanTheBiosFieldsGivesAnEmptyRecord) {
    Scan(SmbiosTableBuilder().Structure(0, 0x1234, {2, 1, 0xF0}, {"V"}).End().Build());
    const BiosInformation& b = m_walker.m_Bios;
    EXPECT_EQ(b.m_Handle, 0);
    EXPECT_EQ(b.m_VendorNumber, 0);
    EXPECT_EQ(b.m_Vendor, "");
    EXPECT_EQ(b.m_Version, "");
    EXPECT_TRUE(m_log.Contains("  BIOS Start Seg:         0x0000"));
    EXPECT_TRUE(m_log.Contains("CSMBiosData::GetNextTable - End Structure (127) found"));
}

} // namespace
