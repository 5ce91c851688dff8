// The controller protocol without sockets: bytes in, bytes out.
#include "model.h"

#include <gtest/gtest.h>

#include "frame/frame.h"
#include "frame/packets.h"

namespace ctlsim {
namespace {

namespace zf = zorvik::frame;

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

const Bytes kEnable(zf::kUploadEnable.begin(), zf::kUploadEnable.end());
const Bytes kDisable(zf::kUploadDisable.begin(), zf::kUploadDisable.end());
const Bytes kAck(zf::kUploadAck.begin(), zf::kUploadAck.end());

class Model : public ::testing::Test {
  protected:
    void SetUp() override { model.connection_opened(); }

    ControllerModel::Output feed(const Bytes& bytes) {
        ControllerModel::Output out;
        model.receive(bytes, out);
        return out;
    }

    ControllerModel model;
};

TEST_F(Model, AnswersTheFourHostCommandsEchoingApCodeAndPsw) {
    EXPECT_EQ(feed(zf::build_frame(0x10, 0x1234, 0xABCDEF, {})),
              ControllerModel::Output{zf::build_frame(0x10, 0x1234, 0xABCDEF, {})});
    const Bytes time{0x21, 0x03, 0x07, 0x00, 0x09, 0x05, 0x02};
    EXPECT_EQ(feed(zf::build_frame(0x11, 2, 3, time)),
              ControllerModel::Output{zf::build_frame(0x11, 2, 3, {})});
    EXPECT_EQ(feed(zf::build_frame(0x20, 7, 0, Bytes{0x01})),
              ControllerModel::Output{zf::build_frame(0x20, 7, 0, {})});
    model.set_status(0x80);
    EXPECT_EQ(feed(zf::build_frame(0x21, 65535, 0xFFFFFF, Bytes{0x03})),
              ControllerModel::Output{zf::build_frame(0x21, 65535, 0xFFFFFF, Bytes{0x80})});
}

TEST_F(Model, RemembersAValidTimeAndCountsABadOneButStillAnswers) {
    feed(zf::build_frame(0x11, 1, 0, Bytes{0x21, 0x03, 0x07, 0x00, 0x09, 0x05, 0x02}));
    ASSERT_TRUE(model.last_time());
    EXPECT_EQ(model.last_time()->year, 2021);
    EXPECT_EQ(model.last_time()->month, 3);
    EXPECT_EQ(model.last_time()->day, 7);
    EXPECT_EQ(model.last_time()->weekday, 0);
    EXPECT_EQ(model.last_time()->hour, 9);
    EXPECT_EQ(model.last_time()->minute, 5);
    EXPECT_EQ(model.last_time()->second, 2);
    // 0x1A is not packed BCD; month 13 is out of range; six bytes are too few.
    for (const Bytes& bad : {Bytes{0x1A, 1, 1, 0, 0, 0, 0}, Bytes{0x21, 0x13, 1, 0, 0, 0, 0},
                             Bytes{0x21, 1, 1, 0, 0, 0}}) {
        EXPECT_EQ(feed(zf::build_frame(0x11, 2, 0, bad)).size(), 1u);
    }
    EXPECT_EQ(model.rejected_times(), 3u);
    EXPECT_EQ(model.last_time()->year, 2021);
}

TEST_F(Model, UnknownCommandsAndHostReportsAreRecordedButNotAnswered) {
    EXPECT_TRUE(feed(zf::build_frame(0x55, 1, 0, Bytes{1, 2})).empty());
    EXPECT_TRUE(feed(zf::build_frame(0x1E, 1, 0, {})).empty());
    EXPECT_EQ(model.log().frames_with_cmd(0x55), 1u);
    EXPECT_EQ(model.log().frames_with_cmd(0x1E), 1u);
}

TEST_F(Model, UploadSwitchIsAcknowledgedAndSetsTheUploadState) {
    EXPECT_FALSE(model.upload_enabled());
    EXPECT_EQ(feed(kEnable), ControllerModel::Output{kAck});
    EXPECT_TRUE(model.upload_enabled());
    EXPECT_EQ(feed(kDisable), ControllerModel::Output{kAck});
    EXPECT_FALSE(model.upload_enabled());
    EXPECT_EQ(model.log().switches(true), 1u);
    EXPECT_EQ(model.log().switches(false), 1u);
}

TEST_F(Model, UploadSwitchSplitAcrossReadsAndBetweenFramesIsRecognised) {
    const Bytes open = zf::build_frame(0x20, 1, 0, Bytes{0x01});
    const Bytes stream = cat({open, kEnable, open});
    ControllerModel::Output out;
    for (std::uint8_t b : stream) {
        model.receive(Bytes{b}, out);  // one byte per read
    }
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[1], kAck);
    EXPECT_TRUE(model.upload_enabled());
    ASSERT_EQ(model.log().entries().size(), 3u);
    EXPECT_EQ(model.log().entries()[1].kind, ReceivedEntry::Kind::upload_switch);
}

TEST_F(Model, SwitchBytesInsideAFramePayloadAreJustPayload) {
    const Bytes frame = zf::build_frame(0x55, 1, 0, kEnable);
    feed(frame);
    EXPECT_FALSE(model.upload_enabled());
    EXPECT_EQ(model.log().switches(true), 0u);
    EXPECT_EQ(model.log().entries().back().data, kEnable);
}

TEST_F(Model, NewConnectionStartsWithUploadOffAndAnEmptyStream) {
    feed(kEnable);
    feed(Bytes{0x7E, 0x10, 0x00});  // half a frame
    model.connection_closed();
    model.connection_opened();
    EXPECT_FALSE(model.upload_enabled());
    EXPECT_EQ(feed(zf::build_frame(0x10, 5, 0, {})).size(), 1u);
}

TEST_F(Model, InvalidFramesAndStrayBytesAreCountedAndSkipped) {
    Bytes corrupt = zf::build_frame(0x20, 1, 0, Bytes{0x01});
    corrupt[9] ^= 0xFF;  // payload no longer matches the Crc
    const Bytes good = zf::build_frame(0x10, 9, 0, {});
    const auto out = feed(cat({Bytes{0x00, 0x13}, corrupt, good}));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], zf::build_frame(0x10, 9, 0, {}));
    EXPECT_EQ(model.invalid_frames(), 1u);
    EXPECT_GE(model.skipped_bytes(), 2u);
    EXPECT_EQ(model.frames(), 1u);
}

