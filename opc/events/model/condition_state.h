// The state machine of one condition of one source: enabled, active, acknowledged, with
// the times, the acknowledger and the comment, and the events its transitions produce
// (their change masks and new states are those of OPC Alarms & Events):
//
//   Activate    inactive -> active, unacknowledged, new active time:  ACTIVE (+ ACK when it
//               was acknowledged); already active: SEVERITY / SUBCONDITION / MESSAGE as far
//               as they changed, nothing when nothing changed
//   Deactivate  active -> inactive (stays unacknowledged until acknowledged):  ACTIVE
//   Acknowledge unacknowledged -> acknowledged:  ACK; the active time and the cookie must
//               be those of the latest activation (OPC_E_INVALIDTIME otherwise); already
//               acknowledged: OPC_S_ALREADYACKED and no event
//   Disable     ENABLE; while disabled the condition follows its source silently
//   Enable      ENABLE; a source that is active now counts as a new activation
//               (+ ACTIVE, ACK), otherwise the condition starts inactive and acknowledged
#pragma once

#include <optional>

#include "opc/events/model/event.h"

namespace porvex::opc::events {

enum class TAckResult { Acknowledged, AlreadyAcknowledged, WrongActivation };

class TConditionState {
  public:
    // identity: source, area, category, condition name and the attributes' defaults;
    // type, ack flag and cookie are set here.
    TConditionState(TEvent identity, std::uint32_t cookie);

    std::optional<TEvent> Activate(TFileTime time, const std::wstring& subcondition,
                                   std::uint32_t severity, const std::wstring& message,
                                   std::vector<TAttribute> attributes);
    std::optional<TEvent> Deactivate(TFileTime time, const std::wstring& message);
    TAckResult Acknowledge(TFileTime activeTime, std::uint32_t cookie, const std::wstring& actor,
                           const std::wstring& comment, TFileTime now,
                           std::optional<TEvent>& event);
    std::optional<TEvent> SetEnabled(bool enabled, TFileTime now);

    bool Enabled() const noexcept { return enabled_; }
    bool Active() const noexcept { return enabled_ && active_; }
    bool Acked() const noexcept { return acked_; }
    std::uint16_t State() const noexcept;
    // A refresh reports the condition: enabled, and active or unacknowledged.
    bool Reportable() const noexcept { return enabled_ && (active_ || !acked_); }
    // The current state as an event (no change mask) for refreshes.
    TEvent Snapshot() const;

    const TEvent& Current() const noexcept { return current_; }
    TFileTime LastAckTime() const noexcept { return last_ack_time_; }
    TFileTime LastActiveTime() const noexcept { return current_.active_time; }
    TFileTime LastInactiveTime() const noexcept { return last_inactive_time_; }
    const std::wstring& Acknowledger() const noexcept { return acknowledger_; }
    const std::wstring& Comment() const noexcept { return comment_; }

  private:
    TEvent Emit(std::uint16_t changeMask, TFileTime time) const;

    TEvent current_;  // the latest values: subcondition, severity, message, attributes
    bool enabled_ = true;
    bool active_ = false;  // the source's state, also while disabled
    bool acked_ = true;
    TFileTime last_ack_time_ = 0;
    TFileTime last_inactive_time_ = 0;
    std::wstring acknowledger_;
    std::wstring comment_;
};

}  // namespace porvex::opc::events
