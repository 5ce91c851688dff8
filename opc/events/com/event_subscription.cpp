#include "opc/events/com/event_subscription.h"

#include <algorithm>
#include <cwchar>

#include "opc/com/boundary.h"
#include "opc/com/errors.h"
#include "opc/com/log.h"
#include "opc/com/text.h"
#include "opc/events/com/event_engine.h"
#include "opc/events/com/event_limits.h"
#include "opc/events/com/task_strings.h"
#include "opc/events/model/wildcard.h"
#include "win/task_memory.h"

namespace porvex::opc::events {
namespace {

// The only connection of the single sink point (TConnectionPoint hands out cookie 1).
constexpr DWORD kConnectionCookie = 1;
// Deliveries per subscription and tick at most, so one busy subscription cannot hold the
// main thread.
constexpr int kDeliveriesPerTick = 50;

bool HasWildcard(const std::wstring& text) {
    return text.find_first_of(L"*?") != std::wstring::npos;
}

// Copies a client's string list; false when the list or one of its strings is missing.
bool ReadStrings(DWORD count, LPWSTR* list, std::vector<std::wstring>& out) {
    if (count > 0 && !list) {
        return false;
    }
    for (DWORD i = 0; i < count; ++i) {
        if (!list[i]) {
            return false;
        }
        out.emplace_back(list[i]);
    }
    return true;
}

std::wstring Hex(HRESULT code) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(code));
    return text;
}

}  // namespace

TEventSubscription::TEventSubscription(TEventEngine& engine, bool active, DWORD bufferTime,
                                       DWORD maxSize, OPCHANDLE clientHandle)
    : engine_(&engine),
      active_(active),
      buffer_time_(bufferTime),
      max_size_(maxSize),
      client_handle_(clientHandle),
      sink_point_(*identity(), *this, IID_IOPCEventSink,
                  [this](IUnknown* sink, bool advise) { return SinkAdvised(sink, advise); }) {
    id_ = engine.Hub().AddSubscriber();
    engine.Hub().SetActive(id_, false);  // nothing is buffered until a sink is there
    engine.Add(*this);
}

TEventSubscription::~TEventSubscription() { Detach(); }

win::ComPtr<TEventSubscription> TEventSubscription::Create(TEventEngine& engine, bool active,
                                                           DWORD bufferTime, DWORD maxSize,
                                                           OPCHANDLE clientHandle) {
    return win::ComPtr<TEventSubscription>(
        new TEventSubscription(engine, active, bufferTime, maxSize, clientHandle));
}

void TEventSubscription::Detach() noexcept {
    if (engine_) {
        engine_->Hub().RemoveSubscriber(id_);
        engine_->Remove(*this);
        engine_ = nullptr;
    }
    sink_point_.Disconnect();
    sink_.reset();
}

// ---- IOPCEventSubscriptionMgt ----------------------------------------------------------------

HRESULT TEventSubscription::SetFilter(DWORD dwEventType, DWORD dwNumCategories,
                                      DWORD* pdwEventCategories, DWORD dwLowSeverity,
                                      DWORD dwHighSeverity, DWORD dwNumAreas, LPWSTR* pszAreaList,
                                      DWORD dwNumSources, LPWSTR* pszSourceList) noexcept {
    return OpcBoundary("IOPCEventSubscriptionMgt::SetFilter", [&]() -> HRESULT {
        if (!engine_) {
            return E_FAIL;
        }
        if (refresh_pending_) {
            return OPC_E_BUSY;
        }
        const TEventCatalog& catalog = engine_->Hub().Catalog();
        TEventFilter filter;
        filter.event_types = dwEventType;
        filter.low_severity = dwLowSeverity;
        filter.high_severity = dwHighSeverity;
        if (dwEventType == 0 || (dwEventType & ~static_cast<DWORD>(OPC_ALL_EVENTS)) != 0 ||
            dwLowSeverity < 1 || dwHighSeverity > 1000 || dwLowSeverity > dwHighSeverity ||
            (dwNumCategories > 0 && !pdwEventCategories) ||
            !ReadStrings(dwNumAreas, pszAreaList, filter.areas) ||
            !ReadStrings(dwNumSources, pszSourceList, filter.sources)) {
            return E_INVALIDARG;
        }
        for (DWORD i = 0; i < dwNumCategories; ++i) {
            if (!catalog.Category(pdwEventCategories[i])) {
                return E_INVALIDARG;
            }
            filter.categories.push_back(pdwEventCategories[i]);
        }
        for (const std::wstring& area : filter.areas) {
            if (!HasWildcard(area) && !catalog.IsArea(area)) {
                return E_INVALIDARG;
            }
        }
        for (const std::wstring& source : filter.sources) {
            if (!HasWildcard(source) && !catalog.Source(source)) {
                return E_INVALIDARG;
            }
        }
        engine_->Hub().SetFilter(id_, std::move(filter));
        return S_OK;
    });
}

