// Test side of the control as a COM client sees it: the build tree's Tarnet.ocx, its
// registration, the control created by ProgID and called by name through IDispatch, and
// an IDispatch event sink on its connection point.
#pragma once

#include <windows.h>

#include <ocidl.h>
#include <oleauto.h>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "message_pump.h"
#include "win/com_apartment.h"
#include "win/com_ptr.h"

namespace tarnet::testing {

namespace win = porvex::win;

// The build tree's file bin/name as a Windows path (Z:\... under Wine).
std::wstring build_file(const std::string& name);
std::string build_file_narrow(const std::string& name);

// Registers Tarnet.ocx of the build tree (its DllRegisterServer).
HRESULT register_tarnet();

using porvex::win::ComApartment;

// A VARIANT value for calls and results (copyable, cleared when it goes).
class Value {
  public:
    Value() { ::VariantInit(&v_); }
    Value(short s) : Value() { V_VT(&v_) = VT_I2, V_I2(&v_) = s; }
    Value(int i) : Value() { V_VT(&v_) = VT_I4, V_I4(&v_) = i; }
    Value(const wchar_t* text) : Value() {
        V_VT(&v_) = VT_BSTR, V_BSTR(&v_) = ::SysAllocString(text);
    }
    Value(const std::wstring& text) : Value(text.c_str()) {}
    Value(const VARIANT& v) : Value() { ::VariantCopy(&v_, const_cast<VARIANT*>(&v)); }
    Value(const Value& other) : Value(other.v_) {}
    Value& operator=(const Value& other) {
        if (this != &other) {
            ::VariantCopy(&v_, const_cast<VARIANT*>(&other.v_));
        }
        return *this;
    }
    ~Value() { ::VariantClear(&v_); }

    VARTYPE type() const { return V_VT(&v_); }
    short as_short() const { return V_I2(&v_); }
    int as_long() const { return V_I4(&v_); }
    std::wstring as_text() const {
        return V_VT(&v_) == VT_BSTR && V_BSTR(&v_) != nullptr ? std::wstring(V_BSTR(&v_)) : L"";
    }
    VARIANT* get() { return &v_; }
    const VARIANT& raw() const { return v_; }

  private:
    VARIANT v_;
};

// The control as a script host sees it: members called by name.
class Control {
  public:
    // Created by ProgID (CLSIDFromProgID, then CoCreateInstance in process).
    static Control create();
    explicit Control(win::ComPtr<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}

    IDispatch* get() const { return dispatch_.get(); }
    template <class T>
    win::ComPtr<T> as(REFIID iid) const {
        return dispatch_.as<T>(iid);
    }

    // Calls a method (arguments in declaration order); throws on a failed HRESULT.
    Value call(const wchar_t* name, std::initializer_list<Value> args = {});
    // The HRESULT of a call with raw flags (for the dispatch checks).
    HRESULT invoke(DISPID id, WORD flags, std::vector<Value> args, Value* result = nullptr,
                   std::vector<DISPID> named = {}, UINT* arg_error = nullptr);
    DISPID id_of(const wchar_t* name);
    short get_port();
    void set_port(short port);

  private:
    win::ComPtr<IDispatch> dispatch_;
};

struct Event {
    DISPID id = 0;
    std::vector<Value> args;  // in declaration order
};

// An event sink: records every event; on_event lets a test act inside one.
class EventSink final : public IDispatch {
  public:
    static win::ComPtr<EventSink> create();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                     EXCEPINFO*, UINT*) override;

    // Advises on the control's connection point for _DTarnetEvents.
    HRESULT connect(const Control& control);
    void disconnect();

    std::vector<Event> events;
    std::function<void(const Event&)> on_event;
    std::size_t count(DISPID id) const;
    const Event* last(DISPID id) const;

  private:
    EventSink() = default;
    ~EventSink() = default;
    std::atomic<ULONG> refs_{1};
    win::ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

}  // namespace tarnet::testing
