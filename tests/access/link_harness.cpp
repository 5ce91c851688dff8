#include "link_harness.h"

namespace zorvik::access::testing {

LinkTest* LinkTest::current = nullptr;

void Recorder::add(Event e) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(e));
    cv_.notify_all();
}

std::vector<Event> Recorder::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<Event> Recorder::of(Event::Kind kind) const {
    std::lock_guard lock(mutex_);
    std::vector<Event> out;
    for (const auto& e : events_) {
        if (e.kind == kind) {
            out.push_back(e);
        }
    }
    return out;
}

bool Recorder::wait_for(Event::Kind kind, std::size_t count,
                        std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] {
        std::size_t n = 0;
        for (const auto& e : events_) {
            n += e.kind == kind ? 1 : 0;
        }
        return n >= count;
    });
}

void Recorder::clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

void CallbackGate::hold() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return open_; });
}

void CallbackGate::open() {
    {
        std::lock_guard lock(mutex_);
        open_ = true;
    }
    cv_.notify_all();
}

namespace {

void record(Event e) {
    LinkTest* t = LinkTest::current;
    if (t == nullptr) {
        return;
    }
    e.thread = std::this_thread::get_id();
    t->recorder.add(e);
    if (t->on_event) {
        t->on_event(e);
    }
}

void ZORVIK_CALL on_conn(const char* ip, int port, int connected) {
    Event e;
    e.kind = Event::conn;
    e.ip = ip;
    e.port = port;
    e.connected = connected;
    LinkTest* t = LinkTest::current;
    record(e);
    if (t != nullptr && connected == 1 && t->enable_upload_on_connect) {
        // What the real host does from inside its ConnCallback.
        t->host_library->enable_upload(ip, port, 1);
    }
}

void ZORVIK_CALL on_disconn(const char* ip, int port) {
    Event e;
    e.kind = Event::disconn;
    e.ip = ip;
    e.port = port;
    record(e);
}

Event data_event(Event::Kind kind, const char* ip, int port, int ap, int psw, int cmd,
                 const char* data, int len) {
    Event e;
    e.kind = kind;
    e.ip = ip;
    e.port = port;
    e.ap_code = ap;
    e.psw = psw;
    e.cmd = cmd;
    e.data = data;
    e.data_len = len;
    return e;
}

void ZORVIK_CALL on_report(const char* ip, int port, int ap, int psw, int cmd, const char* data,
                           int len) {
    record(data_event(Event::report, ip, port, ap, psw, cmd, data, len));
}

void ZORVIK_CALL on_reply(const char* ip, int port, int ap, int psw, int cmd, const char* data,
                          int len) {
    record(data_event(Event::reply, ip, port, ap, psw, cmd, data, len));
}

}  // namespace

namespace {

ctlsim::testing::CtlsimOptions with_controllers(std::size_t n) {
    ctlsim::testing::CtlsimOptions options;
    options.controllers = n;
    return options;
}

}  // namespace

LinkTest::LinkTest(std::size_t controllers) : sim(with_controllers(controllers)) {}

LinkTest::~LinkTest() = default;

void LinkTest::SetUp() {
    lib = std::make_unique<Library>(clock, timing);
    host_library = lib.get();
    auto& cb = lib->callbacks();
    cb.conn = &on_conn;
    cb.disconn = &on_disconn;
    cb.report = &on_report;
    cb.reply = &on_reply;
    current = this;
}

void LinkTest::TearDown() {
    // Ends every thread of the library (callbacks included) before the fixture goes; a
    // callback still held would keep its delivery thread for ever.
    gate.open();
    lib->disconnect_all();
    lib.reset();
    current = nullptr;
}

void LinkTest::connect_online(std::size_t ctl) {
    ASSERT_EQ(lib->connect(kLocal, port(ctl)), 1);
    ASSERT_TRUE(sim.wait_upload(ctl, true));
}

bool LinkTest::settle(std::chrono::milliseconds timeout) {
    const auto target = clock->seconds();
    return eventually([&] { return lib->supervised_second() >= target; }, timeout);
}

void LinkTest::advance(int seconds) {
    clock->advance_seconds(seconds);
    ASSERT_TRUE(settle()) << "the supervisor did not run a pass after the clock moved";
}

bool LinkTest::eventually(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace zorvik::access::testing
