// The OPC entries of a server class, made after the class's own entries:
//   - the component categories "OPC Data Access Servers Version 2.0" and "... Version 1.0"
//     registered (with the user's default locale) and claimed by the class, through the
//     system's component categories manager (ICatRegister);
//   - PROGID\Opc\Vendor with the vendor text, written only when PROGID\Opc does not exist
//     yet (a vendor text already there is kept).
// Unregistering takes back the class's claim (the categories stay registered for other
// servers) and deletes PROGID\Opc\Vendor and PROGID\Opc.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace porvex::opc {

// A component category an OPC server class claims, with the text it is registered with.
struct TOpcCategory {
    GUID id;  // CATID
    std::wstring description;
};

// The two Data Access categories (the default of the functions below).
std::vector<TOpcCategory> DataAccessCategories();

// EOpcError with the system's code when the categories cannot be registered or claimed;
// failures to write the vendor keys are ignored.
void RegisterOpcEntries(const CLSID& clsid, const std::wstring& progId, const std::wstring& vendor,
                        const std::vector<TOpcCategory>& categories = DataAccessCategories());
// EOpcError when the claim cannot be taken back.
void UnregisterOpcEntries(const CLSID& clsid, const std::wstring& progId,
                          const std::vector<TOpcCategory>& categories = DataAccessCategories());

}  // namespace porvex::opc
