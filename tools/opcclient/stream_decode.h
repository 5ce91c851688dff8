// Decoding of the OPC DA 1.0 data-object blocks a client receives through IAdviseSink:
// "OPCSTMFORMATDATA" (item headers of 12 bytes), "OPCSTMFORMATDATATIME" (20 bytes, with a
// FILETIME) and "OPCSTMFORMATWRITECOMPLETE". Portable: it reads bytes only (little-endian),
// never past the block, and reports a malformed block as an error text.
//
// A data block: dwSize, dwItemCount, hClientGroup, dwTransactionID, hrStatus; the item
// headers; then each item's value at its dwValueOffset: a 16-byte VARIANT image, followed
// for VT_BSTR by a string record (4-byte byte count, UTF-16 characters, a 2-byte null) and
// for arrays by the SAFEARRAY descriptor (16 + 8 per dimension bytes) and the elements (one
// string record each for string arrays, one block of count x element size otherwise).
// Servers differ in whether a string record's count includes its null; the decoder tells
// from where the value ends (the next value's offset, or dwSize for the last one).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace porvex::opcstream {

inline constexpr std::uint16_t kVtEmpty = 0;
inline constexpr std::uint16_t kVtBstr = 8;
inline constexpr std::uint16_t kVtTypeMask = 0x0FFF;
inline constexpr std::uint16_t kVtArray = 0x2000;
inline constexpr std::uint16_t kVtByRef = 0x4000;

struct TArrayBound {
    std::uint32_t count = 0;
    std::int32_t lower = 0;
};

struct TDecodedValue {
    std::uint16_t vt = kVtEmpty;
    std::array<std::uint8_t, 8> data{};  // the VARIANT's data bytes (scalars)
    std::u16string text;                 // VT_BSTR
    // Arrays (vt has kVtArray): the descriptor as sent and the elements.
    std::uint16_t dimensions = 0;
    std::uint16_t features = 0;
    std::uint32_t element_size = 0;
    std::vector<TArrayBound> bounds;      // as the descriptor lists them
    std::vector<std::uint8_t> elements;   // element data of non-string arrays
    std::vector<std::u16string> strings;  // elements of string arrays
};

struct TDecodedItem {
    std::uint32_t client_handle = 0;
    std::uint32_t value_offset = 0;
    std::uint16_t quality = 0;
    std::uint16_t reserved = 0;
    std::uint64_t time = 0;  // FILETIME ticks (UTC); 0 in blocks without time stamps
    TDecodedValue value;
};

struct TDataBlock {
    std::uint32_t size = 0;
    std::uint32_t item_count = 0;
    std::uint32_t client_group = 0;
    std::uint32_t transaction_id = 0;
    std::int32_t status = 0;
    bool with_time = false;
    // Whether the string records counted their null (when the block had strings).
    std::optional<bool> string_null;
    std::vector<TDecodedItem> items;
};

struct TWriteResult {
    std::uint32_t client_handle = 0;
    std::int32_t error = 0;
};

struct TWriteCompleteBlock {
    std::uint32_t item_count = 0;
    std::uint32_t client_group = 0;
    std::uint32_t transaction_id = 0;
    std::int32_t status = 0;
    std::vector<TWriteResult> results;
};

// The result of a decode: the block, or why it is malformed.
template <class T>
struct TDecoded {
    std::optional<T> block;
    std::string error;
};

// withTime: the block is "OPCSTMFORMATDATATIME" (else "OPCSTMFORMATDATA").
TDecoded<TDataBlock> DecodeDataBlock(std::span<const std::uint8_t> bytes, bool withTime);
TDecoded<TWriteCompleteBlock> DecodeWriteComplete(std::span<const std::uint8_t> bytes);

}  // namespace porvex::opcstream
