// The item server's options and the kinds of what the engine tells it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>

namespace porvex::opc {

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

}  // namespace porvex::opc
