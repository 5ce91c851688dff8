#include "ui/single_door_server.h"

#include <system_error>

namespace porvex::ui {

const wchar_t TSingleDoorServer::kMutexName[] = L"Local\\Porvex398.DoorServer";
const wchar_t TSingleDoorServer::kServingEventName[] = L"Local\\Porvex398.Serving";

namespace {

HANDLE Check(HANDLE handle, const char* what) {
    if (!handle) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), what);
    }
    return handle;
}

}  // namespace

TSingleDoorServer::TSingleDoorServer() {
    mutex_.reset(Check(CreateMutexW(nullptr, FALSE, kMutexName), "the door server mutex"));
    // Manual reset: set for as long as the owner serves, seen by every waiting copy.
    serving_.reset(Check(CreateEventW(nullptr, TRUE, FALSE, kServingEventName),
                         "the door server's serving event"));
}

TSingleDoorServer::~TSingleDoorServer() {
    if (owner_) {
        ResetEvent(serving_.get());
        ReleaseMutex(mutex_.get());
    }
}

TSingleDoorServer::TClaim TSingleDoorServer::Claim(DWORD timeoutMs) {
    if (owner_) {
        return TClaim::Owner;
    }
    // The mutex comes first: when both are signalled (the owner ended without withdrawing
    // its signal) this copy takes over rather than handing over to nobody.
    const HANDLE handles[2] = {mutex_.get(), serving_.get()};
    const DWORD waited = WaitForMultipleObjects(2, handles, FALSE, timeoutMs);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED_0) {
        owner_ = true;
        ResetEvent(serving_.get());  // a signal left by an owner that ended abruptly
        return TClaim::Owner;
    }
    if (waited == WAIT_OBJECT_0 + 1) {
        return TClaim::OtherServing;
    }
    return TClaim::TimedOut;
}

void TSingleDoorServer::SetServing(bool serving) noexcept {
    if (!owner_) {
        return;
    }
    if (serving) {
        SetEvent(serving_.get());
    } else {
        ResetEvent(serving_.get());
    }
}

}  // namespace porvex::ui
