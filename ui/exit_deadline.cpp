#include "ui/exit_deadline.h"

#include <string>
#include <system_error>

namespace porvex::ui {

TExitDeadline::TExitDeadline(TFileLog& log) : log_(log) {
    finished_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!finished_) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "the exit deadline's event");
    }
}

TExitDeadline::~TExitDeadline() {
    SetEvent(finished_);
    if (watchdog_.joinable()) {
        watchdog_.join();
    }
    CloseHandle(finished_);
}

void TExitDeadline::Arm(DWORD boundMs) {
    if (armed_.exchange(true)) {
        return;
    }
    watchdog_ = std::thread([this, boundMs] {
        if (WaitForSingleObject(finished_, boundMs) != WAIT_TIMEOUT) {
            return;
        }
        log_.Line(L"ending: the program did not end within " + std::to_wstring(boundMs) +
                  L" ms of the exit; the process is ended");
        TerminateProcess(GetCurrentProcess(), kExitCode);
    });
}

}  // namespace porvex::ui
