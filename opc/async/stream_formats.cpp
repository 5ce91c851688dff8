#include "opc/async/stream_formats.h"

#include <atomic>
#include <string>

#include "opc/com/errors.h"

namespace porvex::opc {
namespace {

constexpr const wchar_t* kNames[kStreamFormatCount] = {L"OPCSTMFORMATDATA", L"OPCSTMFORMATDATATIME",
                                                       L"OPCSTMFORMATWRITECOMPLETE"};

std::atomic<CLIPFORMAT> registered[kStreamFormatCount];

bool ValidIndex(int index) noexcept { return index >= 0 && index < kStreamFormatCount; }

}  // namespace

const wchar_t* StreamFormatName(int index) noexcept {
    return ValidIndex(index) ? kNames[index] : L"";
}

void RegisterStreamFormats() {
    for (int i = 0; i < kStreamFormatCount; ++i) {
        const UINT id = RegisterClipboardFormatW(kNames[i]);
        if (id == 0) {
            throw EOpcServer(std::wstring(L"Could not register ") + kNames[i] + L" clip format");
        }
        registered[i].store(static_cast<CLIPFORMAT>(id));
    }
}

CLIPFORMAT StreamClipFormat(int index) noexcept {
    return ValidIndex(index) ? registered[index].load() : 0;
}

int StreamFormatIndex(CLIPFORMAT format) noexcept {
    if (format == 0) {
        return -1;
    }
    for (int i = 0; i < kStreamFormatCount; ++i) {
        if (registered[i].load() == format) {
            return i;
        }
    }
    return -1;
}

}  // namespace porvex::opc
