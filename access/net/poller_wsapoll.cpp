// Windows side of the kept poll set: one WSAPOLLFD array, changed in place.
#include <winsock2.h>
// winsock2.h before windows.h
#include <windows.h>

#include <unordered_map>

#include "poller.h"
#include "wsapoll.h"

namespace zorvik::net {

struct Poller::State {
    std::vector<WSAPOLLFD> fds;
    std::vector<void*> tags;                        // beside fds
    std::unordered_map<SOCKET, std::size_t> index;  // socket -> its place in fds
};

Poller::Poller() = default;
Poller::~Poller() = default;
Poller::Poller(Poller&&) noexcept = default;
Poller& Poller::operator=(Poller&&) noexcept = default;

Result<Poller> Poller::create() {
    Poller poller;
    poller.state_ = std::make_unique<State>();
    return poller;
}

NetError Poller::add(NativeSocket socket, unsigned want, void* tag) {
    const auto s = static_cast<SOCKET>(socket);
    if (socket == kInvalidSocket || state_->index.count(s) != 0) {
        return NetError::invalid_argument;
    }
    state_->index.emplace(s, state_->fds.size());
    state_->fds.push_back({s, wsapoll_request(want), 0});
    state_->tags.push_back(tag);
    return NetError::none;
}

NetError Poller::change(NativeSocket socket, unsigned want, void* tag) {
    const auto it = state_->index.find(static_cast<SOCKET>(socket));
    if (it == state_->index.end()) {
        return NetError::invalid_argument;
    }
    state_->fds[it->second].events = wsapoll_request(want);
    state_->tags[it->second] = tag;
    return NetError::none;
}

void Poller::remove(NativeSocket socket) {
    const auto it = state_->index.find(static_cast<SOCKET>(socket));
    if (it == state_->index.end()) {
        return;
    }
    // The last entry takes the removed one's place.
    const std::size_t at = it->second;
    const std::size_t last = state_->fds.size() - 1;
    state_->index.erase(it);
    if (at != last) {
        state_->fds[at] = state_->fds[last];
        state_->tags[at] = state_->tags[last];
        state_->index[state_->fds[at].fd] = at;
    }
    state_->fds.pop_back();
    state_->tags.pop_back();
}

std::size_t Poller::size() const { return state_->fds.size(); }

Result<int> Poller::wait(std::vector<Ready>& ready, int timeout_ms) {
    ready.clear();
    auto& fds = state_->fds;
    const int n = wsapoll_or_sleep(fds, timeout_ms);
    if (n == SOCKET_ERROR) {
        const int e = ::WSAGetLastError();
        if (e == WSAEINTR) {
            return 0;
        }
        return e == WSAENOBUFS ? NetError::too_many_sockets : NetError::other;
    }
    for (std::size_t k = 0; k < fds.size() && static_cast<int>(ready.size()) < n; ++k) {
        const SHORT r = fds[k].revents;
        if (r == 0) {
            continue;
        }
        fds[k].revents = 0;
        ready.push_back({state_->tags[k], poll_flags_from(r)});
    }
    return static_cast<int>(ready.size());
}

}  // namespace zorvik::net
