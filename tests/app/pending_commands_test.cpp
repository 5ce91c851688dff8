#include "link/pending_commands.h"

#include <gtest/gtest.h>

namespace porvex {
namespace {

DoorRecord door_at(const std::string& ip, int port) {
    DoorRecord door;
    door.ip = ip;
    door.port_text = std::to_string(port);
    door.port = port;
    return door;
}

TEST(PendingCommands, CodesStartAtOneAndWrapToZeroAfter32766) {
    PendingCommands pending;
    DoorRecord door = door_at("10.0.0.1", 5768);
    const Moment now{100};
    EXPECT_EQ(pending.AddPendingCommand(&door, PendingKind::remote_open, now), 1);
    pending.take_reply(1, "10.0.0.1", 5768, now);
    for (int i = 2; i <= 32766; ++i) {
        const auto code = pending.AddPendingCommand(&door, PendingKind::status_query, now);
        ASSERT_EQ(code, i);
        pending.take_reply(*code, "10.0.0.1", 5768, now);
    }
    EXPECT_EQ(pending.AddPendingCommand(&door, PendingKind::status_query, now),
              0);  // the 32767th command
    EXPECT_EQ(pending.AddPendingCommand(&door, PendingKind::status_query, now),
              1);  // and then 1 again
}

TEST(PendingCommands, ALiveCodeIsSkippedAndAnExpiredOneReused) {
    PendingCommands pending(60);
    DoorRecord a = door_at("10.0.0.1", 5768);
    DoorRecord b = door_at("10.0.0.2", 5768);
    const Moment start{1000};
    ASSERT_EQ(pending.AddPendingCommand(&a, PendingKind::status_query, start),
              1);  // never answered
    ASSERT_EQ(pending.AddPendingCommand(&a, PendingKind::status_query, Moment{start.seconds + 50}),
              2);
    for (int code = 3; code <= 32766; ++code) {
        pending.withdraw(code);  // codes 3.. are free
    }
    // Run the sequence round to code 1 again at a time when entry 1 has expired but
    // entry 2 has not.
    const Moment later{start.seconds + 61};
    std::optional<int> code;
    for (int i = 0; i < 32765; ++i) {  // 3 .. 32766, then 0
        code = pending.AddPendingCommand(&b, PendingKind::remote_open, later);
        pending.withdraw(*code);
    }
    EXPECT_EQ(code, 0);
    EXPECT_EQ(pending.AddPendingCommand(&b, PendingKind::remote_open, later),
              1);  // expired entry replaced
    EXPECT_EQ(pending.AddPendingCommand(&b, PendingKind::remote_open, later),
              3);  // live entry 2 skipped
    const auto reply = pending.take_reply(2, "10.0.0.1", 5768, later);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Door, &a);
    EXPECT_FALSE(pending.take_reply(1, "10.0.0.1", 5768, later));  // 1 belongs to b now
    EXPECT_EQ(pending.take_reply(1, "10.0.0.2", 5768, later)->Door, &b);
}

TEST(PendingCommands, EveryCodeLiveMeansNoCode) {
    PendingCommands pending;
    DoorRecord door = door_at("10.0.0.1", 5768);
    for (int i = 0; i < kRequestCodeCount; ++i) {
        ASSERT_TRUE(pending.AddPendingCommand(&door, PendingKind::status_query, Moment{0}));
    }
    EXPECT_FALSE(pending.AddPendingCommand(&door, PendingKind::status_query, Moment{30}));
    EXPECT_TRUE(pending.AddPendingCommand(&door, PendingKind::status_query, Moment{61}));
}

TEST(PendingCommands, LateRepliesAreIgnoredAndExpiredEntriesPurged) {
    PendingCommands pending(60);
    DoorRecord door = door_at("10.0.0.1", 5768);
    pending.AddPendingCommand(&door, PendingKind::status_query, Moment{0});
    pending.AddPendingCommand(&door, PendingKind::status_query, Moment{30});
    EXPECT_FALSE(pending.take_reply(1, "10.0.0.1", 5768, Moment{61}));
    EXPECT_FALSE(pending.contains(1));
    pending.purge_expired(Moment{89});
    EXPECT_TRUE(pending.contains(2));
    pending.purge_expired(Moment{91});
    EXPECT_EQ(pending.size(), 0u);
}

TEST(PendingCommands, RepliesMustComeFromTheDoorsController) {
    PendingCommands pending;
    DoorRecord door = door_at("Ctl-A", 5768);
    pending.AddPendingCommand(&door, PendingKind::remote_open, Moment{0});
    EXPECT_FALSE(pending.take_reply(1, "Ctl-B", 5768, Moment{1}));
    EXPECT_FALSE(pending.take_reply(1, "Ctl-A", 5769, Moment{1}));
    EXPECT_TRUE(pending.contains(1));
    EXPECT_TRUE(pending.take_reply(1, "ctl-a", 5768, Moment{1}));
}

}  // namespace
}  // namespace porvex
