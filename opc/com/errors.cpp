#include "opc/com/errors.h"

#include <cstdio>
#include <new>

#include "opc/com/text.h"
#include "win/com_error.h"

namespace porvex::opc {
namespace {

std::wstring CodeText(HRESULT code) {
    wchar_t buffer[32];
    std::swprintf(buffer, 32, L"0x%08lX", static_cast<unsigned long>(code));
    return buffer;
}

}  // namespace

EOpcError::EOpcError(HRESULT code, std::wstring message)
    : code_(code), message_(std::move(message)) {
    utf8_ = "OPC error " + Utf8FromWide(CodeText(code));
    if (!message_.empty()) {
        utf8_ += ": " + Utf8FromWide(message_);
    }
}

EOpcServer::EOpcServer(std::wstring message)
    : message_(std::move(message)), utf8_(Utf8FromWide(message_)) {}

void RaiseOpcError(HRESULT code) { throw EOpcError(code); }

bool IsClientGone(HRESULT code) noexcept {
    // HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE): the client's process is gone.
    constexpr HRESULT kRpcServerUnavailable = static_cast<HRESULT>(0x800706BAL);
    switch (code) {
        case RPC_E_DISCONNECTED:
        case RPC_E_SERVER_DIED:
        case RPC_E_SERVER_DIED_DNE:
        case CO_E_OBJNOTCONNECTED:
        case kRpcServerUnavailable:
            return true;
        default:
            return false;
    }
}

HRESULT ResultOfException(const std::exception_ptr& error) noexcept {
    try {
        std::rethrow_exception(error);
    } catch (const EOpcError& e) {
        return SUCCEEDED(e.Code()) ? E_FAIL : e.Code();
    } catch (const win::ComError& e) {
        return SUCCEEDED(e.code()) ? E_FAIL : e.code();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

std::wstring DescribeException(const std::exception_ptr& error) {
    if (!error) {
        return L"no exception";
    }
    try {
        std::rethrow_exception(error);
    } catch (const EOpcError& e) {
        return e.Message().empty() ? L"OPC error " + CodeText(e.Code())
                                   : e.Message() + L" (" + CodeText(e.Code()) + L")";
    } catch (const EOpcServer& e) {
        return e.Message();
    } catch (const win::ComError& e) {
        return WideFromUtf8(e.what()) + L" (" + CodeText(e.code()) + L")";
    } catch (const std::exception& e) {
        return WideFromUtf8(e.what());
    } catch (...) {
        return L"unknown exception";
    }
}

}  // namespace porvex::opc
