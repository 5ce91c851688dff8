// The owners of Win32 resources: each frees its resource exactly once, hands it away on
// request, and treats its own kind of "none" as empty.
#include <gtest/gtest.h>

#include "win/bstr.h"
#include "win/global_memory.h"
#include "win/task_memory.h"
#include "win/unique_any.h"
#include "win/unique_socket.h"
#include "win/variant.h"

namespace porvex::win {
namespace {

bool is_open(HANDLE h) {
    DWORD flags = 0;
    return ::GetHandleInformation(h, &flags) != FALSE;
}

TEST(UniqueHandle, ClosesOnceAndHandsAwayOnRequest) {
    HANDLE raw = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE kept = nullptr;
    {
        UniqueHandle event(raw);
        ASSERT_TRUE(event);
        UniqueHandle moved = std::move(event);
        EXPECT_FALSE(event);
        EXPECT_TRUE(is_open(moved.get()));
        UniqueHandle other(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        kept = other.release();
    }
    EXPECT_FALSE(is_open(raw));
    EXPECT_TRUE(is_open(kept));
    ::CloseHandle(kept);
}

TEST(UniqueHandle, EachFlavourKnowsItsNone) {
    EXPECT_FALSE(UniqueFileHandle(INVALID_HANDLE_VALUE));
    EXPECT_FALSE(UniqueHandle(nullptr));
    UniqueFileHandle missing(
        ::CreateFileW(L"Z:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(missing);
    EXPECT_FALSE(UniqueSocket());
}

TEST(TaskMemory, ArraysReleaseWhatTheirElementsOwnUnlessHandedOut) {
    VARIANT* kept = nullptr;
    {
        TaskArray<VARIANT> values(2);
        EXPECT_EQ(values[0].vt, VT_EMPTY);
        Variant::string(L"freed with the array").move_to(values[0]);
        TaskArray<VARIANT> handed(1);
        Variant::string(L"the caller's").move_to(handed[0]);
        kept = handed.detach();
        EXPECT_EQ(handed.get(), nullptr);
    }
    ASSERT_NE(kept, nullptr);
    EXPECT_STREQ(kept[0].bstrVal, L"the caller's");
    ::VariantClear(&kept[0]);
    ::CoTaskMemFree(kept);
    EXPECT_THROW(TaskArray<VARIANT>(SIZE_MAX / 8), std::bad_alloc);
    EXPECT_EQ(TaskArray<HRESULT>(0).get(), nullptr);

    // A received array of strings goes with its strings.
    auto* received = static_cast<LPWSTR*>(::CoTaskMemAlloc(2 * sizeof(LPWSTR)));
    ASSERT_NE(received, nullptr);
    received[0] = task_string(L"first").release();
    received[1] = nullptr;
    EXPECT_STREQ(TaskArray<LPWSTR>::adopt(received, 2)[0], L"first");

    UniqueCoTaskMem<wchar_t> s = task_string(L"abc");
    EXPECT_STREQ(s.get(), L"abc");
    EXPECT_STREQ(task_string(L"").get(), L"");
    ::CoTaskMemFree(s.release());
}

TEST(GlobalMemory, LockedWhileTheScopeLives) {
    UniqueHglobal block = global_alloc(4);
    {
        GlobalLockScope lock(block.get());
        ASSERT_NE(lock.data(), nullptr);
        EXPECT_GE(lock.size(), 4u);
    }
    EXPECT_EQ(GlobalLockScope(nullptr).data(), nullptr);
}

TEST(Variant, CopiesDeepMovesShallowAndConverts) {
    Variant a = Variant::string(L"12");
    Variant b = a;
    EXPECT_NE(a->bstrVal, b->bstrVal);
    EXPECT_STREQ(b->bstrVal, L"12");
    Variant c = std::move(a);
    EXPECT_EQ(a.type(), VT_EMPTY);
    Variant number;
    EXPECT_EQ(c.convert_to(VT_I4, number), S_OK);
    EXPECT_EQ(number->lVal, 12);
    Variant bad;
    EXPECT_EQ(Variant::string(L"x").convert_to(VT_I4, bad), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(sizeof(Variant), sizeof(VARIANT));
}

TEST(Bstr, OwnsItsStringAndAdoptsOutArguments) {
    Bstr s(L"door");
    EXPECT_EQ(s.view(), L"door");
    Bstr moved = std::move(s);
    EXPECT_EQ(s.get(), nullptr);
    EXPECT_EQ(moved.view(), L"door");
    Bstr out;
    *out.put() = ::SysAllocString(L"from a call");
    EXPECT_EQ(out.length(), 11u);
    EXPECT_EQ(Bstr().view(), L"");
}

}  // namespace
}  // namespace porvex::win
