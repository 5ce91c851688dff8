#include "report_queue.h"

namespace tarnet {

void ReportQueue::push(const FrameReport& report) {
    std::lock_guard guard(lock_);
    reports_.push_back(report);
}

std::optional<FrameReport> ReportQueue::pop(bool& thin) {
    std::lock_guard guard(lock_);
    thin = false;
    if (reports_.empty()) {
        return std::nullopt;
    }
    thin = reports_.size() > kThinAbove;
    std::optional<FrameReport> oldest(std::move(reports_.front()));
    reports_.pop_front();
    if (reports_.size() > kDropAbove) {
        reports_.clear();
    }
    if (reports_.empty()) {
        release_storage();
    }
    return oldest;
}

void ReportQueue::drop_all() {
    std::lock_guard guard(lock_);
    reports_.clear();
    release_storage();
}

std::size_t ReportQueue::size() const {
    std::lock_guard guard(lock_);
    return reports_.size();
}

void ReportQueue::release_storage() { std::deque<FrameReport>().swap(reports_); }

std::string DuplicateKeys::key_of(const FrameReport& report) {
    std::string key = report.data;
    key += '\n';
    key += report.server;
    key += '\n';
    key += std::to_string(report.port);
    return key;
}

bool DuplicateKeys::seen_before(const FrameReport& report) {
    std::string key = key_of(report);
    auto& count = counts_[key];
    const bool seen = count > 0;
    ++count;
    order_.push_front(std::move(key));
    return seen;
}

void DuplicateKeys::trim() {
    if (order_.size() <= kForgetAbove) {
        return;
    }
    for (std::size_t i = 0; i < kForgetCount; ++i) {
        auto it = counts_.find(order_.back());
        if (--it->second == 0) {
            counts_.erase(it);
        }
        order_.pop_back();
    }
}

void DuplicateKeys::clear() {
    order_.clear();
    counts_.clear();
}

std::optional<FrameReport> next_to_deliver(ReportQueue& queue, DuplicateKeys& keys) {
    keys.trim();
    bool thin = false;
    std::optional<FrameReport> report = queue.pop(thin);
    if (report && thin && keys.seen_before(*report)) {
        return std::nullopt;
    }
    return report;
}

}  // namespace tarnet
