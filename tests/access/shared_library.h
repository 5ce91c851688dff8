// Loads a shared library by name and looks its exports up by name, as a host does
// (LoadLibrary/GetProcAddress on Windows, dlopen/dlsym elsewhere).
#pragma once

#include <string>

namespace zorvik::access::testing {

class SharedLibrary {
  public:
    explicit SharedLibrary(const std::string& path);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    void* symbol(const char* name) const;
    template <class Fn>
    Fn function(const char* name) const {
        return reinterpret_cast<Fn>(symbol(name));
    }

  private:
    void* handle_ = nullptr;
};

}  // namespace zorvik::access::testing
