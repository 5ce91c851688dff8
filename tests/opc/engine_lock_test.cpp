// The engine lock: a call out of the engine releases it fully whatever the depth, so
// another thread's call can run during it, and the depth comes back after it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "opc/com/boundary.h"
#include "opc/com/client_ptr.h"
#include "opc/com/engine_lock.h"
#include "opc/com/engine_object.h"
#include "win/com_object.h"

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

// A client's object that notes how deep the engine lock was held when its last reference
// went (a proxy's release is a call to the client's process).
class TReleaseProbe final : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) noexcept override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        if (--refs == 0) {
            depth_at_last_release = TEngineLock::Depth();
        }
        return refs;
    }
    ULONG refs = 1;
    int depth_at_last_release = -1;
};

TEST(EngineLock, AClientsInterfaceGoesOnlyOnceTheLockIsLeft) {
    TReleaseProbe probe;
    TClientPtr<IUnknown> sink(win::ComPtr<IUnknown>::adopt(&probe));
    TClientPtr<IUnknown> copy = sink;
    EXPECT_EQ(probe.refs, 2u);
    OpcBoundary("outer", [&] {
        return OpcBoundary("nested", [&] {
            sink.reset();
            copy.reset();
            EXPECT_EQ(probe.refs, 2u) << "released under the lock";
            return S_OK;
        });
    });
    EXPECT_EQ(probe.refs, 0u);
    EXPECT_EQ(probe.depth_at_last_release, 0);

    // Without the lock, at once.
    probe.refs = 1;
    TClientPtr<IUnknown> free_sink(win::ComPtr<IUnknown>::adopt(&probe));
    free_sink.reset();
    EXPECT_EQ(probe.refs, 0u);
}

// An engine object whose final release counts instead of freeing it, so that a second
// final release is seen rather than run on freed memory.
class TFinalReleaseCounter final : public TEngineObject<win::ComObject<IClassFactory>> {
  public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void**) noexcept override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) noexcept override { return E_NOTIMPL; }
    void Free() { delete this; }
    std::atomic<int> final_releases{0};

  protected:
    void final_release() noexcept override {
        const TEngineGuard engine;
        if (references() == 0) {
            final_releases.fetch_add(1);
        }
    }
};

TEST(EngineLock, ALastReleaseAndAReferenceTakenUnderTheLockMakeOneFinalRelease) {
    auto* object = new TFinalReleaseCounter;
    object->AddRef();
    std::thread releaser;
    {
        const TEngineGuard engine;
        releaser = std::thread([object] { object->Release(); });
        // Long enough for the other thread to be in its Release, waiting for the lock.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // A call holding the lock takes a reference and drops it meanwhile.
        object->AddRef();
        object->Release();
    }
    releaser.join();
    EXPECT_EQ(object->final_releases.load(), 1);
    object->Free();
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
