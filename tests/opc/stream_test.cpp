// OPC DA 1.0 in-process: IDataObject advise sinks, IOPCAsyncIO, and the exact bytes of the
// three stream formats.
#include <gtest/gtest.h>

#include "async_support.h"
#include "opc/com/file_time.h"
#include "opc/server/item_server.h"
#include "win/safe_array.h"

namespace porvex::opc::test {
namespace {

win::Variant IntArray(std::vector<LONG> values, LONG lower = 0) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(values.size()), lower};
    win::UniqueSafeArray array(SafeArrayCreate(VT_I4, 1, &bound));
    for (std::size_t i = 0; i < values.size(); ++i) {
        LONG index = lower + static_cast<LONG>(i);
        SafeArrayPutElement(array.get(), &index, &values[i]);
    }
    win::Variant v;
    v.value().vt = VT_ARRAY | VT_I4;
    v.value().parray = array.release();
    return v;
}

win::Variant TextArray(std::vector<const wchar_t*> values) {
    win::UniqueSafeArray array = win::safe_array_vector(VT_BSTR, static_cast<ULONG>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        LONG index = static_cast<LONG>(i);
        BSTR text = values[i] ? SysAllocString(values[i]) : nullptr;
        SafeArrayPutElement(array.get(), &index, text);
        SysFreeString(text);
    }
    win::Variant v;
    v.value().vt = VT_ARRAY | VT_BSTR;
    v.value().parray = array.release();
    return v;
}

std::u16string StringAt(const TReceivedBlock& block, std::size_t offset, std::size_t chars) {
    std::u16string text(chars, u'\0');
    for (std::size_t i = 0; i < chars; ++i) {
        text[i] = block.At<char16_t>(offset + 2 * i);
    }
    return text;
}

// An advise sink that looks like a proxy to an object in another process (proxies answer
// IClientSecurity), whose process answers other questions with probe_answer.
class TRemoteLookingSink final : public win::ComObject<IAdviseSink, IClientSecurity> {
  public:
    static win::ComPtr<TRemoteLookingSink> Create() {
        return win::ComPtr<TRemoteLookingSink>(new TRemoteLookingSink());
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IAdviseSink) ||
            IsEqualIID(riid, IID_IClientSecurity)) {
            return ComObject::QueryInterface(riid, object);
        }
        *object = nullptr;
        ++questions;
        return probe_answer;
    }
    void STDMETHODCALLTYPE OnDataChange(FORMATETC*, STGMEDIUM*) noexcept override { ++blocks; }
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) noexcept override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) noexcept override {}
    void STDMETHODCALLTYPE OnSave() noexcept override {}
    void STDMETHODCALLTYPE OnClose() noexcept override {}
    HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*,
                                           void**, DWORD*) noexcept override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown*, DWORD, DWORD, OLECHAR*, DWORD, DWORD, void*,
                                         DWORD) noexcept override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown*, IUnknown**) noexcept override {
        return E_NOTIMPL;
    }

    HRESULT probe_answer = E_NOINTERFACE;
    int questions = 0;
    int blocks = 0;

  private:
    TRemoteLookingSink() = default;
};

class StreamTest : public AsyncTest {
  protected:
    // DAdvise of a fresh sink for format; the connection.
    DWORD AdviseSink(int format, win::ComPtr<TTestAdviseSink>& sink) {
        sink = TTestAdviseSink::Create();
        FORMATETC description = StreamFormatEtc(format);
        DWORD connection = 0;
        EXPECT_EQ(data_->DAdvise(&description, 0, sink.get(), &connection), S_OK);
        return connection;
    }
};

TEST_F(StreamTest, TheFormatsAreRegisteredByName) {
    EXPECT_EQ(StreamClipFormat(sfData), RegisterClipboardFormatW(L"OPCSTMFORMATDATA"));
    EXPECT_EQ(StreamClipFormat(sfDataTime), RegisterClipboardFormatW(L"OPCSTMFORMATDATATIME"));
    EXPECT_EQ(StreamClipFormat(sfWriteComplete),
              RegisterClipboardFormatW(L"OPCSTMFORMATWRITECOMPLETE"));
    EXPECT_EQ(StreamFormatIndex(StreamClipFormat(sfDataTime)), 1);
    EXPECT_EQ(StreamFormatIndex(CF_TEXT), -1);
}

