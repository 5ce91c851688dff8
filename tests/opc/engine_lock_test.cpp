// The engine lock: a call out of the engine releases it fully whatever the depth, so
// another thread's call can run during it, and the depth comes back after it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "opc/com/boundary.h"
#include "opc/com/engine_lock.h"

namespace porvex::opc::test {
namespace {

// Whether another thread takes the engine lock (it hangs when the lock is held).
bool AnotherThreadGetsTheLock() {
    std::atomic<bool> got{false};
    std::thread other([&] {
        const TEngineGuard engine;
        got.store(true);
    });
    other.join();
    return got.load();
}

TEST(EngineLock, ACallOutReleasesEveryLevelAndTakesThemBack) {
    const HRESULT result = OpcBoundary("outer", [] {
        return OpcBoundary("nested", [] {
            EXPECT_EQ(TEngineLock::Depth(), 2);
            {
                const TEngineUnlock unlocked;
                EXPECT_EQ(TEngineLock::Depth(), 0);
                EXPECT_TRUE(AnotherThreadGetsTheLock());
            }
            EXPECT_EQ(TEngineLock::Depth(), 2);
            return S_OK;
        });
    });
    EXPECT_EQ(result, S_OK);
    EXPECT_EQ(TEngineLock::Depth(), 0);
}

TEST(EngineLock, AMethodKeepsOtherThreadsOut) {
    std::atomic<bool> inside{false};
    std::atomic<bool> overlapped{false};
    auto call = [&] {
        for (int i = 0; i < 200; ++i) {
            OpcBoundary("m", [&] {
                if (inside.exchange(true)) {
                    overlapped.store(true);
                }
                std::this_thread::yield();
                inside.store(false);
                return S_OK;
            });
        }
    };
    std::thread first(call);
    std::thread second(call);
    first.join();
    second.join();
    EXPECT_FALSE(overlapped.load());
}

}  // namespace
}  // namespace porvex::opc::test
