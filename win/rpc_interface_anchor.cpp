#include "win/rpc_interface_anchor.h"

#include <algorithm>
#include <new>
#include <utility>

namespace porvex::win {
namespace {

// The object whose stubs hold the registrations: answers the anchored IIDs with its
// IUnknown (no method beyond IUnknown's is ever called, see the header). Process-wide and
// never freed; it is not one of the module's COM objects, so it keeps no server alive.
class InertObject final : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !answering_.contains(iid)) {
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
        Answering(InertObject& object, REFIID iid) noexcept : object_(object) {
            object_.answering_.set(iid);
        }
        Answering(const Answering&) = delete;
        Answering& operator=(const Answering&) = delete;
        ~Answering() { object_.answering_.clear(); }

      private:
        InertObject& object_;
    };

  private:
    // The IID being marshalled, if any (marshalling happens on one thread at a time: the
    // anchors are made at a program's start).
    struct CurrentIid {
        bool set_ = false;
        IID iid_{};
        void set(REFIID iid) noexcept {
            iid_ = iid;
            set_ = true;
        }
        void clear() noexcept { set_ = false; }
        bool contains(REFIID iid) const noexcept { return set_ && IsEqualIID(iid, iid_); }
    };
    CurrentIid answering_;
};

InertObject& Inert() noexcept {
    static InertObject* object = new (std::nothrow) InertObject;
    return *object;
}

}  // namespace

RpcInterfaceAnchor::RpcInterfaceAnchor(std::span<const IID> iids) noexcept {
    try {
        for (const IID& iid : iids) {
            ComPtr<IStream> stream;
            HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
            if (SUCCEEDED(hr)) {
                const InertObject::Answering answering(Inert(), iid);
                hr = CoMarshalInterface(stream.get(), iid, &Inert(), MSHCTX_LOCAL, nullptr,
                                        MSHLFLAGS_TABLESTRONG);
            }
            if (SUCCEEDED(hr)) {
                streams_.push_back(std::move(stream));
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
        streams_ = std::move(other.streams_);
        missing_ = std::move(other.missing_);
    }
    return *this;
}

RpcInterfaceAnchor::~RpcInterfaceAnchor() { release(); }

void RpcInterfaceAnchor::release() noexcept {
    for (ComPtr<IStream>& stream : streams_) {
        const LARGE_INTEGER start{};
        if (SUCCEEDED(stream->Seek(start, STREAM_SEEK_SET, nullptr))) {
            CoReleaseMarshalData(stream.get());
        }
    }
    streams_.clear();
}

}  // namespace porvex::win
