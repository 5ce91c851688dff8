#include "com_support.h"

#include <cstdlib>
#include <functional>
#include <stdexcept>

#include "identifiers.h"
#include "system_text.h"

namespace tarnet::testing {

std::string build_file_narrow(const std::string& name) {
    const char* dir = std::getenv("PORVEX_BUILD_DIR");
    std::string path = std::string(dir != nullptr ? dir : ".") + "/bin/" + name;
    if (path.starts_with('/')) {
        path = "Z:" + path;  // Wine maps the Unix root to Z:
    }
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

std::wstring build_file(const std::string& name) {
    return ax::widen_system_text(build_file_narrow(name));
}

HRESULT register_tarnet() {
    HMODULE module = ::LoadLibraryW(build_file("Tarnet.ocx").c_str());
    if (module == nullptr) {
        return HRESULT_FROM_WIN32(::GetLastError());
    }
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto entry = reinterpret_cast<Entry>(
        reinterpret_cast<void*>(::GetProcAddress(module, "DllRegisterServer")));
    const HRESULT hr = entry != nullptr ? entry() : E_NOINTERFACE;
    ::FreeLibrary(module);
    return hr;
}

Control Control::create() {
    CLSID clsid;
    HRESULT hr = ::CLSIDFromProgID(kControlProgId, &clsid);
    if (FAILED(hr)) {
        throw std::runtime_error("CLSIDFromProgID failed: " + std::to_string(hr));
    }
    win::ComPtr<IDispatch> dispatch;
    hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                            dispatch.put_void());
    if (FAILED(hr)) {
        throw std::runtime_error("CoCreateInstance failed: " + std::to_string(hr));
    }
    return Control(std::move(dispatch));
}

DISPID Control::id_of(const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    const HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        throw std::runtime_error("no member " + ax::to_system_text(std::wstring_view(name)));
    }
    return id;
}

HRESULT Control::invoke(DISPID id, WORD flags, std::vector<Value> args, Value* result,
                        std::vector<DISPID> named, UINT* arg_error) {
    std::vector<VARIANT> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it) {
        reversed.push_back(it->raw());
    }
    DISPPARAMS params{reversed.data(), named.data(), static_cast<UINT>(reversed.size()),
                      static_cast<UINT>(named.size())};
    Value scratch;
    UINT error_arg = 0;
    const HRESULT hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                         result != nullptr ? result->get() : scratch.get(), nullptr,
                                         arg_error != nullptr ? arg_error : &error_arg);
    return hr;
}

Value Control::call(const wchar_t* name, std::initializer_list<Value> args) {
    Value result;
    const HRESULT hr = invoke(id_of(name), DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                              std::vector<Value>(args), &result);
    if (FAILED(hr)) {
        throw std::runtime_error("call failed: " + std::to_string(hr));
    }
    return result;
}

short Control::get_port() {
    Value result;
    if (FAILED(invoke(id_of(L"DefaultPort"), DISPATCH_PROPERTYGET, {}, &result))) {
        throw std::runtime_error("DefaultPort get failed");
    }
    return result.as_short();
}

void Control::set_port(short port) {
    if (FAILED(invoke(id_of(L"DefaultPort"), DISPATCH_PROPERTYPUT, {Value(port)}, nullptr,
                      {DISPID_PROPERTYPUT}))) {
        throw std::runtime_error("DefaultPort put failed");
    }
}

win::ComPtr<EventSink> EventSink::create() {
    return win::ComPtr<EventSink>::adopt(new EventSink());
}

HRESULT EventSink::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID__DTarnetEvents) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG EventSink::Release() {
    const ULONG left = --refs_;
    if (left == 0) {
        delete this;
    }
    return left;
}

HRESULT EventSink::GetTypeInfoCount(UINT* count) {
    *count = 0;
    return S_OK;
}
HRESULT EventSink::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT EventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                          UINT*) {
    Event event;
    event.id = id;
    for (UINT i = params->cArgs; i-- > 0;) {
        event.args.emplace_back(params->rgvarg[i]);
    }
    events.push_back(event);
    if (on_event) {
        on_event(event);
    }
    return S_OK;
}

HRESULT EventSink::connect(const Control& control) {
    auto container = control.as<IConnectionPointContainer>(IID_IConnectionPointContainer);
    if (!container) {
        return E_NOINTERFACE;
    }
    HRESULT hr = container->FindConnectionPoint(DIID__DTarnetEvents, point_.put());
    if (SUCCEEDED(hr)) {
        hr = point_->Advise(static_cast<IDispatch*>(this), &cookie_);
    }
    return hr;
}

void EventSink::disconnect() {
    if (point_ && cookie_ != 0) {
        point_->Unadvise(cookie_);
    }
    point_.reset();
    cookie_ = 0;
}

std::size_t EventSink::count(DISPID id) const {
    std::size_t n = 0;
    for (const auto& e : events) {
        n += e.id == id ? 1 : 0;
    }
    return n;
}

const Event* EventSink::last(DISPID id) const {
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
        if (it->id == id) {
            return &*it;
        }
    }
    return nullptr;
}

}  // namespace tarnet::testing
