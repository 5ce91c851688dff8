// An optional profile of the engine's COM methods: how long each call spent inside the
// method, from entering its boundary (opc/com/boundary.h) to leaving it. What a client
// measures beyond that is the proxy/stub's marshalling, the RPC transport and the hand-over
// to the engine thread. Off unless a program turns it on (the sample server's -CallProfile
// switch); while off a call pays one test of a flag.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

namespace porvex::opc {

namespace call_profile_detail {
extern std::atomic<bool> enabled;
void Record(const char* method, LONGLONG ticks) noexcept;
}  // namespace call_profile_detail

// Starts timing calls (for the rest of the process).
void EnableCallProfile() noexcept;
bool CallProfileEnabled() noexcept;

// The calls timed since the profile was turned on or last restarted, one line per method:
//   METHOD calls=N median_us=M mean_us=A
// Empty while the profile is off or no call was timed.
std::wstring CallProfileText();
// Forgets the calls timed so far.
void RestartCallProfile() noexcept;

// Times the scope of one call of a method when the profile is on. method must outlive the
// process (a string literal).
class TCallTiming {
  public:
    explicit TCallTiming(const char* method) noexcept : method_(method) {
        if (call_profile_detail::enabled.load(std::memory_order_relaxed)) {
            QueryPerformanceCounter(&start_);
        } else {
            method_ = nullptr;
        }
    }
    TCallTiming(const TCallTiming&) = delete;
    TCallTiming& operator=(const TCallTiming&) = delete;
    ~TCallTiming() {
        if (method_) {
            LARGE_INTEGER end;
            QueryPerformanceCounter(&end);
            call_profile_detail::Record(method_, end.QuadPart - start_.QuadPart);
        }
    }

  private:
    const char* method_;
    LARGE_INTEGER start_{};
};

}  // namespace porvex::opc
