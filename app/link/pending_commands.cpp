#include "link/pending_commands.h"

#include "core/text.h"

namespace porvex {

std::optional<int> PendingCommands::AddPendingCommand(DoorRecord* door, PendingKind kind,
                                                      Moment now) {
    for (int attempt = 0; attempt < kRequestCodeCount; ++attempt) {
        command_seq_ = (command_seq_ + 1) % kRequestCodeCount;
        const auto [it, inserted] =
            entries_.try_emplace(command_seq_, TPendingCommand{door, kind, now});
        if (inserted) {
            return command_seq_;
        }
        if (expired(it->second, now)) {
            it->second = TPendingCommand{door, kind, now};
            return command_seq_;
        }
    }
    return std::nullopt;
}

std::optional<TPendingCommand> PendingCommands::take_reply(int ap_code, std::string_view ip,
                                                           int port, Moment now) {
    const auto it = entries_.find(ap_code);
    if (it == entries_.end()) {
        return std::nullopt;
    }
    if (expired(it->second, now)) {
        entries_.erase(it);
        return std::nullopt;
    }
    const DoorRecord* door = it->second.Door;
    if (door == nullptr || door->port != port || ascii_lower(door->ip) != ascii_lower(ip)) {
        return std::nullopt;
    }
    TPendingCommand entry = it->second;
    entries_.erase(it);
    return entry;
}

void PendingCommands::withdraw(int code) { entries_.erase(code); }

void PendingCommands::purge_expired(Moment now) {
    std::erase_if(entries_, [&](const auto& item) { return expired(item.second, now); });
}

}  // namespace porvex
