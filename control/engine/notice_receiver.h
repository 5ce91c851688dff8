// The control's side of the notice hand-over: what the owner window does with the
// engine's messages.
//
// A notice an engine thread sends is fired at once, while that thread waits in
// SendMessage, so a slow host slows the engine down and its report queue thins and
// drops as designed. Two cases differ:
//  - the control's thread is inside one of the engine's waits (control_wait.h): the
//    notice is copied, the sender goes on, and it fires once the engine operation has
//    returned (a message the window posts to itself), in arrival order with all others;
//  - while a notice fires, the sending thread is parked: HandlingNotice tells the engine,
//    so a method the host calls from its event handler does not wait for that thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "frame_report.h"
#include "posted_notices.h"

namespace tarnet {

class NoticeTarget {
  public:
    virtual ~NoticeTarget() = default;
    virtual void data_receive(const FrameReport& report) = 0;
    virtual void failed_connect(const std::string& server, std::int16_t port) = 0;
    // The poll thread saw a supervised link's host answer again.
    virtual void reconnect_request(const std::string& server, std::int16_t port) = 0;
};

class NoticeReceiver {
  public:
    // Taken-over notices waiting for the control's thread to run its messages. A host
    // thread that never runs them (a script host) must not make them pile up without
    // end: beyond this many, the oldest report is dropped, as the engine drops a backlog.
    static constexpr std::size_t kMaxTakenOver = 1000;

    // Where the notices a UM_FAILEDCONNECT_POSTED wake-up stands for wait (the engine's
    // take_posted_notices); without one the wake-up is ignored.
    using PostedSource = std::function<std::vector<PostedNotice>()>;

    explicit NoticeReceiver(NoticeTarget& target, PostedSource posted = {})
        : target_(target), posted_(std::move(posted)) {}

    // For the owner window's procedure: true when msg was one of the engine's messages
    // (result is then 1).
    bool handle(HWND window, UINT msg, WPARAM wparam, LPARAM lparam, LRESULT& result);

    // Which engine thread waits for msg (sent with lparam) while it is handled: the
    // window procedure holds HandlingNotice for it over everything it does with msg,
    // also the release of its own references afterwards.
    static NoticeOrigin sender_of(UINT msg, LPARAM lparam);

    // Notices taken over and not fired yet (DisconnectAll drops them).
    std::size_t taken_over() const { return pending_.size(); }
    void drop_taken_over() { pending_.clear(); }

  private:
    struct Notice {
        enum class Kind { data, failed, reconnect } kind = Kind::data;
        FrameReport report;
        std::string server;
        std::int16_t port = 0;
    };

    void receive(HWND window, NoticeOrigin origin, Notice notice);
    void flush();
    void fire(const Notice& notice);

    NoticeTarget& target_;
    PostedSource posted_;
    // A list, not a deque: an empty list allocates nothing, so the control's constructor
    // cannot fail.
    std::list<Notice> pending_;
    bool flush_posted_ = false;
};

}  // namespace tarnet
