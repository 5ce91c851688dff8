#include "opc/async/data_stream.h"

#include <oleauto.h>

#include "opc/async/stream_formats.h"
#include "opc/items/item_types.h"
#include "win/safe_array.h"

namespace porvex::opc {
namespace {

#if !defined(_WIN64)
static_assert(sizeof(VARIANT) == kStreamVariantSize, "the stream carries 16-byte VARIANTs");
#endif

// A string record: byte count, characters, one null.
std::size_t StringRecordSize(BSTR text) {
    const std::size_t chars = text ? SysStringLen(text) : 0;
    return CheckedAdd(4, CheckedMultiply(CheckedAdd(chars, 1), sizeof(wchar_t)));
}

std::size_t DescriptorSize(const SAFEARRAY* array) {
    return array ? 16 + 8 * static_cast<std::size_t>(array->cDims) : 24;
}

std::size_t ElementCount(const SAFEARRAY* array) {
    if (!array || array->cDims == 0) {
        return 0;
    }
    std::size_t count = 1;
    for (USHORT d = 0; d < array->cDims; ++d) {
        count = CheckedMultiply(count, array->rgsabound[d].cElements);
    }
    return count;
}

bool IsStringArray(const VARIANT& value) noexcept { return (value.vt & VT_TYPEMASK) == VT_BSTR; }

bool IsArray(const VARIANT& value) noexcept {
    return (value.vt & VT_ARRAY) != 0 && (value.vt & VT_BYREF) == 0;
}

// The elements of an array, accessed for the lifetime of the holder.
class TArrayElements {
  public:
    explicit TArrayElements(SAFEARRAY* array) : data_(array) {
        if (array && ElementCount(array) > 0 && !data_.valid()) {
            throw EOpcError(E_UNEXPECTED, L"array data cannot be accessed");
        }
    }
    const void* Get() const noexcept { return data_.data(); }

