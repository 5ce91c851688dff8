// The blocks of the OPC DA 1.0 data-object streams, byte for byte (integers little-endian,
// offsets from the start of the block):
//
//   OPCSTMFORMATDATA / OPCSTMFORMATDATATIME
//     0 dwSize, 4 dwItemCount, 8 hClientGroup, 12 dwTransactionID, 16 hrStatus (S_FALSE
//     when any quality is not good); then one item header per item (20 bytes with a time
//     stamp, 12 without: hClient, dwValueOffset, wQuality, wReserved 0 [, FILETIME]); then
//     the values, each at its dwValueOffset: the 16-byte VARIANT as held in memory, then
//       - for VT_BSTR a string record: byte count (4), the UTF-16 characters and one null
//         (the count includes the null's 2 bytes only with soStreamStringNull);
//       - for arrays the SAFEARRAY descriptor as held in memory with its data pointer 0
//         (16 + 8 per dimension bytes, 24 for the usual one dimension), then one string
//         record per element of a string array, or the element data as one block.
//   OPCSTMFORMATWRITECOMPLETE
//     0 dwItemCount, 4 hClientGroup, 8 dwTransactionID, 12 hrStatus 0, then per item
//     hClient (4) and dwError (4).
//
// A block's size is computed from its items before it is allocated, and every write is
// checked against the block (TBlockWriter): nothing is ever written past its end.
#pragma once

#include <windows.h>

#include <memory>
#include <span>

#include "opc/async/block_writer.h"
#include "win/global_memory.h"
#include "win/variant.h"

namespace porvex::opc {

inline constexpr std::size_t kStreamGroupHeaderSize = 20;
inline constexpr std::size_t kStreamVariantSize = 16;
inline constexpr std::size_t kWriteCompleteHeaderSize = 16;
inline constexpr std::size_t kWriteCompleteItemSize = 8;

// The bytes a value takes at its offset: the VARIANT and what follows it (the same with and
// without soStreamStringNull, which changes only what a string record's count says).
std::size_t StreamValueSize(const VARIANT& value);

// A data stream block under construction. Allocate, then the header and every item in
// order (AppendItem and, with time stamps, SetTimeStamp), then Finish.
class TDataChangeStream {
  public:
    virtual ~TDataChangeStream();
    TDataChangeStream(const TDataChangeStream&) = delete;
    TDataChangeStream& operator=(const TDataChangeStream&) = delete;

    virtual bool HasTimeStamps() const noexcept = 0;
    virtual std::size_t ItemHeaderSize() const noexcept = 0;
    // The time stamp of item index (nothing in the layout without time stamps).
    virtual void SetTimeStamp(std::size_t index, const FILETIME& time) = 0;

    // A block for count items whose values take valueBytes in all (the sum of their
    // StreamValueSize); values are appended after the item headers. E_OUTOFMEMORY when it
    // cannot be had or would pass 4 GB.
    void Allocate(std::size_t count, std::size_t valueBytes);
    void SetHeader(DWORD clientGroup, DWORD transactionId, HRESULT status);
    // Item index's header (its value offset is the current position) and its value there.
    void AppendItem(std::size_t index, DWORD clientHandle, WORD quality, const VARIANT& value);
    // The finished block with dwSize set. EOpcServer when the items did not fill it exactly.
    win::UniqueHglobal Finish();

  protected:
    explicit TDataChangeStream(bool stringNull) noexcept : string_null_(stringNull) {}
    std::size_t ItemHeaderOffset(std::size_t index) const;
    TBlockWriter& Writer() noexcept { return writer_; }

  private:
    void AppendValue(const VARIANT& value);
    void AppendString(BSTR text);
    void AppendArray(const VARIANT& value);

    bool string_null_;
    std::size_t count_ = 0;
    win::UniqueHglobal block_;
    std::unique_ptr<win::GlobalLockScope> lock_;
    TBlockWriter writer_;
};

// "OPCSTMFORMATDATATIME": item headers of 20 bytes with a FILETIME.
class TDataChangeStream1 final : public TDataChangeStream {
  public:
    explicit TDataChangeStream1(bool stringNull) noexcept : TDataChangeStream(stringNull) {}
    bool HasTimeStamps() const noexcept override { return true; }
    std::size_t ItemHeaderSize() const noexcept override { return 20; }
    void SetTimeStamp(std::size_t index, const FILETIME& time) override;
};

// "OPCSTMFORMATDATA": item headers of 12 bytes.
class TDataChangeStream2 final : public TDataChangeStream {
  public:
    explicit TDataChangeStream2(bool stringNull) noexcept : TDataChangeStream(stringNull) {}
    bool HasTimeStamps() const noexcept override { return false; }
    std::size_t ItemHeaderSize() const noexcept override { return 12; }
    void SetTimeStamp(std::size_t, const FILETIME&) override {}
};

// One item as a data stream carries it; an item whose read failed has quality 0, an empty
// value and no time.
struct TStreamItem {
    DWORD client_handle = 0;
    WORD quality = 0;
    FILETIME time{};
    win::Variant value;
};

// A complete block of stream format sfData or sfDataTime (opc/async/stream_formats.h).
win::UniqueHglobal BuildDataChangeBlock(int format, bool stringNull, DWORD clientGroup,
                                        DWORD transactionId, std::span<const TStreamItem> items);

// One result of a DA 1.0 write.
struct TWriteResult {
    DWORD client_handle = 0;
    HRESULT error = S_OK;
};

// A complete "OPCSTMFORMATWRITECOMPLETE" block.
win::UniqueHglobal BuildWriteCompleteBlock(DWORD clientGroup, DWORD transactionId,
                                           std::span<const TWriteResult> results);

}  // namespace porvex::opc