TEST_F(StreamTest, DAdviseRefusesWhatItCannotServe) {
    MakeGroup({{L"Int"}}, true, false);
    win::ComPtr<TTestAdviseSink> sink = TTestAdviseSink::Create();
    DWORD connection = 0;
    FORMATETC description = StreamFormatEtc(sfData);
    description.lindex = 0;
    EXPECT_EQ(data_->DAdvise(&description, 0, sink.get(), &connection), DV_E_LINDEX);
    EXPECT_EQ(connection, static_cast<DWORD>(-1));
    description = StreamFormatEtc(sfData);
    description.dwAspect = DVASPECT_ICON;
    EXPECT_EQ(data_->DAdvise(&description, 0, sink.get(), &connection), DV_E_FORMATETC);
    description = StreamFormatEtc(sfData);
    description.tymed = TYMED_ISTREAM;
    EXPECT_EQ(data_->DAdvise(&description, 0, sink.get(), &connection), DV_E_FORMATETC);
    description = StreamFormatEtc(sfData);
    description.cfFormat = CF_TEXT;
    EXPECT_EQ(data_->DAdvise(&description, 0, sink.get(), &connection), DV_E_FORMATETC);
    description = StreamFormatEtc(sfDataTime);
    ASSERT_EQ(data_->DAdvise(&description, 0, sink.get(), &connection), S_OK);
    EXPECT_EQ(connection, 1u);
    EXPECT_EQ(data_->DAdvise(&description, 0, sink.get(), &connection), CONNECT_E_ADVISELIMIT);
    EXPECT_EQ(connection, static_cast<DWORD>(-1));
    EXPECT_EQ(data_->DUnadvise(0), OLE_E_NOCONNECTION);
    EXPECT_EQ(data_->DUnadvise(3), OLE_E_NOCONNECTION);
    EXPECT_EQ(data_->DUnadvise(1), S_OK);
    EXPECT_EQ(data_->DUnadvise(1), OLE_E_NOCONNECTION);
    IEnumSTATDATA* advises = reinterpret_cast<IEnumSTATDATA*>(1);
    EXPECT_EQ(data_->EnumDAdvise(&advises), E_NOTIMPL);
    EXPECT_EQ(advises, nullptr);
    STGMEDIUM medium{};
    EXPECT_EQ(data_->GetData(&description, &medium), E_NOTIMPL);
    EXPECT_EQ(data_->QueryGetData(&description), E_NOTIMPL);
}

TEST_F(StreamTest, AStringValueIsAVariantAndAStringRecord) {
    for (bool string_null : {false, true}) {
        SCOPED_TRACE(string_null ? "soStreamStringNull" : "plain");
        server_->options = string_null ? TServerOptions{soStreamStringNull} : TServerOptions{};
        MakeGroup({{L"Text", true, 21}}, true, false);
        win::ComPtr<TTestAdviseSink> sink;
        EXPECT_EQ(AdviseSink(sfData, sink), 0u);
        Drain();  // DAdvise queued a refresh from the cache
        ASSERT_EQ(sink->blocks.size(), 1u);
        const TReceivedBlock& block = sink->blocks[0];
        EXPECT_EQ(block.format.cfFormat, StreamClipFormat(sfData));
        EXPECT_EQ(block.format.lindex, -1);
        EXPECT_EQ(block.format.dwAspect, static_cast<DWORD>(DVASPECT_CONTENT));
        EXPECT_EQ(block.tymed, static_cast<DWORD>(TYMED_HGLOBAL));
        const std::size_t size = 20 + 12 + 16 + 4 + 8;
        ASSERT_EQ(block.At<DWORD>(0), size);
        EXPECT_GE(block.bytes.size(), size);
        EXPECT_EQ(block.At<DWORD>(4), 1u);   // items
        EXPECT_EQ(block.At<DWORD>(8), 77u);  // client group
        EXPECT_NE(block.At<DWORD>(12), 0u);  // the refresh's transaction ID
        EXPECT_EQ(block.At<HRESULT>(16), S_OK);
        EXPECT_EQ(block.At<DWORD>(20), 21u);  // client handle
        EXPECT_EQ(block.At<DWORD>(24), 32u);  // value offset
        EXPECT_EQ(block.At<WORD>(28), kQualityGood);
        EXPECT_EQ(block.At<WORD>(30), 0u);
        EXPECT_EQ(block.At<VARTYPE>(32), VT_BSTR);
        EXPECT_EQ(block.At<DWORD>(48), string_null ? 8u : 6u);
        EXPECT_EQ(StringAt(block, 52, 4), std::u16string(u"abc\0", 4));
        ASSERT_EQ(client_->RemoveGroup(group_.handle, TRUE), S_OK);
        group_ = TTestGroup();
        async1_.reset();
        async2_.reset();
        data_.reset();
    }
}

