// Synchronous reads (cache and device) and writes, with conversions and rights.
#include <gtest/gtest.h>

#include "opc/com/file_time.h"
#include "test_support.h"

namespace porvex::opc::test {
namespace {

struct TRead {
    HRESULT result = E_FAIL;
    std::vector<OPCHANDLE> clients;
    std::vector<win::Variant> values;
    std::vector<WORD> qualities;
    std::vector<std::uint64_t> times;
    std::vector<HRESULT> errors;
};

class SyncIoTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        server_->SetValue(L"Int", win::Variant::i4(42));
        server_->SetValue(L"Text", win::Variant::string(L"abc"));
        server_->SetValue(L"Number", win::Variant::string(L"12"));
        server_->SetValue(L"ReadOnly", win::Variant::i2(3));
        server_->Item(L"ReadOnly").rights = kAccessRead;
        server_->SetValue(L"WriteOnly", win::Variant::i4(0));
        server_->Item(L"WriteOnly").rights = kAccessWrite;
        group_ = AddGroup(L"g", 10000, true);
        added_ = AddItems(group_.items.get(), {{L"Int", true, 11},
                                               {L"Text", true, 12},
                                               {L"ReadOnly", true, 13},
                                               {L"WriteOnly", false, 14},
                                               {L"Int", false, 15, VT_R8}});
        ASSERT_EQ(added_.result, S_OK);
    }

    TRead Read(OPCDATASOURCE source, std::vector<OPCHANDLE> handles) {
        TRead read;
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        read.result = group_.io->Read(source, static_cast<DWORD>(handles.size()), handles.data(),
                                      &states, &errors);
        if (states && errors) {
            for (std::size_t i = 0; i < handles.size(); ++i) {
                read.clients.push_back(states[i].hClient);
                read.values.emplace_back(states[i].vDataValue);
                VariantClear(&states[i].vDataValue);
                read.qualities.push_back(states[i].wQuality);
                read.times.push_back(FileTimeTicks(states[i].ftTimeStamp));
                read.errors.push_back(errors[i]);
            }
        }
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
        return read;
    }

    std::vector<HRESULT> Write(std::vector<OPCHANDLE> handles, std::vector<win::Variant> values,
                               HRESULT* result) {
        HRESULT* errors = nullptr;
        *result = group_.io->Write(static_cast<DWORD>(handles.size()), handles.data(),
                                   reinterpret_cast<VARIANT*>(values.data()), &errors);
        return Errors(errors, handles.size());
    }

    TTestGroup group_;
    TAdded added_;
};

TEST_F(SyncIoTest, CacheReadsGiveTheLastValueAndOutOfServiceWhenInactive) {
    server_->SetValue(L"Int", win::Variant::i4(43));  // the device moved on; the cache did not
    TRead read = Read(OPC_DS_CACHE, {added_.handles[0], added_.handles[4], added_.handles[1]});
    ASSERT_EQ(read.result, S_OK);
    EXPECT_EQ(read.clients, (std::vector<OPCHANDLE>{11, 15, 12}));
    EXPECT_EQ(read.values[0].type(), VT_I4);
    EXPECT_EQ(read.values[0].value().lVal, 42);
    EXPECT_EQ(read.qualities[0], kQualityGood);
    EXPECT_NE(read.times[0], 0u);
    // The inactive item never read its value; its requested type does not invent one.
    EXPECT_EQ(read.qualities[1], OPC_QUALITY_OUT_OF_SERVICE);
    EXPECT_EQ(read.values[2].type(), VT_BSTR);

    BOOL inactive = FALSE;
    ASSERT_EQ(
        group_.state->SetState(nullptr, nullptr, &inactive, nullptr, nullptr, nullptr, nullptr),
        S_OK);
    read = Read(OPC_DS_CACHE, {added_.handles[0]});
    EXPECT_EQ(read.qualities[0], OPC_QUALITY_OUT_OF_SERVICE);
    EXPECT_EQ(read.values[0].value().lVal, 42);
}

TEST_F(SyncIoTest, DeviceReadsUpdateTheCacheAndConvert) {
    server_->SetValue(L"Int", win::Variant::i4(43));
    server_->calls.clear();
    TRead read = Read(OPC_DS_DEVICE, {added_.handles[0], added_.handles[4]});
    ASSERT_EQ(read.result, S_OK);
    EXPECT_EQ(server_->Count(L"GetItemValue Int"), 2);
    EXPECT_EQ(read.values[0].value().lVal, 43);
    EXPECT_EQ(read.values[1].type(), VT_R8);
    EXPECT_EQ(read.values[1].value().dblVal, 43.0);
    EXPECT_EQ(read.qualities[1], kQualityGood);  // device reads ignore the active flag
    read = Read(OPC_DS_CACHE, {added_.handles[0]});
    EXPECT_EQ(read.values[0].value().lVal, 43);
}

