// The types of the items an item server resolves: handles, access rights, the quality
// preset before a read, engineering units and the data types the engine accepts.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <cstdint>
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

// Requested data types a group item accepts (the array flag masked off).
bool IsAcceptedDataType(VARTYPE type) noexcept;
// Types whose non-array values are subject to the percent deadband.
bool IsNumericType(VARTYPE type) noexcept;

}  // namespace porvex::opc
