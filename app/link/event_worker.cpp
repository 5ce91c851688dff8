#include "link/event_worker.h"

#include <exception>
#include <string>
#include <vector>

namespace porvex {

EventWorker::EventWorker(EventQueue& queue, Handler handler, LogSink& log,
                         std::chrono::milliseconds batch_pause)
    : queue_(queue), handler_(std::move(handler)), log_(log), batch_pause_(batch_pause) {}

EventWorker::~EventWorker() { stop(); }

void EventWorker::start() {
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { run(); });
    }
}

void EventWorker::stop() {
    queue_.stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void EventWorker::run() {
    std::vector<ReceivedFrame> batch;
    while (queue_.wait_take_all(batch)) {
        ++batches_;
        for (const ReceivedFrame& entry : batch) {
            if (queue_.stopped()) {
                return;
            }
            try {
                handler_(entry);
            } catch (const std::exception& e) {
                log_.write(LogLevel::error, "controller event from " + entry.IP + ":" +
                                                std::to_string(entry.Port) +
                                                " not handled: " + e.what());
            } catch (...) {
                log_.write(LogLevel::error, "controller event from " + entry.IP + ":" +
                                                std::to_string(entry.Port) + " not handled");
            }
            ++handled_;
        }
        if (const auto dropped = queue_.take_dropped(); dropped > 0) {
            log_.write(LogLevel::warning, "event queue full: " + std::to_string(dropped) +
                                              " oldest controller events dropped");
        }
        if (batch_pause_.count() > 0 && !queue_.pause(batch_pause_)) {
            return;
        }
    }
}

}  // namespace porvex
