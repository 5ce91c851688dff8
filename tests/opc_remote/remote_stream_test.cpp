// OPC DA 1.0 across processes: the blocks of the three stream formats as the client
// receives them, byte for byte, and the advise errors.
#include "opc/com/file_time.h"
#include "remote_fixture.h"

namespace porvex::opc::remote {
namespace {

using test::PumpUntil;
using test::StreamFormatEtc;
using test::TReceivedBlock;
using test::TTestAdviseSink;

class RemoteStreamTest : public RemoteTest {
  protected:
    void SetUp() override { RegisterStreamFormats(); }
};

std::u16string StringAt(const TReceivedBlock& block, std::size_t offset, std::size_t chars) {
    std::u16string text(chars, u'\0');
    for (std::size_t i = 0; i < chars; ++i) {
        text[i] = block.At<char16_t>(offset + 2 * i);
    }
    return text;
}

TEST_F(RemoteStreamTest, DAdviseRefusesWhatItCannotServe) {
    TRemoteGroup group = MakeGroup({L"Simulation.ReadOnly"}, 600000);
    win::ComPtr<TTestAdviseSink> sink = TTestAdviseSink::Create();
    DWORD connection = 0;
    FORMATETC description = StreamFormatEtc(sfData);
    description.lindex = 0;
    EXPECT_EQ(group.data->DAdvise(&description, 0, sink.get(), &connection), DV_E_LINDEX);
    description = StreamFormatEtc(sfData);
    description.cfFormat = CF_UNICODETEXT;
    EXPECT_EQ(group.data->DAdvise(&description, 0, sink.get(), &connection), DV_E_FORMATETC);
    description = StreamFormatEtc(sfData);
    ASSERT_EQ(group.data->DAdvise(&description, 0, sink.get(), &connection), S_OK);
    EXPECT_EQ(connection, 0u);
    EXPECT_EQ(group.data->DAdvise(&description, 0, sink.get(), &connection), CONNECT_E_ADVISELIMIT);
    EXPECT_EQ(group.data->DUnadvise(2), OLE_E_NOCONNECTION);
    EXPECT_EQ(group.data->DUnadvise(0), S_OK);
    Remove(group);
}

TEST_F(RemoteStreamTest, TimeStampedBlocksArriveAsLaidOut) {
    TRemoteGroup group = MakeGroup(
        {L"Simulation.ReadOnly", L"Simulation.Text", L"Arrays.Int32", L"Arrays.Text"}, 600000);
    win::ComPtr<TTestAdviseSink> sink = TTestAdviseSink::Create();
    FORMATETC description = StreamFormatEtc(sfDataTime);
    DWORD connection = 0;
    ASSERT_EQ(group.data->DAdvise(&description, 0, sink.get(), &connection), S_OK);
    EXPECT_EQ(connection, 1u);
    // The advise queued a refresh from the cache.
    ASSERT_TRUE(PumpUntil([&] { return !sink->blocks.empty(); }));
    const TReceivedBlock& block = sink->blocks[0];
    EXPECT_EQ(block.format.cfFormat, RegisterClipboardFormatW(L"OPCSTMFORMATDATATIME"));
    const std::size_t values = 20 + 4 * 20;
    const std::size_t text = values + 16;             // "hello"
    const std::size_t ints = text + 16 + 4 + 12;      // {1, 2, 3, 4}
    const std::size_t strings = ints + 16 + 24 + 16;  // {"alpha", "beta", "gamma"}
    const std::size_t end = strings + 16 + 24 + (4 + 12) + (4 + 10) + (4 + 12);
    ASSERT_EQ(block.At<DWORD>(0), end);
    EXPECT_EQ(block.bytes.size(), end) << "the block is exactly dwSize bytes";
    EXPECT_EQ(block.At<DWORD>(4), 4u);
    EXPECT_EQ(block.At<DWORD>(8), 77u);
    EXPECT_NE(block.At<DWORD>(12), 0u);
    EXPECT_EQ(block.At<HRESULT>(16), S_OK);
    const std::size_t offsets[4] = {values, text, ints, strings};
    for (DWORD i = 0; i < 4; ++i) {
        const std::size_t header = 20 + i * 20;
        EXPECT_EQ(block.At<DWORD>(header), i + 1);
        EXPECT_EQ(block.At<DWORD>(header + 4), offsets[i]);
        EXPECT_EQ(block.At<WORD>(header + 8), 0xC0);
        EXPECT_EQ(block.At<WORD>(header + 10), 0);
        EXPECT_NE(FileTimeTicks(block.At<FILETIME>(header + 12)), 0u);
    }
    EXPECT_EQ(block.At<VARTYPE>(values), VT_I2);
    EXPECT_EQ(block.At<SHORT>(values + 8), 42);
    EXPECT_EQ(block.At<VARTYPE>(text), VT_BSTR);
    EXPECT_EQ(block.At<DWORD>(text + 16), 10u);  // the sample counts no null
    EXPECT_EQ(StringAt(block, text + 20, 6), std::u16string(u"hello\0", 6));
    EXPECT_EQ(block.At<VARTYPE>(ints), VT_ARRAY | VT_I4);
    EXPECT_EQ(block.At<USHORT>(ints + 16), 1u);
    EXPECT_EQ(block.At<ULONG>(ints + 20), 4u);
    EXPECT_EQ(block.At<DWORD>(ints + 28), 0u);
    EXPECT_EQ(block.At<ULONG>(ints + 32), 4u);
    EXPECT_EQ(block.At<LONG>(ints + 40 + 12), 4);
    EXPECT_EQ(block.At<VARTYPE>(strings), VT_ARRAY | VT_BSTR);
    EXPECT_EQ(block.At<DWORD>(strings + 40), 10u);
    EXPECT_EQ(StringAt(block, strings + 44, 5), u"alpha");
    Remove(group);
}

TEST_F(RemoteStreamTest, ReadsAndWritesCompleteAsBlocks) {
    TRemoteGroup group =
        MakeGroup({L"Simulation.Counter", L"Simulation.WriteOnly"}, 600000, true, false);
    win::ComPtr<TTestAdviseSink> data = TTestAdviseSink::Create();
    win::ComPtr<TTestAdviseSink> written = TTestAdviseSink::Create();
    FORMATETC data_format = StreamFormatEtc(sfData);
    FORMATETC write_format = StreamFormatEtc(sfWriteComplete);
    DWORD data_connection = 0;
    DWORD write_connection = 0;
    ASSERT_EQ(group.data->DAdvise(&data_format, 0, data.get(), &data_connection), S_OK);
    ASSERT_EQ(group.data->DAdvise(&write_format, 0, written.get(), &write_connection), S_OK);
    EXPECT_EQ(write_connection, 2u);

    // One bad handle refuses the read as a whole.
    OPCHANDLE handles[2] = {group.handles[0], 0xBAD};
    DWORD transaction = 1;
    HRESULT* errors = nullptr;
    EXPECT_EQ(group.async1->Read(data_connection, OPC_DS_DEVICE, 2, handles, &transaction, &errors),
              S_FALSE);
    EXPECT_EQ(transaction, 0u);
    EXPECT_EQ(TakeErrors(errors, 2), (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE}));

