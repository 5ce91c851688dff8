// The update tick and change detection: what reaches the client's OnDataChange, and when.
#include <gtest/gtest.h>

#include <thread>

#include "opc/com/file_time.h"
#include "opc/group/group_impl.h"
#include "opc/server_object/server_impl.h"
#include "test_support.h"
#include "win/safe_array.h"

namespace porvex::opc::test {
namespace {

win::Variant IntArray(std::vector<LONG> values) {
    win::UniqueSafeArray array = win::safe_array_vector(VT_I4, static_cast<ULONG>(values.size()));
    for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) {
        SafeArrayPutElement(array.get(), &i, &values[static_cast<std::size_t>(i)]);
    }
    win::Variant v;
    v.value().vt = VT_ARRAY | VT_I4;
    v.value().parray = array.release();
    return v;
}

class UpdateTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        server_->SetValue(L"Int", win::Variant::i4(1));
        server_->SetValue(L"Text", win::Variant::string(L"a"));
        server_->SetValue(L"Gauge", win::Variant::r8(50.0));
        server_->Item(L"Gauge").eu = std::make_shared<TTestEUInfo>(1, 0.0, 200.0);
        server_->SetValue(L"Pushed", win::Variant::i4(1));
        server_->Item(L"Pushed").push = true;
        callback_ = TTestDataCallback::Create();
    }

    // A group with the items, advised, after its first report (every active item).
    void Subscribe(std::vector<TItemEntry> items, float deadband = 0.0f) {
        group_ = AddGroup(L"g", 10, true, &deadband);
        added_ = AddItems(group_.items.get(), items);
        ASSERT_EQ(added_.result, S_OK);
        Advise(group_.items.get(), IID_IOPCDataCallback, callback_->identity());
        ASSERT_TRUE(PumpUntil([&] { return !callback_->changes.empty(); }));
        callback_->changes.clear();
    }

    TGroupInfo& Group() { return server_->Group(L"g"); }
    // Lets a few ticks pass and returns what arrived meanwhile.
    std::vector<TDataChange> AfterTicks(unsigned long ticks = 3) {
        EXPECT_TRUE(PumpTicks(Group(), ticks));
        std::vector<TDataChange> out = std::move(callback_->changes);
        callback_->changes.clear();
        return out;
    }

    win::ComPtr<TTestDataCallback> callback_;
    TTestGroup group_;
    TAdded added_;
};

TEST_F(UpdateTest, NewItemsAreReportedOnceInOneCall) {
    group_ = AddGroup(L"g", 10, true);
    Advise(group_.items.get(), IID_IOPCDataCallback, callback_->identity());
    added_ =
        AddItems(group_.items.get(), {{L"Int", true, 1}, {L"Text", true, 2}, {L"Gauge", false, 3}});
    std::vector<TDataChange> changes = AfterTicks();
    ASSERT_EQ(changes.size(), 1u);
    const TDataChange& c = changes[0];
    EXPECT_EQ(c.transaction_id, 0u);
    EXPECT_EQ(c.client_group, 77u);
    EXPECT_EQ(c.master_quality, S_OK);
    EXPECT_EQ(c.master_error, S_OK);
    EXPECT_EQ(c.handles, (std::vector<OPCHANDLE>{1, 2}));
    EXPECT_EQ(c.values[0].value().lVal, 1);
    EXPECT_STREQ(c.values[1].value().bstrVal, L"a");
    EXPECT_TRUE(AfterTicks().empty());
}

TEST_F(UpdateTest, ValueQualityAndTypeChangesAreReported) {
    Subscribe({{L"Int", true, 1}, {L"Text", true, 2}});
    server_->SetValue(L"Int", win::Variant::i4(2));
    std::vector<TDataChange> changes = AfterTicks();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].handles, std::vector<OPCHANDLE>{1});
    EXPECT_EQ(changes[0].values[0].value().lVal, 2);

    server_->SetValue(L"Int", win::Variant::i4(2), 0x40);
    changes = AfterTicks();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].qualities[0], 0x40);
    EXPECT_EQ(changes[0].master_quality, S_FALSE);

    server_->SetValue(L"Int", win::Variant::r8(2.0), 0x40);
    changes = AfterTicks();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].values[0].type(), VT_R8);

    server_->SetValue(L"Text", win::Variant::string(L"b"));
    server_->SetValue(L"Int", win::Variant::i4(9));
    changes = AfterTicks();
    ASSERT_EQ(changes.size(), 1u);  // several changes travel together
    EXPECT_EQ(changes[0].handles, (std::vector<OPCHANDLE>{1, 2}));
    EXPECT_GT(server_->changed_notifications, 0);
}

