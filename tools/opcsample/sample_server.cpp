#include "tools/opcsample/sample_server.h"

#include <cstdio>

#include "opc/com/errors.h"
#include "opc/com/log.h"
#include "opc/events/com/event_engine.h"
#include "opc/idl/opc_interfaces.h"
#include "opc/registration/com_server.h"
#include "tools/opcsample/sample_events.h"
#include "win/safe_array.h"

namespace porvex::opc::sample {
namespace {

// The analog item's limits.
class TAnalogLimits final : public IEUInfo {
  public:
    int EUType() override { return OPC_ANALOG; }
    void EUInfo(win::Variant& info) override {
        win::UniqueSafeArray limits = win::safe_array_vector(VT_R8, 2);
        const double values[2] = {0.0, 100.0};
        for (LONG i = 0; i < 2; ++i) {
            CheckResult(SafeArrayPutElement(limits.get(), &i, const_cast<double*>(&values[i])));
        }
        info.clear();
        info.value().vt = VT_ARRAY | VT_R8;
        info.value().parray = limits.release();
    }
};

std::wstring Hex(HRESULT code) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(code));
    return text;
}

// Asks the clients to disconnect from the engine's queue, not from inside the client call
// that wrote the request.
class TShutdownWork final : public TPostedWork {
  public:
    TShutdownWork(TOpcItemServer& server, std::wstring reason)
        : server_(server), reason_(std::move(reason)) {}
    void Run() override {
        const int asked = server_.ShutdownClients(reason_);
        LogLine(L"asked " + std::to_wstring(asked) + L" client(s) to disconnect: " + reason_);
    }

  private:
    TOpcItemServer& server_;
    std::wstring reason_;
};

// Ends the program from the engine's queue, after the client call that asked for it.
class TExitWork final : public TPostedWork {
  public:
    void Run() override {
        LogLine(L"asked to exit");
        if (TComServer* com = TComServer::Instance()) {
            com->EndServing();
        }
        PostQuitMessage(0);
    }
};

}  // namespace

SampleServer::SampleServer(int minUpdateRate) : min_update_rate_(minUpdateRate) {
    items_.on_shutdown = [this](const std::wstring& reason) {
        Window().Post(std::make_unique<TShutdownWork>(*this, reason));
    };
    items_.on_exit = [this] { Window().Post(std::make_unique<TExitWork>()); };
    // The events only wait in their subscriptions' buffers here; the event engine delivers
    // them on its own timer, after this write has returned.
    items_.on_event_write = [](const std::wstring& itemId, const VARIANT& value) {
        if (events::TEventEngine* engine = events::TEventEngine::Instance()) {
            ApplyEventWrite(engine->Hub(), itemId, value);
        }
    };
}

SampleServer::~SampleServer() { DisconnectClients(); }

void SampleServer::HandleException(std::exception_ptr error) {
    LogLine(L"item server: " + DescribeException(error));
}

TServerOptions SampleServer::Options() { return {soHierarchical, soStrictHandles}; }

TItemHandle SampleServer::GetItemInfoEx(const std::wstring& itemId, std::wstring&,
                                        TAccessRights& accessRights,
                                        std::shared_ptr<IEUInfo>& euInfo,
                                        std::shared_ptr<IItemProperties>&) {
    const TItemHandle handle = items_.Find(itemId);
    if (handle == kUnresolvedHandle) {
        throw EOpcError(OPC_E_UNKNOWNITEMID);
    }
    const TSampleItem& item = items_.At(handle);
    accessRights = item.rights;
    if (item.kind == TItemKind::Analog) {
        euInfo = std::make_shared<TAnalogLimits>();
    }
    return handle;
}

void SampleServer::LoadNamespace(TItemIdList& root) {
    for (const TSampleItem& item : items_.All()) {
        root.AddItem(item.id, item.rights, item.type);
    }
}

void SampleServer::GetItemValue(TItemHandle handle, WORD&, win::Variant& value) {
    items_.Read(handle, value);
}

void SampleServer::SetItemValue(TItemHandle handle, const VARIANT& value) {
    items_.Write(handle, value);
}

void SampleServer::ClientConnected(TClientInfo&) { items_.diagnostics.clients = ClientCount(); }

void SampleServer::ClientDisconnected(TClientInfo&) { items_.diagnostics.clients = ClientCount(); }

void SampleServer::GroupAdded(TGroupInfo&) { ++items_.diagnostics.groups; }

void SampleServer::GroupRemoved(TGroupInfo&) { --items_.diagnostics.groups; }

void SampleServer::GroupCallbackFailed(HRESULT error, TGroupInfo& group, int kind) {
    ++items_.diagnostics.callback_failures;
    items_.diagnostics.last_callback_failure =
        Hex(error) + L" kind " + std::to_wstring(kind) + L" group " + group.Name();
    LogLine(L"callback of group " + group.Name() + L" failed: " +
            items_.diagnostics.last_callback_failure);
}

void SampleServer::ShutdownCallbackFailed(HRESULT error, TClientInfo& client, int) {
    LogLine(L"shutdown request to client " + client.ClientName() + L" failed: " + Hex(error));
}

}  // namespace porvex::opc::sample
