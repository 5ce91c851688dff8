#include "opc/events/model/event_hub.h"

#include <algorithm>

namespace porvex::opc::events {

TEventHub::TEventHub(TEventCatalog catalog, TEventClock clock)
    : catalog_(std::move(catalog)), clock_(std::move(clock)) {
    MakeConditionsLocked();
}

void TEventHub::ReplaceCatalog(TEventCatalog catalog) {
    std::lock_guard lock(mutex_);
    catalog_ = std::move(catalog);
    MakeConditionsLocked();
}

void TEventHub::MakeConditionsLocked() {
    conditions_.clear();
    std::uint32_t cookie = 0;
    for (const TSourceInfo& source : catalog_.Sources()) {
        for (const std::wstring& name : source.conditions) {
            const TConditionInfo* info = catalog_.Condition(name);
            TEvent identity;
            identity.source = source.name;
            identity.area = source.area;
            identity.condition = name;
            identity.category = info->category;
            if (!info->subconditions.empty()) {
                identity.severity = info->subconditions.front().severity;
            }
            conditions_.emplace(TConditionKey{source.name, name},
                                TConditionState(std::move(identity), ++cookie));
        }
    }
}

void TEventHub::DistributeLocked(const TEvent& event) {
    const TMilliseconds now = clock_.monotonic();
    for (auto& [id, subscriber] : subscribers_) {
        if (subscriber->active && subscriber->filter.Passes(event)) {
            subscriber->buffer.Push(event, now);
        }
    }
}

void TEventHub::Post(TEvent event) {
    if (event.time == 0) {
        event.time = clock_.wall();
    }
    std::lock_guard lock(mutex_);
    if (const TSourceInfo* source = catalog_.Source(event.source)) {
        event.area = source->area;
    }
    DistributeLocked(event);
}

bool TEventHub::SetCondition(const std::wstring& source, const std::wstring& condition, bool active,
                             TFileTime time, const std::wstring& subcondition,
                             std::uint32_t severity, const std::wstring& message,
                             std::vector<TAttribute> attributes) {
    if (time == 0) {
        time = clock_.wall();
    }
    std::lock_guard lock(mutex_);
    if (severity == 0) {
        severity = 500;
        if (const TConditionInfo* info = catalog_.Condition(condition)) {
            for (const TSubconditionInfo& sub : info->subconditions) {
                if (sub.name == subcondition) {
                    severity = sub.severity;
                }
            }
        }
    }
    const auto found = conditions_.find({source, condition});
    if (found == conditions_.end()) {
        return false;
    }
    TConditionState& state = found->second;
    Distribute(active ? state.Activate(time, subcondition, severity, message, std::move(attributes))
                      : state.Deactivate(time, message));
    return true;
}

TEventHub::TSubscriberId TEventHub::AddSubscriber(std::size_t capacity) {
    std::lock_guard lock(mutex_);
    const TSubscriberId id = next_id_++;
    subscribers_.emplace(id,
                         std::make_unique<TSubscriber>(TSubscriber{{}, TEventBuffer(capacity)}));
    return id;
}

void TEventHub::RemoveSubscriber(TSubscriberId id) {
    std::lock_guard lock(mutex_);
    subscribers_.erase(id);
}

void TEventHub::SetFilter(TSubscriberId id, TEventFilter filter) {
    std::lock_guard lock(mutex_);
    if (const auto found = subscribers_.find(id); found != subscribers_.end()) {
        found->second->filter = std::move(filter);
    }
}

TEventFilter TEventHub::Filter(TSubscriberId id) const {
    std::lock_guard lock(mutex_);
    const auto found = subscribers_.find(id);
    return found == subscribers_.end() ? TEventFilter{} : found->second->filter;
}

void TEventHub::SetActive(TSubscriberId id, bool active) {
    std::lock_guard lock(mutex_);
    if (const auto found = subscribers_.find(id); found != subscribers_.end()) {
        found->second->active = active;
    }
}

std::optional<TDelivery> TEventHub::TakeDue(TSubscriberId id, std::uint32_t bufferTimeMs,
                                            std::uint32_t maxSize) {
    const TMilliseconds now = clock_.monotonic();
    std::lock_guard lock(mutex_);
    const auto found = subscribers_.find(id);
    if (found == subscribers_.end() || !found->second->buffer.Due(now, bufferTimeMs, maxSize)) {
        return std::nullopt;
    }
    TEventBuffer& buffer = found->second->buffer;
    TDelivery delivery;
    delivery.dropped = buffer.TakeDropped();
    if (delivery.dropped > 0) {
        TEvent report;
        report.source = L"EventServer";
        report.time = clock_.wall();
        report.category = kServerCategory;
        report.severity = 500;
        report.message = std::to_wstring(delivery.dropped) +
                         L" events were dropped: the subscription's buffer was full";
        report.attributes.resize(1);
        report.attributes[0].id = kLostEventsAttribute;
        report.attributes[0].value.emplace<std::int32_t>(
            static_cast<std::int32_t>(std::min<std::uint64_t>(delivery.dropped, 0x7FFFFFFF)));
        delivery.events.push_back(std::move(report));
    }
    const std::uint32_t room =
        maxSize == 0 ? 0 : maxSize - static_cast<std::uint32_t>(delivery.events.size());
    if (maxSize == 0 || room > 0) {
        for (TEvent& event : buffer.Take(room)) {
            delivery.events.push_back(std::move(event));
        }
    }
    return delivery;
}

std::uint64_t TEventHub::Lost(TSubscriberId id) const {
    std::lock_guard lock(mutex_);
    const auto found = subscribers_.find(id);
    return found == subscribers_.end() ? 0 : found->second->buffer.Lost();
}

std::vector<TEvent> TEventHub::ReportableConditions(const TEventFilter& filter) const {
    std::vector<TEvent> found;
    std::lock_guard lock(mutex_);
    for (const auto& [key, state] : conditions_) {
        if (state.Reportable()) {
            TEvent snapshot = state.Snapshot();
            if (filter.Passes(snapshot)) {
                found.push_back(std::move(snapshot));
            }
        }
    }
    return found;
}

TAckOutcome TEventHub::Acknowledge(const std::wstring& source, const std::wstring& condition,
                                   TFileTime activeTime, std::uint32_t cookie,
                                   const std::wstring& actor, const std::wstring& comment) {
    const TFileTime now = clock_.wall();
    std::lock_guard lock(mutex_);
    if (!catalog_.Source(source)) {
        return TAckOutcome::UnknownSource;
    }
    const auto found = conditions_.find({source, condition});
    if (found == conditions_.end()) {
        return TAckOutcome::UnknownCondition;
    }
    std::optional<TEvent> event;
    const TAckResult result =
        found->second.Acknowledge(activeTime, cookie, actor, comment, now, event);
    Distribute(std::move(event));
    switch (result) {
        case TAckResult::Acknowledged:
            return TAckOutcome::Acknowledged;
        case TAckResult::AlreadyAcknowledged:
            return TAckOutcome::AlreadyAcknowledged;
        case TAckResult::WrongActivation:
            break;
    }
    return TAckOutcome::WrongActivation;
}

void TEventHub::EnableLocked(const TSourceInfo& source, bool enable, TFileTime now) {
    for (const std::wstring& name : source.conditions) {
        const auto found = conditions_.find({source.name, name});
        if (found != conditions_.end()) {
            Distribute(found->second.SetEnabled(enable, now));
        }
    }
}

bool TEventHub::EnableSource(const std::wstring& source, bool enable) {
    const TFileTime now = clock_.wall();
    std::lock_guard lock(mutex_);
    const TSourceInfo* info = catalog_.Source(source);
    if (!info) {
        return false;
    }
    EnableLocked(*info, enable, now);
    return true;
}

bool TEventHub::EnableArea(const std::wstring& area, bool enable) {
    const TFileTime now = clock_.wall();
    TEventFilter within;
    within.areas.push_back(area);
    std::lock_guard lock(mutex_);
    if (!catalog_.IsArea(area)) {
        return false;
    }
    for (const TSourceInfo& source : catalog_.Sources()) {
        TEvent probe;
        probe.area = source.area;
        if (area.empty() || within.Passes(probe)) {
            EnableLocked(source, enable, now);
        }
    }
    return true;
}

std::optional<TConditionReport> TEventHub::ConditionState(const std::wstring& source,
                                                          const std::wstring& condition) const {
    std::lock_guard lock(mutex_);
    const auto found = conditions_.find({source, condition});
    if (found == conditions_.end()) {
        return std::nullopt;
    }
    const TConditionState& state = found->second;
    return TConditionReport{
        state.Snapshot(),         state.State(),        state.LastAckTime(), state.LastActiveTime(),
        state.LastInactiveTime(), state.Acknowledger(), state.Comment()};
}

}  // namespace porvex::opc::events
