#include "win/rpc_interface_anchor.h"

#include <objidl.h>

#include <new>
#include <utility>

#include "win/com_ptr.h"

namespace porvex::win {

// The object whose stubs hold the registrations: answers the anchored IIDs with its
// IUnknown (no method beyond IUnknown's is ever called, see the header). The anchor owns
// it; it is not one of the module's COM objects, so it keeps no server alive.
class RpcInterfaceAnchor::InertObject final : public IUnknown {
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

    // Answers iid while it is being marshalled (the proxy/stub queries for it then).
    class Answering {
      public:
        Answering(InertObject& object, const IID& iid) noexcept : object_(object) {
            object_.answering_ = &iid;
        }
        Answering(const Answering&) = delete;
        Answering& operator=(const Answering&) = delete;
        ~Answering() { object_.answering_ = nullptr; }

      private:
        InertObject& object_;
    };

  private:
    // The IID being marshalled, if any (one at a time: anchors are made at a program's
    // start, on its main thread).
    const IID* answering_ = nullptr;
};

RpcInterfaceAnchor::RpcInterfaceAnchor() noexcept = default;

RpcInterfaceAnchor::RpcInterfaceAnchor(std::span<const IID> iids) noexcept {
    try {
        inert_ = std::make_unique<InertObject>();
        // The marshalled data only has to be written somewhere: one scratch stream,
        // rewound for each interface and dropped at the end.
        ComPtr<IStream> scratch;
        const HRESULT made = CreateStreamOnHGlobal(nullptr, TRUE, scratch.put());
        for (const IID& iid : iids) {
            HRESULT hr = made;
            if (SUCCEEDED(hr)) {
                const LARGE_INTEGER start{};
                hr = scratch->Seek(start, STREAM_SEEK_SET, nullptr);
            }
            if (SUCCEEDED(hr)) {
                const InertObject::Answering answering(*inert_, iid);
                hr = CoMarshalInterface(scratch.get(), iid, inert_.get(), MSHCTX_LOCAL, nullptr,
                                        MSHLFLAGS_TABLESTRONG);
            }
            if (SUCCEEDED(hr)) {
                ++anchored_;
            } else {
                missing_.push_back(iid);
            }
        }
    } catch (const std::bad_alloc&) {
        // What was anchored stays anchored; the rest only loses the protection.
    }
}

RpcInterfaceAnchor& RpcInterfaceAnchor::operator=(RpcInterfaceAnchor&& other) noexcept {
    if (this != &other) {
        release();
        inert_ = std::move(other.inert_);
        anchored_ = std::exchange(other.anchored_, 0);
        missing_ = std::move(other.missing_);
    }
    return *this;
}

RpcInterfaceAnchor::RpcInterfaceAnchor(RpcInterfaceAnchor&& other) noexcept
    : inert_(std::move(other.inert_)),
      anchored_(std::exchange(other.anchored_, 0)),
      missing_(std::move(other.missing_)) {}

RpcInterfaceAnchor::~RpcInterfaceAnchor() { release(); }

void RpcInterfaceAnchor::release() noexcept {
    if (!inert_) {
        return;
    }
    // Disconnecting unregisters the interfaces without waiting for their calls: releasing
    // the marshalled data instead would wait, and a program ends while its last calls may
    // still be finishing (the very race this class is for).
    if (anchored_ > 0) {
        CoDisconnectObject(inert_.get(), 0);
    }
    anchored_ = 0;
    inert_.reset();
}

}  // namespace porvex::win
