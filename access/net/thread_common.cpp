// What both platforms share of Thread: the body's exception boundary and its reporting.
#include <atomic>
#include <exception>
#include <string>

#include "thread.h"
#include "thread_body.h"

namespace zorvik::net {
namespace {

std::atomic<std::uint64_t> escaped{0};
std::atomic<Thread::EscapeReporter> reporter{nullptr};

void report(const char* what) noexcept {
    escaped.fetch_add(1, std::memory_order_relaxed);
    const Thread::EscapeReporter chosen = reporter.load();
    if (chosen != nullptr) {
        chosen(what);
        return;
    }
    try {
        report_escape_by_default("a library thread ended on an exception: " + std::string(what) +
                                 "\n");
    } catch (...) {
        // No memory even for the line: the count above still tells.
    }
}

}  // namespace

void run_thread_body(const std::function<void()>& body) noexcept {
    // A thread of ours never takes the process down with it, and never hides why it ended.
    try {
        body();
    } catch (const std::exception& e) {
        report(e.what());
    } catch (...) {
        report("an exception that is not a std::exception");
    }
}

Thread::EscapeReporter Thread::set_escape_reporter(EscapeReporter chosen) noexcept {
    return reporter.exchange(chosen);
}

std::uint64_t Thread::escaped_exceptions() noexcept { return escaped.load(); }

}  // namespace zorvik::net