  private:
    win::SafeArrayAccess data_;
};

}  // namespace

std::size_t StreamValueSize(const VARIANT& value) {
    std::size_t size = kStreamVariantSize;
    if (value.vt == VT_BSTR) {
        return CheckedAdd(size, StringRecordSize(value.bstrVal));
    }
    if (!IsArray(value)) {
        return size;
    }
    const SAFEARRAY* array = value.parray;
    size = CheckedAdd(size, DescriptorSize(array));
    if (!array) {
        return size;
    }
    const std::size_t count = ElementCount(array);
    if (!IsStringArray(value)) {
        return CheckedAdd(size, CheckedMultiply(count, array->cbElements));
    }
    if (count > 0) {
        TArrayElements elements(const_cast<SAFEARRAY*>(array));
        const BSTR* strings = static_cast<const BSTR*>(elements.Get());
        for (std::size_t i = 0; i < count; ++i) {
            size = CheckedAdd(size, StringRecordSize(strings[i]));
        }
    }
    return size;
}

// ---- TDataChangeStream -------------------------------------------------------------------

TDataChangeStream::~TDataChangeStream() = default;

std::size_t TDataChangeStream::ItemHeaderOffset(std::size_t index) const {
    if (index >= count_) {
        throw EOpcServer(L"OPCSERV: stream item index out of range");
    }
    return kStreamGroupHeaderSize + index * ItemHeaderSize();
}

void TDataChangeStream::Allocate(std::size_t count, std::size_t valueBytes) {
    const std::size_t headers =
        CheckedAdd(kStreamGroupHeaderSize, CheckedMultiply(count, ItemHeaderSize()));
    const std::size_t size = CheckedAdd(headers, valueBytes);
    block_ = win::global_alloc(size);
    lock_ = std::make_unique<win::GlobalLockScope>(block_.get());
    if (!lock_->data()) {
        throw EOpcError(E_OUTOFMEMORY, L"stream block cannot be locked");
    }
    // The writer knows only the size asked for: a larger block from the system changes
    // nothing about where the values may go.
    writer_ = TBlockWriter(lock_->data(), size);
    count_ = count;
    writer_.AppendZeros(headers);
}

void TDataChangeStream::SetHeader(DWORD clientGroup, DWORD transactionId, HRESULT status) {
    writer_.PutField<DWORD>(4, static_cast<DWORD>(count_));
    writer_.PutField<DWORD>(8, clientGroup);
    writer_.PutField<DWORD>(12, transactionId);
    writer_.PutField<HRESULT>(16, status);
}

void TDataChangeStream::AppendItem(std::size_t index, DWORD clientHandle, WORD quality,
                                   const VARIANT& value) {
    const std::size_t header = ItemHeaderOffset(index);
    writer_.PutField<DWORD>(header, clientHandle);
    writer_.PutField<DWORD>(header + 4, static_cast<DWORD>(writer_.Position()));
    writer_.PutField<WORD>(header + 8, quality);
    writer_.PutField<WORD>(header + 10, 0);
    AppendValue(value);
}

void TDataChangeStream::AppendValue(const VARIANT& value) {
    writer_.Append(&value, kStreamVariantSize);
    if (value.vt == VT_BSTR) {
        AppendString(value.bstrVal);
    } else if (IsArray(value)) {
        AppendArray(value);
    }
}

void TDataChangeStream::AppendString(BSTR text) {
    const std::size_t chars = text ? SysStringLen(text) : 0;
    const std::size_t bytes = chars * sizeof(wchar_t);
    writer_.AppendField<DWORD>(static_cast<DWORD>(string_null_ ? bytes + 2 : bytes));
    writer_.Append(text, bytes);
    writer_.AppendField<WCHAR>(0);
}

void TDataChangeStream::AppendArray(const VARIANT& value) {
    SAFEARRAY* array = value.parray;
    if (!array) {
        // An array value without its array: an empty one-dimensional descriptor.
        writer_.AppendField<USHORT>(1);
        writer_.AppendZeros(22);
        return;
    }
    // The descriptor as it is before the elements are accessed (which counts a lock).
    writer_.AppendField<USHORT>(array->cDims);
    writer_.AppendField<USHORT>(array->fFeatures);
    writer_.AppendField<ULONG>(array->cbElements);
    writer_.AppendField<ULONG>(array->cLocks);
    writer_.AppendField<DWORD>(0);  // the data pointer means nothing to the reader
    for (USHORT d = 0; d < array->cDims; ++d) {
        writer_.AppendField<ULONG>(array->rgsabound[d].cElements);
        writer_.AppendField<LONG>(array->rgsabound[d].lLbound);
    }
    const std::size_t count = ElementCount(array);
    if (count == 0) {
        return;
    }
    TArrayElements elements(array);
    if (IsStringArray(value)) {
        const BSTR* strings = static_cast<const BSTR*>(elements.Get());
        for (std::size_t i = 0; i < count; ++i) {
            AppendString(strings[i]);
        }
    } else {
        writer_.Append(elements.Get(), CheckedMultiply(count, array->cbElements));
    }
}

win::UniqueHglobal TDataChangeStream::Finish() {
    if (writer_.Position() != writer_.Size()) {
        throw EOpcServer(L"OPCSERV: stream block not filled as planned");
    }
    writer_.PutField<DWORD>(0, static_cast<DWORD>(writer_.Size()));
    lock_.reset();
    writer_ = TBlockWriter();
    count_ = 0;
    return std::move(block_);
}

void TDataChangeStream1::SetTimeStamp(std::size_t index, const FILETIME& time) {
    Writer().PutField<FILETIME>(ItemHeaderOffset(index) + 12, time);
}

// ---- Whole blocks ------------------------------------------------------------------------

win::UniqueHglobal BuildDataChangeBlock(int format, bool stringNull, DWORD clientGroup,
                                        DWORD transactionId, std::span<const TStreamItem> items) {
    std::unique_ptr<TDataChangeStream> stream;
    if (format == sfDataTime) {
        stream = std::make_unique<TDataChangeStream1>(stringNull);
    } else {
        stream = std::make_unique<TDataChangeStream2>(stringNull);
    }
    std::size_t value_bytes = 0;
    HRESULT status = S_OK;
    for (const TStreamItem& item : items) {
        value_bytes = CheckedAdd(value_bytes, StreamValueSize(item.value.value()));
        if (item.quality != kQualityGood) {
            status = S_FALSE;
        }
    }
    stream->Allocate(items.size(), value_bytes);
    stream->SetHeader(clientGroup, transactionId, status);
    for (std::size_t i = 0; i < items.size(); ++i) {
        stream->AppendItem(i, items[i].client_handle, items[i].quality, items[i].value.value());
        stream->SetTimeStamp(i, items[i].time);
    }
    return stream->Finish();
}

win::UniqueHglobal BuildWriteCompleteBlock(DWORD clientGroup, DWORD transactionId,
                                           std::span<const TWriteResult> results) {
    const std::size_t size = CheckedAdd(kWriteCompleteHeaderSize,
                                        CheckedMultiply(results.size(), kWriteCompleteItemSize));
    win::UniqueHglobal block = win::global_alloc(size);
    {
        win::GlobalLockScope lock(block.get());
        if (!lock.data()) {
            throw EOpcError(E_OUTOFMEMORY, L"write-complete block cannot be locked");
        }
        TBlockWriter writer(lock.data(), size);
        writer.AppendField<DWORD>(static_cast<DWORD>(results.size()));
        writer.AppendField<DWORD>(clientGroup);
        writer.AppendField<DWORD>(transactionId);
        writer.AppendField<HRESULT>(S_OK);
        for (const TWriteResult& result : results) {
            writer.AppendField<DWORD>(result.client_handle);
            writer.AppendField<HRESULT>(result.error);
        }
        if (writer.Position() != size) {
            throw EOpcServer(L"OPCSERV: write-complete block not filled as planned");
        }
    }
    return block;
}

}  // namespace porvex::opc
