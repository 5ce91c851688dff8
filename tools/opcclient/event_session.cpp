#include "event_session.h"

#include "commands.h"
#include "value_text.h"
#include "win/task_memory.h"

namespace porvex::opcclient {
namespace {

using win::ComPtr;
using win::UniqueCoTaskMem;

std::vector<std::wstring> TakeStrings(LPWSTR* texts, DWORD count) {
    const auto owned = win::TaskArray<LPWSTR>::adopt(texts, count);
    std::vector<std::wstring> out;
    for (std::size_t i = 0; i < owned.size(); ++i) {
        out.emplace_back(owned[i] ? owned[i] : L"");
    }
    return out;
}

std::wstring Quoted(const wchar_t* text) {
    std::wstring out = L"\"";
    for (const wchar_t* c = text ? text : L""; *c; ++c) {
        if (*c == L'"' || *c == L'\\') {
            out += L'\\';
        }
        out += *c;
    }
    return out + L"\"";
}

std::wstring Flags(WORD bits, std::initializer_list<std::pair<WORD, const wchar_t*>> names) {
    std::wstring text;
    for (const auto& [bit, name] : names) {
        if (bits & bit) {
            text += (text.empty() ? L"" : L",") + std::wstring(name);
        }
    }
    return text.empty() ? L"-" : text;
}

}  // namespace

std::wstring ConditionStateText(WORD state) {
    std::wstring text = (state & OPC_CONDITION_ENABLED) ? L"enabled" : L"disabled";
    text += (state & OPC_CONDITION_ACTIVE) ? L",active" : L",inactive";
    text += (state & OPC_CONDITION_ACKED) ? L",acked" : L",unacked";
    return text;
}

std::wstring ChangeMaskText(WORD mask) {
    return Flags(mask, {{OPC_CHANGE_ACTIVE_STATE, L"active"},
                        {OPC_CHANGE_ACK_STATE, L"ack"},
                        {OPC_CHANGE_ENABLE_STATE, L"enable"},
                        {OPC_CHANGE_QUALITY, L"quality"},
                        {OPC_CHANGE_SEVERITY, L"severity"},
                        {OPC_CHANGE_SUBCONDITION, L"subcondition"},
                        {OPC_CHANGE_MESSAGE, L"message"},
                        {OPC_CHANGE_ATTRIBUTE, L"attribute"}});
}

HRESULT TEventSink::OnEvent(OPCHANDLE, BOOL bRefresh, BOOL bLastRefresh, DWORD dwCount,
                            ONEVENTSTRUCT* pEvents) noexcept {
    try {
        for (DWORD i = 0; pEvents && i < dwCount; ++i) {
            handler_(pEvents[i], bRefresh != FALSE);
        }
        if (bRefresh && bLastRefresh) {
            refresh_done = true;
        }
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

TEventSession::TEventSession(const std::wstring& server) : name_(server) {
    const CLSID clsid = ServerClass(server);
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER,
                                  IID_IOPCEventServer, reinterpret_cast<void**>(server_.put()));
    if (FAILED(hr)) {
        throw TClientFailure{kExitServerFailed, L"cannot start " + server +
                                                    L" as an Alarms & Events server: " +
                                                    ResultText(nullptr, hr)};
    }
    DWORD count = 0;
    win::UniqueCoTaskMem<DWORD> ids;
    LPWSTR* names = nullptr;
    Check(server_->QueryEventCategories(OPC_ALL_EVENTS, &count, ids.put(), &names),
          L"the event categories cannot be read");
    const std::vector<std::wstring> category_names = TakeStrings(names, count);
    for (DWORD i = 0; i < count; ++i) {
        TCategory& category = categories_[ids[i]];
        category.name = category_names[i];
        DWORD attributes = 0;
        win::UniqueCoTaskMem<DWORD> attribute_ids;
        LPWSTR* descriptions = nullptr;
        win::UniqueCoTaskMem<VARTYPE> types;
        if (SUCCEEDED(server_->QueryEventAttributes(ids[i], &attributes, attribute_ids.put(),
                                                    &descriptions, types.put()))) {
            category.attribute_names = TakeStrings(descriptions, attributes);
            category.attribute_ids.assign(attribute_ids.get(), attribute_ids.get() + attributes);
        }
    }
}

void TEventSession::Check(HRESULT code, const std::wstring& what) const {
    if (FAILED(code)) {
        throw TClientFailure{kExitServerFailed, what + L": " + ResultText(nullptr, code)};
    }
}

win::ComPtr<IOPCEventSubscriptionMgt> TEventSession::Subscribe(const TEventFilterOptions& filter,
                                                               IOPCEventSink* sink, DWORD& cookie) {
    win::ComPtr<IOPCEventSubscriptionMgt> subscription;
    DWORD revised_time = 0;
    DWORD revised_size = 0;
    Check(server_->CreateEventSubscription(TRUE, 0, 0, 1, IID_IOPCEventSubscriptionMgt,
                                           reinterpret_cast<IUnknown**>(subscription.put()),
                                           &revised_time, &revised_size),
          L"the subscription cannot be made");
    // Array arguments are references across processes: never null, even when empty.
    std::vector<DWORD> categories(filter.categories.begin(), filter.categories.end());
    std::vector<std::wstring> areas;
    std::vector<std::wstring> sources;
    for (const std::string& area : filter.areas) {
        areas.push_back(Wide(area));
    }
    for (const std::string& source : filter.sources) {
        sources.push_back(Wide(source));
    }
    std::vector<LPWSTR> area_list;
    std::vector<LPWSTR> source_list;
    for (std::wstring& area : areas) {
        area_list.push_back(area.data());
    }
    for (std::wstring& source : sources) {
        source_list.push_back(source.data());
    }
    DWORD no_id = 0;
    LPWSTR no_name = const_cast<LPWSTR>(L"");
    Check(subscription->SetFilter(filter.types, static_cast<DWORD>(categories.size()),
                                  categories.empty() ? &no_id : categories.data(),
                                  filter.low_severity, filter.high_severity,
                                  static_cast<DWORD>(area_list.size()),
                                  area_list.empty() ? &no_name : area_list.data(),
                                  static_cast<DWORD>(source_list.size()),
                                  source_list.empty() ? &no_name : source_list.data()),
          L"the server refused the filter");
    for (auto& [id, category] : categories_) {
        if (!category.attribute_ids.empty()) {
            Check(subscription->SelectReturnedAttributes(
                      id, static_cast<DWORD>(category.attribute_ids.size()),
                      category.attribute_ids.data()),
                  L"the attributes cannot be selected");
        }
    }
    win::ComPtr<IConnectionPointContainer> container;
    Check(subscription.query(container), L"the subscription has no connection points");
    win::ComPtr<IConnectionPoint> point;
    Check(container->FindConnectionPoint(IID_IOPCEventSink, point.put()),
          L"the subscription has no event sink point");
    Check(point->Advise(sink, &cookie), L"the event sink cannot be attached");
    return subscription;
}

std::wstring TEventSession::EventLine(const ONEVENTSTRUCT& event) const {
    std::wstring line = FileTimeText(event.ftTime) + L" " + (event.szSource ? event.szSource : L"");
    const auto category = categories_.find(event.dwEventCategory);
    const std::wstring category_name = category == categories_.end()
                                           ? std::to_wstring(event.dwEventCategory)
                                           : category->second.name;
    const wchar_t* type = event.dwEventType == OPC_CONDITION_EVENT  ? L"condition"
                          : event.dwEventType == OPC_TRACKING_EVENT ? L"tracking"
                                                                    : L"simple";
    line += L" " + std::wstring(type) + L" " + Quoted(category_name.c_str()) + L" severity=" +
            std::to_wstring(event.dwSeverity);
    if (event.dwEventType == OPC_CONDITION_EVENT) {
        line += L" condition=" + std::wstring(event.szConditionName ? event.szConditionName : L"");
        if (event.szSubconditionName && *event.szSubconditionName) {
            line += L"/" + std::wstring(event.szSubconditionName);
        }
        line += L" state=" + ConditionStateText(event.wNewState) + L" changed=" +
                ChangeMaskText(event.wChangeMask) + L" cookie=" + std::to_wstring(event.dwCookie) +
                L" active=" + FileTimeText(event.ftActiveTime);
    }
    if (event.szActorID && *event.szActorID) {
        line += L" by=" + Quoted(event.szActorID);
    }
    line += L" " + Quoted(event.szMessage);
    for (DWORD i = 0; event.pEventAttributes && i < event.dwNumEventAttrs; ++i) {
        const bool named =
            category != categories_.end() && i < category->second.attribute_names.size();
        const std::wstring name =
            named ? category->second.attribute_names[i] : L"attribute" + std::to_wstring(i + 1);
        line += L" " + name + L"=" + ValueText(event.pEventAttributes[i]);
    }
    return line;
}

}  // namespace porvex::opcclient
