// Value types shared by the engine and the item server.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <cstdint>
#include <initializer_list>
#include <memory>

namespace porvex::win {
class Variant;
}  // namespace porvex::win

namespace porvex::opc {

// The item server's handle of a resolved item ID. The engine stores it and passes it back
// unchanged; it never dereferences it.
using TItemHandle = std::intptr_t;
inline constexpr TItemHandle kUnresolvedHandle = -1;

// Access rights: bit 0 read, bit 1 write (the OPC access-rights bits on the wire).
using TAccessRights = std::uint8_t;
inline constexpr TAccessRights kAccessRead = 1;
inline constexpr TAccessRights kAccessWrite = 2;
inline constexpr TAccessRights kAccessReadWrite = kAccessRead | kAccessWrite;

// The quality the engine presets before asking for a value.
inline constexpr WORD kQualityGood = 0xC0;

enum TServerOption : int {
    // Bit 0 is unused.
    soStreamStringNull = 1,  // data-object stream strings count their terminating null
    soStrictHandles = 2,     // item handles must belong to the group they are used with
    soNoBrowse = 3,          // the server object refuses IOPCBrowseServerAddressSpace
    soHierarchical = 4,      // item IDs split into branches on the path delimiter
};

// A set of up to eight option bits.
class TServerOptions {
  public:
    constexpr TServerOptions() noexcept = default;
    constexpr TServerOptions(std::initializer_list<TServerOption> options) noexcept {
        for (TServerOption o : options) {
            bits_ = static_cast<std::uint8_t>(bits_ | (1u << o));
        }
    }
    static constexpr TServerOptions FromBits(std::uint8_t bits) noexcept {
        TServerOptions out;
        out.bits_ = bits;
        return out;
    }
    constexpr std::uint8_t Bits() const noexcept { return bits_; }
    // True only for bits 0..7 that are set.
    constexpr bool Has(int bit) const noexcept {
        return bit >= 0 && bit < 8 && (bits_ & (1u << bit)) != 0;
    }

  private:
    std::uint8_t bits_ = 0;
};

// Engineering-units information an item server may give for an item.
class IEUInfo {
  public:
    virtual ~IEUInfo() = default;
    // 0 none, 1 analog, 2 enumerated (only 0..127 are used).
    virtual int EUType() = 0;
    // For an analog item a one-dimensional array: element 0 low limit, element 1 high.
    virtual void EUInfo(win::Variant& info) = 0;
};

// Further item properties an item server may attach to an item. The engine keeps the
// interface with the resolved item and releases it with it.
class IItemProperties {
  public:
    virtual ~IItemProperties() = default;
};

// Notifications sent to the item server through the notification window.
enum class TNotification : WPARAM {
    ClientConnected = 1,
    ClientDisconnected = 2,
    ClientNameChanged = 3,
    GroupAdded = 4,
    GroupRemoved = 5,
    GroupItemAdded = 6,
    GroupItemRemoved = 7,
};

// What failed when a client's callback or advise sink refused a call for a group.
enum TCallbackKind : int {
    ckDataChange = 0,        // IOPCDataCallback::OnDataChange
    ckReadComplete = 1,      // IOPCDataCallback::OnReadComplete
    ckWriteComplete = 2,     // IOPCDataCallback::OnWriteComplete
    ckStreamDataChange = 4,  // data-object change (tick or refresh)
    ckStreamWriteComplete = 5,
    ckStreamReadComplete = 6,
};

// Requested data types a group item accepts (the array flag masked off).
bool IsAcceptedDataType(VARTYPE type) noexcept;
// Types whose non-array values are subject to the percent deadband.
bool IsNumericType(VARTYPE type) noexcept;

}  // namespace porvex::opc
