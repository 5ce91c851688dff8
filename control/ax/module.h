// The control library as a module: its instance handle, its resources, and the count of
// live objects and locks that decides whether it may be unloaded.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "win/com_object.h"

namespace tarnet::ax {

class Module {
  public:
    static Module& instance();

    void set_handle(HINSTANCE handle) { handle_ = handle; }
    HINSTANCE handle() const { return handle_; }
    std::wstring path() const;
    std::wstring load_string(UINT id) const;

    void lock(bool locked) { locks_.fetch_add(locked ? 1 : -1); }
    bool can_unload() const { return objects() == 0 && locks_.load() <= 0; }
    // Live COM objects: every object of the library is a win::ComObject, which counts
    // itself.
    long objects() const { return porvex::win::ObjectCount::live(); }

  private:
    HINSTANCE handle_ = nullptr;
    std::atomic<long> locks_{0};
};

}  // namespace tarnet::ax
