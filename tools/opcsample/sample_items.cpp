#include "tools/opcsample/sample_items.h"

#include <cmath>
#include <cstdio>
#include <iterator>

#include "opc/com/bstr.h"
#include "opc/com/call_profile.h"
#include "opc/com/errors.h"
#include "opc/com/safe_array.h"
#include "opc/com/text.h"
#include "opc/idl/opc_interfaces.h"

namespace porvex::opc::sample {
namespace {

TVariant IntArray(std::initializer_list<LONG> values) {
    TSafeArray array = TSafeArray::Vector(VT_I4, static_cast<ULONG>(values.size()));
    LONG index = 0;
    for (LONG v : values) {
        CheckResult(SafeArrayPutElement(array.Get(), &index, &v));
        ++index;
    }
    TVariant out;
    out.Get().vt = VT_ARRAY | VT_I4;
    out.Get().parray = array.Detach();
    return out;
}

TVariant TextArray(std::initializer_list<const wchar_t*> values) {
    TSafeArray array = TSafeArray::Vector(VT_BSTR, static_cast<ULONG>(values.size()));
    LONG index = 0;
    for (const wchar_t* v : values) {
        TBstr text(v);
        CheckResult(SafeArrayPutElement(array.Get(), &index, text.Get()));
        ++index;
    }
    TVariant out;
    out.Get().vt = VT_ARRAY | VT_BSTR;
    out.Get().parray = array.Detach();
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
    Add(L"Simulation.Text", TItemKind::Memory, VT_BSTR, kReadWrite, TVariant::String(L"hello"));
    Add(L"Simulation.ReadOnly", TItemKind::Constant, VT_I2, kRead, TVariant::I2(42));
    Add(L"Simulation.WriteOnly", TItemKind::WriteOnly, VT_I4, kAccessWrite, TVariant::I4(0));
    last_write_ = static_cast<TItemHandle>(items_.size() + 1);
    Add(L"Simulation.LastWrite", TItemKind::LastWrite, VT_I4, kRead, TVariant::I4(0));
    for (const wchar_t* pump : {L"Plant.Hall1.Pump1", L"Plant.Hall1.Pump2"}) {
        Add(std::wstring(pump) + L".Running", TItemKind::Memory, VT_BOOL, kReadWrite,
            TVariant::Bool(false));
        Add(std::wstring(pump) + L".Speed", TItemKind::Memory, VT_R4, kReadWrite,
            TVariant::R4(0.0f));
    }
    Add(L"Plant.Hall2.Valve7.Position", TItemKind::Memory, VT_UI1, kReadWrite, TVariant::Ui1(0));
    Add(L"Plant.Hall2.Valve7.Updated", TItemKind::Memory, VT_DATE, kReadWrite,
        TVariant::Date(36526.0));  // 2000-01-01
    Add(L"Arrays.Int32", TItemKind::Memory, VT_ARRAY | VT_I4, kReadWrite, IntArray({1, 2, 3, 4}));
    Add(L"Arrays.Text", TItemKind::Memory, VT_ARRAY | VT_BSTR, kReadWrite,
        TextArray({L"alpha", L"beta", L"gamma"}));
    for (int i = 0; i < kLoadItems; ++i) {
        Add(LoadId(i), TItemKind::Load, VT_I4, kRead).load_index = i;
    }
    Add(L"Control.Shutdown", TItemKind::Shutdown, VT_BSTR, kAccessWrite);
    Add(L"Control.Exit", TItemKind::Exit, VT_BOOL, kAccessWrite);
    // Their value gives the type writes are converted to; it never changes.
    Add(L"Events.CardRead", TItemKind::EventControl, VT_BSTR, kAccessWrite, TVariant::String(L""));
    Add(L"Events.CardBurst", TItemKind::EventControl, VT_I4, kAccessWrite, TVariant::I4(0));
    Add(L"Events.Tank1Level", TItemKind::EventControl, VT_I4, kAccessWrite, TVariant::I4(0));
    Add(L"Events.Tank2Level", TItemKind::EventControl, VT_I4, kAccessWrite, TVariant::I4(0));
    Add(L"Diagnostics.Clients", TItemKind::Diagnostic, VT_I4, kRead);
    Add(L"Diagnostics.Groups", TItemKind::Diagnostic, VT_I4, kRead);
    Add(L"Diagnostics.CallbackFailures", TItemKind::Diagnostic, VT_I4, kRead);
    Add(L"Diagnostics.LastCallbackFailure", TItemKind::Diagnostic, VT_BSTR, kRead);
    Add(L"Diagnostics.ProcessId", TItemKind::Diagnostic, VT_I4, kRead);
    Add(L"Diagnostics.CommandLine", TItemKind::Diagnostic, VT_BSTR, kRead);
    Add(L"Diagnostics.CallProfile", TItemKind::Diagnostic, VT_BSTR, kReadWrite);
}

TSampleItem& TSampleItems::Add(std::wstring id, TItemKind kind, VARTYPE type, TAccessRights rights,
                               TVariant value) {
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

void TSampleItems::Read(TItemHandle handle, TVariant& value) {
    TSampleItem& item = Item(handle);
    const ULONGLONG elapsed = GetTickCount64() - start_ms_;
    switch (item.kind) {
        case TItemKind::Counter:
            value = TVariant::I4(static_cast<LONG>(elapsed / 100));
            return;
        case TItemKind::Analog:
            value = TVariant::R8(50.0 + 50.0 * std::sin(static_cast<double>(elapsed) / 10000.0 *
                                                        2.0 * 3.14159265358979323846));
            return;
        case TItemKind::Load:
            // Every read is a change, whatever the rate.
            value = TVariant::I4(item.load_index * 1000000 + ++item.serial);
            return;
        case TItemKind::Diagnostic:
            ReadDiagnostic(item, value);
            return;
        case TItemKind::Shutdown:
            value = TVariant::String(L"");
            return;
        case TItemKind::Exit:
            value = TVariant::Bool(false);
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

void TSampleItems::ReadDiagnostic(const TSampleItem& item, TVariant& value) const {
    if (item.id == L"Diagnostics.Clients") {
        value = TVariant::I4(diagnostics.clients);
    } else if (item.id == L"Diagnostics.Groups") {
        value = TVariant::I4(diagnostics.groups);
    } else if (item.id == L"Diagnostics.CallbackFailures") {
        value = TVariant::I4(diagnostics.callback_failures);
    } else if (item.id == L"Diagnostics.LastCallbackFailure") {
        value = TVariant::String(diagnostics.last_callback_failure);
    } else if (item.id == L"Diagnostics.ProcessId") {
        value = TVariant::I4(static_cast<LONG>(GetCurrentProcessId()));
    } else if (item.id == L"Diagnostics.CallProfile") {
        value = TVariant::String(CallProfileText());
    } else {
        value = TVariant::String(GetCommandLineW());
    }
}

void TSampleItems::Write(TItemHandle handle, const VARIANT& value) {
    TSampleItem& item = Item(handle);
    switch (item.kind) {
        case TItemKind::Memory:
            item.value = TVariant(value);
            return;
        case TItemKind::WriteOnly:
            item.value = TVariant(value);
            Item(last_write_).value = TVariant(value);
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
