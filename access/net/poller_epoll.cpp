// Linux side of the kept poll set: epoll, level-triggered.
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>

#include "poller.h"

namespace zorvik::net {
namespace {

NetError from_errno(int e) {
    switch (e) {
        case EMFILE:
        case ENFILE:
        case ENOMEM:
        case ENOSPC:  // the user's limit of watched descriptors
            return NetError::too_many_sockets;
        case EBADF:
        case EEXIST:
        case ENOENT:
        case EINVAL:
        case EPERM:
            return NetError::invalid_argument;
        case EINTR:
            return NetError::interrupted;
        default:
            return NetError::other;
    }
}

std::uint32_t events_of(unsigned want) {
    std::uint32_t events = 0;
    if (want & kReadable) {
        events |= EPOLLIN | EPOLLRDHUP;
    }
    if (want & kWritable) {
        events |= EPOLLOUT;
    }
    return events;
}

// At most this many ready sockets per wait; level triggering reports the rest next time.
constexpr int kReadyPerWait = 512;

}  // namespace

struct Poller::State {
    int epoll = -1;
    std::size_t count = 0;
    epoll_event events[kReadyPerWait];
    ~State() {
        if (epoll >= 0) {
            ::close(epoll);
        }
    }
};

Poller::Poller() = default;
Poller::~Poller() = default;
Poller::Poller(Poller&&) noexcept = default;
Poller& Poller::operator=(Poller&&) noexcept = default;

Result<Poller> Poller::create() {
    auto state = std::make_unique<State>();
    state->epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (state->epoll < 0) {
        return from_errno(errno);
    }
    Poller poller;
    poller.state_ = std::move(state);
    return poller;
}

NetError Poller::add(NativeSocket socket, unsigned want, void* tag) {
    epoll_event e{};
    e.events = events_of(want);
    e.data.ptr = tag;
    if (::epoll_ctl(state_->epoll, EPOLL_CTL_ADD, static_cast<int>(socket), &e) < 0) {
        return from_errno(errno);
    }
    ++state_->count;
    return NetError::none;
}

NetError Poller::change(NativeSocket socket, unsigned want, void* tag) {
    epoll_event e{};
    e.events = events_of(want);
    e.data.ptr = tag;
    if (::epoll_ctl(state_->epoll, EPOLL_CTL_MOD, static_cast<int>(socket), &e) < 0) {
        return from_errno(errno);
    }
    return NetError::none;
}

void Poller::remove(NativeSocket socket) {
    epoll_event unused{};  // kernels before 2.6.9 want one even here
    if (::epoll_ctl(state_->epoll, EPOLL_CTL_DEL, static_cast<int>(socket), &unused) == 0) {
        --state_->count;
    }
}

std::size_t Poller::size() const { return state_->count; }

Result<int> Poller::wait(std::vector<Ready>& ready, int timeout_ms) {
    ready.clear();
    const int n = ::epoll_wait(state_->epoll, state_->events, kReadyPerWait,
                               timeout_ms < 0 ? -1 : timeout_ms);
    if (n < 0) {
        return errno == EINTR ? Result<int>(0) : Result<int>(from_errno(errno));
    }
    for (int i = 0; i < n; ++i) {
        const std::uint32_t r = state_->events[i].events;
        unsigned got = 0;
        if (r & EPOLLIN) {
            got |= kReadable;
        }
        if (r & EPOLLOUT) {
            got |= kWritable;
        }
        if (r & EPOLLERR) {
            got |= kError;
        }
        if (r & (EPOLLHUP | EPOLLRDHUP)) {
            got |= kHangup | kReadable;  // so a reader sees the end of stream
        }
        ready.push_back({state_->events[i].data.ptr, got});
    }
    return n;
}

}  // namespace zorvik::net
