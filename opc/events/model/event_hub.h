// TEventHub: where the application's events meet the clients' subscriptions. The
// application posts simple and tracking events and sets the state of its conditions from
// any thread; every event is put, under one lock, into the buffer of each active
// subscriber whose filter lets it through. The event server objects (on the COM thread)
// take what is due from their subscriber, acknowledge, enable and disable conditions and
// read their states through it. Portable: no COM, clocks injected. The catalog is read
// under the lock wherever another thread may be at work.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "opc/events/model/condition_state.h"
#include "opc/events/model/event_buffer.h"
#include "opc/events/model/event_catalog.h"
#include "opc/events/model/event_filter.h"

namespace porvex::opc::events {

struct TEventClock {
    std::function<TMilliseconds()> monotonic;  // for buffer times
    std::function<TFileTime()> wall;           // for event and acknowledgement times
};

enum class TAckOutcome {
    Acknowledged,
    AlreadyAcknowledged,
    WrongActivation,
    UnknownSource,
    UnknownCondition,
};

// A delivery taken from a subscriber's buffer: events, and how many were dropped before
// them because the buffer was full (then the first event is the server's report of it).
struct TDelivery {
    std::vector<TEvent> events;
    std::uint64_t dropped = 0;
};

// A condition's state for GetConditionState.
struct TConditionReport {
    TEvent current;
    std::uint16_t state = 0;
    TFileTime last_ack_time = 0;
    TFileTime last_active_time = 0;
    TFileTime last_inactive_time = 0;
    std::wstring acknowledger;
    std::wstring comment;
};

class TEventHub {
  public:
    using TSubscriberId = std::uint64_t;
    // Buffer capacity of a subscriber (events waiting for delivery).
    static constexpr std::size_t kBufferCapacity = 10000;

    TEventHub(TEventCatalog catalog, TEventClock clock);

    // The catalog, for the COM side on the thread that replaces it (no lock).
    const TEventCatalog& Catalog() const noexcept { return catalog_; }
    // Replaces what the server offers (a program that learns its sources after it started
    // serving): conditions are made anew, inactive; subscriptions stay with their filters.
    // Called on the thread that serves the COM calls.
    void ReplaceCatalog(TEventCatalog catalog);
    TFileTime Now() const { return clock_.wall(); }
    TMilliseconds Monotonic() const { return clock_.monotonic(); }

    // --- application side (any thread) ---
    // A simple or tracking event; its area is taken from the catalog's source, its time
    // (when 0) is now.
    void Post(TEvent event);
    // Sets a condition of a source active or inactive; false when the source or the
    // condition is unknown. Severity 0 takes the subcondition's severity.
    bool SetCondition(const std::wstring& source, const std::wstring& condition, bool active,
                      TFileTime time, const std::wstring& subcondition, std::uint32_t severity,
                      const std::wstring& message, std::vector<TAttribute> attributes = {});

    // --- client side ---
    TSubscriberId AddSubscriber(std::size_t capacity = kBufferCapacity);
    void RemoveSubscriber(TSubscriberId id);
    void SetFilter(TSubscriberId id, TEventFilter filter);
    TEventFilter Filter(TSubscriberId id) const;
    // An inactive subscriber receives nothing (its waiting events stay).
    void SetActive(TSubscriberId id, bool active);
    // What is due for delivery now (nothing when nothing is due).
    std::optional<TDelivery> TakeDue(TSubscriberId id, std::uint32_t bufferTimeMs,
                                     std::uint32_t maxSize);
    std::uint64_t Lost(TSubscriberId id) const;
    // Snapshots of the conditions a refresh reports (enabled; active or unacknowledged)
    // that pass filter.
    std::vector<TEvent> ReportableConditions(const TEventFilter& filter) const;

    TAckOutcome Acknowledge(const std::wstring& source, const std::wstring& condition,
                            TFileTime activeTime, std::uint32_t cookie, const std::wstring& actor,
                            const std::wstring& comment);
    // False when the source (area) is unknown; nothing changes then.
    bool EnableSource(const std::wstring& source, bool enable);
    bool EnableArea(const std::wstring& area, bool enable);
    std::optional<TConditionReport> ConditionState(const std::wstring& source,
                                                   const std::wstring& condition) const;

  private:
    struct TSubscriber {
        TEventFilter filter;
        TEventBuffer buffer;
        bool active = true;
    };
    using TConditionKey = std::pair<std::wstring, std::wstring>;  // source, condition

    void DistributeLocked(const TEvent& event);
    void Distribute(std::optional<TEvent> event) {
        if (event) {
            DistributeLocked(*event);
        }
    }
    void EnableLocked(const TSourceInfo& source, bool enable, TFileTime now);
    void MakeConditionsLocked();

    TEventCatalog catalog_;
    TEventClock clock_;
    mutable std::mutex mutex_;
    std::map<TConditionKey, TConditionState> conditions_;
    std::map<TSubscriberId, std::unique_ptr<TSubscriber>> subscribers_;
    TSubscriberId next_id_ = 1;
};

}  // namespace porvex::opc::events