HRESULT TEventSubscription::GetFilter(DWORD* pdwEventType, DWORD* pdwNumCategories,
                                      DWORD** ppdwEventCategories, DWORD* pdwLowSeverity,
                                      DWORD* pdwHighSeverity, DWORD* pdwNumAreas,
                                      LPWSTR** ppszAreaList, DWORD* pdwNumSources,
                                      LPWSTR** ppszSourceList) noexcept {
    if (!pdwEventType || !pdwNumCategories || !ppdwEventCategories || !pdwLowSeverity ||
        !pdwHighSeverity || !pdwNumAreas || !ppszAreaList || !pdwNumSources || !ppszSourceList) {
        return E_POINTER;
    }
    *pdwNumCategories = *pdwNumAreas = *pdwNumSources = 0;
    *ppdwEventCategories = nullptr;
    *ppszAreaList = *ppszSourceList = nullptr;
    return OpcBoundary("IOPCEventSubscriptionMgt::GetFilter", [&]() -> HRESULT {
        if (!engine_) {
            return E_FAIL;
        }
        const TEventFilter filter = engine_->Hub().Filter(id_);
        win::TaskArray<DWORD> categories(filter.categories.size());
        std::copy(filter.categories.begin(), filter.categories.end(), categories.get());
        win::TaskArray<LPWSTR> areas = TaskStrings(filter.areas);
        win::TaskArray<LPWSTR> sources = TaskStrings(filter.sources);
        *pdwEventType = filter.event_types;
        *pdwLowSeverity = filter.low_severity;
        *pdwHighSeverity = filter.high_severity;
        *pdwNumCategories = static_cast<DWORD>(filter.categories.size());
        *ppdwEventCategories = categories.detach();
        *pdwNumAreas = static_cast<DWORD>(filter.areas.size());
        *ppszAreaList = areas.detach();
        *pdwNumSources = static_cast<DWORD>(filter.sources.size());
        *ppszSourceList = sources.detach();
        return S_OK;
    });
}

HRESULT TEventSubscription::SelectReturnedAttributes(DWORD dwEventCategory, DWORD dwCount,
                                                     DWORD* dwAttributeIDs) noexcept {
    return OpcBoundary("IOPCEventSubscriptionMgt::SelectReturnedAttributes", [&]() -> HRESULT {
        if (!engine_) {
            return E_FAIL;
        }
        const TCategoryInfo* category = engine_->Hub().Catalog().Category(dwEventCategory);
        if (!category || (dwCount > 0 && !dwAttributeIDs)) {
            return E_INVALIDARG;
        }
        std::vector<std::uint32_t> selected;
        for (DWORD i = 0; i < dwCount; ++i) {
            const bool known = std::any_of(
                category->attributes.begin(), category->attributes.end(),
                [&](const TAttributeInfo& info) { return info.id == dwAttributeIDs[i]; });
            if (!known) {
                return E_INVALIDARG;
            }
            selected.push_back(dwAttributeIDs[i]);
        }
        if (selected.empty()) {
            returned_.erase(dwEventCategory);
        } else {
            returned_[dwEventCategory] = std::move(selected);
        }
        return S_OK;
    });
}

