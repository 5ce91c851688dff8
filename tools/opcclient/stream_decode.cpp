#include "stream_decode.h"

#include <limits>

namespace porvex::opcstream {
namespace {

constexpr std::size_t kGroupHeader = 20;
constexpr std::size_t kVariantSize = 16;

// Reads little-endian fields from [position, end) of a block, never beyond end.
class TReader {
  public:
    TReader(std::span<const std::uint8_t> bytes, std::size_t position, std::size_t end)
        : bytes_(bytes), position_(position), end_(end) {}

    std::size_t Position() const { return position_; }
    std::size_t Left() const { return end_ - position_; }

    bool Bytes(std::size_t count, const std::uint8_t*& out) {
        if (count > Left()) {
            return false;
        }
        out = bytes_.data() + position_;
        position_ += count;
        return true;
    }
    template <class T>
    bool Field(T& out) {
        const std::uint8_t* p = nullptr;
        if (!Bytes(sizeof(T), p)) {
            return false;
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            value |= static_cast<std::uint64_t>(p[i]) << (8 * i);
        }
        out = static_cast<T>(value);
        return true;
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_;
    std::size_t end_;
};

std::u16string Utf16(const std::uint8_t* p, std::size_t chars) {
    std::u16string text(chars, u'\0');
    for (std::size_t i = 0; i < chars; ++i) {
        text[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    }
    return text;
}

// One string record, its count read as including the null (countsNull) or not.
bool StringRecord(TReader& reader, bool countsNull, std::u16string& out) {
    std::uint32_t count = 0;
    if (!reader.Field(count) || count % 2 != 0) {
        return false;
    }
    std::size_t chars = count / 2;
    if (countsNull) {
        if (chars == 0) {
            return false;
        }
        --chars;
    }
    const std::uint8_t* p = nullptr;
    if (!reader.Bytes(chars * 2 + 2, p) || p[chars * 2] != 0 || p[chars * 2 + 1] != 0) {
        return false;
    }
    out = Utf16(p, chars);
    return true;
}

// Reads string records until end with one counting rule; true when they fill it exactly
// (count records when count is given).
bool StringRecords(TReader reader, bool countsNull, std::size_t count,
                   std::vector<std::u16string>& out, TReader& after) {
    out.clear();
    for (std::size_t i = 0; i < count; ++i) {
        std::u16string text;
        if (!StringRecord(reader, countsNull, text)) {
            return false;
        }
        out.push_back(std::move(text));
    }
    if (reader.Left() != 0) {
        return false;
    }
    after = reader;
    return true;
}

class TValueDecoder {
  public:
    explicit TValueDecoder(std::optional<bool>& stringNull) : string_null_(stringNull) {}

    // The value filling [begin, end) exactly, or an error text.
    std::string Decode(std::span<const std::uint8_t> block, std::size_t begin, std::size_t end,
                       TDecodedValue& value) {
        TReader reader(block, begin, end);
        const std::uint8_t* image = nullptr;
        if (!reader.Bytes(kVariantSize, image)) {
            return "value shorter than a VARIANT";
        }
        value.vt = static_cast<std::uint16_t>(image[0] | (image[1] << 8));
        for (std::size_t i = 0; i < 8; ++i) {
            value.data[i] = image[8 + i];
        }
        if (value.vt == kVtBstr) {
            std::vector<std::u16string> strings;
            if (!Strings(reader, 1, strings)) {
                return "malformed string record";
            }
            value.text = std::move(strings[0]);
            return {};
        }
        if ((value.vt & kVtArray) != 0 && (value.vt & kVtByRef) == 0) {
            return Array(reader, value);
        }
        return reader.Left() == 0 ? std::string() : "bytes after a plain value";
    }

  private:
    // count string records filling the rest of reader, with the block's counting rule (or
    // whichever fits, the first time).
    bool Strings(TReader& reader, std::size_t count, std::vector<std::u16string>& out) {
        for (bool counts_null : {false, true}) {
            if (string_null_ && *string_null_ != counts_null) {
                continue;
            }
            TReader after = reader;
            if (StringRecords(reader, counts_null, count, out, after)) {
                if (count > 0) {
                    string_null_ = counts_null;
                }
                reader = after;
                return true;
            }
        }
        return false;
    }

    std::string Array(TReader& reader, TDecodedValue& value) {
        std::uint32_t locks = 0;
        std::uint32_t data_pointer = 0;
        if (!reader.Field(value.dimensions) || !reader.Field(value.features) ||
            !reader.Field(value.element_size) || !reader.Field(locks) ||
            !reader.Field(data_pointer)) {
            return "array descriptor cut short";
        }
        if (value.dimensions == 0) {
            return "array without dimensions";
        }
        std::size_t count = 1;
        for (std::uint16_t d = 0; d < value.dimensions; ++d) {
            TArrayBound bound;
            if (!reader.Field(bound.count) || !reader.Field(bound.lower)) {
                return "array bounds cut short";
            }
            value.bounds.push_back(bound);
            if (bound.count != 0 && count > std::numeric_limits<std::size_t>::max() / bound.count) {
                return "array larger than its block";
            }
            count *= bound.count;
        }
        if ((value.vt & kVtTypeMask) == kVtBstr) {
            if (count > reader.Left() / 6) {
                return "string array larger than its block";
            }
            if (!Strings(reader, count, value.strings)) {
                return "malformed string array";
            }
            return {};
        }
        if (value.element_size != 0 && count > reader.Left() / value.element_size) {
            return "array elements cut short";
        }
        const std::size_t bytes = count * value.element_size;
        const std::uint8_t* p = nullptr;
        if (!reader.Bytes(bytes, p)) {
            return "array elements cut short";
        }
        value.elements.assign(p, p + bytes);
        return reader.Left() == 0 ? std::string() : "bytes after the array elements";
    }

    std::optional<bool>& string_null_;
};

}  // namespace

TDecoded<TDataBlock> DecodeDataBlock(std::span<const std::uint8_t> bytes, bool withTime) {
    TDecoded<TDataBlock> out;
    TDataBlock block;
    block.with_time = withTime;
    TReader header(bytes, 0, bytes.size());
    if (!header.Field(block.size) || !header.Field(block.item_count) ||
        !header.Field(block.client_group) || !header.Field(block.transaction_id) ||
        !header.Field(block.status)) {
        out.error = "block shorter than its header";
        return out;
    }
    // The system may hand over a larger block; dwSize says where the data ends.
    if (block.size < kGroupHeader || block.size > bytes.size()) {
        out.error = "dwSize does not match the block";
        return out;
    }
    const std::size_t item_header = withTime ? 20 : 12;
    if (block.item_count > (block.size - kGroupHeader) / item_header) {
        out.error = "more items than the block can hold";
        return out;
    }
    const std::size_t values_start = kGroupHeader + block.item_count * item_header;
    TReader headers(bytes, kGroupHeader, values_start);
    block.items.resize(block.item_count);
    for (TDecodedItem& item : block.items) {
        headers.Field(item.client_handle);
        headers.Field(item.value_offset);
        headers.Field(item.quality);
        headers.Field(item.reserved);
        if (withTime) {
            headers.Field(item.time);
        }
    }
    TValueDecoder decoder(block.string_null);
    for (std::size_t i = 0; i < block.items.size(); ++i) {
        const std::size_t begin = block.items[i].value_offset;
        const std::size_t end =
            i + 1 < block.items.size() ? block.items[i + 1].value_offset : block.size;
        if (begin < values_start || begin > end || end > block.size) {
            out.error = "value offset " + std::to_string(begin) + " of item " + std::to_string(i) +
                        " out of place";
            return out;
        }
        const std::string error = decoder.Decode(bytes, begin, end, block.items[i].value);
        if (!error.empty()) {
            out.error = "item " + std::to_string(i) + ": " + error;
            return out;
        }
    }
    if (block.items.empty() && block.size != values_start) {
        out.error = "bytes after the header of an empty block";
        return out;
    }
    out.block = std::move(block);
    return out;
}

TDecoded<TWriteCompleteBlock> DecodeWriteComplete(std::span<const std::uint8_t> bytes) {
    TDecoded<TWriteCompleteBlock> out;
    TWriteCompleteBlock block;
    TReader reader(bytes, 0, bytes.size());
    if (!reader.Field(block.item_count) || !reader.Field(block.client_group) ||
        !reader.Field(block.transaction_id) || !reader.Field(block.status)) {
        out.error = "block shorter than its header";
        return out;
    }
    if (block.item_count > reader.Left() / 8) {
        out.error = "more results than the block can hold";
        return out;
    }
    block.results.resize(block.item_count);
    for (TWriteResult& result : block.results) {
        reader.Field(result.client_handle);
        reader.Field(result.error);
    }
    out.block = std::move(block);
    return out;
}

}  // namespace porvex::opcstream