TEST_F(UpdateTest, ArraysAreComparedByContent) {
    server_->SetValue(L"Array", IntArray({1, 2, 3}));
    Subscribe({{L"Array", true, 1}});
    server_->SetValue(L"Array", IntArray({1, 2, 3}));
    EXPECT_TRUE(AfterTicks().empty());
    server_->SetValue(L"Array", IntArray({1, 2, 4}));
    EXPECT_EQ(AfterTicks().size(), 1u);
    server_->SetValue(L"Array", IntArray({1, 2, 4, 0}));
    EXPECT_EQ(AfterTicks().size(), 1u);
}

TEST_F(UpdateTest, TheDeadbandHoldsBackSmallAnalogChanges) {
    Subscribe({{L"Gauge", true, 1}}, 10.0f);  // threshold 10% of 0..200 = 20
    const DATE before = Group().ItemAt(0).CachedTimeAsDate();
    server_->SetValue(L"Gauge", win::Variant::r8(70.0));
    EXPECT_TRUE(AfterTicks().empty());
    // Only the time moved on; the value stayed.
    EXPECT_GT(Group().ItemAt(0).CachedTimeAsDate(), before);
    EXPECT_EQ(Group().ItemAt(0).CachedValue().value().dblVal, 50.0);
    server_->SetValue(L"Gauge", win::Variant::r8(71.0));
    std::vector<TDataChange> changes = AfterTicks();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].values[0].value().dblVal, 71.0);
    server_->SetValue(L"Gauge", win::Variant::r8(72.0), 0x40);
    EXPECT_EQ(AfterTicks().size(), 1u);  // a quality change passes any deadband
}

TEST_F(UpdateTest, WithoutDeadbandEveryAnalogChangeIsReported) {
    Subscribe({{L"Gauge", true, 1}, {L"Text", true, 2}}, 0.0f);
    server_->SetValue(L"Gauge", win::Variant::r8(50.001));
    EXPECT_EQ(AfterTicks().size(), 1u);
}

TEST_F(UpdateTest, NonAnalogItemsIgnoreTheDeadband) {
    Subscribe({{L"Text", true, 2}, {L"Int", true, 1}}, 100.0f);
    server_->SetValue(L"Text", win::Variant::string(L"b"));
    server_->SetValue(L"Int", win::Variant::i4(2));
    std::vector<TDataChange> changes = AfterTicks();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].handles.size(), 2u);
}

TEST_F(UpdateTest, InactiveGroupsSendNothingUntilActivated) {
    Subscribe({{L"Int", true, 1}, {L"Text", false, 2}});
    BOOL active = FALSE;
    ASSERT_EQ(group_.state->SetState(nullptr, nullptr, &active, nullptr, nullptr, nullptr, nullptr),
              S_OK);
    server_->SetValue(L"Int", win::Variant::i4(5));
    server_->calls.clear();
    EXPECT_TRUE(AfterTicks().empty());
    EXPECT_TRUE(server_->calls.empty());  // not even polled
    active = TRUE;
    ASSERT_EQ(group_.state->SetState(nullptr, nullptr, &active, nullptr, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(server_->Count(L"GetItemValue Int"), 1);
    EXPECT_EQ(server_->Count(L"GetItemValue Text"), 1);  // every item is read
    std::vector<TDataChange> changes = AfterTicks();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].handles, std::vector<OPCHANDLE>{1});  // only active items reported
}

TEST_F(UpdateTest, AnActivatedItemIsReportedEvenUnchanged) {
    Subscribe({{L"Int", false, 1}, {L"Text", true, 2}});
    HRESULT* errors = nullptr;
    ASSERT_EQ(group_.items->SetActiveState(1, added_.handles.data(), TRUE, &errors), S_OK);
    CoTaskMemFree(errors);
    std::vector<TDataChange> changes = AfterTicks();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].handles, std::vector<OPCHANDLE>{1});
    EXPECT_EQ(changes[0].values[0].value().lVal, 1);
}

TEST_F(UpdateTest, DisabledGroupsSendNoDataChange) {
    Subscribe({{L"Int", true, 1}});
    TGroupImpl* group = TGroupImpl::Find(*server_, group_.handle);
    ASSERT_NE(group, nullptr);
    group->SetEnabled(false);
    server_->SetValue(L"Int", win::Variant::i4(3));
    EXPECT_TRUE(AfterTicks().empty());
    group->SetEnabled(true);
    server_->SetValue(L"Int", win::Variant::i4(4));
    EXPECT_EQ(AfterTicks().size(), 1u);
}

