// events: prints the alarms and events of an OPC Alarms & Events server as they come
// (after the active and unacknowledged conditions with --refresh), until a count, a time
// limit, Ctrl+C or the server's request to disconnect.
// ack: acknowledges the latest activation of one condition of one source; the activation
// (its active time and cookie) is taken from a refresh of that source's conditions.
#include <chrono>
#include <optional>

#include "commands.h"
#include "event_session.h"
#include "output.h"
#include "sinks.h"
#include "value_text.h"
#include "win/task_memory.h"

namespace porvex::opcclient {
namespace {

std::chrono::steady_clock::time_point Deadline(std::optional<double> seconds) {
    const auto now = std::chrono::steady_clock::now();
    if (!seconds) {
        return now + std::chrono::hours(24 * 365 * 10);
    }
    return now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                     std::chrono::duration<double>(*seconds));
}

// Unadvises a sink advised elsewhere when the command ends.
class TSinkAdvise {
  public:
    TSinkAdvise(IUnknown* container, REFIID iid, DWORD cookie) : cookie_(cookie) {
        win::ComPtr<IConnectionPointContainer> points;
        if (SUCCEEDED(container->QueryInterface(IID_IConnectionPointContainer,
                                                reinterpret_cast<void**>(points.put())))) {
            points->FindConnectionPoint(iid, point_.put());
        }
    }
    TSinkAdvise(const TSinkAdvise&) = delete;
    TSinkAdvise& operator=(const TSinkAdvise&) = delete;
    ~TSinkAdvise() {
        if (point_ && cookie_) {
            point_->Unadvise(cookie_);
        }
    }

  private:
    win::ComPtr<IConnectionPoint> point_;
    DWORD cookie_;
};

// Advises the server's IOPCShutdown point when it has one (0 otherwise).
DWORD AdviseShutdown(IUnknown* server, IUnknown* sink) {
    win::ComPtr<IConnectionPointContainer> points;
    win::ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (SUCCEEDED(server->QueryInterface(IID_IConnectionPointContainer,
                                         reinterpret_cast<void**>(points.put()))) &&
        SUCCEEDED(points->FindConnectionPoint(IID_IOPCShutdown, point.put()))) {
        point->Advise(sink, &cookie);
    }
    return cookie;
}

}  // namespace

int RunEvents(const TOptions& options) {
    TEventSession session(Wide(options.server));
    auto shutdown = TShutdownSink::Create();
    TSinkAdvise shutdown_advise(session.Server(), IID_IOPCShutdown,
                                AdviseShutdown(session.Server(), shutdown.get()));
    unsigned long printed = 0;
    const auto done = [&] { return options.count && printed >= *options.count; };
    auto sink = TEventSink::Create([&](const ONEVENTSTRUCT& event, bool refresh) {
        if (done()) {
            return;
        }
        PrintLine((refresh ? L"refresh " : L"") + session.EventLine(event));
        ++printed;
    });
    DWORD cookie = 0;
    win::ComPtr<IOPCEventSubscriptionMgt> subscription =
        session.Subscribe(options.event_filter, sink.get(), cookie);
    TSinkAdvise advise(subscription.get(), IID_IOPCEventSink, cookie);
    if (options.refresh) {
        session.Check(subscription->Refresh(cookie), L"the refresh was refused");
    }
    PrintError(L"receiving events of " + session.Name());
    PumpUntil([&] { return done() || shutdown->requested; }, Deadline(options.duration_s));
    if (shutdown->requested) {
        PrintError(L"the server asked to disconnect: " + shutdown->reason);
        return kExitShutdown;
    }
    if (options.count && !done()) {
        PrintError(L"only " + std::to_wstring(printed) + L" of " + std::to_wstring(*options.count) +
                   L" events came");
        return kExitItemFailed;
    }
    return kExitOk;
}

int RunAck(const TOptions& options) {
    TEventSession session(Wide(options.server));
    const std::wstring source = Wide(options.items[0]);
    const std::wstring condition = Wide(options.items[1]);
    std::optional<ONEVENTSTRUCT> found;
    std::wstring found_line;
    auto sink = TEventSink::Create([&](const ONEVENTSTRUCT& event, bool refresh) {
        if (refresh && event.szConditionName && condition == event.szConditionName) {
            found = event;  // only its times, cookie and state are kept
            found->szSource = found->szMessage = found->szConditionName = nullptr;
            found->szSubconditionName = found->szActorID = nullptr;
            found->pEventAttributes = nullptr;
            found->dwNumEventAttrs = 0;
        }
    });
    TEventFilterOptions filter;
    filter.types = OPC_CONDITION_EVENT;
    filter.sources = {options.items[0]};
    DWORD cookie = 0;
    win::ComPtr<IOPCEventSubscriptionMgt> subscription =
        session.Subscribe(filter, sink.get(), cookie);
    TSinkAdvise advise(subscription.get(), IID_IOPCEventSink, cookie);
    session.Check(subscription->Refresh(cookie), L"the refresh was refused");
    if (!PumpUntil([&] { return sink->refresh_done; },
                   std::chrono::steady_clock::now() + std::chrono::seconds(10))) {
        PrintError(L"the server did not finish its refresh");
        return kExitServerFailed;
    }
    if (!found) {
        PrintError(source + L" " + condition + L" is neither active nor unacknowledged");
        return kExitItemFailed;
    }
    std::wstring actor = Wide(options.actor);
    std::wstring comment = Wide(options.comment);
    LPWSTR source_text = const_cast<LPWSTR>(source.c_str());
    LPWSTR condition_text = const_cast<LPWSTR>(condition.c_str());
    FILETIME active = found->ftActiveTime;
    DWORD condition_cookie = found->dwCookie;
    win::UniqueCoTaskMem<HRESULT> errors;
    const HRESULT hr =
        session.Server()->AckCondition(1, actor.data(), comment.data(), &source_text,
                                       &condition_text, &active, &condition_cookie, errors.put());
    session.Check(hr, L"the acknowledgement was refused");
    const HRESULT result = errors.get() ? errors[0] : E_FAIL;
    const std::wstring what =
        source + L" " + condition + L" (active since " + FileTimeText(found->ftActiveTime) + L")";
    if (result == OPC_S_ALREADYACKED) {
        PrintLine(what + L" was already acknowledged");
        return kExitOk;
    }
    if (FAILED(result)) {
        PrintError(what + L" not acknowledged: " + ResultText(nullptr, result));
        return kExitItemFailed;
    }
    PrintLine(what + L" acknowledged by " + actor);
    return kExitOk;
}

}  // namespace porvex::opcclient
