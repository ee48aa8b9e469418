// Reading the raw table: the table source's file formats and the holder's
// read thread with its lines.
#include "SmbiosTableSource.h"
#include "SmbiosTestSupport.h"

using namespace smbiostest;
using svcproc::sim::EntryPoint;
using svcproc::sim::MakeDumpBin;
using svcproc::sim::SmbiosTableBuilder;
namespace ts = svcproc::tablesource;

namespace {

std::vector<uint8_t> SampleTable() {
    return SmbiosTableBuilder()
        .Bios("1.0.0 AB12")
        .ManagementDevice(0x20, "Tessaro VQX Service Processor", 0x0C, 0x2B0, 0x04)
        .End()
        .Build();
}

TEST(TableSourceTest, PathComesFromTheVariableOrTheFirmware) {
    unsetenv("SVCPROC_SMBIOS_TABLE");
    EXPECT_EQ(ts::RawTablePath(), "/sys/firmware/dmi/tables/DMI");
    setenv("SVCPROC_SMBIOS_TABLE", "", 1);
    EXPECT_EQ(ts::RawTablePath(), "/sys/firmware/dmi/tables/DMI");
    setenv("SVCPROC_SMBIOS_TABLE", "/tmp/x.bin", 1);
    EXPECT_EQ(ts::RawTablePath(), "/tmp/x.bin");
    unsetenv("SVCPROC_SMBIOS_TABLE");
}

TEST(TableSourceTest, DumpBinImagesYieldExactlyTheTable) {
    std::vector<uint8_t> table = SampleTable();
    for (EntryPoint kind : {EntryPoint::Smbios2, EntryPoint::Smbios3}) {
        std::vector<uint8_t> image =
            MakeDumpBin(table, kind, kind == EntryPoint::Smbios2 ? 2 : 3, 4);
        image.insert(image.end(), 16, 0xEE); // trailing bytes beyond the table length
        std::vector<uint8_t> out;
        std::string reason;
        ASSERT_TRUE(ts::ExtractRawTable(image.data(), image.size(), &out, &reason)) << reason;
        if (kind == EntryPoint::Smbios2) {
            EXPECT_EQ(out, table);
        } else {
            // The SMBIOS 3 length is a maximum; the table is cut at the image's end.
            ASSERT_EQ(out.size(), table.size());
            EXPECT_EQ(out, table);
        }
    }
}

TEST(TableSourceTest, Smbios3MaximumBeyondTheImageIsBoundedByTheImage) {
    std::vector<uint8_t> table = SampleTable();
    std::vector<uint8_t> image = MakeDumpBin(table);
    image.resize(image.size() - 10);
    std::vector<uint8_t> out;
    std::string reason;
    ASSERT_TRUE(ts::ExtractRawTable(image.data(), image.size(), &out, &reason)) << reason;
    EXPECT_EQ(out, std::vector<uint8_t>(table.begin(), table.end() - 10));
}

TEST(TableSourceTest, RawImageIsTakenWhole) {
    std::vector<uint8_t> table = SampleTable();
    std::vector<uint8_t> out;
    std::string reason;
    ASSERT_TRUE(ts::ExtractRawTable(table.data(), table.size(), &out, &reason));
    EXPECT_EQ(out, table);
}

struct BadImage {
    const char* name;
    std::vector<uint8_t> image;
    const char* reason;
};

std::vector<BadImage> BadImages() {
    std::vector<uint8_t> table = SampleTable();
    std::vector<uint8_t> badSum = MakeDumpBin(table);
    badSum[0x07] ^= 1;
    std::vector<uint8_t> shortEntry = MakeDumpBin(table, EntryPoint::Smbios2, 2, 8);
    shortEntry.resize(0x12);
    std::vector<uint8_t> farTable = MakeDumpBin(table);
    farTable[0x10] = 0xF0; // table address beyond the image
    farTable[0x05] = 0;
    uint8_t sum = 0;
    for (size_t i = 0; i < 0x18; ++i) {
        sum = static_cast<uint8_t>(sum + farTable[i]);
    }
    farTable[0x05] = static_cast<uint8_t>(0x100 - sum);
    std::vector<uint8_t> noDmi = MakeDumpBin(table, EntryPoint::Smbios2, 2, 8);
    noDmi[0x10] = 'X';
    noDmi[0x04] = static_cast<uint8_t>(noDmi[0x04] + ('_' - 'X')); // checksum still right
    return {
        {"Empty", {}, "empty table"},
        {"ThreeBytes", {0, 0x18, 0}, "table shorter than one structure header"},
        {"BadChecksum", badSum, "entry point checksum mismatch"},
        {"EntryPointCut", shortEntry, "entry point truncated"},
        {"TableBeyondImage", farTable, "table offset 240 beyond the file"},
        {"NoDmiAnchor", noDmi, "entry point without _DMI_ anchor"},
        {"EntryPointOnly", MakeDumpBin({}), "table offset 32 beyond the file"},
    };
}

TEST(TableSourceTest, DamagedImagesAreRefusedWithTheReason) {
    for (const BadImage& bad : BadImages()) {
        std::vector<uint8_t> out = {1, 2, 3};
        std::string reason;
        EXPECT_FALSE(ts::ExtractRawTable(bad.image.data(), bad.image.size(), &out, &reason))
            << bad.name;
        EXPECT_EQ(reason, bad.reason) << bad.name;
        EXPECT_TRUE(out.empty()) << bad.name;
    }
}

class RawSMBiosTest : public ::testing::Test {
protected:
    LogCapture m_log;
    TableFile m_file;
};

TEST_F(RawSMBiosTest, TableOf3000BytesIsCopiedWhole) {
    std::vector<uint8_t> table = SampleTable();
    table.resize(2994, 0x5A);
    SmbiosTableBuilder tail;
    std::vector<uint8_t> end = tail.End().Build();
    table.insert(table.end(), end.begin(), end.end());
    ASSERT_EQ(table.size(), 3000u);
    m_file.Write(MakeDumpBin(table));
    {
        CRawSMBios raw;
        EXPECT_FALSE(raw.IsReadOk());
        EXPECT_EQ(raw.GetBytes(), nullptr);
        ASSERT_TRUE(raw.Initialise());
        ASSERT_EQ(raw.GetByteCount(), 3000u);
        EXPECT_EQ(std::vector<uint8_t>(raw.GetBytes(), raw.GetBytes() + 3000), table);
    }
    std::vector<std::string> lines = m_log.Texts();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "CRawSMBios Constructed");
    // The thread's entry line and the started line may come in either order.
    EXPECT_TRUE(m_log.Contains("CRawSMBios::Initialise - Read Thread Started"));
    EXPECT_TRUE(m_log.Contains("ReadSMBiosThread entry"));
    EXPECT_EQ(lines[3], "CRawSMBios::Initialise - Read Thread Ended, ReadOk=1, #Bytes=3000");
    EXPECT_EQ(lines[4], "CRawSMBios Destroyed");
}