TEST_F(StreamTest, TheTickSendsTimeStampedBlocksOfTheChangedItems) {
    MakeGroup({{L"Int", true, 1}, {L"Real", true, 2}, {L"Text", true, 3}}, true, false);
    win::ComPtr<TTestAdviseSink> sink;
    AdviseSink(sfDataTime, sink);
    Drain();
    sink->blocks.clear();
    DWORD rate = 10;
    DWORD revised = 0;
    ASSERT_EQ(group_.state->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr),
              S_OK);
    // The activation reads are reported at the first tick.
    ASSERT_TRUE(PumpUntil([&] { return !sink->blocks.empty(); }));
    sink->blocks.clear();
    server_->SetValue(L"Int", win::Variant::i4(70));
    server_->SetValue(L"Real", win::Variant::r8(3.25), 0x1C);
    ASSERT_TRUE(PumpUntil([&] { return !sink->blocks.empty(); }));
    const TReceivedBlock& block = sink->blocks[0];
    const std::size_t values = 20 + 2 * 20;
    ASSERT_EQ(block.At<DWORD>(0), values + 16 + 16);
    EXPECT_EQ(block.At<DWORD>(4), 2u);
    EXPECT_EQ(block.At<DWORD>(12), 0u);         // tick changes carry no transaction
    EXPECT_EQ(block.At<HRESULT>(16), S_FALSE);  // one quality is not good
    EXPECT_EQ(block.At<DWORD>(20), 1u);
    EXPECT_EQ(block.At<DWORD>(24), values);
    EXPECT_EQ(block.At<WORD>(28), kQualityGood);
    EXPECT_EQ(block.At<DWORD>(40), 2u);
    EXPECT_EQ(block.At<DWORD>(44), values + 16);
    EXPECT_EQ(block.At<WORD>(48), 0x1C);
    EXPECT_EQ(block.At<VARTYPE>(values), VT_I4);
    EXPECT_EQ(block.At<LONG>(values + 8), 70);
    EXPECT_EQ(block.At<VARTYPE>(values + 16), VT_R8);
    EXPECT_EQ(block.At<double>(values + 24), 3.25);
    // The time stamps are those of the cache.
    win::ComPtr<IOPCSyncIO> io = group_.io;
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(io->Read(OPC_DS_CACHE, 1, added_.handles.data(), &states, &errors), S_OK);
    EXPECT_EQ(FileTimeTicks(block.At<FILETIME>(32)), FileTimeTicks(states[0].ftTimeStamp));
    VariantClear(&states[0].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    // The enable flag of IOPCAsyncIO2 does not hold back DA 1.0 blocks.
    Advise(group_.items.get(), IID_IOPCDataCallback, callback_->identity());
    Drain();
    ASSERT_EQ(async2_->SetEnable(FALSE), S_OK);
    sink->blocks.clear();
    callback_->changes.clear();
    server_->SetValue(L"Int", win::Variant::i4(71));
    ASSERT_TRUE(PumpUntil([&] { return !sink->blocks.empty(); }));
    EXPECT_TRUE(callback_->changes.empty());
}

TEST_F(StreamTest, ASinkGetsOnlyTheChangedItemsTheCallbackLeftInTheGroup) {
    MakeGroup({{L"Int", true, 1}, {L"Real", true, 2}}, true, false);
    win::ComPtr<TTestAdviseSink> sink;
    AdviseSink(sfDataTime, sink);
    Advise(group_.items.get(), IID_IOPCDataCallback, callback_->identity());
    Drain();
    DWORD rate = 10;
    DWORD revised = 0;
    ASSERT_EQ(group_.state->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr),
              S_OK);
    ASSERT_TRUE(PumpUntil([&] { return !sink->blocks.empty(); }));  // the activation reads
    // The client removes Int from inside OnDataChange, which comes before the DA 1.0 sink's
    // block of the same tick.
    OPCHANDLE int_handle = added_.handles[0];
    callback_->during_call = [&] {
        HRESULT* errors = nullptr;
        if (SUCCEEDED(group_.items->RemoveItems(1, &int_handle, &errors))) {
            CoTaskMemFree(errors);
        }
    };
    sink->blocks.clear();
    callback_->changes.clear();
    server_->SetValue(L"Int", win::Variant::i4(70));
    server_->SetValue(L"Real", win::Variant::r8(3.25));
    ASSERT_TRUE(PumpUntil([&] { return !sink->blocks.empty(); }));
    ASSERT_FALSE(callback_->changes.empty());
    EXPECT_EQ(callback_->changes[0].handles.size(), 2u);
    const TReceivedBlock& block = sink->blocks[0];
    EXPECT_EQ(block.At<DWORD>(4), 1u);   // one item
    EXPECT_EQ(block.At<DWORD>(20), 2u);  // Real's client handle
    callback_->during_call = nullptr;
}

