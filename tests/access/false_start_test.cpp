// A false frame start in stray bytes whose header announces a plausible length must not
// hold up the valid frames behind it. Seen in the soak (ctlsim `fault garbage`): the
// frames behind such a start waited for the announced bytes (up to 16 KiB; card reports
// are 25 bytes each), the link's reply time-out then declared the link lost and cleared
// the assembler, and every frame held up was lost although the link was up.
//
// Disabled until the assembler gives up an incomplete candidate that a complete valid
// frame follows (see /work/notes of issue 13: the fix belongs to access/frame).
#include <gtest/gtest.h>

#include <vector>

#include "frame/assembler.h"
#include "frame/frame.h"

namespace zorvik::frame {
namespace {

TEST(FalseStart, DISABLED_AValidFrameBehindAFalseStartWithALongLengthIsDeliveredAtOnce) {
    // 0x7E, Cmd 01, ApCode 0000, Psw 000000, Len 0x3A00 (14,848 bytes): a header that
    // could be real, in stray bytes.
    std::vector<std::uint8_t> bytes{0x00, 0xFF, 0x7E, 0x01, 0x00, 0x00,
                                    0x00, 0x00, 0x00, 0x3A, 0x00};
    const std::vector<std::uint8_t> card{0x01, 0x00, 0x12, 0xAB, 0x34, 0x01, 0x80,
                                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const auto report = build_frame(0x1E, 0, 0, card);
    bytes.insert(bytes.end(), report.begin(), report.end());

    FrameAssembler assembler;
    assembler.append(bytes);
    FrameAssembler::Cut cut;
    for (int i = 0; i < 64; ++i) {
        cut = assembler.next();
        if (cut.kind != FrameAssembler::Kind::rejected) {
            break;
        }
    }
    ASSERT_EQ(cut.kind, FrameAssembler::Kind::frame) << "the card report waits behind the start";
    const auto frame = parse_frame(cut.bytes);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->cmd, 0x1E);
}

}  // namespace
}  // namespace zorvik::frame