TEST_F(UpdateTest, PushedItemsAreNeverPolled) {
    Subscribe({{L"Pushed", true, 1}});
    server_->calls.clear();
    server_->SetValue(L"Pushed", win::Variant::i4(2));  // the device changed, nobody pushed
    EXPECT_TRUE(AfterTicks().empty());
    EXPECT_TRUE(server_->calls.empty());
    ASSERT_TRUE(server_->Push(L"Pushed", win::Variant::i4(1)));  // same as cached
    EXPECT_TRUE(AfterTicks().empty());
    ASSERT_TRUE(server_->Push(L"Pushed", win::Variant::i4(3)));
    std::vector<TDataChange> changes = AfterTicks();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].values[0].value().lVal, 3);
    ASSERT_TRUE(server_->Push(L"Pushed", win::Variant::i4(3), 0x40));
    EXPECT_EQ(AfterTicks().size(), 1u);
}

TEST_F(UpdateTest, PushesFromAnotherThreadArriveWhole) {
    Subscribe({{L"Pushed", true, 1}});
    TOnChange push = server_->handed_out.at(0);
    std::thread pusher([push] {
        for (LONG i = 10; i <= 400; ++i) {
            push(win::Variant::i4(i).value(), kQualityGood);
            if (i % 50 == 0) {
                Sleep(1);
            }
        }
    });
    // Keep ticking while the other thread pushes, then until the last value arrived.
    ASSERT_TRUE(PumpUntil([&] {
        return !callback_->changes.empty() &&
               callback_->changes.back().values[0].value().lVal == 400;
    }));
    pusher.join();
    for (const TDataChange& c : callback_->changes) {
        ASSERT_EQ(c.values.size(), 1u);
        EXPECT_EQ(c.values[0].type(), VT_I4);
        EXPECT_GE(c.values[0].value().lVal, 10);
    }
}

TEST_F(UpdateTest, AFailingCallbackIsReportedAndTicksGoOn) {
    // A client that is busy (not gone) keeps its sink; one that is gone loses it (see
    // async_io_test.cpp).
    Subscribe({{L"Int", true, 1}});
    callback_->answer = RPC_E_CALL_REJECTED;
    server_->SetValue(L"Int", win::Variant::i4(2));
    ASSERT_TRUE(PumpUntil([&] { return !server_->callback_failures.empty(); }));
    EXPECT_EQ(server_->callback_failures[0], std::make_pair(RPC_E_CALL_REJECTED, 0));
    callback_->answer = S_OK;
    callback_->changes.clear();
    server_->SetValue(L"Int", win::Variant::i4(3));
    EXPECT_EQ(AfterTicks().size(), 1u);
}

TEST_F(UpdateTest, AnUnreadableItemDoesNotHoldBackTheOthers) {
    server_->SetValue(L"Secret", win::Variant::i4(0));
    server_->Item(L"Secret").rights = kAccessWrite;
    Subscribe({{L"Secret", false, 1}, {L"Int", true, 2}});
    HRESULT* errors = nullptr;
    group_.items->SetActiveState(1, added_.handles.data(), TRUE, &errors);
    CoTaskMemFree(errors);
    server_->SetValue(L"Int", win::Variant::i4(2));
    std::vector<TDataChange> changes = AfterTicks();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].handles, std::vector<OPCHANDLE>{2});
    // Reported once, not at every tick.
    AfterTicks();
    EXPECT_EQ(server_->exceptions.size(), 1u);
}

TEST_F(UpdateTest, AClientMayRemoveTheGroupDuringItsCallback) {
    Subscribe({{L"Int", true, 1}});
    const OPCHANDLE handle = group_.handle;
    IOPCServer* client = client_.get();
    callback_->during_call = [client, handle] { client->RemoveGroup(handle, TRUE); };
    server_->SetValue(L"Int", win::Variant::i4(2));
    ASSERT_TRUE(PumpUntil([&] { return server_->groups.empty(); }));
    EXPECT_EQ(callback_->changes.size(), 1u);
    PumpUntil([] { return false; }, 40);
    EXPECT_EQ(callback_->changes.size(), 1u);
}

TEST_F(UpdateTest, AGroupItsClientReleasedIsRemovedDuringItsCallbackNotKeptInUse) {
    // The delivery under way holds the group too, but that reference is the server's own.
    Subscribe({{L"Int", true, 1}});
    const OPCHANDLE handle = group_.handle;
    IOPCServer* client = client_.get();
    HRESULT removed = E_UNEXPECTED;
    callback_->during_call = [&] {
        group_ = TTestGroup();
        removed = client->RemoveGroup(handle, FALSE);
    };
    server_->SetValue(L"Int", win::Variant::i4(2));
    ASSERT_TRUE(PumpUntil([&] { return server_->groups.empty(); }));
    EXPECT_EQ(removed, S_OK);
    EXPECT_EQ(client->RemoveGroup(handle, FALSE), E_INVALIDARG);
}

