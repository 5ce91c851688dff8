#include "tools/opcsample/sample_items.h"

#include <cmath>
#include <cstdio>
#include <iterator>

#include "opc/com/call_profile.h"
#include "opc/com/errors.h"
#include "opc/com/text.h"
#include "opc/idl/opc_interfaces.h"
#include "win/bstr.h"
#include "win/safe_array.h"

namespace porvex::opc::sample {
namespace {

win::Variant IntArray(std::initializer_list<LONG> values) {
    win::UniqueSafeArray array = win::safe_array_vector(VT_I4, static_cast<ULONG>(values.size()));
    LONG index = 0;
    for (LONG v : values) {
        CheckResult(SafeArrayPutElement(array.get(), &index, &v));
        ++index;
    }
    win::Variant out;
    out.value().vt = VT_ARRAY | VT_I4;
    out.value().parray = array.release();
    return out;
}

win::Variant TextArray(std::initializer_list<const wchar_t*> values) {
    win::UniqueSafeArray array = win::safe_array_vector(VT_BSTR, static_cast<ULONG>(values.size()));
    LONG index = 0;
    for (const wchar_t* v : values) {
        win::Bstr text(v);
        CheckResult(SafeArrayPutElement(array.get(), &index, text.get()));
        ++index;
    }
    win::Variant out;
    out.value().vt = VT_ARRAY | VT_BSTR;
    out.value().parray = array.release();
    return out;
}

std::wstring LoadId(int index) {
    wchar_t name[32];
    std::swprintf(name, 32, L"Load.Item%04d", index);
    return name;
}

}  // namespace

TSampleItems::TSampleItems() : start_ms_(GetTickCount64()) {
    constexpr TAccessRights kRead = kAccessRead;
    constexpr TAccessRights kReadWrite = kAccessReadWrite;
    Add(L"Simulation.Counter", TItemKind::Counter, VT_I4, kRead);
    Add(L"Simulation.Analog", TItemKind::Analog, VT_R8, kRead);
    Add(L"Simulation.Text", TItemKind::Memory, VT_BSTR, kReadWrite, win::Variant::string(L"hello"));
    Add(L"Simulation.ReadOnly", TItemKind::Constant, VT_I2, kRead, win::Variant::i2(42));
    Add(L"Simulation.WriteOnly", TItemKind::WriteOnly, VT_I4, kAccessWrite, win::Variant::i4(0));
    last_write_ = static_cast<TItemHandle>(items_.size() + 1);
    Add(L"Simulation.LastWrite", TItemKind::LastWrite, VT_I4, kRead, win::Variant::i4(0));
    for (const wchar_t* pump : {L"Plant.Hall1.Pump1", L"Plant.Hall1.Pump2"}) {
        Add(std::wstring(pump) + L".Running", TItemKind::Memory, VT_BOOL, kReadWrite,
            win::Variant::boolean(false));
        Add(std::wstring(pump) + L".Speed", TItemKind::Memory, VT_R4, kReadWrite,
            win::Variant::r4(0.0f));
    }
    Add(L"Plant.Hall2.Valve7.Position", TItemKind::Memory, VT_UI1, kReadWrite,
        win::Variant::ui1(0));
    Add(L"Plant.Hall2.Valve7.Updated", TItemKind::Memory, VT_DATE, kReadWrite,
        win::Variant::date(36526.0));  // 2000-01-01
    Add(L"Arrays.Int32", TItemKind::Memory, VT_ARRAY | VT_I4, kReadWrite, IntArray({1, 2, 3, 4}));
    Add(L"Arrays.Text", TItemKind::Memory, VT_ARRAY | VT_BSTR, kReadWrite,
        TextArray({L"alpha", L"beta", L"gamma"}));
    for (int i = 0; i < kLoadItems; ++i) {
        Add(LoadId(i), TItemKind::Load, VT_I4, kRead).load_index = i;
    }
    Add(L"Control.Shutdown", TItemKind::Shutdown, VT_BSTR, kAccessWrite);
    Add(L"Control.Exit", TItemKind::Exit, VT_BOOL, kAccessWrite);
    // Their value gives the type writes are converted to; it never changes.
    Add(L"Events.CardRead", TItemKind::EventControl, VT_BSTR, kAccessWrite,
        win::Variant::string(L""));
    Add(L"Events.CardBurst", TItemKind::EventControl, VT_I4, kAccessWrite, win::Variant::i4(0));
    Add(L"Events.Tank1Level", TItemKind::EventControl, VT_I4, kAccessWrite, win::Variant::i4(0));
    Add(L"Events.Tank2Level", TItemKind::EventControl, VT_I4, kAccessWrite, win::Variant::i4(0));
    Add(L"Diagnostics.Clients", TItemKind::Diagnostic, VT_I4, kRead);
    Add(L"Diagnostics.Groups", TItemKind::Diagnostic, VT_I4, kRead);
    Add(L"Diagnostics.CallbackFailures", TItemKind::Diagnostic, VT_I4, kRead);
    Add(L"Diagnostics.LastCallbackFailure", TItemKind::Diagnostic, VT_BSTR, kRead);
    Add(L"Diagnostics.ProcessId", TItemKind::Diagnostic, VT_I4, kRead);
    Add(L"Diagnostics.CommandLine", TItemKind::Diagnostic, VT_BSTR, kRead);
    Add(L"Diagnostics.CallProfile", TItemKind::Diagnostic, VT_BSTR, kReadWrite);
}

TSampleItem& TSampleItems::Add(std::wstring id, TItemKind kind, VARTYPE type, TAccessRights rights,
                               win::Variant value) {
    index_.emplace(FoldCase(id), items_.size());
    TSampleItem& item = items_.emplace_back();
    item.id = std::move(id);
    item.kind = kind;
    item.type = type;
    item.rights = rights;
    item.value = std::move(value);
    return item;
}

TItemHandle TSampleItems::Find(const std::wstring& itemId) const {
    // Item IDs are short and ASCII: folded here as FoldCase folds ASCII. Others go through
    // FoldCase, which leaves non-ASCII letters to the system's table.
    wchar_t folded[64];
    bool ascii = itemId.size() <= std::size(folded);
    for (std::size_t i = 0; ascii && i < itemId.size(); ++i) {
        const wchar_t c = itemId[i];
        ascii = c < 0x80;
        folded[i] = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
    }
    auto found = ascii ? index_.find(std::wstring_view(folded, itemId.size()))
                       : index_.find(FoldCase(itemId));
    return found == index_.end() ? kUnresolvedHandle : static_cast<TItemHandle>(found->second + 1);
}

const TSampleItem& TSampleItems::At(TItemHandle handle) const {
    return const_cast<TSampleItems*>(this)->Item(handle);
}

TSampleItem& TSampleItems::Item(TItemHandle handle) {
    if (handle < 1 || static_cast<std::size_t>(handle) > items_.size()) {
        throw EOpcError(OPC_E_INVALIDHANDLE);
    }
    return items_[static_cast<std::size_t>(handle - 1)];
}

void TSampleItems::Read(TItemHandle handle, win::Variant& value) {
    TSampleItem& item = Item(handle);
    const ULONGLONG elapsed = GetTickCount64() - start_ms_;
    switch (item.kind) {
        case TItemKind::Counter:
            value = win::Variant::i4(static_cast<LONG>(elapsed / 100));
            return;
        case TItemKind::Analog:
            value = win::Variant::r8(50.0 + 50.0 * std::sin(static_cast<double>(elapsed) / 10000.0 *
                                                            2.0 * 3.14159265358979323846));
            return;
        case TItemKind::Load:
            // Every read is a change, whatever the rate.
            value = win::Variant::i4(item.load_index * 1000000 + ++item.serial);
            return;
        case TItemKind::Diagnostic:
            ReadDiagnostic(item, value);
            return;
        case TItemKind::Shutdown:
            value = win::Variant::string(L"");
            return;
        case TItemKind::Exit:
            value = win::Variant::boolean(false);
            return;
        case TItemKind::EventControl:
        case TItemKind::WriteOnly:
        case TItemKind::Memory:
        case TItemKind::Constant:
        case TItemKind::LastWrite:
            value = item.value;
            return;
    }
}

void TSampleItems::ReadDiagnostic(const TSampleItem& item, win::Variant& value) const {
    if (item.id == L"Diagnostics.Clients") {
        value = win::Variant::i4(diagnostics.clients);
    } else if (item.id == L"Diagnostics.Groups") {
        value = win::Variant::i4(diagnostics.groups);
    } else if (item.id == L"Diagnostics.CallbackFailures") {
        value = win::Variant::i4(diagnostics.callback_failures);
    } else if (item.id == L"Diagnostics.LastCallbackFailure") {
        value = win::Variant::string(diagnostics.last_callback_failure);
    } else if (item.id == L"Diagnostics.ProcessId") {
        value = win::Variant::i4(static_cast<LONG>(GetCurrentProcessId()));
    } else if (item.id == L"Diagnostics.CallProfile") {
        value = win::Variant::string(CallProfileText());
    } else {
        value = win::Variant::string(GetCommandLineW());
    }
}

void TSampleItems::Write(TItemHandle handle, const VARIANT& value) {
    TSampleItem& item = Item(handle);
    switch (item.kind) {
        case TItemKind::Memory:
            item.value = win::Variant(value);
            return;
        case TItemKind::WriteOnly:
            item.value = win::Variant(value);
            Item(last_write_).value = win::Variant(value);
            return;
        case TItemKind::Exit:
            if (value.vt == VT_BOOL && value.boolVal && on_exit) {
                on_exit();
            }
            return;
        case TItemKind::EventControl:
            if (on_event_write) {
                on_event_write(item.id, value);
            }
            return;
        case TItemKind::Diagnostic:
            if (item.id != L"Diagnostics.CallProfile") {
                throw EOpcError(OPC_E_BADRIGHTS);
            }
            RestartCallProfile();
            return;
        case TItemKind::Shutdown:
            if (on_shutdown) {
                on_shutdown(value.vt == VT_BSTR && value.bstrVal ? value.bstrVal : L"");
            }
            return;
        default:
            throw EOpcError(OPC_E_BADRIGHTS);
    }
}

}  // namespace porvex::opc::sample
