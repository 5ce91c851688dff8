// The block builder of the DA 1.0 streams on its own: sizes planned before writing, and no
// write past the block whatever happens.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "opc/async/data_stream.h"
#include "opc/async/stream_formats.h"
#include "opc/idl/opc_errors.h"
#include "win/safe_array.h"

namespace porvex::opc::test {
namespace {

std::vector<std::uint8_t> Bytes(const win::UniqueHglobal& block) {
    win::GlobalLockScope lock(block.get());
    const auto* data = static_cast<const std::uint8_t*>(lock.data());
    return std::vector<std::uint8_t>(data, data + lock.size());
}

template <class T>
T At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

TEST(BlockWriterTest, RefusesEveryWritePastTheBlock) {
    std::vector<std::uint8_t> memory(12, 0xEE);
    TBlockWriter writer(memory.data(), 8);
    writer.AppendField<DWORD>(1);
    const std::uint64_t eight = 8;
    EXPECT_THROW(writer.Append(&eight, 8), EOpcServer);
    EXPECT_THROW(writer.PutField<DWORD>(6, 2), EOpcServer);
    EXPECT_THROW(writer.Put(9, &eight, 0), EOpcServer);
    EXPECT_THROW(writer.AppendZeros(5), EOpcServer);
    EXPECT_THROW(writer.Seek(9), EOpcServer);
    writer.AppendField<DWORD>(2);
    EXPECT_EQ(writer.Position(), 8u);
    // Nothing beyond the block was touched, not even by the refused writes.
    for (std::size_t i = 8; i < memory.size(); ++i) {
        EXPECT_EQ(memory[i], 0xEE);
    }
    EXPECT_EQ(At<DWORD>(memory, 4), 2u);
}

TEST(BlockWriterTest, SizesThatCannotBeBlocksAreRefused) {
    EXPECT_THROW(CheckedAdd(0xFFFFFFF0u, 0x20u), EOpcError);
    EXPECT_THROW(CheckedMultiply(0x10000u, 0x10000u), EOpcError);
    EXPECT_EQ(CheckedMultiply(0, 0xFFFFFFFFu), 0u);
}

TEST(DataStreamTest, TheSizeOfAValueIsKnownBeforeItIsWritten) {
    EXPECT_EQ(StreamValueSize(win::Variant::i4(1).value()), 16u);
    EXPECT_EQ(StreamValueSize(win::Variant::string(L"abc").value()), 16u + 4 + 8);
    win::Variant absent;
    absent.value().vt = VT_BSTR;
    absent.value().bstrVal = nullptr;
    EXPECT_EQ(StreamValueSize(absent.value()), 16u + 4 + 2);
    absent.value().vt = VT_EMPTY;
    win::Variant doubles;
    doubles.value().vt = VT_ARRAY | VT_R8;
    doubles.value().parray = win::safe_array_vector(VT_R8, 5).release();
    EXPECT_EQ(StreamValueSize(doubles.value()), 16u + 24 + 40);
}

TEST(DataStreamTest, AnEmptyBlockIsItsHeader) {
    win::UniqueHglobal block = BuildDataChangeBlock(sfDataTime, false, 3, 4, {});
    const std::vector<std::uint8_t> bytes = Bytes(block);
    EXPECT_EQ(At<DWORD>(bytes, 0), 20u);
    EXPECT_EQ(At<DWORD>(bytes, 4), 0u);
    EXPECT_EQ(At<DWORD>(bytes, 8), 3u);
    EXPECT_EQ(At<DWORD>(bytes, 12), 4u);
    EXPECT_EQ(At<HRESULT>(bytes, 16), S_OK);
}

TEST(DataStreamTest, MultiDimensionalArraysKeepEveryBound) {
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 1}};
    win::Variant value;
    value.value().vt = VT_ARRAY | VT_I2;
    value.value().parray = SafeArrayCreate(VT_I2, 2, bounds);
    ASSERT_NE(value.value().parray, nullptr);
    std::vector<TStreamItem> items(1);
    items[0].quality = 0xC0;
    items[0].value = value;
    win::UniqueHglobal block = BuildDataChangeBlock(sfData, false, 0, 0, items);
    const std::vector<std::uint8_t> bytes = Bytes(block);
    const std::size_t descriptor = 20 + 12 + 16;
    EXPECT_EQ(At<USHORT>(bytes, descriptor), 2u);
    EXPECT_EQ(At<DWORD>(bytes, 0), descriptor + 16 + 16 + 6 * 2);
}

TEST(DataStreamTest, AStreamMustBeFilledAsPlanned) {
    TDataChangeStream2 stream(false);
    stream.Allocate(1, 16);
    stream.SetHeader(1, 2, S_OK);
    // A value larger than planned is refused before it is written.
    EXPECT_THROW(stream.AppendItem(0, 1, 0xC0, win::Variant::string(L"too long").value()),
                 EOpcServer);
    TDataChangeStream2 short_stream(false);
    short_stream.Allocate(2, 32);
    short_stream.AppendItem(0, 1, 0xC0, win::Variant::i4(1).value());
    EXPECT_THROW(short_stream.Finish(), EOpcServer);
    EXPECT_THROW(short_stream.AppendItem(2, 1, 0xC0, win::Variant::i4(1).value()), EOpcServer);
}

TEST(DataStreamTest, TheWriteCompleteBlockHasEightBytesPerItem) {
    const TWriteResult results[2] = {{5, S_OK}, {6, OPC_E_BADTYPE}};
    win::UniqueHglobal block = BuildWriteCompleteBlock(9, 10, results);
    const std::vector<std::uint8_t> bytes = Bytes(block);
    ASSERT_GE(bytes.size(), 32u);
    EXPECT_EQ(At<DWORD>(bytes, 0), 2u);
    EXPECT_EQ(At<DWORD>(bytes, 4), 9u);
    EXPECT_EQ(At<DWORD>(bytes, 8), 10u);
    EXPECT_EQ(At<HRESULT>(bytes, 12), S_OK);
    EXPECT_EQ(At<DWORD>(bytes, 24), 6u);
    EXPECT_EQ(At<HRESULT>(bytes, 28), OPC_E_BADTYPE);
}

}  // namespace
}  // namespace porvex::opc::test
