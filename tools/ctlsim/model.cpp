#include "model.h"

#include <algorithm>

#include "frame/frame.h"

namespace ctlsim {

namespace zf = zorvik::frame;

void ReceivedLog::add(ReceivedEntry entry) {
    if (entry.kind == ReceivedEntry::Kind::frame) {
        ++by_cmd_[entry.cmd];
    } else {
        ++switches_[entry.upload_on ? 1 : 0];
    }
    entries_.push_back(std::move(entry));
    if (entries_.size() > kLimit) {
        entries_.pop_front();
        ++lost_;
    }
}

void ReceivedLog::clear() { *this = ReceivedLog(); }

void ControllerModel::connection_opened() {
    skipped_before_ += assembler_.skipped_bytes();
    assembler_ = zf::FrameAssembler();
    pending_.clear();
    upload_ = false;
}

void ControllerModel::connection_closed() {
    connection_opened();  // forget the stream and the upload state
}

void ControllerModel::set_rule(std::uint8_t cmd, ReplyRule rule) { rules_[cmd] = std::move(rule); }

namespace {

enum class SwitchMatch { none, prefix, enable, disable };

SwitchMatch match_switch(std::span<const std::uint8_t> bytes) {
    for (bool on : {true, false}) {
        const auto pattern = zf::upload_switch(on);
        const std::size_t n = std::min(bytes.size(), pattern.size());
        if (std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n),
                       pattern.begin())) {
            if (n < pattern.size()) {
                return SwitchMatch::prefix;  // both patterns share their first four bytes
            }
            return on ? SwitchMatch::enable : SwitchMatch::disable;
        }
    }
    return SwitchMatch::none;
}

}  // namespace

ControllerModel::Reaction ControllerModel::receive(std::span<const std::uint8_t> bytes,
                                                   Output& out) {
    Reaction reaction;
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    std::size_t pos = 0;
    while (pos < pending_.size() && !reaction.close) {
        const std::span<const std::uint8_t> rest(pending_.data() + pos, pending_.size() - pos);
        // The switch can only stand where no frame is under way.
        if (assembler_.buffered() == 0 && rest[0] == zf::kUploadEnable[0]) {
            const auto m = match_switch(rest);
            if (m == SwitchMatch::prefix) {
                break;  // wait for the rest of it
            }
            if (m != SwitchMatch::none) {
                handle_switch(m == SwitchMatch::enable, out);
                pos += zf::kUploadEnable.size();
                continue;
            }
        }
        // Hand the assembler everything up to the next byte that may start a switch.
        const auto next = std::find(rest.begin() + 1, rest.end(), zf::kUploadEnable[0]);
        const auto n = static_cast<std::size_t>(next - rest.begin());
        assembler_.append(rest.first(n));
        pos += n;
        drain_assembler(out, reaction);
    }
    if (reaction.close) {
        pending_.clear();
    } else {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
    }
    return reaction;
}

void ControllerModel::drain_assembler(Output& out, Reaction& reaction) {
    for (auto cut = assembler_.next(); cut.kind != zf::FrameAssembler::Kind::need_more;
         cut = assembler_.next()) {
        if (cut.kind == zf::FrameAssembler::Kind::rejected) {
            ++invalid_;
            continue;
        }
        if (auto view = zf::parse_frame(cut.bytes)) {
            handle_frame(*view, out, reaction);
            if (reaction.close) {
                return;
            }
        }
    }
}

void ControllerModel::handle_switch(bool on, Output& out) {
    ReceivedEntry entry;
    entry.kind = ReceivedEntry::Kind::upload_switch;
    entry.upload_on = on;
    log_.add(std::move(entry));
    upload_ = on;
    if (!silent_) {
        out.emplace_back(zf::kUploadAck.begin(), zf::kUploadAck.end());
    }
}

void ControllerModel::handle_frame(const zf::FrameView& frame, Output& out, Reaction& reaction) {
    ++frames_;
    ReceivedEntry entry;
    entry.cmd = frame.cmd;
    entry.ap_code = frame.ap_code;
    entry.psw = frame.psw;
    entry.data.assign(frame.data.begin(), frame.data.end());
    log_.add(std::move(entry));

    if (frame.cmd == zf::kCmdSetTime) {
        if (auto t = decode_time_payload(frame.data)) {
            time_ = t;
        } else {
            ++bad_times_;  // still answered: the host only looks at the reply's code
        }
    }
    if (close_on_ && (*close_on_ < 0 || *close_on_ == frame.cmd)) {
        reaction.close = true;
        return;
    }
    if (silent_) {
        return;
    }

    std::optional<std::uint8_t> code;
    Bytes payload;
    switch (frame.cmd) {
        case zf::kCmdInit:
        case zf::kCmdSetTime:
        case zf::kCmdRemoteOpen:
            code = frame.cmd;
            break;
        case zf::kCmdStatusQuery:
            code = frame.cmd;
            payload = {status_};
            break;
        default:
            break;
    }
    if (auto it = rules_.find(frame.cmd); it != rules_.end()) {
        const ReplyRule& rule = it->second;
        switch (rule.mode) {
            case ReplyRule::Mode::silent:
                code.reset();
                break;
            case ReplyRule::Mode::code:
                code = rule.code;
                break;
            case ReplyRule::Mode::standard:
                break;
        }
        if (code && rule.payload) {
            payload = *rule.payload;
        }
    }
    if (code) {
        Bytes reply;
        zf::append_frame(reply, *code, frame.ap_code, frame.psw, payload);
        out.push_back(std::move(reply));
    }
}

}  // namespace ctlsim
