// The engine's COM support: the error boundary and the text rules (the RAII holders of
// win/ have their tests in tests/win).
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "opc/com/boundary.h"
#include "opc/com/errors.h"
#include "opc/com/log.h"
#include "opc/com/text.h"
#include "opc/idl/opc_interfaces.h"
#include "win/com_error.h"

namespace porvex::opc::test {
namespace {

TEST(Boundary, ExceptionsBecomeResults) {
    std::vector<std::wstring> logged;
    TLogSink previous = SetLogSink([&](std::wstring_view line) { logged.emplace_back(line); });
    EXPECT_EQ(OpcBoundary("m", []() -> HRESULT { throw EOpcError(OPC_E_BADRIGHTS); }),
              OPC_E_BADRIGHTS);
    // A success code carried by an exception is no success.
    EXPECT_EQ(OpcBoundary("m", []() -> HRESULT { throw EOpcError(S_FALSE); }), E_FAIL);
    // A failed system call inside a holder of win/ gives the client the system's code.
    EXPECT_EQ(OpcBoundary("m", []() -> HRESULT { throw win::ComError(DISP_E_BADVARTYPE); }),
              DISP_E_BADVARTYPE);
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
