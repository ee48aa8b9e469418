#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "io/SvcpProtocol.h"

using namespace svcproc::io;

namespace {

// A packet as the driver returns it: the response bytes, their length and
// the alert flag.
SVCP_PACKET Answered(const std::vector<uint8_t>& response, bool alertPending = false) {
    SVCP_PACKET packet = MakeRequestPacket(SVCP_CMD_READ_VOLTAGES, 0x2B0, alertPending);
    std::memcpy(packet.Response, response.data(), response.size());
    packet.ResponseLength = static_cast<uint8_t>(response.size());
    packet.AlertPending = alertPending ? 1 : 0;
    return packet;
}

} // namespace

TEST(ProtocolRequest, CarriesCountCommandChecksumAndNothingElse) {
    struct Case {
        uint8_t command;
        uint8_t checksum;
    };
    for (Case c : {Case{SVCP_CMD_POLL_ALERT, 0x5F}, Case{SVCP_CMD_READ_FANS, 0x5E},
                   Case{SVCP_CMD_READ_TEMPERATURES, 0x5C}, Case{SVCP_CMD_READ_VOLTAGES, 0x5A},
                   Case{SVCP_CMD_READ_LEDS, 0x13}}) {
        SVCP_PACKET packet = MakeRequestPacket(c.command, 0x2B0, c.command == SVCP_CMD_POLL_ALERT);
        SVCP_PACKET expected;
        std::memset(&expected, 0, sizeof(expected));
        expected.Request[0] = 0x02;
        expected.Request[1] = c.command;
        expected.Request[2] = c.checksum;
        expected.RequestLength = 3;
        expected.AlertPoll = c.command == SVCP_CMD_POLL_ALERT ? 1 : 0;
        expected.PortBase = 0x2B0;
        EXPECT_EQ(0, std::memcmp(&packet, &expected, sizeof(packet))) << int(c.command);
    }
}

TEST(ProtocolValidation, ChecksLengthCountAndChecksum) {
    const std::vector<uint8_t> good = {0x06, 0xA6, 0x01, 0x2C, 0x00, 0xFA, 0x33};
    EXPECT_TRUE(IsValidResponse(Answered(good)));

    std::vector<uint8_t> badSum = good;
    badSum[6] = 0x34;
    EXPECT_FALSE(IsValidResponse(Answered(badSum)));

    SVCP_PACKET shortLength = Answered(good);
    shortLength.ResponseLength = 2;
    EXPECT_FALSE(IsValidResponse(shortLength));
    SVCP_PACKET longLength = Answered(good);
    longLength.ResponseLength = 65;
    EXPECT_FALSE(IsValidResponse(longLength));
    SVCP_PACKET notRead = Answered(good);
    notRead.ResponseLength = 0;
    EXPECT_FALSE(IsValidResponse(notRead));

    // The smallest response: count 2, type and checksum.
    EXPECT_TRUE(IsValidResponse(Answered({0x02, 0xA6, 0x5A})));
    EXPECT_FALSE(IsValidResponse(Answered({0x01, 0x00, 0x00})));
    SVCP_PACKET countTooBig = Answered({0x40, 0xA6, 0x5A});
    EXPECT_FALSE(IsValidResponse(countTooBig));
}

TEST(ProtocolValidation, AlertResponsesNeedFiveBytes) {
    // Count 3 with a valid checksum: fine for a read, too short with an alert.
    const std::vector<uint8_t> four = {0x03, 0xA6, 0x00, 0x5A};
    EXPECT_TRUE(IsValidResponse(Answered(four)));
    EXPECT_FALSE(IsValidResponse(Answered(four, true)));
    EXPECT_TRUE(IsValidResponse(Answered({0x04, 0xA6, 0x00, 0x00, 0x5A}, true)));
}

TEST(ProtocolValidation, AcceptsTheLargestResponse) {
    std::vector<uint8_t> response(64, 0);
    response[0] = 63;
    response[1] = 0xA4;
    response[63] = Checksum(std::span<const uint8_t>(&response[1], 62));
    EXPECT_TRUE(IsValidResponse(Answered(response)));
}

TEST(ProtocolBulk, VoltagesAreScaledToMillivolts) {
    SVCP_PACKET packet = Answered({0x06, 0xA6, 0x01, 0x2C, 0x00, 0xFA, 0x33});
    BulkReadings readings = DecodeBulkReadings(SensorKind::Voltage, ResponseOf(packet));
    EXPECT_EQ(2, readings.announced);
    EXPECT_EQ((std::vector<int32_t>{3000, 2500}), readings.values);
}

TEST(ProtocolBulk, ScalingPerKind) {
    struct Case {
        SensorKind kind;
        uint32_t raw;
        int32_t stored;
    };
    for (Case c : {Case{SensorKind::Voltage, 0x199A, 4}, Case{SensorKind::Voltage, 0xFFFF, 65526},
                   Case{SensorKind::Voltage, 0, 0}, Case{SensorKind::Fan, 0x0E10, 3600},
                   Case{SensorKind::Fan, 0xFFFF, 65535}, Case{SensorKind::Temperature, 0x2D, 450},
                   Case{SensorKind::Temperature, 0xFF, 2550}}) {
        EXPECT_EQ(c.stored, ScaleReading(c.kind, c.raw)) << c.raw;
    }
}

