// The registry entries that make a program a local COM server of one class, all under
// HKEY_CLASSES_ROOT (CLSID-TEXT is the class ID in braces, PROGID the ProgID):
//
//   CLSID\CLSID-TEXT                  description
//   CLSID\CLSID-TEXT\LocalServer32    the program's full path (its short form when the
//                                     path has a blank); no ThreadingModel value
//   PROGID                            description
//   PROGID\Clsid                      CLSID-TEXT
//   CLSID\CLSID-TEXT\ProgID           PROGID
//
// written in this order, and deleted in the order CLSID\CLSID-TEXT\ProgID, PROGID\Clsid,
// PROGID, CLSID\CLSID-TEXT\LocalServer32, CLSID\CLSID-TEXT. A key is only deleted when it
// has no subkeys: entries other components placed below these keys are never removed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "opc/com/errors.h"

namespace porvex::opc {

// A registry key could not be written or removed.
class ERegistrationError : public EOpcServer {
  public:
    ERegistrationError(std::wstring message, LONG error)
        : EOpcServer(std::move(message)), error_(error) {}
    LONG Error() const noexcept { return error_; }

  private:
    LONG error_;
};

struct TLocalServerClass {
    CLSID clsid{};
    std::wstring prog_id;
    std::wstring description;
    std::wstring server_path;  // as written to LocalServer32
};

// The path to write as LocalServer32 for a program path: its short form when it contains a
// blank (and the system has one), otherwise the path itself.
std::wstring LocalServerPath(const std::wstring& programPath);

// Writes the entries; ERegistrationError at the first key that cannot be written.
void RegisterLocalServerClass(const TLocalServerClass& entry);
// Deletes the entries that exist; the texts of the keys that could not be deleted.
std::vector<std::wstring> UnregisterLocalServerClass(const TLocalServerClass& entry);

}  // namespace porvex::opc