HRESULT TEventSubscription::GetReturnedAttributes(DWORD dwEventCategory, DWORD* pdwCount,
                                                  DWORD** ppdwAttributeIDs) noexcept {
    if (!pdwCount || !ppdwAttributeIDs) {
        return E_POINTER;
    }
    *pdwCount = 0;
    *ppdwAttributeIDs = nullptr;
    return OpcBoundary("IOPCEventSubscriptionMgt::GetReturnedAttributes", [&]() -> HRESULT {
        if (!engine_) {
            return E_FAIL;
        }
        if (!engine_->Hub().Catalog().Category(dwEventCategory)) {
            return E_INVALIDARG;
        }
        const auto found = returned_.find(dwEventCategory);
        const std::vector<std::uint32_t> none;
        const std::vector<std::uint32_t>& ids = found == returned_.end() ? none : found->second;
        win::TaskArray<DWORD> array(ids.size());
        std::copy(ids.begin(), ids.end(), array.get());
        *pdwCount = static_cast<DWORD>(ids.size());
        *ppdwAttributeIDs = array.detach();
        return S_OK;
    });
}

HRESULT TEventSubscription::Refresh(DWORD dwConnection) noexcept {
    if (!engine_) {
        return E_FAIL;
    }
    if (!sink_ || dwConnection != kConnectionCookie) {
        return E_INVALIDARG;
    }
    if (refresh_pending_) {
        return OPC_E_BUSY;
    }
    refresh_pending_ = true;  // delivered on the next tick, after this call has returned
    return S_OK;
}

HRESULT TEventSubscription::CancelRefresh(DWORD dwConnection) noexcept {
    if (!engine_) {
        return E_FAIL;
    }
    if (!sink_ || dwConnection != kConnectionCookie) {
        return E_INVALIDARG;
    }
    if (!refresh_pending_) {
        return E_FAIL;  // no refresh to cancel (a refresh is sent in one pass)
    }
    refresh_pending_ = false;
    return S_OK;
}

HRESULT TEventSubscription::GetState(BOOL* pbActive, DWORD* pdwBufferTime, DWORD* pdwMaxSize,
                                     OPCHANDLE* phClientSubscription) noexcept {
    if (!pbActive || !pdwBufferTime || !pdwMaxSize || !phClientSubscription) {
        return E_POINTER;
    }
    *pbActive = active_ ? TRUE : FALSE;
    *pdwBufferTime = buffer_time_;
    *pdwMaxSize = max_size_;
    *phClientSubscription = client_handle_;
    return S_OK;
}

HRESULT TEventSubscription::SetState(BOOL* pbActive, DWORD* pdwBufferTime, DWORD* pdwMaxSize,
                                     OPCHANDLE hClientSubscription, DWORD* pdwRevisedBufferTime,
                                     DWORD* pdwRevisedMaxSize) noexcept {
    if (!pdwRevisedBufferTime || !pdwRevisedMaxSize) {
        return E_POINTER;
    }
    if (!engine_) {
        return E_FAIL;
    }
    HRESULT result = S_OK;
    if (pdwBufferTime) {
        buffer_time_ = *pdwBufferTime;
    }
    if (pdwMaxSize) {
        const TRevised revised = ReviseMaxSize(*pdwMaxSize);
        max_size_ = revised.value;
        result = revised.result;
    }
    if (pbActive) {
        active_ = *pbActive != FALSE;
        engine_->Hub().SetActive(id_, active_ && sink_);
    }
    client_handle_ = hClientSubscription;
    *pdwRevisedBufferTime = buffer_time_;
    *pdwRevisedMaxSize = max_size_;
    return result;
}

// ---- IConnectionPointContainer -------------------------------------------------------------

