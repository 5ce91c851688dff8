// The engine's one error policy. Inside the engine failures are exceptions:
//   EOpcError   carries an OPC or COM result code that is returned to the client unchanged;
//   EOpcServer  misuse of the engine (no item server, a second instance, a bad namespace);
//   EListError  a namespace list refused an entry (duplicate item ID).
// Every COM method turns them into its HRESULT at its boundary (opc/com/boundary.h).
#pragma once

#include <windows.h>

#include <exception>
#include <string>

namespace porvex::opc {

class EOpcError : public std::exception {
  public:
    explicit EOpcError(HRESULT code, std::wstring message = {});
    HRESULT Code() const noexcept { return code_; }
    const std::wstring& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

  private:
    HRESULT code_;
    std::wstring message_;
    std::string utf8_;
};

class EOpcServer : public std::exception {
  public:
    explicit EOpcServer(std::wstring message);
    const std::wstring& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

  private:
    std::wstring message_;
    std::string utf8_;
};

class EListError : public EOpcServer {
  public:
    using EOpcServer::EOpcServer;
};

// Raises EOpcError with the code.
[[noreturn]] void RaiseOpcError(HRESULT code);

// Raises EOpcError when the code is a failure.
inline void CheckResult(HRESULT code) {
    if (FAILED(code)) {
        RaiseOpcError(code);
    }
}

// Whether a failed call into a client's sink says that the client can no longer be reached
// (its process ended, or it disconnected the object): such a sink is never called again.
bool IsClientGone(HRESULT code) noexcept;

// The result a COM method returns for an exception: the code of an EOpcError or a
// win::ComError (E_FAIL when that code is a success code), E_OUTOFMEMORY for an allocation failure,
// E_FAIL otherwise.
HRESULT ResultOfException(const std::exception_ptr& error) noexcept;

// Readable text of an exception for logs and the item server's exception handler.
std::wstring DescribeException(const std::exception_ptr& error);

}  // namespace porvex::opc
