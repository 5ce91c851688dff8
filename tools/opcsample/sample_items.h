// The simulated items of the sample server: what each item ID is, who may read and write
// it, and its value now.
//
//   Simulation.Counter          I4      read        +1 every 100 ms since the start
//   Simulation.Analog           R8      read        0..100 (analog limits), a 10 s sine
//   Simulation.Text             BSTR    read/write  "hello" until written
//   Simulation.ReadOnly         I2      read        42
//   Simulation.WriteOnly        I4      write       what is written shows in LastWrite
//   Simulation.LastWrite        I4      read
//   Plant.Hall1.Pump1.Running   BOOL    read/write  (and Pump2, Hall2.Valve7: a hierarchy
//   Plant.Hall1.Pump1.Speed     R4      read/write   of memory items of several types)
//   Plant.Hall2.Valve7.Position UI1     read/write
//   Plant.Hall2.Valve7.Updated  DATE    read/write
//   Arrays.Int32                I4[]    read/write  {1, 2, 3, 4}
//   Arrays.Text                 BSTR[]  read/write  {"alpha", "beta", "gamma"}
//   Load.Item0000 .. Item0999   I4      read        a new value at every read (load tests)
//   Control.Shutdown            BSTR    write       asks every client to disconnect, with
//                                                   the written text as the reason
//   Control.Exit                BOOL    write       true ends the server even while clients
//                                                   still hold objects (it has no window to
//                                                   close)
//   Diagnostics.*               read    clients, groups, callback failures, the last one,
//                                       the process ID and its command line; CallProfile
//                                       (read/write): the engine's call profile (started
//                                       with -CallProfile, else empty), a write restarts it
//   Events.CardRead             BSTR    write       a card read event with the written card
//   Events.CardBurst            I4      write       that many card read events at once
//   Events.Tank1Level           I4      write       the level of a simulated tank; its
//   Events.Tank2Level           I4      write       HighLevel alarm follows (sample_events.h)
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "opc/items/item_types.h"
#include "win/variant.h"

namespace porvex::opc::sample {

enum class TItemKind {
    Counter,
    Analog,
    Memory,     // holds what is written
    Constant,   // holds its initial value
    WriteOnly,  // a write lands in LastWrite
    LastWrite,
    Load,
    Shutdown,
    Exit,
    Diagnostic,
    EventControl,  // a write goes to on_event_write
};

struct TSampleItem {
    std::wstring id;
    TItemKind kind = TItemKind::Memory;
    VARTYPE type = VT_EMPTY;
    TAccessRights rights = kAccessRead;
    win::Variant value;  // Memory, Constant, LastWrite
    long serial = 0;     // Load: reads so far
    int load_index = 0;  // Load: which one
};

// What the diagnostic items show, filled by the server.
struct TDiagnostics {
    long clients = 0;
    long groups = 0;
    long callback_failures = 0;
    std::wstring last_callback_failure;
};

// Used only under the engine lock (opc/com/engine_lock.h), on whichever thread the engine
// calls the item server.
class TSampleItems {
  public:
    static constexpr int kLoadItems = 1000;

    TSampleItems();

    // The handle of an item ID (index + 1), or kUnresolvedHandle.
    TItemHandle Find(const std::wstring& itemId) const;
    const TSampleItem& At(TItemHandle handle) const;
    const std::vector<TSampleItem>& All() const noexcept { return items_; }

    // The value now. EOpcError OPC_E_INVALIDHANDLE for an unknown handle.
    void Read(TItemHandle handle, win::Variant& value);
    // Stores a value (already of the item's type). The shutdown item calls onShutdown with
    // the written text.
    void Write(TItemHandle handle, const VARIANT& value);

    std::function<void(const std::wstring&)> on_shutdown;
    std::function<void()> on_exit;
    // Writes to the Events.* items: (item ID, value written).
    std::function<void(const std::wstring&, const VARIANT&)> on_event_write;
    // Read by the diagnostic items; updated by the server in its notifications.
    TDiagnostics diagnostics;

  private:
    TSampleItem& Add(std::wstring id, TItemKind kind, VARTYPE type, TAccessRights rights,
                     win::Variant value = {});
    TSampleItem& Item(TItemHandle handle);
    void ReadDiagnostic(const TSampleItem& item, win::Variant& value) const;

    std::vector<TSampleItem> items_;
    // Looked up with a folded view (std::equal_to<> and a hash of views), so that a lookup
    // of an ASCII item ID folds it on the stack instead of allocating a folded copy.
    struct TViewHash {
        using is_transparent = void;
        std::size_t operator()(std::wstring_view text) const noexcept {
            return std::hash<std::wstring_view>{}(text);
        }
    };
    std::unordered_map<std::wstring, std::size_t, TViewHash, std::equal_to<>>
        index_;  // folded ID -> position
    ULONGLONG start_ms_;
    TItemHandle last_write_ = kUnresolvedHandle;
};

}  // namespace porvex::opc::sample