HRESULT TEventSubscription::SinkAdvised(IUnknown* sink, bool advise) {
    if (!advise) {
        sink_.reset();
        refresh_pending_ = false;
        if (engine_) {
            engine_->Hub().SetActive(id_, false);
        }
        return S_OK;
    }
    if (!engine_) {
        return E_FAIL;
    }
    win::ComPtr<IOPCEventSink> events;
    const HRESULT hr =
        sink->QueryInterface(IID_IOPCEventSink, reinterpret_cast<void**>(events.put()));
    if (SUCCEEDED(hr)) {
        sink_ = std::move(events);
        engine_->Hub().SetActive(id_, active_);
    }
    return hr;
}

HRESULT TEventSubscription::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept {
    return EnumSinglePoint(sink_point_, ppEnum);
}

HRESULT TEventSubscription::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept {
    return FindSinglePoint(sink_point_, riid, ppCP);
}

// ---- delivery ------------------------------------------------------------------------------

bool TEventSubscription::Send(const std::vector<TEvent>& events, bool refresh, bool lastRefresh) {
    TClientPtr<IOPCEventSink> sink = sink_;  // the client may unadvise during the call
    if (!sink) {
        return false;
    }
    TEventBatch batch(events, returned_);
    const DWORD client_handle = client_handle_;
    HRESULT hr = S_OK;
    {
        const TEngineUnlock unlocked;  // the client may call the server meanwhile
        hr = sink->OnEvent(client_handle, refresh ? TRUE : FALSE, lastRefresh ? TRUE : FALSE,
                           batch.Count(), batch.Data());
    }
    GetSystemTimeAsFileTime(&last_delivery_);
    if (SUCCEEDED(hr)) {
        return true;
    }
    if (IsClientGone(hr) && sink_.get() == sink.get()) {
        sink_point_.Disconnect();
        sink_.reset();
        refresh_pending_ = false;
        if (engine_) {
            engine_->Hub().SetActive(id_, false);
        }
        LogLine(L"event subscription " + std::to_wstring(client_handle_) +
                L": the client's event sink is gone (" + Hex(hr) + L"), dropped");
    } else {
        LogLine(L"event subscription " + std::to_wstring(client_handle_) +
                L": OnEvent failed with " + Hex(hr));
    }
    return false;
}

void TEventSubscription::DeliverRefresh() {
    refresh_pending_ = false;
    std::vector<TEvent> conditions =
        engine_->Hub().ReportableConditions(engine_->Hub().Filter(id_));
    const std::size_t chunk = max_size_ == 0 ? conditions.size() : max_size_;
    if (conditions.empty()) {
        Send({}, true, true);
        return;
    }
    for (std::size_t start = 0; start < conditions.size(); start += chunk) {
        const std::size_t end = std::min(conditions.size(), start + chunk);
        const std::vector<TEvent> part(conditions.begin() + static_cast<std::ptrdiff_t>(start),
                                       conditions.begin() + static_cast<std::ptrdiff_t>(end));
        if (!Send(part, true, end == conditions.size())) {
            return;
        }
    }
}

void TEventSubscription::Deliver() noexcept {
    try {
        if (!engine_ || !sink_) {
            return;
        }
        if (refresh_pending_) {
            DeliverRefresh();
        }
        if (!active_) {
            return;
        }
        for (int round = 0; round < kDeliveriesPerTick && engine_ && sink_; ++round) {
            std::optional<TDelivery> due = engine_->Hub().TakeDue(id_, buffer_time_, max_size_);
            if (!due) {
                break;
            }
            if (due->dropped > 0) {
                LogLine(L"event subscription " + std::to_wstring(client_handle_) + L": " +
                        std::to_wstring(due->dropped) +
                        L" events dropped, the buffer was full (the client is told)");
            }
            if (!Send(due->events, false, false)) {
                break;
            }
        }
    } catch (...) {
        LogLine(L"event subscription " + std::to_wstring(client_handle_) + L": delivery failed: " +
                DescribeException(std::current_exception()));
    }
}

void TEventSubscription::final_release() noexcept {
    // The last reference may go on any thread: the object leaves the engine under its lock,
    // unless a call holding the lock took a new reference meanwhile.
    const TEngineGuard engine;
    if (references() == 0) {
        delete this;
    }
}

}  // namespace porvex::opc::events