TEST_F(Model, ReplyRulesChangeCodePayloadOrSilenceTheAnswer) {
    ReplyRule fail;
    fail.mode = ReplyRule::Mode::code;
    fail.code = 0x22;
    model.set_rule(0x20, fail);
    EXPECT_EQ(feed(zf::build_frame(0x20, 3, 4, Bytes{1})),
              ControllerModel::Output{zf::build_frame(0x22, 3, 4, {})});

    ReplyRule payload;
    payload.payload = Bytes{0x0A, 0x80};
    model.set_rule(0x21, payload);
    EXPECT_EQ(feed(zf::build_frame(0x21, 3, 0, Bytes{1})),
              ControllerModel::Output{zf::build_frame(0x21, 3, 0, Bytes{0x0A, 0x80})});

    ReplyRule silent;
    silent.mode = ReplyRule::Mode::silent;
    model.set_rule(0x10, silent);
    EXPECT_TRUE(feed(zf::build_frame(0x10, 3, 0, {})).empty());

    ReplyRule unknown;
    unknown.mode = ReplyRule::Mode::code;
    unknown.code = 0x56;
    unknown.payload = Bytes{0x01};
    model.set_rule(0x55, unknown);
    EXPECT_EQ(feed(zf::build_frame(0x55, 8, 0, {})),
              ControllerModel::Output{zf::build_frame(0x56, 8, 0, Bytes{0x01})});

    model.clear_rules();
    EXPECT_EQ(feed(zf::build_frame(0x20, 3, 0, Bytes{1})),
              ControllerModel::Output{zf::build_frame(0x20, 3, 0, {})});
}

