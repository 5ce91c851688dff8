#include "report_queue.h"

namespace tarnet {

void ReportQueue::push(const FrameReport& report) {
    std::lock_guard guard(lock_);
    reports_.push_back(report);
}

std::optional<FrameReport> ReportQueue::pop(bool& thin, std::size_t& dropped) {
    std::lock_guard guard(lock_);
    thin = false;
    dropped = 0;
    if (reports_.empty()) {
        return std::nullopt;
    }
    thin = reports_.size() > kThinAbove;
    std::optional<FrameReport> oldest(std::move(reports_.front()));
    reports_.pop_front();
    if (reports_.size() > kDropAbove) {
        dropped = reports_.size();
        reports_.clear();
    }
    if (reports_.empty()) {
        release_storage();
    }
    return oldest;
}

std::size_t ReportQueue::drop_all() {
    std::lock_guard guard(lock_);
    const std::size_t dropped = reports_.size();
    reports_.clear();
    release_storage();
    return dropped;
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
    key += '\n';
    key += std::to_string(report.ret_code);
    key += ':';
    key += std::to_string(report.ap_code);
    key += ':';
    key += std::to_string(report.psw);
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

std::optional<FrameReport> next_to_deliver(ReportQueue& queue, DuplicateKeys& keys,
                                           ReportDropCounter& drops) {
    keys.trim();
    bool thin = false;
    std::size_t dropped = 0;
    std::optional<FrameReport> report = queue.pop(thin, dropped);
    if (dropped > 0) {
        drops.backlog(dropped);
    }
    if (report && thin && keys.seen_before(*report)) {
        drops.thinned();
        return std::nullopt;
    }
    return report;
}

}  // namespace tarnet
