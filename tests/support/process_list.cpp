#include "process_list.h"

#include <tlhelp32.h>

#include "win/unique_any.h"

namespace ctlsim::testing {

std::vector<DWORD> ProcessesNamed(const wchar_t* exe_name) {
    std::vector<DWORD> out;
    porvex::win::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return out;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, exe_name) == 0) {
            out.push_back(entry.th32ProcessID);
        }
    }
    return out;
}

}  // namespace ctlsim::testing
