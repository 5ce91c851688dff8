// The engine's COM support: the error boundary, the RAII holders and the text rules.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "opc/com/boundary.h"
#include "opc/com/bstr.h"
#include "opc/com/com_object.h"
#include "opc/com/com_ptr.h"
#include "opc/com/errors.h"
#include "opc/com/log.h"
#include "opc/com/task_mem.h"
#include "opc/com/text.h"
#include "opc/com/variant.h"
#include "opc/idl/opc_interfaces.h"

namespace porvex::opc::test {
namespace {

TEST(Boundary, ExceptionsBecomeResults) {
    std::vector<std::wstring> logged;
    TLogSink previous = SetLogSink([&](std::wstring_view line) { logged.emplace_back(line); });
    EXPECT_EQ(OpcBoundary("m", []() -> HRESULT { throw EOpcError(OPC_E_BADRIGHTS); }),
              OPC_E_BADRIGHTS);
    // A success code carried by an exception is no success.
    EXPECT_EQ(OpcBoundary("m", []() -> HRESULT { throw EOpcError(S_FALSE); }), E_FAIL);
    EXPECT_EQ(OpcBoundary("m", []() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    EXPECT_EQ(OpcBoundary("m", []() -> HRESULT { throw std::runtime_error("odd"); }), E_FAIL);
    EXPECT_EQ(OpcBoundary("m", []() -> HRESULT { throw 42; }), E_FAIL);
    EXPECT_EQ(OpcBoundary("m", []() -> HRESULT { return S_FALSE; }), S_FALSE);
    SetLogSink(std::move(previous));
    // Only what the client cannot learn from the code is logged.
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(logged[1], L"m failed: odd");
}

TEST(Boundary, ExceptionsDescribeThemselves) {
    EXPECT_EQ(DescribeException(std::make_exception_ptr(EOpcServer(L"OPCSERV: No item server"))),
              L"OPCSERV: No item server");
    EXPECT_EQ(DescribeException(std::make_exception_ptr(EOpcError(E_FAIL, L"why"))),
              L"why (0x80004005)");
    EXPECT_EQ(DescribeException(std::make_exception_ptr(std::runtime_error("plain"))), L"plain");
    EXPECT_EQ(std::string(EOpcServer(L"门禁").what()), "门禁");
}

TEST(TaskArray, ReleasesWhatItsElementsOwnUnlessHandedOut) {
    VARIANT* kept = nullptr;
    {
        TTaskArray<VARIANT> values(2);
        EXPECT_EQ(values[0].vt, VT_EMPTY);
        TVariant::String(L"freed with the array").MoveTo(values[0]);
        TTaskArray<VARIANT> handed(1);
        TVariant::String(L"the caller's").MoveTo(handed[0]);
        kept = handed.Detach();
        EXPECT_EQ(handed.Get(), nullptr);
    }
    ASSERT_NE(kept, nullptr);
    EXPECT_STREQ(kept[0].bstrVal, L"the caller's");
    VariantClear(&kept[0]);
    CoTaskMemFree(kept);
    EXPECT_THROW(TTaskArray<OPCITEMSTATE>(SIZE_MAX / 8), std::bad_alloc);
    TTaskArray<HRESULT> none(0);
    EXPECT_EQ(none.Get(), nullptr);
}

TEST(TaskString, CopiesWithTheTerminator) {
    TTaskString s(L"abc");
    EXPECT_STREQ(s.Get(), L"abc");
    LPWSTR out = s.Detach();
    EXPECT_EQ(s.Get(), nullptr);
    CoTaskMemFree(out);
    TTaskString empty(L"");
    EXPECT_STREQ(empty.Get(), L"");
}

TEST(Variant, CopiesDeepMovesShallowAndConverts) {
    TVariant a = TVariant::String(L"12");
    TVariant b = a;
    EXPECT_NE(a.Get().bstrVal, b.Get().bstrVal);
    EXPECT_STREQ(b.Get().bstrVal, L"12");
    TVariant c = std::move(a);
    EXPECT_EQ(a.Type(), VT_EMPTY);
    TVariant number;
    EXPECT_EQ(c.ConvertTo(VT_I4, number), S_OK);
    EXPECT_EQ(number.Get().lVal, 12);
    TVariant bad;
    EXPECT_EQ(TVariant::String(L"x").ConvertTo(VT_I4, bad), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(sizeof(TVariant), sizeof(VARIANT));
}

TEST(Bstr, OwnsItsString) {
    TBstr s(L"door");
    EXPECT_EQ(s.View(), L"door");
    TBstr moved = std::move(s);
    EXPECT_EQ(s.Get(), nullptr);
    EXPECT_EQ(moved.View(), L"door");
}

class TCounted final : public TComObject<IOPCShutdown> {
  public:
    static TCounted* Make(bool& gone) { return new TCounted(gone); }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR) noexcept override { return S_OK; }

  private:
    explicit TCounted(bool& gone) : gone_(gone) {}
    ~TCounted() override { gone_ = true; }
    bool& gone_;
};

TEST(ComObjects, ReferencesAndInterfaces) {
    bool gone = false;
    const long live = TComObjectCount::Live();
    {
        TComPtr<IOPCShutdown> sink(TCounted::Make(gone));
        EXPECT_EQ(TComObjectCount::Live(), live + 1);
        TComPtr<IUnknown> unknown;
        ASSERT_EQ(sink.As(unknown), S_OK);
        TComPtr<IOPCCommon> refused;
        EXPECT_EQ(sink.As(refused), E_NOINTERFACE);
        EXPECT_FALSE(refused);
        EXPECT_EQ(sink->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
        TComPtr<IOPCShutdown> copy = sink;
        sink.Reset();
        EXPECT_FALSE(gone);
    }
    EXPECT_TRUE(gone);
    EXPECT_EQ(TComObjectCount::Live(), live);
}

TEST(ComObjects, TheLastReleaseIsAnnounced) {
    int announced = 0;
    bool gone = false;
    ASSERT_EQ(TComObjectCount::Live(), 0);  // every earlier test released its objects
    TComObjectCount::SetOnLastRelease([&] { ++announced; });
    TComPtr<IOPCShutdown> first(TCounted::Make(gone));
    TComPtr<IOPCShutdown> second(TCounted::Make(gone));
    first.Reset();
    EXPECT_EQ(announced, 0);
    second.Reset();
    EXPECT_EQ(announced, 1);
    TComObjectCount::SetOnLastRelease(nullptr);
}

TEST(Text, FoldingTrimmingAndUtf8) {
    EXPECT_EQ(FoldCase(L"Door.state"), L"DOOR.STATE");
    EXPECT_TRUE(EqualNoCase(L"Ärger", L"äRGER"));
    EXPECT_FALSE(EqualNoCase(L"a", L"ab"));
    EXPECT_EQ(TrimBlanks(L" \t group \r\n"), L"group");
    EXPECT_EQ(TrimBlanks(L"   "), L"");
    EXPECT_EQ(WideFromUtf8(Utf8FromWide(L"门禁状态")), L"门禁状态");
}

}  // namespace
}  // namespace porvex::opc::test
