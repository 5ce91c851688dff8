// The engine lock: one recursive lock per process that serialises all of the OPC engines'
// state (clients, groups, items, subscriptions, the namespace). Every way into an engine
// takes it: every COM method (OpcBoundary), the window's timers, posted work and
// notifications, and the final release of an engine object. In a single-threaded apartment
// only the engine's thread ever takes it; in the multithreaded apartment it is what keeps
// the calls of the RPC threads apart.
//
// Rules:
//   - it is released fully (whatever the depth) around every call out to a client's
//     interface (TEngineUnlock), because the client may call back into the server from
//     another thread during it, and the caller re-checks the state after it;
//   - it is never held while sending a message to, or waiting for, another thread;
//   - a client's interface pointers are released outside it (TEngineLock::ReleaseOutside);
//   - an item server's pushes (TOnChange) do not take it: they keep to the cache lock,
//     which is taken after it, never before.
#pragma once

struct IUnknown;

namespace porvex::opc {

class TEngineLock {
  public:
    static void Enter() noexcept;
    static void Leave() noexcept;
    // How often the calling thread holds the lock (0: not at all).
    static int Depth() noexcept;
    // Releases a client's interface pointer once the calling thread no longer holds the
    // lock (at once when it holds none): releasing a proxy is a call to the client's
    // process, and no call to a client is made under the lock (TClientPtr).
    static void ReleaseOutside(IUnknown* object) noexcept;
};

// Holds the engine lock for a scope.
class TEngineGuard {
  public:
    TEngineGuard() noexcept { TEngineLock::Enter(); }
    TEngineGuard(const TEngineGuard&) = delete;
    TEngineGuard& operator=(const TEngineGuard&) = delete;
    ~TEngineGuard() { TEngineLock::Leave(); }
};

// Releases the engine lock fully for a scope (a call out of the engine) and takes it again
// to the same depth after it.
class TEngineUnlock {
  public:
    TEngineUnlock() noexcept;
    TEngineUnlock(const TEngineUnlock&) = delete;
    TEngineUnlock& operator=(const TEngineUnlock&) = delete;
    ~TEngineUnlock();

  private:
    int depth_;
};

}  // namespace porvex::opc