TEST(ProtocolBulk, FansAndTemperatures) {
    SVCP_PACKET fans = Answered({0x04, 0xA2, 0x0E, 0x10, 0x40});
    BulkReadings fanReadings = DecodeBulkReadings(SensorKind::Fan, ResponseOf(fans));
    EXPECT_EQ(1, fanReadings.announced);
    EXPECT_EQ((std::vector<int32_t>{3600}), fanReadings.values);

    SVCP_PACKET temps = Answered({0x04, 0xA4, 0x2D, 0x1E, 0x11});
    BulkReadings tempReadings = DecodeBulkReadings(SensorKind::Temperature, ResponseOf(temps));
    EXPECT_EQ(2, tempReadings.announced);
    EXPECT_EQ((std::vector<int32_t>{450, 300}), tempReadings.values);
}

TEST(ProtocolBulk, OddCountNeverReadsTheChecksumAsAReading) {
    // N = 5: one whole word, then a lone data byte and the checksum.
    SVCP_PACKET packet = Answered({0x05, 0xA6, 0x00, 0x01, 0x02, 0x57});
    BulkReadings readings = DecodeBulkReadings(SensorKind::Voltage, ResponseOf(packet));
    EXPECT_EQ(1, readings.announced);
    EXPECT_EQ((std::vector<int32_t>{10}), readings.values);
}

TEST(ProtocolBulk, NoValuesInAnEmptyResponse) {
    SVCP_PACKET packet = Answered({0x02, 0xA6, 0x5A});
    EXPECT_TRUE(DecodeBulkReadings(SensorKind::Voltage, ResponseOf(packet)).values.empty());
    EXPECT_TRUE(DecodeBulkReadings(SensorKind::Temperature, ResponseOf(packet)).values.empty());
}

TEST(ProtocolBulk, LedWordIsHighByteFirst) {
    SVCP_PACKET packet = Answered({0x04, 0xED, 0x80, 0x01, 0x92});
    EXPECT_EQ(0x8001, DecodeLedWord(ResponseOf(packet)));
}

TEST(ProtocolAlert, VoltageAlertCarriesMaskAndRawReadings) {
    SVCP_PACKET packet = Answered({0x08, 0xA6, 0x00, 0x01, 0x01, 0x2C, 0x00, 0xFA, 0x32}, true);
    ASSERT_TRUE(IsValidResponse(packet));
    AlertReadings alert = DecodeAlertReadings(SensorKind::Voltage, ResponseOf(packet));
    EXPECT_TRUE(alert.hasMask);
    EXPECT_EQ(0x0001, alert.mask);
    EXPECT_EQ(2, alert.expected);
    EXPECT_EQ((std::vector<int32_t>{300, 250}), alert.values);
}

TEST(ProtocolAlert, OddVoltageCountCollectsOneTooMany) {
    SVCP_PACKET packet = Answered({0x07, 0xA6, 0x00, 0x01, 0x01, 0x2C, 0x00, 0x00}, true);
    AlertReadings alert = DecodeAlertReadings(SensorKind::Voltage, ResponseOf(packet));
    EXPECT_EQ(1, alert.expected);
    EXPECT_EQ(2u, alert.values.size());
}

TEST(ProtocolAlert, TemperatureReadingsAreOneByteEach) {
    SVCP_PACKET packet = Answered({0x07, 0xA4, 0x00, 0x04, 0x2D, 0x1E, 0x50, 0x00}, true);
    AlertReadings alert = DecodeAlertReadings(SensorKind::Temperature, ResponseOf(packet));
    EXPECT_EQ(0x0004, alert.mask);
    EXPECT_EQ(3, alert.expected);
    EXPECT_EQ((std::vector<int32_t>{0x2D, 0x1E, 0x50}), alert.values);
}

TEST(ProtocolAlert, CountBelowFourHasNoMask) {
    for (uint8_t count : {0, 1, 2, 3}) {
        SVCP_PACKET packet = Answered({count, 0xA6, 0xFF, 0xFF}, true);
        for (SensorKind kind : {SensorKind::Voltage, SensorKind::Fan, SensorKind::Temperature}) {
            AlertReadings alert = DecodeAlertReadings(kind, ResponseOf(packet));
            EXPECT_FALSE(alert.hasMask) << int(count);
            EXPECT_TRUE(alert.values.empty());
        }
    }
    SVCP_PACKET bare = Answered({0x04, 0xA6, 0x00, 0x03, 0x57}, true);
    AlertReadings alert = DecodeAlertReadings(SensorKind::Voltage, ResponseOf(bare));
    EXPECT_TRUE(alert.hasMask);
    EXPECT_EQ(0, alert.expected);
}

TEST(ProtocolAlert, StateChangesFromTheMasks) {
    struct Case {
        uint16_t stored;
        uint16_t fresh;
        uint32_t position;
        StateChange change;
    };
    for (Case c : {Case{0x0000, 0x0001, 0, StateChange_Asserted},
                   Case{0x0001, 0x0001, 0, StateChange_Unchanged},
                   Case{0x0001, 0x0000, 0, StateChange_Deasserted},
                   Case{0x0000, 0x0000, 1, StateChange_Unchanged},
                   Case{0x0000, 0x8000, 15, StateChange_Asserted},
                   Case{0xFFFF, 0x0000, 16, StateChange_Unchanged},
                   Case{0x0000, 0xFFFF, 31, StateChange_Unchanged}}) {
        EXPECT_EQ(c.change, DeriveStateChange(c.stored, c.fresh, c.position))
            << c.stored << " " << c.fresh << " " << c.position;
    }
}
