// The control created in this process, as a host's class factory creates it, while its
// allocations fail on purpose: creation fails cleanly (E_OUTOFMEMORY, nothing left
// behind) and a notice whose event cannot be built is logged and lost, never the end of
// the host program.
#include <winsock2.h>
// winsock2.h before windows.h
#include <gtest/gtest.h>

#include "com_support.h"
#include "failing_allocator.h"
#include "identifiers.h"
#include "log_capture.h"
#include "module.h"
#include "notice_messages.h"
#include "tarnet_ctrl.h"

namespace tarnet::testing {
namespace {

constexpr wchar_t kNoticeWindowClass[] = L"TarnetNoticeWindow";

// Notice windows of this process (other test programs may have theirs at the same time).
int notice_windows_here() {
    int count = 0;
    HWND window = nullptr;
    while ((window = ::FindWindowExW(HWND_MESSAGE, window, kNoticeWindowClass, nullptr)) !=
           nullptr) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        count += process == ::GetCurrentProcessId() ? 1 : 0;
    }
    return count;
}

class ControlFailureTest : public ::testing::Test {
  protected:
    void SetUp() override { ax::Module::instance().set_handle(::GetModuleHandleW(nullptr)); }
    void TearDown() override { stop_failing_allocations(); }

    // The control as its class factory creates it, or the failure.
    static HRESULT create(win::ComPtr<IDispatch>& control) {
        IDispatch* raw = nullptr;
        const HRESULT hr =
            CTarnetCtrl::create_instance(IID_IDispatch, reinterpret_cast<void**>(&raw));
        control = win::ComPtr<IDispatch>::adopt(raw);
        return hr;
    }

    ComApartment apartment;
    LogCapture log;
};

TEST_F(ControlFailureTest, CreationFailsCleanlyWhereverAnAllocationFails) {
    int refused = 0;
    for (int nth = 1;; ++nth) {
        ASSERT_LT(nth, 500) << "creation never ran without a failure";
        const int failed_before = failed_allocations();
        fail_allocation_here(nth);
        win::ComPtr<IDispatch> control;
        const HRESULT hr = create(control);
        stop_failing_allocations();
        const bool injected = failed_allocations() > failed_before;
        if (FAILED(hr)) {
            EXPECT_EQ(hr, E_OUTOFMEMORY) << nth;
            EXPECT_TRUE(injected);
            EXPECT_FALSE(control);
            ++refused;
        }
        control.reset();
        // Nothing of a refused (or released) control stays behind: no live object, no
        // notice window, and Winsock started as often as it was cleaned up.
        EXPECT_EQ(ax::Module::instance().objects(), 0) << nth;
        EXPECT_EQ(notice_windows_here(), 0) << nth;
        EXPECT_EQ(::WSACleanup(), SOCKET_ERROR) << nth;
        if (!injected) {
            EXPECT_EQ(hr, S_OK);
            break;  // every allocation of a creation has been made to fail once
        }
    }
    EXPECT_GT(refused, 0);
    EXPECT_TRUE(log.contains("control: joining the engine: failed: out of memory"));

    // The process's engine was left as it was: the next control is its first client.
    win::ComPtr<IDispatch> control;
    ASSERT_EQ(create(control), S_OK);
    auto* tarnet = static_cast<CTarnetCtrl*>(control.get());
    EXPECT_TRUE(EngineHost::instance().owns_notices(*tarnet));
}

TEST_F(ControlFailureTest, NoticeWindowSurvivesAnEventThatCannotBeBuilt) {
    win::ComPtr<IDispatch> control;
    ASSERT_EQ(create(control), S_OK);
    auto sink = EventSink::create();
    ASSERT_EQ(sink->connect(Control(control)), S_OK);
    const HWND window = static_cast<CTarnetCtrl*>(control.get())->notice_window();
    ASSERT_NE(window, nullptr);

    FrameReport report;
    report.server = "controller-with-a-long-name.example";
    report.port = 5768;
    report.ap_code = 7;
    report.data = "0102030405060708090a0b0c0d0e0f10";
    report.data_len = static_cast<std::int32_t>(report.data.size());

    // Every allocation of the notice's way to the host's sink fails once, in turn.
    int lost = 0;
    for (int nth = 1;; ++nth) {
        ASSERT_LT(nth, 500);
        const std::size_t events = sink->events.size();
        const int failed_before = failed_allocations();
        fail_allocation_here(nth);
        ::SendMessageW(window, UM_DATARECEIVE, 0, reinterpret_cast<LPARAM>(&report));
        stop_failing_allocations();
        if (failed_allocations() == failed_before) {
            EXPECT_EQ(sink->events.size(), events + 1);
            break;
        }
        lost += sink->events.size() == events ? 1 : 0;
    }
    EXPECT_GT(lost, 0);
    EXPECT_TRUE(log.contains("control: notice window: failed: out of memory"));

    // The control goes on: the next notice reaches the sink whole.
    const std::size_t events = sink->events.size();
    ::SendMessageW(window, UM_DATARECEIVE, 0, reinterpret_cast<LPARAM>(&report));
    ASSERT_EQ(sink->events.size(), events + 1);
    const Event& event = sink->events.back();
    EXPECT_EQ(event.id, kEventDataReceive);
    ASSERT_EQ(event.args.size(), 7u);
    EXPECT_EQ(event.args[0].as_text(), L"controller-with-a-long-name.example");
    EXPECT_EQ(event.args[5].as_text(), L"0102030405060708090a0b0c0d0e0f10");
    sink->disconnect();
}

}  // namespace
}  // namespace tarnet::testing
