// The one boundary helper of the control: a thread entry, a window procedure or a COM
// method runs its body through guarded, so nothing thrown inside ever reaches the host
// program (an exception leaving a thread or a window procedure ends the whole process).
// What was caught is logged with where it was caught, and the caller decides what the
// failure becomes (an HRESULT, a message result, a counted thread failure).
#pragma once

#include <exception>
#include <new>
#include <string_view>

namespace tarnet {

enum class Failure { out_of_memory, unexpected };

// Logs "<where>: failed: <what>"; never throws.
void log_failure(std::string_view where, std::string_view what) noexcept;

template <class Body, class OnFailure>
auto guarded(std::string_view where, Body&& body, OnFailure&& on_failure) noexcept
    -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        log_failure(where, "out of memory");
        return on_failure(Failure::out_of_memory);
    } catch (const std::exception& error) {
        log_failure(where, error.what());
        return on_failure(Failure::unexpected);
    } catch (...) {
        log_failure(where, "an unknown exception");
        return on_failure(Failure::unexpected);
    }
}

}  // namespace tarnet
