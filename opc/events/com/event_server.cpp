#include "opc/events/com/event_server.h"

#include <algorithm>

#include "opc/com/boundary.h"
#include "opc/com/errors.h"
#include "opc/com/file_time.h"
#include "opc/events/com/area_browser.h"
#include "opc/events/com/event_batch.h"
#include "opc/events/com/event_engine.h"
#include "opc/events/com/event_limits.h"
#include "opc/events/com/event_subscription.h"
#include "opc/events/com/task_strings.h"
#include "win/task_memory.h"

namespace porvex::opc::events {
namespace {

// Copies a client's string list; false when the list or one of its strings is missing.
bool ReadNames(DWORD count, LPWSTR* list, std::vector<std::wstring>& out) {
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

// Frees what an OPCCONDITIONSTATE owns (for a call that fails half way).
struct TConditionStateGuard {
    OPCCONDITIONSTATE* state = nullptr;
    ~TConditionStateGuard() {
        if (!state) {
            return;
        }
        CoTaskMemFree(state->szActiveSubCondition);
        CoTaskMemFree(state->szASCDefinition);
        CoTaskMemFree(state->szASCDescription);
        CoTaskMemFree(state->szAcknowledgerID);
        CoTaskMemFree(state->szComment);
        for (DWORD i = 0; i < state->dwNumSCs; ++i) {
            if (state->pszSCNames) {
                CoTaskMemFree(state->pszSCNames[i]);
            }
            if (state->pszSCDefinitions) {
                CoTaskMemFree(state->pszSCDefinitions[i]);
            }
            if (state->pszSCDescriptions) {
                CoTaskMemFree(state->pszSCDescriptions[i]);
            }
        }
        CoTaskMemFree(state->pszSCNames);
        CoTaskMemFree(state->pszSCDefinitions);
        CoTaskMemFree(state->pdwSCSeverities);
        CoTaskMemFree(state->pszSCDescriptions);
        for (DWORD i = 0; state->pEventAttributes && i < state->dwNumEventAttrs; ++i) {
            VariantClear(&state->pEventAttributes[i]);
        }
        CoTaskMemFree(state->pEventAttributes);
        CoTaskMemFree(state->pErrors);
        CoTaskMemFree(state);
    }
};

}  // namespace

TEventServer::TEventServer(TEventEngine& engine)
    : engine_(&engine), shutdown_(*identity(), *this, [this] { return engine_ != nullptr; }) {
    engine.Add(*this);
}

TEventServer::~TEventServer() { Detach(); }

win::ComPtr<TEventServer> TEventServer::Create(TEventEngine& engine) {
    return win::ComPtr<TEventServer>(new TEventServer(engine));
}

void TEventServer::Detach() noexcept {
    if (engine_) {
        engine_->Remove(*this);
        engine_ = nullptr;
    }
    shutdown_.Disconnect();
}

HRESULT CreateEventServerObject(REFIID riid, void** object) noexcept {
    if (!object) {
        return E_INVALIDARG;
    }
    *object = nullptr;
    return OpcBoundary("CreateEventServerObject", [&]() -> HRESULT {
        TEventEngine* engine = TEventEngine::Instance();
        if (!engine) {
            return E_FAIL;
        }
        return TEventServer::Create(*engine)->QueryInterface(riid, object);
    });
}

// ---- status, subscriptions, browsers -------------------------------------------------------

HRESULT TEventServer::GetStatus(OPCEVENTSERVERSTATUS** ppEventServerStatus) noexcept {
    if (!ppEventServerStatus) {
        return E_POINTER;
    }
    *ppEventServerStatus = nullptr;
    return OpcBoundary("IOPCEventServer::GetStatus", [&]() -> HRESULT {
        if (!engine_) {
            return E_FAIL;
        }
        win::TaskArray<OPCEVENTSERVERSTATUS> status(1);
        auto vendor = win::task_string(engine_->VendorInfo());
        status[0].ftStartTime = engine_->StartTime();
        GetSystemTimeAsFileTime(&status[0].ftCurrentTime);
        status[0].ftLastUpdateTime = engine_->LastUpdateTime();
        status[0].dwServerState = OPCAE_STATUS_RUNNING;
        status[0].wMajorVersion = 1;
        status[0].wMinorVersion = 10;
        status[0].wBuildNumber = 0;
        status[0].szVendorInfo = vendor.release();
        *ppEventServerStatus = status.detach();
        return S_OK;
    });
}

HRESULT TEventServer::CreateEventSubscription(BOOL bActive, DWORD dwBufferTime, DWORD dwMaxSize,
                                              OPCHANDLE hClientSubscription, REFIID riid,
                                              LPUNKNOWN* ppUnk, DWORD* pdwRevisedBufferTime,
                                              DWORD* pdwRevisedMaxSize) noexcept {
    if (!ppUnk || !pdwRevisedBufferTime || !pdwRevisedMaxSize) {
        return E_POINTER;
    }
    *ppUnk = nullptr;
    *pdwRevisedBufferTime = *pdwRevisedMaxSize = 0;
    return OpcBoundary("IOPCEventServer::CreateEventSubscription", [&]() -> HRESULT {
        if (!engine_) {
            return E_FAIL;
        }
        const TRevised max_size = ReviseMaxSize(dwMaxSize);
        win::ComPtr<TEventSubscription> subscription = TEventSubscription::Create(
            *engine_, bActive != FALSE, dwBufferTime, max_size.value, hClientSubscription);
        const HRESULT hr = subscription->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
        if (FAILED(hr)) {
            return hr;
        }
        *pdwRevisedBufferTime = dwBufferTime;
        *pdwRevisedMaxSize = max_size.value;
        return max_size.result;
    });
}

HRESULT TEventServer::QueryAvailableFilters(DWORD* pdwFilterMask) noexcept {
    if (!pdwFilterMask) {
        return E_POINTER;
    }
    *pdwFilterMask = OPC_FILTER_BY_EVENT | OPC_FILTER_BY_CATEGORY | OPC_FILTER_BY_SEVERITY |
                     OPC_FILTER_BY_AREA | OPC_FILTER_BY_SOURCE;
    return S_OK;
}

HRESULT TEventServer::CreateAreaBrowser(REFIID riid, LPUNKNOWN* ppUnk) noexcept {
    if (!ppUnk) {
        return E_POINTER;
    }
    *ppUnk = nullptr;
    return OpcBoundary("IOPCEventServer::CreateAreaBrowser", [&]() -> HRESULT {
        if (!engine_) {
            return E_FAIL;
        }
        return TAreaBrowser::Create(*engine_)->QueryInterface(riid,
                                                              reinterpret_cast<void**>(ppUnk));
    });
}

// ---- catalog queries -----------------------------------------------------------------------

HRESULT TEventServer::QueryEventCategories(DWORD dwEventType, DWORD* pdwCount,
                                           DWORD** ppdwEventCategories,
                                           LPWSTR** ppszEventCategoryDescs) noexcept {
    if (!pdwCount || !ppdwEventCategories || !ppszEventCategoryDescs) {
        return E_POINTER;
    }
    *pdwCount = 0;
    *ppdwEventCategories = nullptr;
    *ppszEventCategoryDescs = nullptr;
    return OpcBoundary("IOPCEventServer::QueryEventCategories", [&]() -> HRESULT {
        if (!engine_) {
            return E_FAIL;
        }
        if (dwEventType == 0 || (dwEventType & ~static_cast<DWORD>(OPC_ALL_EVENTS)) != 0) {
            return E_INVALIDARG;
        }
        std::vector<DWORD> ids;
        std::vector<std::wstring> descriptions;
        for (const TCategoryInfo& category : engine_->Hub().Catalog().Categories()) {
            if (category.event_type & dwEventType) {
                ids.push_back(category.id);
                descriptions.push_back(category.description);
            }
        }
        win::TaskArray<DWORD> id_array(ids.size());
        std::copy(ids.begin(), ids.end(), id_array.get());
        win::TaskArray<LPWSTR> text_array = TaskStrings(descriptions);
        *pdwCount = static_cast<DWORD>(ids.size());
        *ppdwEventCategories = id_array.detach();
        *ppszEventCategoryDescs = text_array.detach();
        return S_OK;
    });
}

HRESULT TEventServer::QueryConditionNames(DWORD dwEventCategory, DWORD* pdwCount,
                                          LPWSTR** ppszConditionNames) noexcept {
    if (!pdwCount || !ppszConditionNames) {
        return E_POINTER;
    }
    *pdwCount = 0;
    *ppszConditionNames = nullptr;
    return OpcBoundary("IOPCEventServer::QueryConditionNames", [&]() -> HRESULT {
        if (!engine_) {
            return E_FAIL;
        }
        const TEventCatalog& catalog = engine_->Hub().Catalog();
        if (!catalog.Category(dwEventCategory)) {
            return E_INVALIDARG;
        }
        std::vector<std::wstring> names;
        for (const TConditionInfo& condition : catalog.Conditions()) {
            if (condition.category == dwEventCategory) {
                names.push_back(condition.name);
            }
        }
        win::TaskArray<LPWSTR> array = TaskStrings(names);
        *pdwCount = static_cast<DWORD>(names.size());
        *ppszConditionNames = array.detach();
        return S_OK;
    });
}

HRESULT TEventServer::QuerySubConditionNames(LPWSTR szConditionName, DWORD* pdwCount,
                                             LPWSTR** ppszSubConditionNames) noexcept {
    if (!pdwCount || !ppszSubConditionNames) {
        return E_POINTER;
    }
    *pdwCount = 0;
    *ppszSubConditionNames = nullptr;
    return OpcBoundary("IOPCEventServer::QuerySubConditionNames", [&]() -> HRESULT {
        if (!engine_) {
            return E_FAIL;
        }
        const TConditionInfo* condition =
            szConditionName ? engine_->Hub().Catalog().Condition(szConditionName) : nullptr;
        if (!condition) {
            return E_INVALIDARG;
        }
        std::vector<std::wstring> names;
        for (const TSubconditionInfo& sub : condition->subconditions) {
            names.push_back(sub.name);
        }
        win::TaskArray<LPWSTR> array = TaskStrings(names);
        *pdwCount = static_cast<DWORD>(names.size());
        *ppszSubConditionNames = array.detach();
        return S_OK;
    });
}

HRESULT TEventServer::QuerySourceConditions(LPWSTR szSource, DWORD* pdwCount,
                                            LPWSTR** ppszConditionNames) noexcept {
    if (!pdwCount || !ppszConditionNames) {
        return E_POINTER;
    }
    *pdwCount = 0;
    *ppszConditionNames = nullptr;
    return OpcBoundary("IOPCEventServer::QuerySourceConditions", [&]() -> HRESULT {
        if (!engine_) {
            return E_FAIL;
        }
        const TSourceInfo* source = szSource ? engine_->Hub().Catalog().Source(szSource) : nullptr;
        if (!source) {
            return E_INVALIDARG;
        }
        win::TaskArray<LPWSTR> array = TaskStrings(source->conditions);
        *pdwCount = static_cast<DWORD>(source->conditions.size());
        *ppszConditionNames = array.detach();
        return S_OK;
    });
}

HRESULT TEventServer::QueryEventAttributes(DWORD dwEventCategory, DWORD* pdwCount,
                                           DWORD** ppdwAttrIDs, LPWSTR** ppszAttrDescs,
                                           VARTYPE** ppvtAttrTypes) noexcept {
    if (!pdwCount || !ppdwAttrIDs || !ppszAttrDescs || !ppvtAttrTypes) {
        return E_POINTER;
    }
    *pdwCount = 0;
    *ppdwAttrIDs = nullptr;
    *ppszAttrDescs = nullptr;
    *ppvtAttrTypes = nullptr;
    return OpcBoundary("IOPCEventServer::QueryEventAttributes", [&]() -> HRESULT {
        if (!engine_) {
            return E_FAIL;
        }
        const TCategoryInfo* category = engine_->Hub().Catalog().Category(dwEventCategory);
        if (!category) {
            return E_INVALIDARG;
        }
        const std::size_t count = category->attributes.size();
        win::TaskArray<DWORD> ids(count);
        win::TaskArray<VARTYPE> types(count);
        std::vector<std::wstring> descriptions;
        for (std::size_t i = 0; i < count; ++i) {
            ids[i] = category->attributes[i].id;
            types[i] = category->attributes[i].type;
            descriptions.push_back(category->attributes[i].description);
        }
        win::TaskArray<LPWSTR> texts = TaskStrings(descriptions);
        *pdwCount = static_cast<DWORD>(count);
        *ppdwAttrIDs = ids.detach();
        *ppszAttrDescs = texts.detach();
        *ppvtAttrTypes = types.detach();
        return S_OK;
    });
}

HRESULT TEventServer::TranslateToItemIDs(LPWSTR szSource, DWORD dwEventCategory,
                                         LPWSTR szConditionName, LPWSTR szSubconditionName,
                                         DWORD dwCount, DWORD* pdwAssocAttrIDs,
                                         LPWSTR** ppszAttrItemIDs, LPWSTR** ppszNodeNames,
                                         CLSID** ppCLSIDs) noexcept {
    if (!ppszAttrItemIDs || !ppszNodeNames || !ppCLSIDs) {
        return E_POINTER;
    }
    *ppszAttrItemIDs = nullptr;
    *ppszNodeNames = nullptr;
    *ppCLSIDs = nullptr;
    return OpcBoundary("IOPCEventServer::TranslateToItemIDs", [&]() -> HRESULT {
        if (!engine_) {
            return E_FAIL;
        }
        const TEventCatalog& catalog = engine_->Hub().Catalog();
        const TCategoryInfo* category = catalog.Category(dwEventCategory);
        if (!szSource || !catalog.Source(szSource) || !category ||
            (dwCount > 0 && !pdwAssocAttrIDs)) {
            return E_INVALIDARG;
        }
        const std::wstring condition = szConditionName ? szConditionName : L"";
        const std::wstring subcondition = szSubconditionName ? szSubconditionName : L"";
        std::vector<std::wstring> items;
        std::vector<std::wstring> nodes(dwCount);
        for (DWORD i = 0; i < dwCount; ++i) {
            const bool known = std::any_of(
                category->attributes.begin(), category->attributes.end(),
                [&](const TAttributeInfo& info) { return info.id == pdwAssocAttrIDs[i]; });
            if (!known) {
                return E_INVALIDARG;
            }
            items.push_back(engine_->TranslateItemId(szSource, dwEventCategory, condition,
                                                     subcondition, pdwAssocAttrIDs[i]));
        }
        win::TaskArray<LPWSTR> item_array = TaskStrings(items);
        win::TaskArray<LPWSTR> node_array = TaskStrings(nodes);
        win::TaskArray<CLSID> clsids(dwCount);
        for (DWORD i = 0; i < dwCount; ++i) {
            // An attribute without an item has no server either.
            clsids[i] = items[i].empty() ? CLSID{} : engine_->DaServer();
        }
        *ppszAttrItemIDs = item_array.detach();
        *ppszNodeNames = node_array.detach();
        *ppCLSIDs = clsids.detach();
        return S_OK;
    });
}

// ---- condition state and control ----------------------------------------------------------

HRESULT TEventServer::GetConditionState(LPWSTR szSource, LPWSTR szConditionName,
                                        DWORD dwNumEventAttrs, DWORD* pdwAttributeIDs,
                                        OPCCONDITIONSTATE** ppConditionState) noexcept {
    if (!ppConditionState) {
        return E_POINTER;
    }
    *ppConditionState = nullptr;
    return OpcBoundary("IOPCEventServer::GetConditionState", [&]() -> HRESULT {
        if (!engine_) {
            return E_FAIL;
        }
        if (!szSource || !szConditionName || (dwNumEventAttrs > 0 && !pdwAttributeIDs)) {
            return E_INVALIDARG;
        }
        const TEventCatalog& catalog = engine_->Hub().Catalog();
        const std::optional<TConditionReport> report =
            engine_->Hub().ConditionState(szSource, szConditionName);
        const TConditionInfo* info = catalog.Condition(szConditionName);
        if (!report || !info) {
            return E_INVALIDARG;
        }
        const TCategoryInfo* category = catalog.Category(info->category);
        TConditionStateGuard guard;
        guard.state = static_cast<OPCCONDITIONSTATE*>(CoTaskMemAlloc(sizeof(OPCCONDITIONSTATE)));
        if (!guard.state) {
            return E_OUTOFMEMORY;
        }
        *guard.state = OPCCONDITIONSTATE{};
        OPCCONDITIONSTATE& s = *guard.state;
        const TEvent& current = report->current;
        const TSubconditionInfo* active_sub = nullptr;
        for (const TSubconditionInfo& sub : info->subconditions) {
            if (sub.name == current.subcondition) {
                active_sub = &sub;
            }
        }
        s.wState = report->state;
        s.szActiveSubCondition = win::task_string(current.subcondition).release();
        s.szASCDefinition = win::task_string(active_sub ? active_sub->definition : L"").release();
        s.dwASCSeverity = current.severity;
        s.szASCDescription = win::task_string(current.message).release();
        s.wQuality = current.quality;
        s.ftLastAckTime = FileTimeFromTicks(report->last_ack_time);
        s.ftSubCondLastActive = FileTimeFromTicks(report->last_active_time);
        s.ftCondLastActive = FileTimeFromTicks(report->last_active_time);
        s.ftCondLastInactive = FileTimeFromTicks(report->last_inactive_time);
        s.szAcknowledgerID = win::task_string(report->acknowledger).release();
        s.szComment = win::task_string(report->comment).release();
        std::vector<std::wstring> names;
        std::vector<std::wstring> definitions;
        std::vector<std::wstring> descriptions;
        win::TaskArray<DWORD> severities(info->subconditions.size());
        for (std::size_t i = 0; i < info->subconditions.size(); ++i) {
            names.push_back(info->subconditions[i].name);
            definitions.push_back(info->subconditions[i].definition);
            descriptions.push_back(info->subconditions[i].description);
            severities[i] = info->subconditions[i].severity;
        }
        s.dwNumSCs = static_cast<DWORD>(names.size());
        s.pszSCNames = TaskStrings(names).detach();
        s.pszSCDefinitions = TaskStrings(definitions).detach();
        s.pdwSCSeverities = severities.detach();
        s.pszSCDescriptions = TaskStrings(descriptions).detach();
        win::TaskArray<VARIANT> values(dwNumEventAttrs);
        win::TaskArray<HRESULT> errors(dwNumEventAttrs);
        for (DWORD i = 0; i < dwNumEventAttrs; ++i) {
            const bool known =
                category &&
                std::any_of(category->attributes.begin(), category->attributes.end(),
                            [&](const TAttributeInfo& a) { return a.id == pdwAttributeIDs[i]; });
            errors[i] = known ? S_OK : E_INVALIDARG;
            if (const TAttributeValue* value = FindAttribute(current, pdwAttributeIDs[i]);
                value && known) {
                VariantFromAttribute(*value, values[i]);
            }
        }
        s.dwNumEventAttrs = dwNumEventAttrs;
        s.pEventAttributes = values.detach();
        s.pErrors = errors.detach();
        *ppConditionState = std::exchange(guard.state, nullptr);
        return S_OK;
    });
}

HRESULT TEventServer::EnableBy(bool areas, bool enable, DWORD count, LPWSTR* names,
                               const char* method) {
    return OpcBoundary(method, [&]() -> HRESULT {
        if (!engine_) {
            return E_FAIL;
        }
        std::vector<std::wstring> list;
        if (count == 0 || !ReadNames(count, names, list)) {
            return E_INVALIDARG;
        }
        TEventHub& hub = engine_->Hub();
        // All names are checked before anything changes.
        for (const std::wstring& name : list) {
            if (areas ? !hub.Catalog().IsArea(name) : !hub.Catalog().Source(name)) {
                return E_INVALIDARG;
            }
        }
        for (const std::wstring& name : list) {
            if (areas) {
                hub.EnableArea(name, enable);
            } else {
                hub.EnableSource(name, enable);
            }
        }
        return S_OK;
    });
}

HRESULT TEventServer::EnableConditionByArea(DWORD dwNumAreas, LPWSTR* pszAreas) noexcept {
    return EnableBy(true, true, dwNumAreas, pszAreas, "IOPCEventServer::EnableConditionByArea");
}

HRESULT TEventServer::EnableConditionBySource(DWORD dwNumSources, LPWSTR* pszSources) noexcept {
    return EnableBy(false, true, dwNumSources, pszSources,
                    "IOPCEventServer::EnableConditionBySource");
}

HRESULT TEventServer::DisableConditionByArea(DWORD dwNumAreas, LPWSTR* pszAreas) noexcept {
    return EnableBy(true, false, dwNumAreas, pszAreas, "IOPCEventServer::DisableConditionByArea");
}

HRESULT TEventServer::DisableConditionBySource(DWORD dwNumSources, LPWSTR* pszSources) noexcept {
    return EnableBy(false, false, dwNumSources, pszSources,
                    "IOPCEventServer::DisableConditionBySource");
}

HRESULT TEventServer::AckCondition(DWORD dwCount, LPWSTR szAcknowledgerID, LPWSTR szComment,
                                   LPWSTR* pszSource, LPWSTR* pszConditionName,
                                   FILETIME* pftActiveTime, DWORD* pdwCookie,
                                   HRESULT** ppErrors) noexcept {
    if (!ppErrors) {
        return E_POINTER;
    }
    *ppErrors = nullptr;
    return OpcBoundary("IOPCEventServer::AckCondition", [&]() -> HRESULT {
        if (!engine_) {
            return E_FAIL;
        }
        // The acknowledger is required: an acknowledgement says who saw the alarm.
        if (dwCount == 0 || !szAcknowledgerID || !*szAcknowledgerID || !pszSource ||
            !pszConditionName || !pftActiveTime || !pdwCookie) {
            return E_INVALIDARG;
        }
        const std::wstring actor = szAcknowledgerID;
        const std::wstring comment = szComment ? szComment : L"";
        win::TaskArray<HRESULT> errors(dwCount);
        HRESULT result = S_OK;
        for (DWORD i = 0; i < dwCount; ++i) {
            TAckOutcome outcome = TAckOutcome::UnknownSource;
            if (pszSource[i] && pszConditionName[i]) {
                outcome = engine_->Hub().Acknowledge(pszSource[i], pszConditionName[i],
                                                     FileTimeTicks(pftActiveTime[i]), pdwCookie[i],
                                                     actor, comment);
            }
            switch (outcome) {
                case TAckOutcome::Acknowledged:
                    errors[i] = S_OK;
                    break;
                case TAckOutcome::AlreadyAcknowledged:
                    errors[i] = OPC_S_ALREADYACKED;
                    break;
                case TAckOutcome::WrongActivation:
                    errors[i] = OPC_E_INVALIDTIME;
                    break;
                case TAckOutcome::UnknownSource:
                case TAckOutcome::UnknownCondition:
                    errors[i] = E_INVALIDARG;
                    break;
            }
            if (errors[i] != S_OK) {
                result = S_FALSE;
            }
        }
        *ppErrors = errors.detach();
        return result;
    });
}

// ---- IConnectionPointContainer -------------------------------------------------------------

HRESULT TEventServer::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept {
    return EnumSinglePoint(shutdown_.Point(), ppEnum);
}

HRESULT TEventServer::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept {
    return FindSinglePoint(shutdown_.Point(), riid, ppCP);
}

bool TEventServer::RequestShutdown(const std::wstring& reason) {
    return shutdown_.Request(reason).has_value();
}

void TEventServer::final_release() noexcept {
    // The last reference may go on any thread: the object leaves the engine under its lock,
    // unless a call holding the lock took a new reference meanwhile.
    const TEngineGuard engine;
    if (references() == 0) {
        delete this;
    }
}

}  // namespace porvex::opc::events
