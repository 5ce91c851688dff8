#include "opc/events/com/event_batch.h"

#include <new>

#include "opc/com/file_time.h"

namespace porvex::opc::events {
namespace {

// The text for an [string] field: never null (an empty text is "").
LPWSTR Text(std::wstring& text) { return text.data(); }

}  // namespace

void VariantFromAttribute(const TAttributeValue& value, VARIANT& out) {
    VariantInit(&out);
    if (const bool* flag = std::get_if<bool>(&value)) {
        out.vt = VT_BOOL;
        out.boolVal = *flag ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (const std::int32_t* number = std::get_if<std::int32_t>(&value)) {
        out.vt = VT_I4;
        out.lVal = *number;
    } else if (const std::wstring* text = std::get_if<std::wstring>(&value)) {
        out.bstrVal = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
        if (!out.bstrVal) {
            throw std::bad_alloc();
        }
        out.vt = VT_BSTR;
    }
}

TEventBatch::TEventBatch(const std::vector<TEvent>& events, const TReturnedAttributes& returned)
    : events_(events) {
    try {
        Fill(returned);
    } catch (...) {
        ClearAttributes();
        throw;
    }
}

void TEventBatch::Fill(const TReturnedAttributes& returned) {
    attributes_.resize(events_.size());
    structs_.resize(events_.size());
    for (std::size_t i = 0; i < events_.size(); ++i) {
        TEvent& event = events_[i];
        const auto selected = returned.find(event.category);
        if (selected != returned.end()) {
            attributes_[i].resize(selected->second.size());
            for (std::size_t a = 0; a < selected->second.size(); ++a) {
                VariantInit(&attributes_[i][a]);
                if (const TAttributeValue* value = FindAttribute(event, selected->second[a])) {
                    VariantFromAttribute(*value, attributes_[i][a]);
                }
            }
        }
        ONEVENTSTRUCT& s = structs_[i];
        s.wChangeMask = event.change_mask;
        s.wNewState = event.new_state;
        s.szSource = Text(event.source);
        s.ftTime = FileTimeFromTicks(event.time);
        s.szMessage = Text(event.message);
        s.dwEventType = event.type;
        s.dwEventCategory = event.category;
        s.dwSeverity = event.severity;
        s.szConditionName = Text(event.condition);
        s.szSubconditionName = Text(event.subcondition);
        s.wQuality = event.quality;
        s.bAckRequired = event.ack_required ? TRUE : FALSE;
        s.ftActiveTime = FileTimeFromTicks(event.active_time);
        s.dwCookie = event.cookie;
        s.dwNumEventAttrs = static_cast<DWORD>(attributes_[i].size());
        s.pEventAttributes = attributes_[i].empty() ? nullptr : attributes_[i].data();
        s.szActorID = Text(event.actor);
    }
}

TEventBatch::~TEventBatch() { ClearAttributes(); }

void TEventBatch::ClearAttributes() noexcept {
    for (auto& list : attributes_) {
        for (VARIANT& v : list) {
            VariantClear(&v);
        }
    }
}

}  // namespace porvex::opc::events
