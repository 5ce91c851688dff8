#include "ui/file_log.h"

#include <windows.h>

#include <cstdio>
#include <utility>

#include "opc/com/text.h"

namespace porvex::ui {
namespace {

std::wstring ExeFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            return {};
        }
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    path.erase(path.find_last_of(L"\\/") + 1);
    return path;
}

std::wstring TempFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, folder);
    return n == 0 || n > MAX_PATH ? std::wstring() : std::wstring(folder, n);
}

constexpr wchar_t kFileName[] = L"Porvex398.log";

}  // namespace

TFileLog::TFileLog() {
    if (!Open(ExeFolder() + kFileName)) {
        Open(TempFolder() + kFileName);
    }
}

TFileLog::TFileLog(std::wstring path, unsigned long long limit) : limit_(limit) { Open(path); }

TFileLog::~TFileLog() = default;

bool TFileLog::Open(const std::wstring& path) {
    win::UniqueFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    path_ = path;
    LARGE_INTEGER size{};
    size_ = GetFileSizeEx(file.get(), &size) ? static_cast<unsigned long long>(size.QuadPart) : 0;
    file_ = std::move(file);
    return true;
}

void TFileLog::RollOver() {
    file_.reset();
    // A failed move (the previous file held open by a viewer) still starts afresh: the
    // new file replaces the old content rather than letting the log grow without end.
    const bool moved =
        MoveFileExW(path_.c_str(), PreviousPath().c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    file_.reset(CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, moved ? CREATE_ALWAYS : TRUNCATE_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_ && !moved) {
        file_.reset(CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    size_ = 0;
}

void TFileLog::write(LogLevel level, std::string_view message) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] %s: ", now.wYear,
                  now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                  GetCurrentThreadId(), to_string(level));
    std::string line = stamp;
    line.append(message);
    line += "\r\n";
    OutputDebugStringW(opc::WideFromUtf8(line).c_str());
    std::lock_guard lock(lock_);
    if (file_ && size_ > 0 && size_ + line.size() > limit_) {
        RollOver();
    }
    if (file_) {
        DWORD written = 0;
        WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        size_ += written;
    }
}

void TFileLog::Line(std::wstring_view text) { write(LogLevel::info, opc::Utf8FromWide(text)); }

}  // namespace porvex::ui
