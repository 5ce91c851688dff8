#include "shutdown_check.h"

#include <atomic>
#include <thread>

#include "conformance_support.h"
#include "opc/com/text.h"

namespace porvex::opc::conformance {
namespace {

struct TAdvised {
    win::ComPtr<IOPCServer> server;
    win::ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
};

TAdvised AdviseShutdown(const CLSID& clsid, IUnknown* sink) {
    TAdvised advised;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(advised.server.put())),
              S_OK);
    win::ComPtr<IConnectionPointContainer> container;
    if (advised.server && SUCCEEDED(advised.server.query(container)) &&
        SUCCEEDED(container->FindConnectionPoint(IID_IOPCShutdown, advised.point.put()))) {
        EXPECT_EQ(advised.point->Advise(sink, &advised.cookie), S_OK);
    }
    return advised;
}

std::string Reasons(const std::vector<std::wstring>& reasons) {
    std::string out;
    for (const std::wstring& reason : reasons) {
        out += "[" + Utf8FromWide(reason) + "]";
    }
    return out;
}

}  // namespace

void ExpectShutdownReachesStaAndMta(const CLSID& clsid, const std::function<void()>& trigger,
                                    const std::wstring& reason) {
    win::ComPtr<TShutdownSink> sta_sink = TShutdownSink::Create();
    win::ComPtr<TShutdownSink> mta_sink = TShutdownSink::Create();
    std::atomic<bool> mta_ready{false};
    std::atomic<bool> done{false};
    std::thread mta([&] {
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
            ADD_FAILURE() << "no MTA";
            mta_ready = true;
            return;
        }
        {
            TAdvised advised = AdviseShutdown(clsid, mta_sink.get());
            mta_ready = true;
            WaitFor([&] { return done.load(); }, 20000);
            if (advised.point) {
                advised.point->Unadvise(advised.cookie);
            }
        }
        CoUninitialize();
    });
    TAdvised advised = AdviseShutdown(clsid, sta_sink.get());
    WaitFor([&] { return mta_ready.load(); }, 20000);
    trigger();
    EXPECT_TRUE(WaitFor(
        [&] { return !sta_sink->Reasons().empty() && !mta_sink->Reasons().empty(); }, 10000));
    done = true;
    mta.join();
    if (advised.point) {
        advised.point->Unadvise(advised.cookie);
    }
    const std::string expected = "[" + Utf8FromWide(reason) + "]";
    EXPECT_EQ(Reasons(sta_sink->Reasons()), expected) << "STA client";
    EXPECT_EQ(Reasons(mta_sink->Reasons()), expected) << "MTA client";
}

}  // namespace porvex::opc::conformance
