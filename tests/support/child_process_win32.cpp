#include <windows.h>

#include <stdexcept>

#include "child_process.h"
#include "win/unique_any.h"

namespace ctlsim::testing {

namespace {

using Handle = porvex::win::UniqueHandle;

std::string last_error_text() { return "Windows error " + std::to_string(::GetLastError()); }

// Quotes one argument the way the C runtime splits a command line.
std::string quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        return arg;
    }
    std::string out = "\"";
    std::size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        // Backslashes double only before a quote, which itself gets one more.
        out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
        out += c;
        slashes = 0;
    }
    out.append(slashes * 2, '\\');
    return out + "\"";
}

}  // namespace

struct ChildProcess::Impl {
    Handle process;
    Handle in;   // our end of the child's standard input
    Handle out;  // our end of the child's standard output
    std::optional<int> exit_code;
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args)
    : impl_(std::make_unique<Impl>()) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle child_in;
    Handle child_out;
    Handle child_err;
    if (!::CreatePipe(child_in.put(), impl_->in.put(), &inherit, 0) ||
        !::CreatePipe(impl_->out.put(), child_out.put(), &inherit, 0)) {
        throw std::runtime_error("CreatePipe: " + last_error_text());
    }
    // Our ends stay with us.
    ::SetHandleInformation(impl_->in.get(), HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(impl_->out.get(), HANDLE_FLAG_INHERIT, 0);
    HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    if (err != nullptr && err != INVALID_HANDLE_VALUE) {
        ::DuplicateHandle(::GetCurrentProcess(), err, ::GetCurrentProcess(), child_err.put(), 0,
                          TRUE, DUPLICATE_SAME_ACCESS);
    }

    std::string command_line = quote(program);
    for (const auto& a : args) {
        command_line += ' ';
        command_line += quote(a);
    }
    // The arguments are UTF-8 (item IDs in Chinese among them): passed as UTF-16, never
    // through the ANSI code page.
    std::wstring wide_line(command_line.size() + 1, L'\0');
    const int wide_size = ::MultiByteToWideChar(
        CP_UTF8, 0, command_line.data(), static_cast<int>(command_line.size()), wide_line.data(),
        static_cast<int>(wide_line.size()));
    wide_line.resize(static_cast<std::size_t>(wide_size > 0 ? wide_size : 0));
    std::wstring wide_program(program.size() + 1, L'\0');
    const int program_size =
        ::MultiByteToWideChar(CP_UTF8, 0, program.data(), static_cast<int>(program.size()),
                              wide_program.data(), static_cast<int>(wide_program.size()));
    wide_program.resize(static_cast<std::size_t>(program_size > 0 ? program_size : 0));
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = child_in.get();
    si.hStdOutput = child_out.get();
    si.hStdError = child_err.is_valid() ? child_err.get() : child_out.get();
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(wide_program.c_str(), wide_line.data(), nullptr, nullptr, TRUE,
                          CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
        throw std::runtime_error("cannot start " + program + ": " + last_error_text());
    }
    Handle thread(pi.hThread);  // not needed
    impl_->process.reset(pi.hProcess);
}

ChildProcess::~ChildProcess() { kill(); }

std::optional<std::string> ChildProcess::read_line(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (const auto eol = buffer_.find('\n'); eol != std::string::npos) {
            std::string line = buffer_.substr(0, eol);
            buffer_.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return line;
        }
        if (!impl_->out.is_valid()) {
            return std::nullopt;
        }
        // Anonymous pipes cannot be waited on with a time-out: look, then nap.
        DWORD available = 0;
        if (!::PeekNamedPipe(impl_->out.get(), nullptr, 0, nullptr, &available, nullptr)) {
            impl_->out.reset();  // the child closed its output
            return std::nullopt;
        }
        if (available == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return std::nullopt;
            }
            ::Sleep(2);
            continue;
        }
        char chunk[4096];
        DWORD n = 0;
        const DWORD want = available < sizeof chunk ? available : static_cast<DWORD>(sizeof chunk);
        if (!::ReadFile(impl_->out.get(), chunk, want, &n, nullptr) || n == 0) {
            impl_->out.reset();
            return std::nullopt;
        }
        buffer_.append(chunk, n);
    }
}

void ChildProcess::write(const std::string& text) {
    DWORD written = 0;
    if (!impl_->in.is_valid() ||
        !::WriteFile(impl_->in.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                     nullptr) ||
        written != text.size()) {
        throw std::runtime_error("the child's standard input is closed");
    }
}

void ChildProcess::close_stdin() { impl_->in.reset(); }

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (impl_->exit_code || !impl_->process.is_valid()) {
        return impl_->exit_code;
    }
    if (::WaitForSingleObject(impl_->process.get(), static_cast<DWORD>(timeout.count())) !=
        WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(impl_->process.get(), &code);
    impl_->exit_code = static_cast<int>(code);
    return impl_->exit_code;
}

void ChildProcess::kill() {
    if (impl_->process.is_valid() && !impl_->exit_code) {
        ::TerminateProcess(impl_->process.get(), 137);
        ::WaitForSingleObject(impl_->process.get(), 5000);
        impl_->exit_code = 137;
    }
}

long ChildProcess::pid() const {
    return impl_->process.is_valid() ? static_cast<long>(::GetProcessId(impl_->process.get())) : -1;
}

}  // namespace ctlsim::testing
