// The hand-over of door-model changes to the window thread: changes from several threads
// all arrive, in order per thread, and a burst wakes the window once, not per change.
#include "ui/leaf_mailbox.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace porvex::ui {
namespace {

constexpr UINT kWake = WM_APP + 77;

TEST(LeafMailboxTest, ABurstFromSeveralThreadsArrivesWholeWithFewWakeUps) {
    HWND window =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    TLeafMailbox mailbox(window, kWake);
    constexpr int kThreads = 3;
    constexpr int kChanges = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&mailbox, t] {
            for (int i = 0; i < kChanges; ++i) {
                const LeafChange change{static_cast<NodeId>(t * kChanges + i), (i % 2) == 0};
                mailbox.leaves_changed(std::span<const LeafChange>(&change, 1));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::vector<LeafChange> received;
    int wakes = 0;
    MSG msg;
    while (PeekMessageW(&msg, window, kWake, kWake, PM_REMOVE)) {
        ++wakes;
        const std::vector<LeafChange> batch = mailbox.Take();
        received.insert(received.end(), batch.begin(), batch.end());
    }
    EXPECT_EQ(wakes, 1);  // nobody took the batch in between: one wake-up for all
    ASSERT_EQ(received.size(), static_cast<std::size_t>(kThreads * kChanges));
    std::vector<NodeId> last(kThreads, kNoNode);
    for (const LeafChange& change : received) {
        const int t = static_cast<int>(change.leaf / kChanges);
        if (last[t] != kNoNode) {
            EXPECT_GT(change.leaf, last[t]);
        }
        last[t] = change.leaf;
    }
    // After a Take, the next change wakes the window again.
    const LeafChange one{7, false};
    mailbox.leaves_changed(std::span<const LeafChange>(&one, 1));
    EXPECT_TRUE(PeekMessageW(&msg, window, kWake, kWake, PM_REMOVE));
    EXPECT_EQ(mailbox.Take().size(), 1u);
    DestroyWindow(window);
}

}  // namespace
}  // namespace porvex::ui
