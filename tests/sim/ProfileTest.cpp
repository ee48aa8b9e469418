// Every board profile's SMBIOS table, read back with the library's own
// parsers, describes exactly the service processor the profile simulates.
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include "Log.h"
#include "RawSMBios.h"
#include "SMBiosChipData.h"
#include "SMBiosLedData.h"
#include "SMBiosSensorData.h"
#include "SimTestSupport.h"
#include "Simulator.h"
#include "SmbiosTableBuilder.h"
#include "service/core/BoardFamily.h"

namespace simtest {
namespace {

struct ProfileCase {
    const char* name;
    int family;
    size_t voltages, fans, temperatures, leds;
};

void PrintTo(const ProfileCase& c, std::ostream* os) {
    *os << c.name;
}

class ProfileTest : public ::testing::TestWithParam<ProfileCase> {
protected:
    void SetUp() override {
        setenv("SVCPROC_LOG_FILE", "/dev/null", 1);
        svcproc::log::ReloadConfiguration();
        char pattern[] = "/tmp/sim_tests.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_sDir = pattern;
        const std::string path = m_sDir + "/table.bin";
        std::string error;
        const auto table = svcproc::sim::BuildProfileTable(GetParam().name, &error);
        ASSERT_FALSE(table.empty()) << error;
        ASSERT_TRUE(svcproc::sim::WriteFile(path, table, &error)) << error;
        setenv("SVCPROC_SMBIOS_TABLE", path.c_str(), 1);
        ASSERT_TRUE(m_Raw.Initialise());
        m_pModel = MakeModel(GetParam().name);
    }
    void TearDown() override {
        unsetenv("SVCPROC_SMBIOS_TABLE");
        std::error_code ignored;
        std::filesystem::remove_all(m_sDir, ignored);
    }

    // The handle of the service processor's management device.
    uint16_t ServiceProcessorHandle() {
        CSMBiosChipData chips;
        EXPECT_TRUE(chips.Initialise(m_Raw));
        int found = 0;
        uint16_t handle = 0;
        for (const auto& device : chips.m_vDevices) {
            if (device->m_Description == "Tessaro VQX Service Processor") {
                ++found;
                handle = device->m_Handle;
                EXPECT_EQ(device->m_Address, 0x2B0u);
            }
        }
        EXPECT_EQ(found, 1);
        m_sBiosVersion = chips.m_Bios.m_Version;
        return handle;
    }

