// The program's operator log: Porvex398.log beside the executable (or in the user's
// temporary folder when that folder cannot be written), one UTF-8 line per event with
// local date and time, level and thread. The door logic's LogSink and the OPC engine's
// log both write here; the log list of the window keeps only the item server's lines.
//
// The log is bounded: when a line would take it past its size limit (10 MiB), the file
// becomes Porvex398.log.1 (replacing the one before) and a new log starts, so at most
// twice the limit is ever on disk.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "core/log.h"
#include "win/unique_any.h"

namespace porvex::ui {

class TFileLog final : public LogSink {
  public:
    // Opens (appending) the log beside the executable or, failing that, in the temporary
    // folder. Without either the lines go to the debugger output only.
    static constexpr unsigned long long kDefaultLimit = 10ull * 1024 * 1024;

    TFileLog();
    explicit TFileLog(std::wstring path, unsigned long long limit = kDefaultLimit);
    ~TFileLog() override;
    TFileLog(const TFileLog&) = delete;
    TFileLog& operator=(const TFileLog&) = delete;

    void write(LogLevel level, std::string_view message) override;
    void Line(std::wstring_view text);  // an info line in the program's wide text
    const std::wstring& Path() const noexcept { return path_; }

    // The file the log rolls over into: the path with ".1" appended.
    std::wstring PreviousPath() const { return path_ + L".1"; }

  private:
    bool Open(const std::wstring& path);
    // Under lock_: the current file becomes the previous one and a new file starts.
    void RollOver();

    std::mutex lock_;
    win::UniqueFileHandle file_;
    std::wstring path_;
    unsigned long long limit_ = kDefaultLimit;
    unsigned long long size_ = 0;
};

}  // namespace porvex::ui