TEST_F(StreamTest, ASinkAdvisedBeforeTheItemsHearsOfThem) {
    MakeGroup({}, true, false);
    win::ComPtr<TTestAdviseSink> sink;
    AdviseSink(sfData, sink);
    Drain();
    EXPECT_TRUE(sink->blocks.empty());
    DWORD rate = 10;
    DWORD revised = 0;
    ASSERT_EQ(group_.state->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr),
              S_OK);
    added_ = AddItems(group_.items.get(), {{L"Int", true, 1}});
    ASSERT_TRUE(PumpUntil([&] { return !sink->blocks.empty(); }));
    EXPECT_EQ(sink->blocks[0].At<DWORD>(4), 1u);
}

TEST_F(StreamTest, ASinkWhoseProcessIsGoneIsDroppedAfterABlock) {
    MakeGroup({{L"Int"}}, true, false);
    win::ComPtr<TRemoteLookingSink> sink = TRemoteLookingSink::Create();
    FORMATETC description = StreamFormatEtc(sfData);
    DWORD connection = 0;
    ASSERT_EQ(data_->DAdvise(&description, 0, sink.get(), &connection), S_OK);
    Drain();
    // Reachable: it stays.
    EXPECT_EQ(sink->blocks, 1);
    EXPECT_EQ(sink->questions, 1);
    EXPECT_TRUE(server_->callback_failures.empty());
    // Its process went: the next block finds out, and the sink is dropped.
    sink->probe_answer = static_cast<HRESULT>(0x800706BAL);
    DWORD transaction = 0;
    ASSERT_EQ(async1_->Refresh(connection, OPC_DS_CACHE, &transaction), S_OK);
    Drain();
    EXPECT_EQ(sink->blocks, 2);
    EXPECT_EQ(server_->callback_failures,
              (std::vector<std::pair<HRESULT, int>>{{static_cast<HRESULT>(0x800706BAL), 4}}));
    EXPECT_EQ(data_->DUnadvise(connection), OLE_E_NOCONNECTION);
    EXPECT_EQ(async1_->Refresh(connection, OPC_DS_CACHE, &transaction), CONNECT_E_NOCONNECTION);
}

TEST_F(StreamTest, ArraysCarryTheirDescriptorAndElements) {
    server_->SetValue(L"Ints", IntArray({5, -6, 7}, 2));
    server_->SetValue(L"Texts", TextArray({L"ab", nullptr, L"c"}));
    MakeGroup({{L"Ints", true, 1}, {L"Texts", true, 2}}, true, false);
    win::ComPtr<TTestAdviseSink> sink;
    AdviseSink(sfData, sink);
    Drain();
    ASSERT_EQ(sink->blocks.size(), 1u);
    const TReceivedBlock& block = sink->blocks[0];
    const std::size_t first = 20 + 2 * 12;
    EXPECT_EQ(block.At<DWORD>(24), first);
    EXPECT_EQ(block.At<VARTYPE>(first), VT_ARRAY | VT_I4);
    const std::size_t descriptor = first + 16;
    EXPECT_EQ(block.At<USHORT>(descriptor), 1u);      // dimensions
    EXPECT_EQ(block.At<ULONG>(descriptor + 4), 4u);   // element size
    EXPECT_EQ(block.At<DWORD>(descriptor + 12), 0u);  // no data pointer
    EXPECT_EQ(block.At<ULONG>(descriptor + 16), 3u);  // elements
    EXPECT_EQ(block.At<LONG>(descriptor + 20), 2);    // lower bound
    EXPECT_EQ(block.At<LONG>(descriptor + 24), 5);
    EXPECT_EQ(block.At<LONG>(descriptor + 28), -6);
    EXPECT_EQ(block.At<LONG>(descriptor + 32), 7);
    const std::size_t second = descriptor + 24 + 12;
    EXPECT_EQ(block.At<DWORD>(36), second);
    EXPECT_EQ(block.At<VARTYPE>(second), VT_ARRAY | VT_BSTR);
    std::size_t record = second + 16 + 24;
    EXPECT_EQ(block.At<DWORD>(record), 4u);
    EXPECT_EQ(StringAt(block, record + 4, 3), std::u16string(u"ab\0", 3));
    record += 4 + 6;
    EXPECT_EQ(block.At<DWORD>(record), 0u);  // an absent string
    EXPECT_EQ(block.At<WCHAR>(record + 4), 0);
    record += 4 + 2;
    EXPECT_EQ(block.At<DWORD>(record), 2u);
    EXPECT_EQ(StringAt(block, record + 4, 2), std::u16string(u"c\0", 2));
    EXPECT_EQ(block.At<DWORD>(0), record + 4 + 4);
}

