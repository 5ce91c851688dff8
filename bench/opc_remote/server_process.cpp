#include "server_process.h"

#include <psapi.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "opc/com/text.h"

namespace porvex::bench {
namespace {

// The whole of a small /proc file (its size reads as 0, so it is read to its end).
std::string ReadProcFile(int pid, const wchar_t* name) {
    wchar_t path[64];
    std::swprintf(path, 64, L"Z:\\proc\\%d\\%ls", pid, name);
    std::string text;
    if (std::FILE* file = _wfopen(path, L"rb")) {
        char buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            text.append(buffer, got);
        }
        std::fclose(file);
    }
    return text;
}

// A Windows path in the form Wine shows it to Linux (Z:\a\b -> /a/b), lower case.
std::string LinuxForm(const std::wstring& path) {
    std::string text = opc::Utf8FromWide(path);
    if (text.size() > 2 && (text[0] == 'Z' || text[0] == 'z') && text[1] == ':') {
        text.erase(0, 2);
    }
    for (char& c : text) {
        c = c == '\\' ? '/' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

double Seconds(const FILETIME& t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime) /
           1e7;
}

}  // namespace

bool UnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

int FindWineProcess(const std::wstring& program) {
    const std::string wanted = LinuxForm(program);
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    int pid = 0;
    do {
        const int candidate = std::wcstol(found.cFileName, nullptr, 10);
        if (candidate <= 0) {
            continue;
        }
        std::string line = ReadProcFile(candidate, L"cmdline");
        line = line.substr(0, line.find('\0'));  // the program, without its arguments
        if (!line.empty() && LinuxForm(opc::WideFromUtf8(line)).find(wanted) != std::string::npos) {
            pid = candidate;
        }
    } while (pid == 0 && FindNextFileW(search, &found));
    FindClose(search);
    return pid;
}

TServerProcess::TServerProcess(const std::wstring& program) {
    if (UnderWine()) {
        linux_pid_ = FindWineProcess(program);
    }
}

void TServerProcess::SetWindowsPid(DWORD pid) {
    if (process_) {
        CloseHandle(process_);
    }
    process_ = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
}

namespace {

// The CPU time of every thread of a process as the scheduler counts it (the first number
// of each thread's schedstat, in nanoseconds); -1 when not there. Threads that ended are
// not counted: the benchmark reads it across windows in which the server's threads stay.
double SchedulerSeconds(int pid) {
    wchar_t pattern[64];
    std::swprintf(pattern, 64, L"Z:\\proc\\%d\\task\\*", pid);
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return -1;
    }
    double total = 0;
    bool any = false;
    do {
        const int thread = std::wcstol(found.cFileName, nullptr, 10);
        if (thread <= 0) {
            continue;
        }
        wchar_t name[48];
        std::swprintf(name, 48, L"task\\%d\\schedstat", thread);
        const std::string text = ReadProcFile(pid, name);
        if (!text.empty()) {
            total += std::strtod(text.c_str(), nullptr) / 1e9;
            any = true;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return any ? total : -1;
}

}  // namespace

TServerProcess::~TServerProcess() {
    if (process_) {
        CloseHandle(process_);
    }
}

double TServerProcess::CpuSeconds() const {
    if (!linux_pid_) {
        return CpuSecondsReportedBySystem();
    }
    if (const double scheduled = SchedulerSeconds(linux_pid_); scheduled >= 0) {
        return scheduled;
    }
    // Fields 14 and 15 (user, system ticks) follow the command name in parentheses.
    const std::string stat = ReadProcFile(linux_pid_, L"stat");
    const std::size_t end = stat.rfind(')');
    if (end == std::string::npos) {
        return -1;
    }
    const char* p = stat.c_str() + end + 2;
    for (int field = 3; field < 14 && *p; ++field) {
        p = std::strchr(p, ' ');
        p = p ? p + 1 : "";
    }
    char* next = nullptr;
    const double user = std::strtod(p, &next);
    const double system = std::strtod(next, nullptr);
    return (user + system) / 100.0;  // USER_HZ
}

double TServerProcess::CpuSecondsReportedBySystem() const {
    FILETIME created{}, ended{}, kernel{}, user{};
    if (!process_ || !GetProcessTimes(process_, &created, &ended, &kernel, &user)) {
        return -1;
    }
    return Seconds(kernel) + Seconds(user);
}

double TServerProcess::ResidentBytes() const {
    if (linux_pid_) {
        const std::string status = ReadProcFile(linux_pid_, L"status");
        const std::size_t at = status.find("VmRSS:");
        return at == std::string::npos ? 0 : std::strtod(status.c_str() + at + 6, nullptr) * 1024;
    }
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!process_ || !GetProcessMemoryInfo(process_, &counters, sizeof counters)) {
        return 0;
    }
    return static_cast<double>(counters.WorkingSetSize);
}

double OwnCpuSeconds() {
    if (UnderWine()) {
        // The Wine process's own Linux process ID is the first field of /proc/self/stat.
        static const int pid = [] {
            int own = 0;
            if (std::FILE* file = _wfopen(L"Z:\\proc\\self\\stat", L"rb")) {
                if (std::fscanf(file, "%d", &own) != 1) {
                    own = 0;
                }
                std::fclose(file);
            }
            return own;
        }();
        if (pid > 0) {
            if (const double scheduled = SchedulerSeconds(pid); scheduled >= 0) {
                return scheduled;
            }
        }
    }
    FILETIME created{}, ended{}, kernel{}, user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) {
        return -1;
    }
    return Seconds(kernel) + Seconds(user);
}

}  // namespace porvex::bench