TEST_F(UpdateTest, DeliveryStampsTheClientsLastUpdate) {
    Subscribe({{L"Int", true, 1}});
    const std::uint64_t before = FileTimeTicks(server_->Clients(0).LastUpdateTime());
    server_->SetValue(L"Int", win::Variant::i4(2));
    AfterTicks();
    EXPECT_GT(FileTimeTicks(server_->Clients(0).LastUpdateTime()), before);
}

TEST_F(UpdateTest, ReadErrorsAtDeliveryGoIntoTheErrorArray) {
    Subscribe({{L"Text", true, 1, VT_I4}, {L"Int", true, 2}});
    server_->SetValue(L"Text", win::Variant::string(L"not a number"));
    std::vector<TDataChange> changes = AfterTicks();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].errors[0], DISP_E_TYPEMISMATCH);
    EXPECT_EQ(changes[0].values[0].type(), VT_EMPTY);
    EXPECT_EQ(changes[0].master_error, S_FALSE);
    EXPECT_EQ(changes[0].master_quality, S_FALSE);
}

// A group extension as the asynchronous I/O module will be: an interface on the group's
// identity, told about callbacks, changes and the group leaving.
class TTestExtension final : public TGroupExtension, public IOPCAsyncIO2 {
  public:
    struct TLog {
        int advised = 0;
        int unadvised = 0;
        std::size_t changed_items = 0;
        int leaving = 0;
    };
    TTestExtension(TGroupImpl& group, TLog& log) : group_(group), log_(log) {}

    void* QueryInterface(REFIID riid) noexcept override {
        return IsEqualIID(riid, IID_IOPCAsyncIO2) ? static_cast<IOPCAsyncIO2*>(this) : nullptr;
    }
    void DataCallbackChanged(bool advised) override { ++(advised ? log_.advised : log_.unadvised); }
    bool WantsItemsChanged() const noexcept override { return true; }
    void ItemsChanged(std::span<const OPCHANDLE> handles) override {
        log_.changed_items += handles.size();
    }
    void GroupLeaving() noexcept override { ++log_.leaving; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
        return group_.QueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return group_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return group_.Release(); }
    HRESULT STDMETHODCALLTYPE Read(DWORD, OPCHANDLE*, DWORD, DWORD*, HRESULT**) noexcept override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Write(DWORD, OPCHANDLE*, VARIANT*, DWORD, DWORD*,
                                    HRESULT**) noexcept override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE, DWORD, DWORD*) noexcept override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Cancel2(DWORD) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetEnable(BOOL enable) noexcept override {
        group_.SetEnabled(enable != FALSE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetEnable(BOOL* enable) noexcept override {
        *enable = group_.Enabled();
        return S_OK;
    }

  private:
    TGroupImpl& group_;
    TLog& log_;
};

TEST_F(UpdateTest, GroupExtensionsAnswerOnTheGroupsIdentity) {
    TTestExtension::TLog log;
    server_->SetGroupExtensionFactory(
        [&log](TGroupImpl& group) { return std::make_unique<TTestExtension>(group, log); });
    Subscribe({{L"Int", true, 1}, {L"Text", true, 2}});
    EXPECT_EQ(log.advised, 1);
    EXPECT_EQ(log.changed_items, 2u);
    win::ComPtr<IOPCAsyncIO2> async;
    ASSERT_EQ(group_.items.query(async), S_OK);
    win::ComPtr<IUnknown> a;
    win::ComPtr<IUnknown> b;
    ASSERT_EQ(async.query(a), S_OK);
    ASSERT_EQ(group_.items.query(b), S_OK);
    EXPECT_EQ(a.get(), b.get());
    ASSERT_EQ(async->SetEnable(FALSE), S_OK);
    server_->SetValue(L"Int", win::Variant::i4(2));
    EXPECT_TRUE(AfterTicks().empty());
    EXPECT_EQ(log.changed_items, 3u);  // DA 1.0 streams still hear of the change
    async.reset();
    EXPECT_EQ(client_->RemoveGroup(group_.handle, TRUE), S_OK);
    EXPECT_EQ(log.leaving, 1);
}

}  // namespace
}  // namespace porvex::opc::test