TEST_F(RawSMBiosTest, UnusableFilesFailWithOneLineNamingPathAndReason) {
    struct Case {
        const char* name;
        std::string path;
        std::vector<uint8_t> content;
        std::string reason;
    };
    std::string dir = m_file.Dir();
    std::vector<uint8_t> badSum = MakeDumpBin(SampleTable());
    badSum[0x05] ^= 0x40;
    const Case cases[] = {
        {"Missing", dir + "/absent.bin", {}, "No such file or directory"},
        {"Directory", dir, {}, "read failed: Is a directory"},
        {"Empty", dir + "/empty.bin", {}, "empty table"},
        {"Malformed", dir + "/bad.bin", badSum, "entry point checksum mismatch"},
    };
    for (const Case& c : cases) {
        if (std::string(c.name) == "Empty" || !c.content.empty()) {
            std::string error;
            ASSERT_TRUE(svcproc::sim::WriteFile(c.path, c.content, &error)) << error;
        }
        m_file.PointAt(c.path);
        m_log.Clear();
        {
            CRawSMBios raw;
            EXPECT_FALSE(raw.Initialise()) << c.name;
            EXPECT_EQ(raw.GetBytes(), nullptr) << c.name;
            EXPECT_EQ(raw.GetByteCount(), 0u) << c.name;
        }
        EXPECT_EQ(
            m_log.TextsAt(LOG_ERROR),
            std::vector<std::string>{"CRawSMBios - ReadSMBiosThread - Cannot read SMBIOS table " +
                                     c.path + ": " + c.reason})
            << c.name;
        EXPECT_TRUE(
            m_log.Contains("CRawSMBios::Initialise - Read Thread Ended, ReadOk=0, #Bytes=0"))
            << c.name;
        EXPECT_EQ(m_log.Texts().back(), "CRawSMBios Destroyed") << c.name;
    }
}

} // namespace
