#include "conformance_runs.h"

#include <algorithm>
#include <thread>

namespace porvex::opc::conformance {

TTranscript RunWith(const std::function<win::ComPtr<IOPCServer>()>& connect, const TTarget& target,
                    const TScenario& scenario) {
    TTranscript out;
    win::ComPtr<IOPCServer> server = connect();
    EXPECT_TRUE(server) << scenario.name << ": no server";
    if (server) {
        scenario.run(server.get(), target, out);
    }
    return out;
}

namespace {

win::ComPtr<IOPCServer> Activate(const CLSID& clsid) {
    win::ComPtr<IOPCServer> server;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                        reinterpret_cast<void**>(server.put()));
    EXPECT_EQ(hr, S_OK) << "activation";
    return server;
}

}  // namespace

TTranscript RunSta(const CLSID& clsid, const TTarget& target, const TScenario& scenario) {
    return RunWith([&] { return Activate(clsid); }, target, scenario);
}

TTranscript RunMta(const CLSID& clsid, const TTarget& target, const TScenario& scenario) {
    TTranscript out;
    std::thread client([&] {
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
            ADD_FAILURE() << "no MTA";
            return;
        }
        out = RunWith([&] { return Activate(clsid); }, target, scenario);
        CoUninitialize();
    });
    client.join();
    return out;
}

void ExpectSame(const TTranscript& expected, const TTranscript& actual, const char* what) {
    const std::size_t common = std::min(expected.lines.size(), actual.lines.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (expected.lines[i] != actual.lines[i]) {
            ADD_FAILURE() << what << " differs at line " << i
                          << ":\n  expected: " << expected.lines[i]
                          << "\n  actual:   " << actual.lines[i];
            return;
        }
    }
    EXPECT_EQ(expected.lines.size(), actual.lines.size()) << what << ": lines";
}

}  // namespace porvex::opc::conformance
