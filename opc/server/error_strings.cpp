// The item server's default GetErrorString and its OPC message table.
#include <windows.h>

#include <array>
#include <string>

#include "opc/com/errors.h"
#include "opc/idl/opc_interfaces.h"
#include "opc/server/item_server.h"

namespace porvex::opc {
namespace {

struct TOpcMessage {
    HRESULT code;
    const wchar_t* text;
};

// The texts are returned exactly as written here, whatever the locale.
constexpr std::array<TOpcMessage, 16> kOpcMessages{{
    {OPC_S_UNSUPPORTEDRATE,
     L"The server does not support the requested data rate but will use the closest available "
     L"rate."},
    {OPC_S_CLAMP, L"A value passed to WRITE was accepted but the output was clamped."},
    {OPC_S_INUSE,
     L"The operation cannot be completed because the object still has references that exist."},
    {OPC_E_INVALIDHANDLE, L"The value of the handle is invalid."},
    // The resource text in the field is cut short like this; clients that show or
    // compare it see the same words as from earlier releases.
    {OPC_E_BADTYPE, L"requested data type and the canonical data type."},
    {OPC_E_PUBLIC, L"The requested operation cannot be done on a public group."},
    {OPC_E_BADRIGHTS, L"The Items AccessRights do not allow the operation."},
    {OPC_E_UNKNOWNITEMID, L"The item is no longer available in the server address space."},
    {OPC_E_INVALIDITEMID, L"The item definition doesn't conform to the server's syntax."},
    {OPC_E_INVALIDFILTER, L"The filter string was not valid."},
    {OPC_E_UNKNOWNPATH, L"The item's access path is not known to the server."},
    {OPC_E_RANGE, L"The value was out of range."},
    {OPC_E_DUPLICATENAME, L"Duplicate name not allowed."},
    {OPC_E_INVALIDCONFIG, L"The server's configuration file is an invalid format."},
    {OPC_E_NOTFOUND, L"The server could not locate the requested object."},
    {OPC_E_INVALID_PID, L"The server does not recognise the passed property ID."},
}};

class TLocalText {
  public:
    ~TLocalText() { LocalFree(text_); }
    LPWSTR* Put() noexcept { return &text_; }
    LPWSTR Get() const noexcept { return text_; }

  private:
    LPWSTR text_ = nullptr;
};

}  // namespace

void TOpcItemServer::GetErrorString(HRESULT code, LANGID locale, std::wstring& text) {
    text.clear();
    for (const TOpcMessage& m : kOpcMessages) {
        if (m.code == code) {
            text = m.text;
            return;
        }
    }
    // The system's message table. Inserts are left as they are: the engine has no
    // arguments to give them.
    TLocalText message;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), locale, reinterpret_cast<LPWSTR>(message.Put()), 0,
        nullptr);
    if (length == 0 || !message.Get()) {
        throw EOpcError(E_INVALIDARG);
    }
    text.assign(message.Get(), length);
}

}  // namespace porvex::opc
