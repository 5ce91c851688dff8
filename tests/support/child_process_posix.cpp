#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "child_process.h"

extern char** environ;

namespace ctlsim::testing {

struct ChildProcess::Impl {
    pid_t pid = -1;
    int in = -1;   // our end of the child's standard input
    int out = -1;  // our end of the child's standard output
    std::optional<int> exit_code;
};

namespace {

void close_fd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args)
    : impl_(std::make_unique<Impl>()) {
    int in_pipe[2];
    int out_pipe[2];
    if (::pipe2(in_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
        ::close(in_pipe[0]);
        ::close(in_pipe[1]);
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    std::vector<std::string> storage{program};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : storage) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const int e =
        ::posix_spawn(&impl_->pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in_pipe[0]);
    ::close(out_pipe[1]);
    impl_->in = in_pipe[1];
    impl_->out = out_pipe[0];
    if (e != 0) {
        close_fd(impl_->in);
        close_fd(impl_->out);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(e));
    }
}

ChildProcess::~ChildProcess() {
    kill();
    close_fd(impl_->in);
    close_fd(impl_->out);
}

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
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || impl_->out < 0) {
            return std::nullopt;
        }
        pollfd p{impl_->out, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char chunk[4096];
        const ssize_t n = ::read(impl_->out, chunk, sizeof chunk);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            close_fd(impl_->out);
            return std::nullopt;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

void ChildProcess::write(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size() && impl_->in >= 0) {
        const ssize_t n = ::write(impl_->in, text.data() + done, text.size() - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            throw std::runtime_error("the child's standard input is closed");
        }
        done += static_cast<std::size_t>(n);
    }
}

void ChildProcess::close_stdin() { close_fd(impl_->in); }

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (impl_->exit_code || impl_->pid < 0) {
        return impl_->exit_code;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(impl_->pid, &status, WNOHANG);
        if (r == impl_->pid) {
            impl_->exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return impl_->exit_code;
        }
        if (r < 0 && errno != EINTR) {
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ChildProcess::kill() {
    if (impl_->pid > 0 && !impl_->exit_code) {
        ::kill(impl_->pid, SIGKILL);
        int status = 0;
        ::waitpid(impl_->pid, &status, 0);
        impl_->exit_code = 128 + SIGKILL;
    }
}

long ChildProcess::pid() const { return static_cast<long>(impl_->pid); }

}  // namespace ctlsim::testing
