// The decoder of DA 1.0 blocks over blocks laid out by hand, byte by byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "stream_decode.h"

namespace porvex::opcstream {
namespace {

class TBlock {
  public:
    TBlock& U16(std::uint16_t v) { return Put(v, 2); }
    TBlock& U32(std::uint32_t v) { return Put(v, 4); }
    TBlock& U64(std::uint64_t v) { return Put(v, 8); }
    TBlock& Text(const std::u16string& text, bool countsNull) {
        U32(static_cast<std::uint32_t>(text.size() * 2 + (countsNull ? 2 : 0)));
        for (char16_t c : text) {
            U16(c);
        }
        return U16(0);
    }
    // A VARIANT image of type vt with data.
    TBlock& Variant(std::uint16_t vt, std::uint64_t data = 0) {
        U16(vt).U16(0).U16(0).U16(0);
        return U64(data);
    }
    std::size_t Size() const { return bytes_.size(); }
    void Patch32(std::size_t offset, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bytes_[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

  private:
    TBlock& Put(std::uint64_t v, int size) {
        for (int i = 0; i < size; ++i) {
            bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
        return *this;
    }
    std::vector<std::uint8_t> bytes_;
};

// A header for count items; dwSize is patched by Finish.
TBlock Header(std::uint32_t count, std::uint32_t transaction = 9) {
    TBlock b;
    b.U32(0).U32(count).U32(77).U32(transaction).U32(0);
    return b;
}

std::vector<std::uint8_t> Finish(TBlock b) {
    b.Patch32(0, static_cast<std::uint32_t>(b.Size()));
    return b.Bytes();
}

TEST(StreamDecodeTest, ATimeStampedBlockOfTwoItems) {
    TBlock b = Header(2);
    const std::uint32_t values = 20 + 2 * 20;
    b.U32(5).U32(values).U16(0xC0).U16(0).U64(133000000000000000ull);
    b.U32(6).U32(values + 16).U16(0x1C).U16(0).U64(133000000000000001ull);
    b.Variant(3, 42);                  // VT_I4
    b.Variant(8).Text(u"abc", false);  // VT_BSTR
    const auto decoded = DecodeDataBlock(Finish(b), true);
    ASSERT_TRUE(decoded.block) << decoded.error;
    const TDataBlock& block = *decoded.block;
    EXPECT_EQ(block.item_count, 2u);
    EXPECT_EQ(block.client_group, 77u);
    EXPECT_EQ(block.transaction_id, 9u);
    ASSERT_EQ(block.items.size(), 2u);
    EXPECT_EQ(block.items[0].client_handle, 5u);
    EXPECT_EQ(block.items[0].time, 133000000000000000ull);
    EXPECT_EQ(block.items[0].value.vt, 3);
    EXPECT_EQ(block.items[0].value.data[0], 42);
    EXPECT_EQ(block.items[1].quality, 0x1C);
    EXPECT_EQ(block.items[1].value.text, u"abc");
    EXPECT_EQ(block.string_null, false);
}

TEST(StreamDecodeTest, StringRecordsWithTheirNullCountedAreRecognised) {
    TBlock b = Header(1);
    b.U32(1).U32(32).U16(0xC0).U16(0);
    b.Variant(8).Text(u"hello", true);
    const auto decoded = DecodeDataBlock(Finish(b), false);
    ASSERT_TRUE(decoded.block) << decoded.error;
    EXPECT_EQ(decoded.block->items[0].value.text, u"hello");
    EXPECT_EQ(decoded.block->string_null, true);
}

TEST(StreamDecodeTest, ArraysOfNumbersAndOfStrings) {
    TBlock b = Header(2);
    const std::uint32_t first = 20 + 2 * 12;
    const std::uint32_t second = first + 16 + 24 + 8;
    b.U32(1).U32(first).U16(0xC0).U16(0);
    b.U32(2).U32(second).U16(0xC0).U16(0);
    b.Variant(0x2000 | 3).U16(1).U16(0x80).U32(4).U32(0).U32(0).U32(2).U32(1);
    b.U32(10).U32(20);
    b.Variant(0x2000 | 8).U16(1).U16(0x100).U32(4).U32(0).U32(0).U32(3).U32(0);
    b.Text(u"a", false).Text(u"", false).Text(u"xyz", false);
    const auto decoded = DecodeDataBlock(Finish(b), false);
    ASSERT_TRUE(decoded.block) << decoded.error;
    const TDecodedValue& ints = decoded.block->items[0].value;
    EXPECT_EQ(ints.element_size, 4u);
    ASSERT_EQ(ints.bounds.size(), 1u);
    EXPECT_EQ(ints.bounds[0].count, 2u);
    EXPECT_EQ(ints.bounds[0].lower, 1);
    EXPECT_EQ(ints.elements, (std::vector<std::uint8_t>{10, 0, 0, 0, 20, 0, 0, 0}));
    EXPECT_EQ(decoded.block->items[1].value.strings,
              (std::vector<std::u16string>{u"a", u"", u"xyz"}));
}

TEST(StreamDecodeTest, MalformedBlocksAreRefused) {
    EXPECT_FALSE(DecodeDataBlock(std::vector<std::uint8_t>(10), false).block);
    {
        TBlock b = Header(1000);  // more items than bytes
        EXPECT_EQ(DecodeDataBlock(Finish(b), false).error, "more items than the block can hold");
    }
    {
        TBlock b = Header(1);
        b.U32(1).U32(5).U16(0xC0).U16(0);  // value offset inside the headers
        b.Variant(3);
        EXPECT_FALSE(DecodeDataBlock(Finish(b), false).block);
    }
    {
        TBlock b = Header(1);
        b.U32(1).U32(32).U16(0xC0).U16(0);
        b.Variant(8).U32(0x7FFFFFF0);  // a string longer than the block
        EXPECT_FALSE(DecodeDataBlock(Finish(b), false).block);
    }
    {
        TBlock b = Header(1);
        b.U32(1).U32(32).U16(0xC0).U16(0);
        b.Variant(0x2000 | 3).U16(2).U16(0).U32(4).U32(0).U32(0);
        b.U32(0x10000).U32(0).U32(0x10000).U32(0);  // 2^32 elements
        EXPECT_FALSE(DecodeDataBlock(Finish(b), false).block);
    }
    {
        TBlock b = Header(1);
        b.U32(1).U32(32).U16(0xC0).U16(0);
        b.Variant(3).U32(1);  // bytes after a plain value
        EXPECT_EQ(DecodeDataBlock(Finish(b), false).error, "item 0: bytes after a plain value");
    }
    {
        TBlock b = Header(0);
        std::vector<std::uint8_t> bytes = Finish(b);
        bytes[0] = 200;  // dwSize beyond the block
        EXPECT_EQ(DecodeDataBlock(bytes, false).error, "dwSize does not match the block");
    }
}

TEST(StreamDecodeTest, ALargerBufferThanDwSizeIsFine) {
    TBlock b = Header(1);
    b.U32(1).U32(32).U16(0xC0).U16(0);
    b.Variant(11, 0xFFFF);  // VT_BOOL true
    std::vector<std::uint8_t> bytes = Finish(b);
    bytes.resize(bytes.size() + 16, 0xCC);
    const auto decoded = DecodeDataBlock(bytes, false);
    ASSERT_TRUE(decoded.block) << decoded.error;
    EXPECT_EQ(decoded.block->size, 48u);
}

TEST(StreamDecodeTest, WriteCompleteBlocks) {
    TBlock b;
    b.U32(2).U32(77).U32(12).U32(0).U32(5).U32(0).U32(6).U32(0xC0040006);
    const auto decoded = DecodeWriteComplete(b.Bytes());
    ASSERT_TRUE(decoded.block) << decoded.error;
    EXPECT_EQ(decoded.block->transaction_id, 12u);
    ASSERT_EQ(decoded.block->results.size(), 2u);
    EXPECT_EQ(decoded.block->results[1].client_handle, 6u);
    EXPECT_EQ(static_cast<std::uint32_t>(decoded.block->results[1].error), 0xC0040006u);
    TBlock cut;
    cut.U32(3).U32(77).U32(12).U32(0).U32(5).U32(0);
    EXPECT_EQ(DecodeWriteComplete(cut.Bytes()).error, "more results than the block can hold");
}

}  // namespace
}  // namespace porvex::opcstream
