// The program's operator log: Porvex398.log beside the executable (or in the user's
// temporary folder when that folder cannot be written), one UTF-8 line per event with
// local date and time, level and thread. The door logic's LogSink and the OPC engine's
// log both write here; the log list of the window keeps only the item server's lines.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "core/log.h"

namespace porvex::ui {

class TFileLog final : public LogSink {
  public:
    // Opens (appending) the log beside the executable or, failing that, in the temporary
    // folder. Without either the lines go to the debugger output only.
    TFileLog();
    explicit TFileLog(std::wstring path);
    ~TFileLog() override;
    TFileLog(const TFileLog&) = delete;
    TFileLog& operator=(const TFileLog&) = delete;

    void write(LogLevel level, std::string_view message) override;
    void Line(std::wstring_view text);  // an info line in the program's wide text
    const std::wstring& Path() const noexcept { return path_; }

  private:
    bool Open(const std::wstring& path);

    std::mutex lock_;
    void* file_ = nullptr;  // HANDLE
    std::wstring path_;
};

}  // namespace porvex::ui