    ASSERT_EQ(group.async1->Read(data_connection, OPC_DS_DEVICE, 1, group.handles.data(),
                                 &transaction, &errors),
              S_OK);
    CoTaskMemFree(errors);
    ASSERT_TRUE(PumpUntil(
        [&] { return !data->blocks.empty() && data->blocks.back().At<DWORD>(12) == transaction; }));
    const TReceivedBlock& read = data->blocks.back();
    EXPECT_EQ(read.At<DWORD>(0), 20u + 12 + 16);
    EXPECT_EQ(read.At<DWORD>(20), 1u);
    EXPECT_EQ(read.At<VARTYPE>(32), VT_I4);

    win::Variant values[2] = {win::Variant::i4(1), win::Variant::i4(314)};
    ASSERT_EQ(group.async1->Write(write_connection, 2, group.handles.data(), values[0].get(),
                                  &transaction, &errors),
              S_OK);
    CoTaskMemFree(errors);
    ASSERT_TRUE(PumpUntil([&] { return !written->blocks.empty(); }));
    const TReceivedBlock& result = written->blocks[0];
    EXPECT_EQ(result.format.cfFormat, RegisterClipboardFormatW(L"OPCSTMFORMATWRITECOMPLETE"));
    EXPECT_EQ(result.bytes.size(), 16u + 2 * 8);
    EXPECT_EQ(result.At<DWORD>(0), 2u);
    EXPECT_EQ(result.At<DWORD>(4), 77u);
    EXPECT_EQ(result.At<DWORD>(8), transaction);
    EXPECT_EQ(result.At<HRESULT>(12), S_OK);
    EXPECT_EQ(result.At<DWORD>(16), 1u);
    EXPECT_EQ(result.At<HRESULT>(20), OPC_E_BADRIGHTS);  // the counter is read-only
    EXPECT_EQ(result.At<DWORD>(24), 2u);
    EXPECT_EQ(result.At<HRESULT>(28), S_OK);
    EXPECT_EQ(ReadItem(Sample(), L"Simulation.LastWrite").value().lVal, 314);
    Remove(group);
}

TEST_F(RemoteStreamTest, TheTickSendsChangesToThePlainFormat) {
    TRemoteGroup group = MakeGroup({L"Simulation.Counter"}, 50);
    win::ComPtr<TTestAdviseSink> sink = TTestAdviseSink::Create();
    FORMATETC description = StreamFormatEtc(sfData);
    DWORD connection = 0;
    ASSERT_EQ(group.data->DAdvise(&description, 0, sink.get(), &connection), S_OK);
    ASSERT_TRUE(PumpUntil([&] {
        for (const TReceivedBlock& block : sink->blocks) {
            if (block.At<DWORD>(12) == 0) {
                return true;  // a tick's change
            }
        }
        return false;
    }));
    const TReceivedBlock& block = sink->blocks.back();
    EXPECT_EQ(block.At<DWORD>(0), 20u + 12 + 16);
    EXPECT_EQ(block.At<DWORD>(24), 32u);
    Remove(group);
}

}  // namespace
}  // namespace porvex::opc::remote
