// The claim of the door server of a session (ui/single_door_server.h): the first copy owns
// it, a copy that comes while the owner serves hands over, one that comes while the owner
// starts or ends waits, and an owner that vanished is taken over. Each copy is a thread of
// its own here (a mutex belongs to a thread, as it belongs to a process's main thread).
#include "ui/single_door_server.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace porvex::ui {
namespace {

using TClaim = TSingleDoorServer::TClaim;

// What another copy's claim answers, waiting up to waitMs.
TClaim OtherCopyClaims(DWORD waitMs) {
    TClaim result = TClaim::TimedOut;
    std::thread copy([&] {
        TSingleDoorServer other;
        result = other.Claim(waitMs);
    });
    copy.join();
    return result;
}

TEST(SingleDoorServerTest, AnotherCopyHandsOverOnlyWhileTheOwnerServes) {
    TSingleDoorServer owner;
    ASSERT_EQ(owner.Claim(0), TClaim::Owner);
    EXPECT_EQ(OtherCopyClaims(50), TClaim::TimedOut);  // starting: not serving yet
    owner.SetServing(true);
    EXPECT_EQ(OtherCopyClaims(5000), TClaim::OtherServing);
    owner.SetServing(false);
    EXPECT_EQ(OtherCopyClaims(50), TClaim::TimedOut);  // ending
}

TEST(SingleDoorServerTest, ACopyWaitingForAnEndingOwnerTakesOver) {
    auto owner = std::make_unique<TSingleDoorServer>();
    ASSERT_EQ(owner->Claim(0), TClaim::Owner);
    TClaim result = TClaim::TimedOut;
    std::thread copy([&] {
        TSingleDoorServer other;
        result = other.Claim(5000);
    });
    Sleep(100);
    owner.reset();
    copy.join();
    EXPECT_EQ(result, TClaim::Owner);
}

TEST(SingleDoorServerTest, AnOwnerThatVanishedServingIsTakenOver) {
    // The owner's thread ends without releasing anything, its serving signal still set.
    std::thread vanished([] {
        auto* owner = new TSingleDoorServer();
        owner->Claim(0);
        owner->SetServing(true);
    });
    vanished.join();
    TSingleDoorServer next;
    EXPECT_EQ(next.Claim(1000), TClaim::Owner);
    // The stale signal is gone: a later copy waits instead of handing over to nobody.
    EXPECT_EQ(OtherCopyClaims(50), TClaim::TimedOut);
}

}  // namespace
}  // namespace porvex::ui