    std::string m_sDir;
    CRawSMBios m_Raw;
    std::string m_sBiosVersion;
    std::unique_ptr<CServiceProcessorModel> m_pModel;
};

TEST_P(ProfileTest, BiosVersionNamesTheBoardFamilyAndNoOther) {
    ServiceProcessorHandle();
    for (int family = 1; family <= 4; ++family) {
        EXPECT_EQ(
            svcproc::board::IsBoardFamily(m_sBiosVersion, svcproc::board::BoardFamilyCode(family)),
            family == GetParam().family)
            << m_sBiosVersion << " family " << family;
    }
}

TEST_P(ProfileTest, ChipSensorsMatchTheSimulatedPositions) {
    CSMBiosSensorData sensors(ServiceProcessorHandle());
    ASSERT_TRUE(sensors.Initialise(m_Raw));
    std::map<int32_t, std::set<uint32_t>> positions;
    for (const SensorDescriptor* sensor : sensors.m_vChipSensors) {
        positions[sensor->m_SensorType].insert(sensor->m_OemDefined & 0xFF);
    }
    const ProfileCase& c = GetParam();
    const std::pair<SensorKind, size_t> expected[] = {{SensorKind::Voltage, c.voltages},
                                                      {SensorKind::Fan, c.fans},
                                                      {SensorKind::Temperature, c.temperatures}};
    for (const auto& [kind, count] : expected) {
        const int32_t type = static_cast<int32_t>(kind);
        ASSERT_EQ(m_pModel->Count(kind), count);
        ASSERT_EQ(positions[type].size(), count) << "kind " << type;
        EXPECT_EQ(*positions[type].rbegin(), count - 1) << "positions are 0.." << count - 1;
    }
    EXPECT_EQ(sensors.m_vChipSensors.size(), c.voltages + c.fans + c.temperatures)
        << "only the service processor's own sensors";
}

// For every sensor: just inside its critical limits no alert, just outside
// one, so the thresholds the library reads are the ones that alert.
TEST_P(ProfileTest, ThresholdsInTheTableAreTheLimitsThatAlert) {
    CSMBiosSensorData sensors(ServiceProcessorHandle());
    ASSERT_TRUE(sensors.Initialise(m_Raw));
    for (const SensorDescriptor* sensor : sensors.m_vChipSensors) {
        const auto kind = static_cast<SensorKind>(sensor->m_SensorType);
        const size_t position = sensor->m_OemDefined & 0xFF;
        const unsigned scale = kind == SensorKind::Fan ? 1 : 10;
        const uint16_t bit = static_cast<uint16_t>(1u << position);
        const uint16_t original = m_pModel->Raw(kind, position);
        EXPECT_EQ(m_pModel->AlertMask(kind) & bit, 0) << sensor->m_Description << " starts bad";
        const uint16_t lower = sensor->m_Thresholds.m_LowerCritical;
        ASSERT_NE(lower, SMBIOS_VALUE_UNKNOWN) << sensor->m_Description;
        const uint16_t lowestFine = static_cast<uint16_t>((lower + scale - 1) / scale);
        m_pModel->SetRaw(kind, position, lowestFine);
        EXPECT_EQ(m_pModel->AlertMask(kind) & bit, 0) << sensor->m_Description;
        m_pModel->SetRaw(kind, position, static_cast<uint16_t>(lowestFine - 1));
        EXPECT_EQ(m_pModel->AlertMask(kind) & bit, bit) << sensor->m_Description;
        const uint16_t upper = sensor->m_Thresholds.m_UpperCritical;
        if (upper != SMBIOS_VALUE_UNKNOWN) {
            m_pModel->SetRaw(kind, position, static_cast<uint16_t>(upper / scale));
            EXPECT_EQ(m_pModel->AlertMask(kind) & bit, 0) << sensor->m_Description;
            m_pModel->SetRaw(kind, position, static_cast<uint16_t>(upper / scale + 1));
            EXPECT_EQ(m_pModel->AlertMask(kind) & bit, bit) << sensor->m_Description;
        }
        m_pModel->SetRaw(kind, position, original);
    }
}

TEST_P(ProfileTest, LedsAreTheBitsOfTheStateWord) {
    CSMBiosLedData leds;
    ASSERT_TRUE(leds.Initialise(m_Raw));
    ASSERT_EQ(leds.m_vLeds.size(), GetParam().leds);
    uint16_t all = 0;
    for (const auto& led : leds.m_vLeds) {
        EXPECT_EQ(led->m_BitMap & (led->m_BitMap - 1), 0) << "one bit per LED";
        EXPECT_EQ(all & led->m_BitMap, 0) << "bits are distinct";
        all = static_cast<uint16_t>(all | led->m_BitMap);
        EXPECT_FALSE(led->m_Description.empty());
    }
    EXPECT_EQ(m_pModel->LedState() & ~all, 0) << "no LED on that the table does not name";
}

INSTANTIATE_TEST_SUITE_P(EveryProfile, ProfileTest,
                         ::testing::Values(ProfileCase{"default", 1, 4, 3, 2, 3},
                                           ProfileCase{"family2", 2, 4, 3, 2, 3},
                                           ProfileCase{"noleds", 3, 4, 3, 2, 0},
                                           ProfileCase{"bigboard", 4, 16, 8, 8, 16}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileNamesTest, ListsTheFourAndRefusesOthers) {
    EXPECT_EQ(svcproc::sim::ProfileNames(),
              (std::vector<std::string>{"default", "family2", "noleds", "bigboard"}));
    std::string error;
    EXPECT_TRUE(svcproc::sim::BuildProfileTable("tiny", &error).empty());
    EXPECT_EQ(error, "unknown simulator profile 'tiny' (known: default family2 noleds bigboard)");
    svcproc::sim::SimOptions options;
    options.profile = "tiny";
    error.clear();
    EXPECT_EQ(svcproc::sim::StartSimulator(options, &error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(ProfileContentTest, Family2HasTheChassisFanAndOthersDoNot) {
    for (const std::string name : {"default", "family2", "noleds", "bigboard"}) {
        const auto profile = svcproc::sim::FindProfile(name);
        ASSERT_TRUE(profile);
        int chassis = 0;
        for (const auto& fan : profile->Sensors(SensorKind::Fan)) {
            chassis += fan.m_sDescription == "Chassis Fan";
        }
        EXPECT_EQ(chassis, name == "family2" ? 1 : 0) << name;
    }
}

TEST(ProfileContentTest, DefaultBoardValuesAreThoseOfAHealthyBoard) {
    auto model = MakeModel("default");
    EXPECT_EQ(model->Raw(SensorKind::Voltage, 0), 330); // 3.300 V
    EXPECT_EQ(model->Raw(SensorKind::Fan, 0), 2400);
    EXPECT_EQ(model->Raw(SensorKind::Temperature, 0), 40);
    for (SensorKind kind : svcproc::sim::kAllSensorKinds) {
        EXPECT_EQ(model->AlertMask(kind), 0);
    }
}

} // namespace
} // namespace simtest
