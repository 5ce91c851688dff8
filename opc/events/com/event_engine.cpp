#include "opc/events/com/event_engine.h"

#include <algorithm>
#include <atomic>

#include "opc/com/engine_lock.h"
#include "opc/com/errors.h"
#include "opc/com/file_time.h"
#include "opc/com/log.h"
#include "opc/events/com/event_server.h"
#include "opc/events/com/event_subscription.h"
#include "opc/server/message_window.h"
#include "win/com_ptr.h"

namespace porvex::opc::events {
namespace {

std::atomic<TEventEngine*> the_engine{nullptr};
constexpr wchar_t kWindowClass[] = L"PorvexEventServerWindow";
constexpr UINT_PTR kTimerId = 1;

TFileTime WallNow() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return FileTimeTicks(now);
}

TEventClock DefaultClock(TEventClock clock) {
    if (!clock.monotonic) {
        clock.monotonic = [] { return static_cast<TMilliseconds>(GetTickCount64()); };
    }
    if (!clock.wall) {
        clock.wall = &WallNow;
    }
    return clock;
}

}  // namespace

TEventEngine::TEventEngine(TEventCatalog catalog, std::wstring vendorInfo, TEventClock clock)
    : hub_(std::move(catalog), DefaultClock(std::move(clock))),
      vendor_info_(std::move(vendorInfo)) {
    GetSystemTimeAsFileTime(&start_time_);
    TEventEngine* expected = nullptr;
    if (!the_engine.compare_exchange_strong(expected, this)) {
        throw EOpcServer(L"OPCSERV: Only one event server allowed");
    }
    hwnd_ = CreateMessageWindow(kWindowClass, &TEventEngine::WindowProc, nullptr);
    if (!hwnd_ || !SetTimer(hwnd_, kTimerId, kTickMs, nullptr)) {
        if (hwnd_) {
            DestroyWindow(hwnd_);
        }
        the_engine.store(nullptr);
        throw EOpcServer(L"OPCSERV: Could not allocate the event server window");
    }
}

TEventEngine::~TEventEngine() {
    const TEngineGuard engine;
    KillTimer(hwnd_, kTimerId);
    DestroyWindow(hwnd_);
    // Objects clients still hold stay alive without an engine: their calls then fail.
    for (TEventSubscription* subscription : std::vector(subscriptions_)) {
        subscription->Detach();
    }
    for (TEventServer* server : std::vector(servers_)) {
        server->Detach();
    }
    the_engine.store(nullptr);
}

TEventEngine* TEventEngine::Instance() noexcept { return the_engine.load(); }

FILETIME TEventEngine::LastUpdateTime() const noexcept {
    FILETIME latest = start_time_;
    for (const TEventSubscription* subscription : subscriptions_) {
        const FILETIME sent = subscription->LastDelivery();
        if (CompareFileTime(&sent, &latest) > 0) {
            latest = sent;
        }
    }
    return latest;
}

void TEventEngine::SetItemIdTranslator(TItemIdTranslator translator, const CLSID& daServer) {
    translator_ = std::move(translator);
    da_server_ = daServer;
}

std::wstring TEventEngine::TranslateItemId(const std::wstring& source, std::uint32_t category,
                                           const std::wstring& condition,
                                           const std::wstring& subcondition,
                                           std::uint32_t attribute) const {
    return translator_ ? translator_(source, category, condition, subcondition, attribute)
                       : std::wstring();
}

void TEventEngine::Add(TEventSubscription& subscription) {
    subscriptions_.push_back(&subscription);
}

void TEventEngine::Remove(TEventSubscription& subscription) noexcept {
    std::erase(subscriptions_, &subscription);
}

void TEventEngine::Add(TEventServer& server) { servers_.push_back(&server); }

void TEventEngine::Remove(TEventServer& server) noexcept { std::erase(servers_, &server); }

std::size_t TEventEngine::RequestShutdown(const std::wstring& reason) {
    const TEngineGuard engine;
    std::size_t asked = 0;
    for (TEventServer* server : std::vector(servers_)) {
        win::ComPtr<TEventServer> keep(server);
        if (server->RequestShutdown(reason)) {
            ++asked;
        }
    }
    return asked;
}

void TEventEngine::Tick() noexcept {
    if (ticking_) {
        return;  // a sink's call let the message loop run: the outer pass continues
    }
    ticking_ = true;
    // A subscription may go during a sink's call (the client releases it): hold each.
    std::vector<win::ComPtr<TEventSubscription>> held;
    held.reserve(subscriptions_.size());
    for (TEventSubscription* subscription : subscriptions_) {
        held.emplace_back(subscription);
    }
    for (const auto& subscription : held) {
        subscription->Deliver();
    }
    ticking_ = false;
}

LRESULT CALLBACK TEventEngine::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kTimerId) {
        const TEngineGuard locked;
        if (TEventEngine* engine = Instance(); engine && engine->hwnd_ == hwnd) {
            engine->Tick();
        }
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace porvex::opc::events
