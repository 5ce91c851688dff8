#include "win/rpc_interface_anchor.h"

#include <objidl.h>

#include <chrono>
#include <future>
#include <thread>
#include <utility>

#include "win/com_apartment.h"
#include "win/com_ptr.h"

namespace porvex::win {
namespace {

// How long a caller waits for the anchoring thread to report (it only marshals an object
// a few dozen times); past that the interfaces count as missing and the program goes on.
constexpr std::chrono::seconds kReportWait{10};

// The object whose stubs hold the registrations: answers the anchored IIDs with its
// IUnknown (no method beyond IUnknown's is ever called, see the header). It is not one of
// the module's COM objects, so it keeps no server alive.
class InertObject final : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !(answering_ && IsEqualIID(iid, *answering_))) {
            return E_NOINTERFACE;
        }
        *object = static_cast<IUnknown*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return 2; }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return 1; }

    // Answers iid while it is being marshalled (the proxy/stub queries for it then); only
    // the anchoring thread that owns the object marshals it.
    void Answer(const IID* iid) noexcept { answering_ = iid; }

  private:
    const IID* answering_ = nullptr;
};

RpcAnchorReport MarshalEach(InertObject& inert, const std::vector<IID>& iids) {
    RpcAnchorReport report;
    // The marshalled data only has to be written somewhere: one scratch stream, rewound for
    // each interface and dropped at the end.
    ComPtr<IStream> scratch;
    const HRESULT made = CreateStreamOnHGlobal(nullptr, TRUE, scratch.put());
    for (const IID& iid : iids) {
        HRESULT hr = made;
        if (SUCCEEDED(hr)) {
            const LARGE_INTEGER start{};
            hr = scratch->Seek(start, STREAM_SEEK_SET, nullptr);
        }
        if (SUCCEEDED(hr)) {
            inert.Answer(&iid);
            hr = CoMarshalInterface(scratch.get(), iid, &inert, MSHCTX_LOCAL, nullptr,
                                    MSHLFLAGS_TABLESTRONG);
            inert.Answer(nullptr);
        }
        if (SUCCEEDED(hr)) {
            ++report.anchored;
        } else {
            report.missing.push_back(iid);
        }
    }
    return report;
}

// The anchoring apartment's thread: marshals, reports, then keeps the apartment (and so the
// stubs) until the process ends, handling whatever COM posts to an apartment's thread.
void RunAnchoringApartment(std::vector<IID> iids, std::promise<RpcAnchorReport> report) {
    // Declared before the apartment, so that it would outlive the apartment's end; the loop
    // below does not end while the process runs.
    InertObject inert;
    const ComApartment apartment(COINIT_APARTMENTTHREADED);
    if (!apartment.initialised()) {
        report.set_value(RpcAnchorReport{0, std::move(iids)});
        return;
    }
    report.set_value(MarshalEach(inert, iids));
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
}

}  // namespace

RpcAnchorReport AnchorRpcInterfaces(std::span<const IID> iids) noexcept {
    try {
        std::vector<IID> asked(iids.begin(), iids.end());
        std::promise<RpcAnchorReport> promise;
        std::future<RpcAnchorReport> report = promise.get_future();
        std::thread(RunAnchoringApartment, asked, std::move(promise)).detach();
        if (report.wait_for(kReportWait) == std::future_status::ready) {
            return report.get();
        }
        return RpcAnchorReport{0, std::move(asked)};
    } catch (...) {
        // No thread or no memory: the program runs, only without the protection.
        return RpcAnchorReport{0, std::vector<IID>(iids.begin(), iids.end())};
    }
}

}  // namespace porvex::win
