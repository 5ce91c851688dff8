#include "opc/events/model/condition_state.h"

namespace porvex::opc::events {

TConditionState::TConditionState(TEvent identity, std::uint32_t cookie)
    : current_(std::move(identity)) {
    current_.type = kConditionEvent;
    current_.ack_required = true;
    current_.cookie = cookie;
}

std::uint16_t TConditionState::State() const noexcept {
    std::uint16_t state = 0;
    if (enabled_) {
        state |= kStateEnabled;
        if (active_) {
            state |= kStateActive;
        }
    }
    if (acked_) {
        state |= kStateAcked;
    }
    return state;
}

TEvent TConditionState::Emit(std::uint16_t changeMask, TFileTime time) const {
    TEvent event = current_;
    event.time = time;
    event.change_mask = changeMask;
    event.new_state = State();
    event.ack_required = !acked_;
    return event;
}

TEvent TConditionState::Snapshot() const { return Emit(0, current_.time); }

std::optional<TEvent> TConditionState::Activate(TFileTime time, const std::wstring& subcondition,
                                                std::uint32_t severity, const std::wstring& message,
                                                std::vector<TAttribute> attributes) {
    std::uint16_t mask = 0;
    if (current_.subcondition != subcondition) {
        mask |= kChangeSubcondition;
    }
    if (current_.severity != severity) {
        mask |= kChangeSeverity;
    }
    if (current_.message != message) {
        mask |= kChangeMessage;
    }
    if (current_.attributes.size() != attributes.size()) {
        mask |= kChangeAttribute;
    }
    current_.subcondition = subcondition;
    current_.severity = severity;
    current_.message = message;
    current_.attributes = std::move(attributes);
    current_.time = time;
    if (!active_) {
        active_ = true;
        if (!enabled_) {
            return std::nullopt;
        }
        current_.active_time = time;
        mask |= kChangeActive;
        if (acked_) {
            mask |= kChangeAck;
        }
        acked_ = false;
        return Emit(mask, time);
    }
    if (!enabled_ || mask == 0) {
        return std::nullopt;
    }
    return Emit(mask, time);
}

std::optional<TEvent> TConditionState::Deactivate(TFileTime time, const std::wstring& message) {
    if (!active_) {
        return std::nullopt;
    }
    active_ = false;
    if (!enabled_) {
        return std::nullopt;
    }
    std::uint16_t mask = kChangeActive;
    if (current_.message != message) {
        mask |= kChangeMessage;
        current_.message = message;
    }
    current_.time = time;
    last_inactive_time_ = time;
    return Emit(mask, time);
}

TAckResult TConditionState::Acknowledge(TFileTime activeTime, std::uint32_t cookie,
                                        const std::wstring& actor, const std::wstring& comment,
                                        TFileTime now, std::optional<TEvent>& event) {
    event.reset();
    if (cookie != current_.cookie || activeTime != current_.active_time) {
        return TAckResult::WrongActivation;
    }
    if (acked_) {
        return TAckResult::AlreadyAcknowledged;
    }
    acked_ = true;
    last_ack_time_ = now;
    acknowledger_ = actor;
    comment_ = comment;
    if (enabled_) {
        TEvent ack = Emit(kChangeAck, now);
        ack.actor = actor;
        event = std::move(ack);
    }
    return TAckResult::Acknowledged;
}

std::optional<TEvent> TConditionState::SetEnabled(bool enabled, TFileTime now) {
    if (enabled == enabled_) {
        return std::nullopt;
    }
    enabled_ = enabled;
    std::uint16_t mask = kChangeEnable;
    if (enabled) {
        if (active_) {
            current_.active_time = now;
            mask |= kChangeActive | (acked_ ? kChangeAck : 0);
            acked_ = false;
        } else {
            acked_ = true;
        }
    }
    return Emit(mask, now);
}

}  // namespace porvex::opc::events
