// An owned VARIANT, cleared by the destructor.
#pragma once

#include <windows.h>

#include <oleauto.h>

namespace tarnet::com {

class Variant {
  public:
    Variant() { ::VariantInit(&v_); }
    ~Variant() { ::VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }
    VARIANT* operator->() { return &v_; }
    const VARIANT* operator->() const { return &v_; }
    void clear() { ::VariantClear(&v_); }

  private:
    VARIANT v_;
};

}  // namespace tarnet::com
