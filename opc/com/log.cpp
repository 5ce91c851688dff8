#include "opc/com/log.h"

#include <windows.h>

#include <mutex>
#include <string>

namespace porvex::opc {
namespace {

std::mutex& SinkLock() {
    static std::mutex lock;
    return lock;
}

TLogSink& Sink() {
    static TLogSink sink;
    return sink;
}

}  // namespace

TLogSink SetLogSink(TLogSink sink) {
    std::lock_guard guard(SinkLock());
    TLogSink previous = std::move(Sink());
    Sink() = std::move(sink);
    return previous;
}

void LogLine(std::wstring_view line) noexcept {
    try {
        std::lock_guard guard(SinkLock());
        if (Sink()) {
            Sink()(line);
            return;
        }
        std::wstring text = L"OPC engine: ";
        text.append(line);
        text += L"\n";
        OutputDebugStringW(text.c_str());
    } catch (...) {
        // A log that fails must not take the caller down with it.
    }
}

}  // namespace porvex::opc
