// subscribe: prints every change of the chosen items as it comes, through the OPC DA 2.0
// data callback or the OPC DA 1.0 data stream, until a count of values, a time limit,
// Ctrl+C or the server's request to disconnect.
#include <chrono>
#include <memory>
#include <optional>

#include "commands.h"
#include "output.h"
#include "sinks.h"
#include "value_text.h"

namespace porvex::opcclient {
namespace {

// Prints values until the count is reached; what comes after that is dropped.
class TPrinter {
  public:
    TPrinter(const TSession& session, const TClientGroup& group, std::optional<unsigned long> count)
        : session_(session), group_(group), count_(count) {}

    void Print(const TItemResult& result) {
        if (Done()) {
            return;
        }
        const TGroupItem* item = group_.ByClientHandle(result.client_handle);
        const std::wstring name =
            item ? item->id : L"(client handle " + std::to_wstring(result.client_handle) + L")";
        if (FAILED(result.error)) {
            PrintLine(name + L" error " + session_.ResultText(result.error));
        } else {
            PrintLine(ValueLine(name, result.value.value(), result.quality, result.time));
        }
        ++printed_;
    }
    bool Done() const noexcept { return count_ && printed_ >= *count_; }
    unsigned long Printed() const noexcept { return printed_; }

  private:
    const TSession& session_;
    const TClientGroup& group_;
    std::optional<unsigned long> count_;
    unsigned long printed_ = 0;
};

std::chrono::steady_clock::time_point Deadline(const TOptions& options) {
    const auto now = std::chrono::steady_clock::now();
    if (!options.duration_s) {
        return now + std::chrono::hours(24 * 365 * 10);
    }
    return now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                     std::chrono::duration<double>(*options.duration_s));
}

}  // namespace

int RunSubscribe(const TOptions& options) {
    TSession session(Wide(options.server));
    auto shutdown = TShutdownSink::Create();
    TAdvise shutdown_advise(session, session.Server(), IID_IOPCShutdown, shutdown.get());

    std::vector<std::wstring> ids;
    for (const std::string& item : options.items) {
        ids.push_back(Wide(item));
    }
    if (ids.empty()) {
        ids = BrowseItemIds(session, Wide(options.branch), L"");
    }
    // The sink is attached before the items come: the first tick then reports each item
    // once (a refresh at the advise would report the same values again).
    TClientGroup group(session, true, options.rate_ms, options.deadband);
    TPrinter printer(session, group, options.count);
    std::wstring stream_error;
    std::unique_ptr<TAdvise> callback_advise;
    std::unique_ptr<TStreamAdvise> stream_advise;
    win::ComPtr<TDataCallback> callback;
    win::ComPtr<TStreamSink> sink;
    if (options.transport == TTransport::Stream || options.transport == TTransport::StreamTime) {
        const bool with_time = options.transport == TTransport::StreamTime;
        sink = TStreamSink::Create([&, with_time](TStreamBlock& block) {
            if (block.format != (with_time ? 1 : 0)) {
                return;
            }
            auto decoded = opcstream::DecodeDataBlock(block.bytes, with_time);
            if (!decoded.block) {
                stream_error = Wide(decoded.error);
                return;
            }
            for (const TItemResult& result : StreamItems(*decoded.block)) {
                printer.Print(result);
            }
        });
        stream_advise =
            std::make_unique<TStreamAdvise>(session, group, with_time ? 1 : 0, sink.get());
    } else {
        callback = TDataCallback::Create([&](TCallbackEvent& event) {
            if (event.kind != TEventKind::DataChange) {
                return;
            }
            for (const TItemResult& result : event.items) {
                printer.Print(result);
            }
        });
        callback_advise = std::make_unique<TAdvise>(session, group.identity(), IID_IOPCDataCallback,
                                                    callback.get());
    }
    bool failed = false;
    group.Add(ids, true, [&](const std::wstring& id, HRESULT code) {
        PrintError(id + L" not subscribed: " + session.ResultText(code));
        failed = true;
    });
    if (group.Items().empty()) {
        PrintError(L"no item to subscribe to");
        return kExitItemFailed;
    }
    PrintError(L"subscribed to " + std::to_wstring(group.Items().size()) + L" item(s) of " +
               session.Name() + L", update rate " + std::to_wstring(group.RevisedRate()) + L" ms");

    PumpUntil([&] { return printer.Done() || shutdown->requested || !stream_error.empty(); },
              Deadline(options));
    if (!stream_error.empty()) {
        PrintError(L"malformed data block: " + stream_error);
        return kExitServerFailed;
    }
    if (shutdown->requested) {
        PrintError(L"the server asked to disconnect: " + shutdown->reason);
        return kExitShutdown;
    }
    if (options.count && !printer.Done()) {
        PrintError(L"only " + std::to_wstring(printer.Printed()) + L" of " +
                   std::to_wstring(*options.count) + L" values came");
        return kExitItemFailed;
    }
    return failed ? kExitItemFailed : kExitOk;
}

}  // namespace porvex::opcclient
