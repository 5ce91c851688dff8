#include "link_record.h"

#include <utility>

namespace tarnet {

std::string LinkRecord::address() const {
    std::lock_guard guard(lock_);
    return address_;
}

void LinkRecord::set_address(std::string dotted) {
    std::lock_guard guard(lock_);
    address_ = std::move(dotted);
}

int LinkRecord::take_slot(std::int32_t code, std::uint32_t now) {
    std::lock_guard guard(lock_);
    for (int i = 0; i < kSlots; ++i) {
        if (pending_[i].code == -1) {
            pending_[i] = {code, now};
            return i;
        }
    }
    return -1;
}

PendingRequest LinkRecord::pending(int slot) const {
    std::lock_guard guard(lock_);
    return pending_[slot];
}

void LinkRecord::free_slot(int slot, std::int32_t code) {
    std::lock_guard guard(lock_);
    if (pending_[slot].code == code) {
        pending_[slot].code = -1;
    }
}

int LinkRecord::free_slots_with(std::int32_t code) {
    std::lock_guard guard(lock_);
    int freed = 0;
    for (auto& p : pending_) {
        if (p.code != -1 && p.code == code) {
            p.code = -1;
            ++freed;
        }
    }
    return freed;
}

std::array<PendingRequest, LinkRecord::kSlots> LinkRecord::take_all_pending() {
    std::lock_guard guard(lock_);
    auto taken = pending_;
    for (auto& p : pending_) {
        p.code = -1;
    }
    return taken;
}

bool LinkRecord::connected() const {
    std::lock_guard guard(lock_);
    return connected_;
}

SharedSocket LinkRecord::socket() const {
    std::lock_guard guard(lock_);
    return socket_;
}

bool LinkRecord::is_current(const SharedSocket& s) const {
    std::lock_guard guard(lock_);
    return connected_ && s && socket_ == s;
}

void LinkRecord::attach(SharedSocket s) {
    std::lock_guard guard(lock_);
    socket_ = std::move(s);
    connected_ = true;
    ++serial_;
}

SharedSocket LinkRecord::detach() {
    std::lock_guard guard(lock_);
    connected_ = false;
    return std::move(socket_);
}

SharedSocket LinkRecord::begin_close() {
    std::lock_guard guard(lock_);
    connected_ = false;
    closing_ = true;
    return std::move(socket_);
}

void LinkRecord::end_close() {
    std::lock_guard guard(lock_);
    closing_ = false;
}

bool LinkRecord::closing() const {
    std::lock_guard guard(lock_);
    return closing_;
}

void LinkRecord::record_probe(const ProbeOutcome& outcome) {
    std::lock_guard guard(lock_);
    probe_ = outcome;
}

std::optional<ProbeOutcome> LinkRecord::take_probe() {
    std::lock_guard guard(lock_);
    return std::exchange(probe_, std::nullopt);
}

std::uint64_t LinkRecord::connection_serial() const {
    std::lock_guard guard(lock_);
    return serial_;
}

std::int16_t LinkRecord::upload_state() const {
    std::lock_guard guard(lock_);
    return upload_;
}

void LinkRecord::set_upload_state(std::int16_t state) {
    std::lock_guard guard(lock_);
    upload_ = state;
}

void LinkRecord::acknowledge_upload() {
    std::lock_guard guard(lock_);
    if (upload_ == kUploadSent) {
        upload_ = kUploadAcknowledged;
    }
}

bool LinkRecord::removed() const {
    std::lock_guard guard(lock_);
    return removed_;
}

void LinkRecord::mark_removed() {
    std::lock_guard guard(lock_);
    removed_ = true;
}

ReceiveBuffer& LinkRecord::receive_buffer(std::uint64_t serial) {
    if (serial != receive_serial_) {
        receive_.clear();
        receive_serial_ = serial;
    }
    return receive_;
}

}  // namespace tarnet