TEST_F(StreamTest, AReadWithABadHandleIsRefusedWhole) {
    MakeGroup({{L"Int"}, {L"Real"}}, true, false);
    win::ComPtr<TTestAdviseSink> sink;
    const DWORD connection = AdviseSink(sfData, sink);
    Drain();
    sink->blocks.clear();
    OPCHANDLE handles[3] = {added_.handles[0], 0xBAD, added_.handles[1]};
    DWORD transaction = 5;
    HRESULT* errors = nullptr;
    EXPECT_EQ(async1_->Read(connection, OPC_DS_CACHE, 3, handles, &transaction, &errors), S_FALSE);
    EXPECT_EQ(transaction, 0u);
    EXPECT_EQ(Errors(errors, 3), (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, S_OK}));
    Drain();
    EXPECT_TRUE(sink->blocks.empty());
}

TEST_F(StreamTest, ReadsAreCheckedForTheirConnectionAndSource) {
    MakeGroup({{L"Int"}}, true, false);
    DWORD transaction = 0;
    HRESULT* errors = nullptr;
    OPCHANDLE handle = added_.handles[0];
    EXPECT_EQ(async1_->Read(0, OPC_DS_CACHE, 1, &handle, &transaction, &errors),
              CONNECT_E_NOCONNECTION);
    EXPECT_EQ(async1_->Read(5, OPC_DS_CACHE, 1, &handle, &transaction, &errors),
              CONNECT_E_NOCONNECTION);
    EXPECT_EQ(async1_->Read(0, OPC_DS_CACHE, 0, &handle, &transaction, &errors), E_INVALIDARG);
    win::ComPtr<TTestAdviseSink> sink;
    AdviseSink(sfData, sink);
    EXPECT_EQ(async1_->Read(0, static_cast<OPCDATASOURCE>(0), 1, &handle, &transaction, &errors),
              E_INVALIDARG);
    EXPECT_EQ(async1_->Refresh(2, OPC_DS_CACHE, &transaction), CONNECT_E_NOCONNECTION);
}

TEST_F(StreamTest, AReadCompletesWithItsTransactionIdAndBadQualityForFailures) {
    server_->SetValue(L"Broken", win::Variant::i4(0));
    MakeGroup({{L"Int", true, 1}, {L"Broken", false, 2}}, true, false);
    server_->Item(L"Broken").read_error = E_ACCESSDENIED;
    win::ComPtr<TTestAdviseSink> sink;
    const DWORD connection = AdviseSink(sfDataTime, sink);
    Drain();
    sink->blocks.clear();
    server_->SetValue(L"Int", win::Variant::i4(55));
    DWORD transaction = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(
        async1_->Read(connection, OPC_DS_DEVICE, 2, added_.handles.data(), &transaction, &errors),
        S_OK);
    EXPECT_NE(transaction, 0u);
    EXPECT_EQ(Errors(errors, 2), (std::vector<HRESULT>{S_OK, S_OK}));
    EXPECT_TRUE(sink->blocks.empty());
    Drain();
    ASSERT_EQ(sink->blocks.size(), 1u);
    const TReceivedBlock& block = sink->blocks[0];
    EXPECT_EQ(block.At<DWORD>(12), transaction);
    EXPECT_EQ(block.At<HRESULT>(16), S_FALSE);
    const std::size_t values = 20 + 2 * 20;
    EXPECT_EQ(block.At<LONG>(values + 8), 55);
    EXPECT_EQ(block.At<DWORD>(40), 2u);  // the client handle of the failed item
    EXPECT_EQ(block.At<WORD>(48), 0u);   // quality bad
    EXPECT_EQ(FileTimeTicks(block.At<FILETIME>(52)), 0u);
    EXPECT_EQ(block.At<VARTYPE>(values + 16), VT_EMPTY);
    EXPECT_EQ(block.At<DWORD>(0), values + 32);
    // Cancel reaches version 1 transactions too.
    ASSERT_EQ(
        async1_->Read(connection, OPC_DS_CACHE, 1, added_.handles.data(), &transaction, &errors),
        S_OK);
    EXPECT_EQ(Errors(errors, 1), (std::vector<HRESULT>{S_OK}));
    EXPECT_EQ(async1_->Cancel(transaction), S_OK);
    EXPECT_EQ(async1_->Cancel(transaction), E_FAIL);
    Drain();
    EXPECT_EQ(sink->blocks.size(), 1u);
}

