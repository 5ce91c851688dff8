// The kept poll set over real loopback sockets: tags come back with their own socket's
// readiness after others were added, changed and removed around them.
#include "net/poller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <vector>

namespace zorvik::net {
namespace {

using Bytes = std::vector<std::uint8_t>;

class PollerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(startup_.ok());
        for (auto& p : pairs_) {
            auto pair = socket_pair();
            ASSERT_TRUE(pair) << to_string(pair.error());
            p = std::move(*pair);
        }
        auto poller = Poller::create();
        ASSERT_TRUE(poller) << to_string(poller.error());
        poller_ = std::move(*poller);
    }

    // The tags reported by one wait, in tag order.
    std::vector<int*> ready_tags(int timeout_ms, unsigned only = kReadable | kWritable) {
        std::vector<Poller::Ready> ready;
        const auto n = poller_.wait(ready, timeout_ms);
        EXPECT_TRUE(n);
        std::vector<int*> tags;
        for (const auto& r : ready) {
            if ((r.got & only) != 0) {
                tags.push_back(static_cast<int*>(r.tag));
            }
        }
        std::sort(tags.begin(), tags.end());
        return tags;
    }

    NetStartup startup_;
    std::array<std::pair<Socket, Socket>, 4> pairs_;  // we poll .first, write to .second
    std::array<int, 4> tags_{};
    Poller poller_;
};

TEST_F(PollerTest, ReadinessComesBackWithTheRightTagAfterRemovalsInTheMiddle) {
    for (std::size_t i = 0; i < pairs_.size(); ++i) {
        ASSERT_EQ(poller_.add(pairs_[i].first.native(), kReadable, &tags_[i]), NetError::none);
    }
    EXPECT_EQ(poller_.add(pairs_[0].first.native(), kReadable, &tags_[0]),
              NetError::invalid_argument);  // already in the set
    EXPECT_EQ(poller_.size(), 4u);
    EXPECT_TRUE(ready_tags(0).empty());

    poller_.remove(pairs_[1].first.native());  // from the middle: the last one moves
    poller_.remove(pairs_[1].first.native());  // twice is harmless
    EXPECT_EQ(poller_.size(), 3u);
    for (auto& p : pairs_) {
        ASSERT_EQ(p.second.send(Bytes{1}).count, 1u);
    }
    EXPECT_EQ(ready_tags(2000), (std::vector<int*>{&tags_[0], &tags_[2], &tags_[3]}));

    // Level-triggered: unread data is reported again; read data is not.
    Bytes buffer(16);
    ASSERT_EQ(pairs_[3].first.recv(buffer).count, 1u);
    EXPECT_EQ(ready_tags(2000), (std::vector<int*>{&tags_[0], &tags_[2]}));
}

TEST_F(PollerTest, ChangingWhatASocketWaitsForTakesEffectAtTheNextWait) {
    ASSERT_EQ(poller_.add(pairs_[0].first.native(), kReadable, &tags_[0]), NetError::none);
    EXPECT_TRUE(ready_tags(0).empty());
    ASSERT_EQ(poller_.change(pairs_[0].first.native(), kReadable | kWritable, &tags_[1]),
              NetError::none);
    EXPECT_EQ(ready_tags(2000, kWritable), std::vector<int*>{&tags_[1]});  // the new tag too
    ASSERT_EQ(poller_.change(pairs_[0].first.native(), kReadable, &tags_[0]), NetError::none);
    EXPECT_TRUE(ready_tags(0).empty());
    EXPECT_EQ(poller_.change(pairs_[1].first.native(), kReadable, &tags_[1]),
              NetError::invalid_argument);  // not in the set
}

TEST_F(PollerTest, APeersCloseIsReportedAsReadable) {
    ASSERT_EQ(poller_.add(pairs_[0].first.native(), kReadable, &tags_[0]), NetError::none);
    pairs_[0].second.close();
    EXPECT_EQ(ready_tags(2000, kReadable), std::vector<int*>{&tags_[0]});
}

}  // namespace
}  // namespace zorvik::net