TEST_F(Model, SilentRecordsEverythingAndAnswersNothing) {
    model.set_silent(true);
    EXPECT_TRUE(feed(cat({kEnable, zf::build_frame(0x10, 1, 0, {})})).empty());
    EXPECT_TRUE(model.upload_enabled());
    EXPECT_EQ(model.log().entries().size(), 2u);
}

TEST_F(Model, CloseOnRecordsTheFrameAndAsksForTheConnectionToClose) {
    model.set_close_on(0x20);
    ControllerModel::Output out;
    EXPECT_FALSE(model.receive(zf::build_frame(0x10, 1, 0, {}), out).close);
    EXPECT_EQ(out.size(), 1u);
    out.clear();
    const auto reaction = model.receive(
        cat({zf::build_frame(0x20, 2, 0, Bytes{1}), zf::build_frame(0x10, 3, 0, {})}), out);
    EXPECT_TRUE(reaction.close);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(model.log().frames_with_cmd(0x20), 1u);
    EXPECT_EQ(model.log().frames_with_cmd(0x10), 1u) << "bytes after the closing frame are dropped";
}

TEST(ReceivedLog, KeepsTheNewestEntriesButCountsEverything) {
    ReceivedLog log;
    for (std::size_t i = 0; i < ReceivedLog::kLimit + 5; ++i) {
        ReceivedEntry e;
        e.cmd = 0x10;
        e.ap_code = static_cast<std::uint16_t>(i);
        log.add(e);
    }
    EXPECT_EQ(log.entries().size(), ReceivedLog::kLimit);
    EXPECT_EQ(log.lost(), 5u);
    EXPECT_EQ(log.frames_with_cmd(0x10), ReceivedLog::kLimit + 5);
    EXPECT_EQ(log.entries().front().ap_code, 5);
    log.clear();
    EXPECT_TRUE(log.entries().empty());
    EXPECT_EQ(log.frames_with_cmd(0x10), 0u);
}

TEST(Reports, DoorEventBitsPutOpenedAt2iAndAlarmAt2iPlus1) {
    EXPECT_EQ(door_event_bits(0x01, 0x01), 0x3u);     // reader 1: 00000003
    EXPECT_EQ(door_event_bits(0x00, 0x01), 0x2u);     // forced entry on reader 1
    EXPECT_EQ(door_event_bits(0x04, 0x00), 0x10u);    // reader 4 opened: bit 4
    EXPECT_EQ(door_event_bits(0x80, 0x80), 0xC000u);  // reader 128: bits 14 and 15
    EXPECT_EQ(door_events_payload(0x0000C003), (Bytes{0x00, 0x00, 0xC0, 0x03}));
}

TEST(Reports, AlarmsClearedAndTamperPayloads) {
    EXPECT_EQ(alarms_cleared_payload(0x05), (Bytes{0x00, 0x00, 0x00, 0x05}));
    EXPECT_EQ(tamper_payload(2), (Bytes{0x00, 0x00, 0x00, 0x02}));
}

TEST(Reports, CardRecordsAreACountAndTwelveBytesEach) {
    std::vector<CardRecord> records(2);
    records[0] = {0x0012AB34, 1, kGranted, {0x21, 0x03, 0x07, 0x09, 0x05, 0x02}};
    records[1] = {0x55555555, 128, kRefused, {}};
    const auto payload = card_records_payload(records);
    ASSERT_TRUE(payload);
    EXPECT_EQ(*payload,
              (Bytes{0x02, 0x00, 0x12, 0xAB, 0x34, 0x01, 0x80, 0x21, 0x03, 0x07, 0x09, 0x05, 0x02,
                     0x55, 0x55, 0x55, 0x55, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_FALSE(card_records_payload(std::vector<CardRecord>(256)));
    EXPECT_EQ(card_records_payload(std::vector<CardRecord>(255))->size(), 1 + 255 * 12u);
}

}  // namespace
}  // namespace ctlsim