TEST_F(StreamTest, WritesCompleteWithAWriteCompleteBlock) {
    MakeGroup({{L"Int", false, 31}, {L"ReadOnly", false, 32}}, true, false);
    win::ComPtr<TTestAdviseSink> sink;
    const DWORD connection = AdviseSink(sfWriteComplete, sink);
    EXPECT_EQ(connection, 2u);
    Drain();
    EXPECT_TRUE(sink->blocks.empty()) << "no refresh for the write-complete connection";
    win::Variant values[2] = {win::Variant::i4(3), win::Variant::i2(4)};
    DWORD transaction = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(async1_->Write(connection, 2, added_.handles.data(), values[0].get(), &transaction,
                             &errors),
              S_OK);
    EXPECT_EQ(Errors(errors, 2), (std::vector<HRESULT>{S_OK, S_OK}));
    Drain();
    ASSERT_EQ(sink->blocks.size(), 1u);
    const TReceivedBlock& block = sink->blocks[0];
    EXPECT_EQ(block.format.cfFormat, StreamClipFormat(sfWriteComplete));
    ASSERT_GE(block.bytes.size(), 32u);
    EXPECT_EQ(block.At<DWORD>(0), 2u);
    EXPECT_EQ(block.At<DWORD>(4), 77u);
    EXPECT_EQ(block.At<DWORD>(8), transaction);
    EXPECT_EQ(block.At<HRESULT>(12), S_OK);
    EXPECT_EQ(block.At<DWORD>(16), 31u);
    EXPECT_EQ(block.At<HRESULT>(20), S_OK);
    EXPECT_EQ(block.At<DWORD>(24), 32u);
    EXPECT_EQ(block.At<HRESULT>(28), OPC_E_BADRIGHTS);
    EXPECT_EQ(server_->writes[L"Int"].size(), 1u);
}

TEST_F(StreamTest, TheWriteCompleteConnectionCarriesNoData) {
    MakeGroup({{L"Int"}}, true, false);
    win::ComPtr<TTestAdviseSink> data_sink;
    win::ComPtr<TTestAdviseSink> write_sink;
    AdviseSink(sfData, data_sink);
    const DWORD connection = AdviseSink(sfWriteComplete, write_sink);
    Drain();
    data_sink->blocks.clear();
    DWORD transaction = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(async1_->Refresh(connection, OPC_DS_CACHE, &transaction), S_OK);
    ASSERT_EQ(
        async1_->Read(connection, OPC_DS_CACHE, 1, added_.handles.data(), &transaction, &errors),
        S_OK);
    Drain();
    EXPECT_TRUE(data_sink->blocks.empty());
    EXPECT_TRUE(write_sink->blocks.empty());
}

TEST_F(StreamTest, RefreshGoesToItsConnection) {
    MakeGroup({{L"Int", true, 1}, {L"Real", false, 2}}, true, false);
    win::ComPtr<TTestAdviseSink> plain;
    win::ComPtr<TTestAdviseSink> timed;
    AdviseSink(sfData, plain);
    AdviseSink(sfDataTime, timed);
    Drain();
    plain->blocks.clear();
    timed->blocks.clear();
    DWORD transaction = 0;
    ASSERT_EQ(async1_->Refresh(1, OPC_DS_DEVICE, &transaction), S_OK);
    Drain();
    EXPECT_TRUE(plain->blocks.empty());
    ASSERT_EQ(timed->blocks.size(), 1u);
    EXPECT_EQ(timed->blocks[0].At<DWORD>(4), 1u);  // the active item only
    EXPECT_EQ(timed->blocks[0].At<DWORD>(12), transaction);
}

}  // namespace
}  // namespace porvex::opc::test
