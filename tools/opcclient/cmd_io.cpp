// read and write: synchronously (IOPCSyncIO), through IOPCAsyncIO2 and the data callback,
// or through IOPCAsyncIO and the DA 1.0 blocks.
#include <chrono>
#include <cstring>
#include <optional>

#include "commands.h"
#include "completion_match.h"
#include "opc/com/errors.h"
#include "output.h"
#include "sinks.h"
#include "value_text.h"
#include "win/task_memory.h"

namespace porvex::opcclient {
namespace {

using win::ComPtr;
using win::UniqueCoTaskMem;
using win::Variant;

// How long a completion may take before the command gives up.
constexpr std::chrono::seconds kCompletionTimeout{10};
// The transaction ID opcclient gives its IOPCAsyncIO2 requests.
constexpr DWORD kTransactionId = 0x0C11E47;

// A group that reads or writes: its items, and a line for every refused one.
struct TIoGroup {
    TIoGroup(TSession& session, bool active, const std::vector<std::wstring>& ids, bool& failed)
        : group(session, active, 3600000, 0.0f) {
        group.Add(ids, active, [&](const std::wstring& id, HRESULT code) {
            PrintLine(id + L" error " + session.ResultText(code));
            failed = true;
        });
    }
    TClientGroup group;
};

std::wstring ItemName(const TClientGroup& group, OPCHANDLE clientHandle) {
    const TGroupItem* item = group.ByClientHandle(clientHandle);
    return item ? item->id : L"(client handle " + std::to_wstring(clientHandle) + L")";
}

// Prints a value or an error line; true when the item failed.
bool PrintResult(const TSession& session, const std::wstring& name, const TItemResult& result) {
    if (FAILED(result.error)) {
        PrintLine(name + L" error " + session.ResultText(result.error));
        return true;
    }
    PrintLine(ValueLine(name, result.value.value(), result.quality, result.time));
    return false;
}

// Waits for the first event that matches; TClientFailure when none comes in time.
template <class T>
T WaitFor(std::optional<T>& slot, const wchar_t* what) {
    const bool arrived = PumpUntil([&] { return slot.has_value(); },
                                   std::chrono::steady_clock::now() + kCompletionTimeout);
    if (!arrived) {
        throw TClientFailure{kExitServerFailed, std::wstring(L"no ") + what + L" came"};
    }
    return std::move(*slot);
}

// Waits for the completion of the DA 1.0 transaction the match expects.
TStreamBlock WaitFor(TCompletionMatch<TStreamBlock>& match, const wchar_t* what) {
    const bool arrived = PumpUntil([&] { return match.Done(); },
                                   std::chrono::steady_clock::now() + kCompletionTimeout);
    if (!arrived) {
        throw TClientFailure{kExitServerFailed, std::wstring(L"no ") + what + L" came"};
    }
    return match.Take();
}

// The transaction ID of a DA 1.0 block (at offset 12 of a data block, 8 of a
// write-complete block), if the block is long enough to have one.
std::optional<DWORD> BlockTransaction(const TStreamBlock& block, std::size_t offset) {
    if (block.bytes.size() < offset + sizeof(DWORD)) {
        return std::nullopt;
    }
    DWORD id = 0;
    std::memcpy(&id, block.bytes.data() + offset, sizeof id);
    return id;
}

opcstream::TDataBlock DecodeData(const TStreamBlock& block) {
    auto decoded = opcstream::DecodeDataBlock(block.bytes, block.format == 1);
    if (!decoded.block) {
        throw TClientFailure{kExitServerFailed, L"malformed data block: " + Wide(decoded.error)};
    }
    return std::move(*decoded.block);
}

int ReadSync(TSession& session, TClientGroup& group, bool device, bool failed) {
    auto io = group.As<IOPCSyncIO>();
    std::vector<OPCHANDLE> handles = group.ServerHandles();
    win::UniqueCoTaskMem<OPCITEMSTATE> states;
    win::UniqueCoTaskMem<HRESULT> errors;
    session.Check(
        io->Read(device ? OPC_DS_DEVICE : OPC_DS_CACHE, static_cast<DWORD>(handles.size()),
                 handles.data(), states.put(), errors.put()),
        L"the read failed");
    for (std::size_t i = 0; i < handles.size(); ++i) {
        TItemResult result;
        result.value.value() = states[i].vDataValue;  // adopted
        result.quality = states[i].wQuality;
        result.time = states[i].ftTimeStamp;
        result.error = errors[i];
        failed = PrintResult(session, group.Items()[i].id, result) || failed;
    }
    return failed ? kExitItemFailed : kExitOk;
}

int ReadAsync(TSession& session, TClientGroup& group, bool failed) {
    std::optional<TCallbackEvent> completion;
    auto callback = TDataCallback::Create([&](TCallbackEvent& event) {
        if (event.kind == TEventKind::ReadComplete && event.transaction_id == kTransactionId) {
            completion = std::move(event);
        }
    });
    TAdvise advise(session, group.identity(), IID_IOPCDataCallback, callback.get());
    auto io = group.As<IOPCAsyncIO2>();
    std::vector<OPCHANDLE> handles = group.ServerHandles();
    DWORD cancel_id = 0;
    win::UniqueCoTaskMem<HRESULT> errors;
    session.Check(io->Read(static_cast<DWORD>(handles.size()), handles.data(), kTransactionId,
                           &cancel_id, errors.put()),
                  L"the read was refused");
    TCallbackEvent event = WaitFor(completion, L"read completion");
    for (const TItemResult& result : event.items) {
        failed = PrintResult(session, ItemName(group, result.client_handle), result) || failed;
    }
    return failed ? kExitItemFailed : kExitOk;
}

int ReadStream(TSession& session, TClientGroup& group, bool withTime, bool device, bool failed) {
    const int format = withTime ? 1 : 0;
    // The block of our read, not the refresh the advise brought; it may come before Read
    // has told its transaction ID.
    TCompletionMatch<TStreamBlock> completion;
    auto sink = TStreamSink::Create([&](TStreamBlock& block) {
        const std::optional<DWORD> id = BlockTransaction(block, 12);
        if (block.format == format && id) {
            completion.Arrived(*id, std::move(block));
        }
    });
    TStreamAdvise advise(session, group, format, sink.get());
    auto io = group.As<IOPCAsyncIO>();
    std::vector<OPCHANDLE> handles = group.ServerHandles();
    DWORD id = 0;
    win::UniqueCoTaskMem<HRESULT> errors;
    const HRESULT hr =
        io->Read(advise.Connection(), device ? OPC_DS_DEVICE : OPC_DS_CACHE,
                 static_cast<DWORD>(handles.size()), handles.data(), &id, errors.put());
    session.Check(hr == S_FALSE ? E_FAIL : hr, L"the read was refused");
    completion.Expect(id);
    const TStreamBlock arrived = WaitFor(completion, L"read block");
    const opcstream::TDataBlock block = DecodeData(arrived);
    for (TItemResult& result : StreamItems(block)) {
        if (result.quality == OPC_QUALITY_BAD && result.value.type() == VT_EMPTY) {
            PrintLine(ItemName(group, result.client_handle) + L" = (no value) quality=" +
                      QualityText(result.quality));
            failed = true;
            continue;
        }
        failed = PrintResult(session, ItemName(group, result.client_handle), result) || failed;
    }
    return failed ? kExitItemFailed : kExitOk;
}

}  // namespace

int RunRead(const TOptions& options) {
    TSession session(Wide(options.server));
    std::vector<std::wstring> ids;
    for (const std::string& item : options.items) {
        ids.push_back(Wide(item));
    }
    bool failed = false;
    TIoGroup io(session, true, ids, failed);
    if (io.group.Items().empty()) {
        return kExitItemFailed;
    }
    switch (options.transport) {
        case TTransport::Sync:
            return ReadSync(session, io.group, options.device, failed);
        case TTransport::Async:
            return ReadAsync(session, io.group, failed);
        case TTransport::Stream:
        case TTransport::StreamTime:
            return ReadStream(session, io.group, options.transport == TTransport::StreamTime,
                              options.device, failed);
    }
    return kExitUsage;
}

int RunWrite(const TOptions& options) {
    TSession session(Wide(options.server));
    std::vector<std::wstring> ids;
    for (const TWriteRequest& write : options.writes) {
        ids.push_back(Wide(write.item));
    }
    bool failed = false;
    TIoGroup io(session, false, ids, failed);
    TClientGroup& group = io.group;
    // The values, each turned into its item's type; a value that does not fit is that
    // item's error.
    std::vector<OPCHANDLE> handles;
    std::vector<win::Variant> values;
    std::vector<std::wstring> names;
    for (const TGroupItem& item : group.Items()) {
        const TWriteRequest& request = options.writes[item.client_handle - 1];
        try {
            values.push_back(ParseValue(Wide(request.value), item.canonical_type));
            handles.push_back(item.server_handle);
            names.push_back(item.id);
        } catch (const opc::EOpcError& e) {
            PrintLine(item.id + L" error " + session.ResultText(e.Code()) + L" (" + e.Message() +
                      L")");
            failed = true;
        }
    }
    if (handles.empty()) {
        return kExitItemFailed;
    }
    static_assert(sizeof(win::Variant) == sizeof(VARIANT));
    VARIANT* raw_values = reinterpret_cast<VARIANT*>(values.data());
    const DWORD count = static_cast<DWORD>(handles.size());
    std::vector<HRESULT> results(count, E_FAIL);
    if (options.transport == TTransport::Sync) {
        auto sync = group.As<IOPCSyncIO>();
        win::UniqueCoTaskMem<HRESULT> errors;
        session.Check(sync->Write(count, handles.data(), raw_values, errors.put()),
                      L"the write failed");
        results.assign(errors.get(), errors.get() + count);
    } else if (options.transport == TTransport::Async) {
        std::optional<TCallbackEvent> completion;
        auto callback = TDataCallback::Create([&](TCallbackEvent& event) {
            if (event.kind == TEventKind::WriteComplete && event.transaction_id == kTransactionId) {
                completion = std::move(event);
            }
        });
        TAdvise advise(session, group.identity(), IID_IOPCDataCallback, callback.get());
        auto async = group.As<IOPCAsyncIO2>();
        DWORD cancel_id = 0;
        win::UniqueCoTaskMem<HRESULT> errors;
        session.Check(async->Write(count, handles.data(), raw_values, kTransactionId, &cancel_id,
                                   errors.put()),
                      L"the write was refused");
        const TCallbackEvent event = WaitFor(completion, L"write completion");
        for (const TItemResult& result : event.items) {
            for (DWORD i = 0; i < count; ++i) {
                if (group.ByClientHandle(result.client_handle) &&
                    group.ByClientHandle(result.client_handle)->server_handle == handles[i]) {
                    results[i] = result.error;
                }
            }
        }
    } else {
        TCompletionMatch<TStreamBlock> completion;
        auto sink = TStreamSink::Create([&](TStreamBlock& block) {
            const std::optional<DWORD> id = BlockTransaction(block, 8);
            if (block.format == 2 && id) {
                completion.Arrived(*id, std::move(block));
            }
        });
        TStreamAdvise advise(session, group, 2, sink.get());
        auto async = group.As<IOPCAsyncIO>();
        DWORD id = 0;
        win::UniqueCoTaskMem<HRESULT> errors;
        const HRESULT hr =
            async->Write(advise.Connection(), count, handles.data(), raw_values, &id, errors.put());
        session.Check(hr == S_FALSE ? E_FAIL : hr, L"the write was refused");
        completion.Expect(id);
        const TStreamBlock arrived = WaitFor(completion, L"write-complete block");
        auto decoded = opcstream::DecodeWriteComplete(arrived.bytes);
        if (!decoded.block) {
            throw TClientFailure{kExitServerFailed,
                                 L"malformed write-complete block: " + Wide(decoded.error)};
        }
        for (const opcstream::TWriteResult& result : decoded.block->results) {
            for (DWORD i = 0; i < count; ++i) {
                const TGroupItem* item = group.ByClientHandle(result.client_handle);
                if (item && item->server_handle == handles[i]) {
                    results[i] = result.error;
                }
            }
        }
    }
    for (DWORD i = 0; i < count; ++i) {
        if (FAILED(results[i])) {
            PrintLine(names[i] + L" error " + session.ResultText(results[i]));
            failed = true;
        } else {
            PrintLine(names[i] + L" written");
        }
    }
    return failed ? kExitItemFailed : kExitOk;
}

}  // namespace porvex::opcclient
