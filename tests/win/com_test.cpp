// Interface pointers, the COM object base and the apartment guard.
#include <gtest/gtest.h>

#include <ocidl.h>

#include <thread>

#include "win/com_apartment.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace porvex::win {
namespace {

// An IID of this test, answered through query_extra.
const IID kExtraIid = {
    0x6d1c1a52, 0x0b7e, 0x4b43, {0x9a, 0x11, 0x3c, 0x52, 0x70, 0x2e, 0x18, 0x9f}};

class Sample final : public ComObject<IConnectionPointContainer,
                                      Interface<IProvideClassInfo2, IProvideClassInfo>> {
  public:
    explicit Sample(bool& gone) : gone_(gone) {}

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) noexcept override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID, IConnectionPoint**) noexcept override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo**) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD, GUID*) noexcept override { return E_NOTIMPL; }

    bool refuse_class_info = false;

  private:
    ~Sample() override { gone_ = true; }
    bool refuses(REFIID iid) const noexcept override {
        return refuse_class_info && IsEqualIID(iid, IID_IProvideClassInfo2);
    }
    void* query_extra(REFIID iid) noexcept override {
        return IsEqualIID(iid, kExtraIid) ? identity() : nullptr;
    }

    bool& gone_;
};

TEST(ComObject, AnswersItsTableOnOneIdentity) {
    bool gone = false;
    const long live = ObjectCount::live();
    {
        ComPtr<IConnectionPointContainer> container(new Sample(gone));
        EXPECT_EQ(ObjectCount::live(), live + 1);
        ComPtr<IProvideClassInfo2> info2 = container.as<IProvideClassInfo2>();
        ComPtr<IProvideClassInfo> info = container.as<IProvideClassInfo>();
        ASSERT_TRUE(info2 && info);
        // The older interface is the start of the newer one: the same pointer.
        EXPECT_EQ(static_cast<IUnknown*>(info.get()), static_cast<IUnknown*>(info2.get()));
        EXPECT_EQ(container.as<IUnknown>(), info.as<IUnknown>());
        ComPtr<IUnknown> extra;
        EXPECT_EQ(container.query(kExtraIid, extra), S_OK);
        EXPECT_EQ(extra, container.as<IUnknown>());
        ComPtr<IPersist> missing;
        EXPECT_EQ(container.query(missing), E_NOINTERFACE);
        EXPECT_FALSE(missing);
        EXPECT_EQ(container->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
        static_cast<Sample*>(container.get())->refuse_class_info = true;
        EXPECT_FALSE(container.as<IProvideClassInfo2>());
        container.reset();
        EXPECT_FALSE(gone);  // the other holders keep it
    }
    EXPECT_TRUE(gone);
    EXPECT_EQ(ObjectCount::live(), live);
}

TEST(ComObject, CreateInstanceHandsOutOrFrees) {
    bool gone = false;
    void* out = nullptr;
    ASSERT_EQ(create_instance<Sample>(IID_IProvideClassInfo, &out, gone), S_OK);
    auto held = ComPtr<IProvideClassInfo>::adopt(static_cast<IProvideClassInfo*>(out));
    EXPECT_EQ(held->AddRef(), 2u);
    held->Release();
    held.reset();
    EXPECT_TRUE(gone);

    gone = false;
    EXPECT_EQ(create_instance<Sample>(IID_IPersist, &out, gone), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(gone);
}

TEST(ComObject, TheLastReleaseIsAnnounced) {
    int announced = 0;
    bool gone = false;
    ASSERT_EQ(ObjectCount::live(), 0);  // every earlier test released its objects
    ObjectCount::set_on_last_release([&] { ++announced; });
    ComPtr<IConnectionPointContainer> first(new Sample(gone));
    ComPtr<IConnectionPointContainer> second(new Sample(gone));
    first.reset();
    EXPECT_EQ(announced, 0);
    second.reset();
    EXPECT_EQ(announced, 1);
    ObjectCount::set_on_last_release(nullptr);
}

TEST(ComApartment, BalancesOnlyWhatItInitialised) {
    std::thread([] {
        {
            ComApartment mta(COINIT_MULTITHREADED);
            EXPECT_EQ(mta.result(), S_OK);
            ComApartment again(COINIT_MULTITHREADED);
            EXPECT_EQ(again.result(), S_FALSE);
            EXPECT_TRUE(again.initialised());
            ComApartment sta;
            EXPECT_EQ(sta.result(), RPC_E_CHANGED_MODE);
            EXPECT_FALSE(sta.initialised());
            EXPECT_TRUE(sta.usable());
        }
        // Every successful initialisation was balanced: the thread is out of COM again.
        ComApartment sta;
        EXPECT_EQ(sta.result(), S_OK);
    }).join();
}

}  // namespace
}  // namespace porvex::win
