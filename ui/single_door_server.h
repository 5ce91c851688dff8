// One door server per session: the copy of Porvex398.exe that owns the controller links.
//
// A controller takes one connection, so two door servers would fight over it: the second
// copy's links are refused and its doors stay unmonitored. Two copies start when a client
// activates the OPC class in the instant between the program's start and its class object
// reaching COM (COM then launches a copy of its own with -Embedding), or when a user starts
// the program twice. Every copy that would serve claims the named mutex
// "Local\Porvex398.DoorServer" first, before COM, the window or the links:
//
//   - the mutex is free: this copy is the door server (Claim answers Owner);
//   - another copy holds it and serves (the named event "Local\Porvex398.Serving" is set
//     while its class objects are registered with COM): this copy hands over and ends
//     without opening anything (OtherServing); COM gives the waiting client the running
//     copy's object;
//   - another copy holds it and does not serve yet (starting) or any more (ending): this
//     copy waits, up to a bound, for whichever comes first: the other serving (hand over)
//     or the mutex (the other copy has ended: this one becomes the door server);
//   - neither within the bound: TimedOut (the program ends with an error line; the
//     client's activation fails and can be retried).
#pragma once

#include <windows.h>

#include "win/unique_any.h"

namespace porvex::ui {

class TSingleDoorServer {
  public:
    enum class TClaim { Owner, OtherServing, TimedOut };

    // Opens (or creates) the mutex and the event; throws std::system_error when the
    // system refuses them.
    TSingleDoorServer();
    // Withdraws the serving signal and releases the mutex when this copy owned it.
    ~TSingleDoorServer();
    TSingleDoorServer(const TSingleDoorServer&) = delete;
    TSingleDoorServer& operator=(const TSingleDoorServer&) = delete;

    TClaim Claim(DWORD timeoutMs);
    // The owner tells other copies whether its class objects are registered.
    void SetServing(bool serving) noexcept;

    static const wchar_t kMutexName[];
    static const wchar_t kServingEventName[];

  private:
    win::UniqueHandle mutex_;
    win::UniqueHandle serving_;
    bool owner_ = false;
};

}  // namespace porvex::ui
