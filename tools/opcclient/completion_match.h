// The completion of one OPC DA 1.0 request (IOPCAsyncIO Read or Write), told apart from
// other blocks by the transaction ID the request's call hands back.
//
// The server runs the request after its call has returned, but the client may still see
// the completion first: a COM client waiting for a reply dispatches incoming calls, and the
// server's callback can overtake the reply (under Wine on a busy machine it does). A block
// dropped because its ID was not known yet would leave the client waiting for nothing, so
// every block is kept until the ID is known; after that, only the matching one is.
// Portable (tested natively).
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace porvex::opcclient {

template <class T>
class TCompletionMatch {
  public:
    // A completion for transaction `id` arrived (before or after the ID is known).
    void Arrived(std::uint32_t id, T value) {
        if (expected_ && id != *expected_) {
            return;
        }
        arrived_.emplace_back(id, std::move(value));
    }

    // The request's call returned its transaction ID: completions for other IDs go.
    void Expect(std::uint32_t id) {
        expected_ = id;
        std::erase_if(arrived_, [id](const auto& entry) { return entry.first != id; });
    }

    // True once the completion of the expected transaction is here.
    bool Done() const { return expected_ && !arrived_.empty(); }

    // The first completion of the expected transaction; only after Done().
    T Take() {
        T value = std::move(arrived_.front().second);
        arrived_.clear();
        return value;
    }

  private:
    std::optional<std::uint32_t> expected_;
    std::vector<std::pair<std::uint32_t, T>> arrived_;
};

}  // namespace porvex::opcclient
