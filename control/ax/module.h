// The control library as a module: its instance handle, its resources, and the count of
// live objects and locks that decides whether it may be unloaded.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

namespace tarnet::ax {

class Module {
  public:
    static Module& instance();

    void set_handle(HINSTANCE handle) { handle_ = handle; }
    HINSTANCE handle() const { return handle_; }
    std::wstring path() const;
    std::wstring load_string(UINT id) const;

    void add_object() { objects_.fetch_add(1); }
    void remove_object() { objects_.fetch_sub(1); }
    void lock(bool locked) { locks_.fetch_add(locked ? 1 : -1); }
    bool can_unload() const { return objects_.load() == 0 && locks_.load() <= 0; }
    long objects() const { return objects_.load(); }

  private:
    HINSTANCE handle_ = nullptr;
    std::atomic<long> objects_{0};
    std::atomic<long> locks_{0};
};

// Counts one live object of the module for its lifetime.
class ModuleObject {
  public:
    ModuleObject() { Module::instance().add_object(); }
    ~ModuleObject() { Module::instance().remove_object(); }
    ModuleObject(const ModuleObject&) = delete;
    ModuleObject& operator=(const ModuleObject&) = delete;
};

}  // namespace tarnet::ax
