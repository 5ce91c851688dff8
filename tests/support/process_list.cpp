#include "process_list.h"

#include <tlhelp32.h>

namespace ctlsim::testing {

std::vector<DWORD> ProcessesNamed(const wchar_t* exe_name) {
    std::vector<DWORD> out;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return out;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, exe_name) == 0) {
            out.push_back(entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return out;
}

}  // namespace ctlsim::testing