TEST_F(SyncIoTest, ReadsNeedTheReadRightAndAConvertibleValue) {
    TAdded as_number = AddItems(group_.items.get(), {{L"Text", true, 20, VT_I4}});
    TRead read =
        Read(OPC_DS_DEVICE, {added_.handles[2], added_.handles[3], as_number.handles[0], 0xBAD});
    EXPECT_EQ(read.result, S_FALSE);
    EXPECT_EQ(read.errors, (std::vector<HRESULT>{S_OK, OPC_E_BADRIGHTS, DISP_E_TYPEMISMATCH,
                                                 OPC_E_INVALIDHANDLE}));
    EXPECT_EQ(read.values[1].type(), VT_EMPTY);
    EXPECT_EQ(read.clients[3], 0u);
    EXPECT_EQ(Read(static_cast<OPCDATASOURCE>(3), {added_.handles[0]}).result, E_INVALIDARG);
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ(group_.io->Read(OPC_DS_CACHE, 0, added_.handles.data(), &states, &errors),
              E_INVALIDARG);
    EXPECT_EQ(group_.io->Read(OPC_DS_CACHE, 1, nullptr, &states, &errors), E_INVALIDARG);
    EXPECT_EQ(group_.io->Read(OPC_DS_CACHE, 1, added_.handles.data(), nullptr, &errors),
              E_INVALIDARG);
    EXPECT_EQ(states, nullptr);
}

TEST_F(SyncIoTest, ASuccessfulReadStampsTheClientsLastUpdate) {
    win::UniqueCoTaskMem<OPCSERVERSTATUS> before;
    ASSERT_EQ(client_->GetStatus(before.put()), S_OK);
    CoTaskMemFree(before.get()->szVendorInfo);
    Read(OPC_DS_CACHE, {added_.handles[0]});
    win::UniqueCoTaskMem<OPCSERVERSTATUS> after;
    ASSERT_EQ(client_->GetStatus(after.put()), S_OK);
    CoTaskMemFree(after.get()->szVendorInfo);
    EXPECT_GT(FileTimeTicks(after.get()->ftLastUpdateTime),
              FileTimeTicks(before.get()->ftLastUpdateTime));
}

TEST_F(SyncIoTest, WritesConvertToTheCanonicalType) {
    HRESULT hr = E_FAIL;
    EXPECT_EQ(Write({added_.handles[0], added_.handles[3]},
                    {win::Variant::string(L"17"), win::Variant::i4(5)}, &hr),
              (std::vector<HRESULT>{S_OK, S_OK}));
    EXPECT_EQ(hr, S_OK);
    ASSERT_EQ(server_->writes[L"Int"].size(), 1u);
    EXPECT_EQ(server_->writes[L"Int"][0].type(), VT_I4);
    EXPECT_EQ(server_->writes[L"Int"][0].value().lVal, 17);
    // Writes leave the cache alone.
    TRead read = Read(OPC_DS_CACHE, {added_.handles[0]});
    EXPECT_EQ(read.values[0].value().lVal, 42);
}

TEST_F(SyncIoTest, WritesNeedTheWriteRightAndAConvertibleValue) {
    server_->Item(L"Text").write_error = OPC_E_RANGE;
    HRESULT hr = E_FAIL;
    EXPECT_EQ(
        Write({added_.handles[2], added_.handles[0], added_.handles[1], 0xBAD},
              {win::Variant::i2(1), win::Variant::string(L"abc"), win::Variant::string(L"x"),
               win::Variant::i4(0)},
              &hr),
        (std::vector<HRESULT>{OPC_E_BADRIGHTS, OPC_E_BADTYPE, OPC_E_RANGE, OPC_E_INVALIDHANDLE}));
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_TRUE(server_->writes[L"ReadOnly"].empty());
    HRESULT* errors = nullptr;
    EXPECT_EQ(group_.io->Write(1, added_.handles.data(), nullptr, &errors), E_INVALIDARG);
    EXPECT_EQ(errors, nullptr);
}

}  // namespace
}  // namespace porvex::opc::test
