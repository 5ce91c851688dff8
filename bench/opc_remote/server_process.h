// What the benchmark reads about the server's process: its CPU time and resident memory.
//
// Under Wine, GetProcessTimes on another process reports a third to two thirds less CPU than
// the kernel counts for the same window, so there the figures come from /proc of the Wine
// process (found by the server program's path in its command line); GetProcessTimes is read
// as well, for comparison. On Windows both come from the Windows process.
#pragma once

#include <windows.h>

#include <string>

namespace porvex::bench {

bool UnderWine();

class TServerProcess {
  public:
    // program: the full path of the server's executable (its Wine process is found by it).
    explicit TServerProcess(const std::wstring& program);
    TServerProcess(const TServerProcess&) = delete;
    TServerProcess& operator=(const TServerProcess&) = delete;
    ~TServerProcess();

    // The Linux process ID of the Wine process (0 when not under Wine or not found).
    int LinuxPid() const noexcept { return linux_pid_; }
    // The server's Windows process ID, for GetProcessTimes.
    void SetWindowsPid(DWORD pid);
    // CPU seconds (user + system) from /proc under Wine (the scheduler's nanoseconds of
    // every thread, or 10 ms ticks of the process when those are not there), otherwise
    // from GetProcessTimes; -1 when unknown.
    double CpuSeconds() const;
    // CPU seconds as GetProcessTimes reports them.
    double CpuSecondsReportedBySystem() const;
    // Resident memory in bytes: VmRSS under Wine, the working set otherwise; 0 when unknown.
    double ResidentBytes() const;

  private:
    int linux_pid_ = 0;
    HANDLE process_ = nullptr;
};

// The Linux process ID of the running Wine process whose command line names program.
int FindWineProcess(const std::wstring& program);

// This process's CPU seconds (user + system): the scheduler's time of its threads under
// Wine, GetProcessTimes otherwise; -1 when unknown.
double OwnCpuSeconds();

}  // namespace porvex::bench
