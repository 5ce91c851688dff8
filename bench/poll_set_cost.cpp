// What one wait on the I/O thread's kept poll set costs as the set grows: connected
// loopback sockets with nothing to read, one of them made readable before each wait (as a
// report arriving on one of many idle links). Prints microseconds per wait for 1 to 1,000
// sockets; under Wine this is the wineserver's share of every round of the library's loop.
//
//     poll_set_cost [--waits 2000]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/poller.h"
#include "net/socket.h"

namespace {

using namespace zorvik::net;
using Clock = std::chrono::steady_clock;

}  // namespace

int main(int argc, char** argv) {
    int waits = 2000;
    if (argc == 3 && std::strcmp(argv[1], "--waits") == 0) {
        waits = std::max(1, std::atoi(argv[2]));
    }
    NetStartup net;
    if (ensure_socket_capacity(2 * 1000 + 64) != NetError::none) {
        std::fprintf(stderr, "poll_set_cost: not enough descriptors\n");
        return 1;
    }
    auto listener = listen_tcp("127.0.0.1", 0, 1024);
    auto port = listener ? listener->local_port() : Result<std::uint16_t>(NetError::other);
    auto poller = Poller::create();
    if (!listener || !port || !poller) {
        std::fprintf(stderr, "poll_set_cost: no listener or poll set\n");
        return 1;
    }
    std::vector<Socket> polled;   // the library's side
    std::vector<Socket> writers;  // the controllers' side
    std::vector<Poller::Ready> ready;
    char tag = 0;
    for (int size : {1, 10, 100, 500, 1000}) {
        while (static_cast<int>(polled.size()) < size) {
            auto client = connect_tcp("127.0.0.1", *port, std::chrono::seconds(5));
            auto server = client ? accept(*listener) : Result<Socket>(client.error());
            if (!client || !server) {
                std::fprintf(stderr, "poll_set_cost: connecting failed at %zu sockets\n",
                             polled.size());
                return 1;
            }
            (void)server->set_nodelay(true);
            if (poller->add(client->native(), kReadable, &tag) != NetError::none) {
                std::fprintf(stderr, "poll_set_cost: add failed\n");
                return 1;
            }
            polled.push_back(std::move(*client));
            writers.push_back(std::move(*server));
        }
        const std::uint8_t byte = 1;
        std::uint8_t sink[16];
        const auto start = Clock::now();
        for (int i = 0; i < waits; ++i) {
            const std::size_t k = static_cast<std::size_t>(i) % polled.size();
            (void)writers[k].send({&byte, 1});
            (void)poller->wait(ready, 1000);
            (void)polled[k].recv(sink);
        }
        const double us =
            std::chrono::duration<double, std::micro>(Clock::now() - start).count() / waits;
        std::printf("poll set of %4d sockets: %8.1f us per send, wait and read (%d waits)\n", size,
                    us, waits);
        std::fflush(stdout);
    }
    return 0;
}
