#include "opc/server/item_server.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdlib>
#include <typeinfo>

#include "opc/com/engine_lock.h"
#include "opc/com/errors.h"
#include "opc/com/log.h"
#include "opc/com/text.h"
#include "opc/idl/opc_interfaces.h"
#include "win/com_ptr.h"

namespace porvex::opc {
namespace {

std::atomic<TOpcItemServer*> the_instance{nullptr};

thread_local const TClientInfo* writing_client = nullptr;

// Distinct salts keep group and item handles apart.
constexpr std::uint32_t kGroupHandleSalt = 0x47525000u;
constexpr std::uint32_t kItemHandleSalt = 0x49544D00u;

}  // namespace

TOpcItemServer::TOpcItemServer()
    : server_items_(*this), groups_(kGroupHandleSalt), items_(kItemHandleSalt) {
    TOpcItemServer* expected = nullptr;
    if (!the_instance.compare_exchange_strong(expected, this)) {
        throw EOpcServer(L"OPCSERV: Only one instance of namespace allowed");
    }
    try {
        window_ = std::make_unique<TNotifyWindow>(*this);
    } catch (...) {
        the_instance.store(nullptr);
        throw;
    }
    // A constructor cannot reach an override of GetTimestamp yet: the start time is the
    // system clock's.
    TOpcItemServer::GetTimestamp(start_time_);
}

TOpcItemServer::~TOpcItemServer() {
    const TEngineGuard engine;
    DisconnectClients();
    namespace_root_.reset();
    if (the_instance.load() == this) {
        the_instance.store(nullptr);
    }
}

TOpcItemServer* TOpcItemServer::Instance() noexcept { return the_instance.load(); }

TOpcItemServer& TOpcItemServer::Required() {
    TOpcItemServer* server = the_instance.load();
    if (!server) {
        throw EOpcServer(L"OPCSERV: No item server");
    }
    return *server;
}

// ---- Defaults of the virtual operations ---------------------------------------------------

void TOpcItemServer::HandleException(std::exception_ptr) {}

wchar_t TOpcItemServer::PathDelimiter() { return L'.'; }

wchar_t TOpcItemServer::BrowseDelimiter() { return L'.'; }

TServerOptions TOpcItemServer::Options() { return {}; }

int TOpcItemServer::MinUpdateRate() { return 500; }

bool TOpcItemServer::SubscribeItem(TItemHandle, TOnChange) { return false; }

void TOpcItemServer::UnsubscribeItem(TItemHandle) {}

void TOpcItemServer::GetProgIdClassName(int version, std::wstring& name) {
    // The class name of the item server object: its type's name without namespaces.
    const char* mangled = typeid(*this).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    std::string type = status == 0 && demangled ? demangled.get() : mangled;
    if (const std::size_t colons = type.rfind("::"); colons != std::string::npos) {
        type.erase(0, colons + 2);
    }
    name = WideFromUtf8(type) + L"." + std::to_wstring(version);
}

TItemHandle TOpcItemServer::GetItemInfo(const std::wstring&, std::wstring&, TAccessRights&) {
    throw EOpcError(OPC_E_INVALIDITEMID);
}

TItemHandle TOpcItemServer::GetItemInfoEx(const std::wstring& itemId, std::wstring& accessPath,
                                          TAccessRights& accessRights, std::shared_ptr<IEUInfo>&,
                                          std::shared_ptr<IItemProperties>&) {
    return GetItemInfo(itemId, accessPath, accessRights);
}

void TOpcItemServer::ReleaseHandle(TItemHandle) {}

void TOpcItemServer::LoadNamespace(TItemIdList&) {}

void TOpcItemServer::ClientConnected(TClientInfo&) {}
void TOpcItemServer::ClientDisconnected(TClientInfo&) {}
void TOpcItemServer::ClientNameChanged(TClientInfo&) {}
void TOpcItemServer::GroupAdded(TGroupInfo&) {}
void TOpcItemServer::GroupRemoved(TGroupInfo&) {}
void TOpcItemServer::GroupItemAdded(TGroupItemInfo&) {}
void TOpcItemServer::GroupItemRemoved(TGroupItemInfo&) {}
void TOpcItemServer::GroupItemChanged(TGroupItemInfo&) {}
void TOpcItemServer::GroupCallbackFailed(HRESULT, TGroupInfo&, int) {}
void TOpcItemServer::ShutdownCallbackFailed(HRESULT, TClientInfo&, int) {}

void TOpcItemServer::GetTimestamp(FILETIME& time) { GetSystemTimeAsFileTime(&time); }

void TOpcItemServer::ConvertWrittenValue(TItemHandle, const VARIANT& written, VARTYPE canonicalType,
                                         win::Variant& converted) {
    const HRESULT hr =
        VariantChangeType(converted.get(), const_cast<VARIANT*>(&written), 0, canonicalType);
    if (FAILED(hr)) {
        // A value of a type that cannot become the item's type is a bad type for the
        // client; other conversion failures (overflow) keep their code.
        throw EOpcError(hr == DISP_E_TYPEMISMATCH || hr == DISP_E_BADVARTYPE ? OPC_E_BADTYPE : hr);
    }
}

bool TOpcItemServer::CallableOnAnyThread() { return false; }

const TClientInfo* TOpcItemServer::WritingClient() noexcept { return writing_client; }

TWritingClientScope::TWritingClientScope(const TClientInfo* client) noexcept
    : previous_(writing_client) {
    writing_client = client;
}

TWritingClientScope::~TWritingClientScope() { writing_client = previous_; }

// ---- Clients -------------------------------------------------------------------------------

void TOpcItemServer::DisconnectClients() {
    const TEngineGuard engine;
    for (TEngineClient* client : ClientSnapshot()) {
        client->Detach();
    }
}

int TOpcItemServer::ClientCount() const {
    TLock lock(client_lock_);
    return static_cast<int>(clients_.size());
}

TClientInfo& TOpcItemServer::Clients(int index) const {
    TLock lock(client_lock_);
    if (index < 0 || static_cast<std::size_t>(index) >= clients_.size()) {
        throw EOpcServer(L"OPCSERV: Client index out of range");
    }
    return *clients_[static_cast<std::size_t>(index)];
}

void TOpcItemServer::AddClient(TEngineClient& client) {
    TLock lock(client_lock_);
    clients_.push_back(&client);
}

void TOpcItemServer::RemoveClient(TEngineClient& client) noexcept {
    TLock lock(client_lock_);
    std::erase(clients_, &client);
}

std::vector<TEngineClient*> TOpcItemServer::ClientSnapshot() const {
    TLock lock(client_lock_);
    return clients_;
}

int TOpcItemServer::ShutdownClients(const std::wstring& reason, int index) {
    // Each request releases the engine lock while it is out (TShutdownPoint::Request).
    const TEngineGuard engine;
    // Each chosen client with a reference that keeps it alive while it is asked.
    std::vector<std::pair<win::ComPtr<IUnknown>, TEngineClient*>> chosen;
    {
        TLock lock(client_lock_);
        auto choose = [&](TEngineClient* client) {
            chosen.emplace_back(win::ComPtr<IUnknown>(&client->ComIdentity()), client);
        };
        if (index == -1) {
            for (TEngineClient* client : clients_) {
                choose(client);
            }
        } else if (index >= 0 && static_cast<std::size_t>(index) < clients_.size()) {
            choose(clients_[static_cast<std::size_t>(index)]);
        }
    }
    // The requests go out without the lock: a client may disconnect while asked.
    int asked = 0;
    for (auto& [reference, client] : chosen) {
        if (client->RequestShutdown(reason)) {
            ++asked;
        }
    }
    return asked;
}

bool TOpcItemServer::HasOption(int bit) { return Options().Has(bit); }

// ---- Namespace -----------------------------------------------------------------------------

void TOpcItemServer::ReloadNamespace(bool merge) {
    // The engine lock before the client-list lock, as everywhere.
    const TEngineGuard engine;
    TLock lock(client_lock_);
    std::vector<std::pair<TEngineClient*, std::wstring>> positions;
    for (TEngineClient* client : clients_) {
        TItemIdList*& position = client->BrowsePosition();
        positions.emplace_back(client, position ? position->FullPath() : std::wstring());
        position = nullptr;
    }
    namespace_rules_.hierarchical = HasOption(soHierarchical);
    namespace_rules_.delimiter = PathDelimiter();
    if (!namespace_root_) {
        namespace_root_ = std::make_unique<TItemIdList>(namespace_rules_);
    } else if (!merge) {
        namespace_root_->Clear();
    }
    namespace_rules_.merge = merge;
    try {
        LoadNamespace(*namespace_root_);
    } catch (...) {
        // Positions come back as far as the partly built tree allows.
        for (auto& [client, path] : positions) {
            TNamespaceNode* node = path.empty() ? nullptr : namespace_root_->FindNode(path);
            client->BrowsePosition() =
                node && node->IsBranch() ? static_cast<TItemIdList*>(node) : nullptr;
        }
        throw;
    }
    for (auto& [client, path] : positions) {
        TNamespaceNode* node = path.empty() ? nullptr : namespace_root_->FindNode(path);
        client->BrowsePosition() =
            node && node->IsBranch() ? static_cast<TItemIdList*>(node) : nullptr;
    }
}

void TOpcItemServer::EnsureNamespace(TItemIdList*& position) {
    if (!namespace_root_) {
        ReloadNamespace(false);
        position = namespace_root_.get();
    } else if (!position) {
        position = namespace_root_.get();
    }
}

// ---- Engine services -----------------------------------------------------------------------

FILETIME TOpcItemServer::Now() {
    FILETIME time{};
    GetTimestamp(time);
    return time;
}

void TOpcItemServer::ReportException(std::exception_ptr error) noexcept {
    try {
        HandleException(error);
    } catch (...) {
        try {
            LogLine(L"the item server's exception handler failed on: " + DescribeException(error));
        } catch (...) {
        }
    }
}

void TOpcItemServer::Notify(TNotification kind, TClientInfo& client) {
    window_->Notify(kind, &client);
}

void TOpcItemServer::Notify(TNotification kind, TGroupInfo& group) {
    window_->Notify(kind, &group);
}

void TOpcItemServer::Notify(TNotification kind, TGroupItemInfo& item) {
    window_->Notify(kind, &item);
}

void TOpcItemServer::SetGroupExtensionFactory(TGroupExtensionFactory factory) {
    extensions_ = std::move(factory);
}

void TOpcItemServer::DispatchNotification(TNotification kind, void* object) {
    switch (kind) {
        case TNotification::ClientConnected:
            ClientConnected(*static_cast<TClientInfo*>(object));
            break;
        case TNotification::ClientDisconnected:
            ClientDisconnected(*static_cast<TClientInfo*>(object));
            break;
        case TNotification::ClientNameChanged:
            ClientNameChanged(*static_cast<TClientInfo*>(object));
            break;
        case TNotification::GroupAdded:
            GroupAdded(*static_cast<TGroupInfo*>(object));
            break;
        case TNotification::GroupRemoved:
            GroupRemoved(*static_cast<TGroupInfo*>(object));
            break;
        case TNotification::GroupItemAdded:
            GroupItemAdded(*static_cast<TGroupItemInfo*>(object));
            break;
        case TNotification::GroupItemRemoved:
            GroupItemRemoved(*static_cast<TGroupItemInfo*>(object));
            break;
    }
}

void TOpcItemServer::DispatchTimer(UINT_PTR key) {
    // A tick queued before its group went finds nothing here.
    if (TEngineGroup* group = groups_.Find(static_cast<DWORD>(key))) {
        group->Tick();
    }
}

}  // namespace porvex::opc
