#include "notice_receiver.h"

#include <algorithm>

#include "control_wait.h"
#include "engine.h"
#include "notice_messages.h"

namespace tarnet {

NoticeOrigin NoticeReceiver::sender_of(UINT msg, LPARAM lparam) {
    if (::InSendMessage() == FALSE) {
        return NoticeOrigin::control_thread;
    }
    switch (msg) {
        case UM_DATARECEIVE:
            return lparam != 0 ? reinterpret_cast<const FrameReport*>(lparam)->origin
                               : NoticeOrigin::control_thread;
        case UM_FAILEDCONNECT:
        case UM_RECONNECTREQUEST:
            return NoticeOrigin::poll_thread;
        default:
            return NoticeOrigin::control_thread;
    }
}

bool NoticeReceiver::handle(HWND window, UINT msg, WPARAM wparam, LPARAM lparam, LRESULT& result) {
    // A message sent by another thread comes from an engine thread that waits for it.
    const bool sent_by_engine = ::InSendMessage() != FALSE;
    Notice notice;
    NoticeOrigin origin = NoticeOrigin::control_thread;
    switch (msg) {
        case UM_DATARECEIVE: {
            const auto* report = reinterpret_cast<const FrameReport*>(lparam);
            if (report == nullptr) {
                result = 1;
                return true;
            }
            notice.kind = Notice::Kind::data;
            notice.report = *report;
            origin = sent_by_engine ? report->origin : NoticeOrigin::control_thread;
            break;
        }
        case UM_FAILEDCONNECT:
        case UM_RECONNECTREQUEST:
            notice.kind = msg == UM_FAILEDCONNECT ? Notice::Kind::failed : Notice::Kind::reconnect;
            notice.server = lparam != 0 ? reinterpret_cast<const char*>(lparam) : "";
            notice.port = static_cast<std::int16_t>(wparam);
            origin = sent_by_engine ? NoticeOrigin::poll_thread : NoticeOrigin::control_thread;
            break;
        case UM_FAILEDCONNECT_POSTED:
            // A wake-up: the notices wait in the engine, each fires as a failed connect.
            for (PostedNotice& posted : posted_ ? posted_() : std::vector<PostedNotice>{}) {
                Notice failed;
                failed.kind = Notice::Kind::failed;
                failed.server = std::move(posted.server);
                failed.port = posted.port;
                receive(window, NoticeOrigin::control_thread, std::move(failed));
            }
            result = 1;
            return true;
        case UM_FLUSHNOTICES:
            flush_posted_ = false;
            flush();
            result = 1;
            return true;
        default:
            return false;
    }
    receive(window, origin, std::move(notice));
    result = 1;
    return true;
}

void NoticeReceiver::receive(HWND window, NoticeOrigin origin, Notice notice) {
    pending_.push_back(std::move(notice));
    if (notice_wait_depth() > 0) {
        if (pending_.size() > kMaxTakenOver) {
            auto oldest = std::find_if(pending_.begin(), pending_.end(), [](const Notice& n) {
                return n.kind == Notice::Kind::data;
            });
            if (oldest != pending_.end()) {
                pending_.erase(oldest);
            }
        }
        // Inside an engine operation: take it over, fire it when that has returned.
        if (!flush_posted_) {
            flush_posted_ = ::PostMessageW(window, UM_FLUSHNOTICES, 0, 0) != FALSE;
        }
        return;
    }
    HandlingNotice handling(origin);
    flush();
}

void NoticeReceiver::flush() {
    while (!pending_.empty() && notice_wait_depth() == 0) {
        Notice next = std::move(pending_.front());
        pending_.pop_front();
        fire(next);
    }
}

void NoticeReceiver::fire(const Notice& notice) {
    switch (notice.kind) {
        case Notice::Kind::data:
            target_.data_receive(notice.report);
            break;
        case Notice::Kind::failed:
            target_.failed_connect(notice.server, notice.port);
            break;
        case Notice::Kind::reconnect:
            target_.reconnect_request(notice.server, notice.port);
            break;
    }
}

}  // namespace tarnet
