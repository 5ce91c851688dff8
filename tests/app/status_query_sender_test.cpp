// The thread that sends the upkeep tick's status queries: order, at most one batch waiting,
// nothing sent after stop.
#include "link/status_query_sender.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace porvex {
namespace {

std::vector<StatusQuerySend> batch_of(std::size_t door) {
    StatusQuerySend query;
    query.door = door;
    return {query};
}

// Records what the sender did; the first send can be held until released.
class Recorder {
  public:
    void send(const std::vector<StatusQuerySend>& batch) {
        std::unique_lock lock(mutex_);
        sending_.push_back(batch.front().door);
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
        sent_.push_back(batch.front().door);
        changed_.notify_all();
    }
    void stale(const std::vector<StatusQuerySend>& batch) {
        std::lock_guard lock(mutex_);
        stale_.push_back(batch.front().door);
    }
    void wait_sending(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return sending_.size() >= count; });
    }
    void wait_sent(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return sent_.size() >= count; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    std::vector<std::size_t> sent() {
        std::lock_guard lock(mutex_);
        return sent_;
    }
    std::vector<std::size_t> stale_batches() {
        std::lock_guard lock(mutex_);
        return stale_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    std::vector<std::size_t> sending_;
    std::vector<std::size_t> sent_;
    std::vector<std::size_t> stale_;
};

TEST(StatusQuerySenderTest, ABatchThatWaitedPastTheNextTickIsHandedBackNotSentLate) {
    Recorder recorder;
    StatusQuerySender sender([&](std::vector<StatusQuerySend> b) { recorder.send(b); },
                             [&](std::vector<StatusQuerySend> b) { recorder.stale(b); });
    sender.post(batch_of(1));
    recorder.wait_sending(1);  // batch 1 is held in the library
    sender.post(batch_of(2));  // waits
    sender.post(batch_of(3));  // a newer tick: batch 2 goes back
    EXPECT_EQ(recorder.stale_batches(), std::vector<std::size_t>{2});
    recorder.release();
    recorder.wait_sent(2);
    sender.stop();
    EXPECT_EQ(recorder.sent(), (std::vector<std::size_t>{1, 3}));
}

TEST(StatusQuerySenderTest, NothingIsSentAfterStop) {
    Recorder recorder;
    StatusQuerySender sender([&](std::vector<StatusQuerySend> b) { recorder.send(b); },
                             [&](std::vector<StatusQuerySend> b) { recorder.stale(b); });
    recorder.release();
    sender.post(batch_of(1));
    recorder.wait_sent(1);
    sender.stop();
    sender.post(batch_of(2));
    EXPECT_EQ(recorder.sent(), std::vector<std::size_t>{1});
    EXPECT_TRUE(recorder.stale_batches().empty());
}

}  // namespace
}  // namespace porvex
