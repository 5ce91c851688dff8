// The deliverable as a host sees it: loaded by name, every export looked up by name and
// called with the header's types (on 32-bit Windows also probed for __stdcall), and one
// link to the simulator raising the host's callbacks. The library's clock is the real
// one here, so nothing waits for the 9, 20 or 30-second rules.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ZorvikAccess.h"
#include "ctlsim_driver.h"
#include "shared_library.h"
#ifdef _WIN32
#include <windows.h>

#include "call_probe.h"
#endif

namespace zorvik::access::testing {
namespace {

using std::chrono::milliseconds;

std::string library_path() {
#ifdef _WIN32
    return "ZorvikAccess.dll";  // beside the test program
#else
    const char* dir = std::getenv("PORVEX_BUILD_DIR");
    return std::string(dir != nullptr ? dir : ".") + "/bin/libZorvikAccess.so";
#endif
}

// Loaded once for the whole program: the library keeps threads while links exist.
const SharedLibrary& dll() {
    static const SharedLibrary* library = new SharedLibrary(library_path());
    return *library;
}

struct Export {
    const char* name;
    int argument_bytes;  // the __stdcall callee pops these on 32-bit Windows
};

const Export kExports[] = {
    {"Zorvik_SetConnCallback", 4},
    {"Zorvik_SetDisConnCallback", 4},
    {"Zorvik_SetDoorDataUpCallback", 4},
    {"Zorvik_SetDoorCommandRecvCallback", 4},
    {"Zorvik_ConnectToServer", 8},
    {"Zorvik_Disconnect", 8},
    {"Zorvik_DisconnectAll", 0},
    {"Zorvik_SendData", 28},
    {"Zorvik_SendDataWithRet", 40},
    {"Zorvik_SendDataWithRetEx", 44},
    {"Zorvik_EnableUpload", 12},
    {"Zorvik_Init", 8},
    {"Zorvik_VerifyTime", 8},
    {"Zorvik_IsOnline", 8},
    {"Zorvik_OnlineList", 4},
    {"Zorvik_OnlineListEx", 8},
    {"Zorvik_SetPass", 4},
    {"Zorvik_SetEncryptKey", 4},
    {"Zorvik_FileCheckCrc16", 8},
    {"Zorvik_GetCounters", 8},
    {"Zorvik_GetLinkCounters", 16},
};

// The exports, resolved by name with the header's types.
struct Api {
    decltype(&Zorvik_SetConnCallback) set_conn = fn<decltype(set_conn)>("Zorvik_SetConnCallback");
    decltype(&Zorvik_SetDisConnCallback) set_disconn =
        fn<decltype(set_disconn)>("Zorvik_SetDisConnCallback");
    decltype(&Zorvik_SetDoorDataUpCallback) set_report =
        fn<decltype(set_report)>("Zorvik_SetDoorDataUpCallback");
    decltype(&Zorvik_SetDoorCommandRecvCallback) set_reply =
        fn<decltype(set_reply)>("Zorvik_SetDoorCommandRecvCallback");
    decltype(&Zorvik_ConnectToServer) connect = fn<decltype(connect)>("Zorvik_ConnectToServer");
    decltype(&Zorvik_Disconnect) disconnect = fn<decltype(disconnect)>("Zorvik_Disconnect");
    decltype(&Zorvik_DisconnectAll) disconnect_all =
        fn<decltype(disconnect_all)>("Zorvik_DisconnectAll");
    decltype(&Zorvik_SendData) send_data = fn<decltype(send_data)>("Zorvik_SendData");
    decltype(&Zorvik_SendDataWithRet) send_with_ret =
        fn<decltype(send_with_ret)>("Zorvik_SendDataWithRet");
    decltype(&Zorvik_SendDataWithRetEx) send_with_ret_ex =
        fn<decltype(send_with_ret_ex)>("Zorvik_SendDataWithRetEx");
    decltype(&Zorvik_EnableUpload) enable_upload =
        fn<decltype(enable_upload)>("Zorvik_EnableUpload");
    decltype(&Zorvik_Init) init = fn<decltype(init)>("Zorvik_Init");
    decltype(&Zorvik_VerifyTime) verify_time = fn<decltype(verify_time)>("Zorvik_VerifyTime");
    decltype(&Zorvik_IsOnline) is_online = fn<decltype(is_online)>("Zorvik_IsOnline");
    decltype(&Zorvik_OnlineList) online_list = fn<decltype(online_list)>("Zorvik_OnlineList");
    decltype(&Zorvik_OnlineListEx) online_list_ex =
        fn<decltype(online_list_ex)>("Zorvik_OnlineListEx");
    decltype(&Zorvik_SetPass) set_pass = fn<decltype(set_pass)>("Zorvik_SetPass");
    decltype(&Zorvik_SetEncryptKey) set_key = fn<decltype(set_key)>("Zorvik_SetEncryptKey");
    decltype(&Zorvik_FileCheckCrc16) file_crc = fn<decltype(file_crc)>("Zorvik_FileCheckCrc16");
    decltype(&Zorvik_GetCounters) counters = fn<decltype(counters)>("Zorvik_GetCounters");
    decltype(&Zorvik_GetLinkCounters) link_counters =
        fn<decltype(link_counters)>("Zorvik_GetLinkCounters");

    template <class F>
    static F fn(const char* name) {
        return dll().function<F>(name);
    }
};

// One for the program: the callbacks below call back through it.
const Api& api_once() {
    static const Api* api = new Api();
    return *api;
}

// What the host's callbacks saw.
struct Seen {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::string> lines;  // "conn ip port 1", "report 30 01A2 4", ...
    std::thread::id conn_thread;

    void add(const std::string& line) {
        std::lock_guard lock(mutex);
        lines.push_back(line);
        cv.notify_all();
    }
    bool wait_for(const std::string& line, milliseconds timeout = milliseconds(10000)) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, timeout, [&] {
            for (const auto& l : lines) {
                if (l == line) {
                    return true;
                }
            }
            return false;
        });
    }
    bool wait_prefix(const std::string& prefix, milliseconds timeout = milliseconds(10000)) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, timeout, [&] {
            for (const auto& l : lines) {
                if (l.rfind(prefix, 0) == 0) {
                    return true;
                }
            }
            return false;
        });
    }
    std::size_t count_prefix(const std::string& prefix) {
        std::lock_guard lock(mutex);
        std::size_t n = 0;
        for (const auto& l : lines) {
            n += l.rfind(prefix, 0) == 0 ? 1 : 0;
        }
        return n;
    }
};

Seen seen;

void ZORVIK_CALL on_conn(const char* ip, int port, int connected) {
    {
        std::lock_guard lock(seen.mutex);
        seen.conn_thread = std::this_thread::get_id();
    }
    seen.add("conn " + std::string(ip) + " " + std::to_string(port) + " " +
             std::to_string(connected));
    if (connected == 1) {
        api_once().enable_upload(ip, port, 1);  // as the real host does
    }
}

void ZORVIK_CALL on_disconn(const char* ip, int port) {
    seen.add("disconn " + std::string(ip) + " " + std::to_string(port));
}

void ZORVIK_CALL on_report(const char*, int, int ap, int, int cmd, const char* data, int len) {
    seen.add("report " + std::to_string(cmd) + " " + std::to_string(ap) + " " + data + " " +
             std::to_string(len));
}

void ZORVIK_CALL on_reply(const char*, int, int ap, int, int cmd, const char* data, int len) {
    seen.add("reply " + std::to_string(cmd) + " " + std::to_string(ap) + " " + data + " " +
             std::to_string(len));
}

TEST(Exports, TheLibraryLoadsAndEveryExportResolvesByName) {
    ASSERT_TRUE(dll().loaded()) << library_path();
    for (const auto& e : kExports) {
        EXPECT_NE(dll().symbol(e.name), nullptr) << e.name;
    }
    // CZorvikAccess: its constructor and assignment, as this toolchain names them.
    EXPECT_NE(dll().symbol("_ZN13CZorvikAccessC1Ev"), nullptr);
    EXPECT_NE(dll().symbol("_ZN13CZorvikAccessaSERKS_"), nullptr);
}

#if defined(_WIN32) && defined(__i386__)
extern "C" int __cdecl add_cdecl(int a, int b) { return a + b; }
extern "C" int __stdcall add_stdcall(int a, int b) { return a + b; }

TEST(Exports, EveryExportIsStdcallAndTheClassIsThiscall) {
    // The probe tells the conventions apart.
    EXPECT_EQ(probe_call(reinterpret_cast<const void*>(&add_cdecl), {1, 2}).popped_bytes, 0);
    const auto std_call = probe_call(reinterpret_cast<const void*>(&add_stdcall), {1, 2});
    EXPECT_EQ(std_call.popped_bytes, 8);
    EXPECT_EQ(std_call.result, 3u);

    // Harmless arguments (zero: null callbacks and texts, unknown pairs), except for the
    // two exports that change the library's state, which are called for real below.
    for (const auto& e : kExports) {
        const void* fn = dll().symbol(e.name);
        ASSERT_NE(fn, nullptr) << e.name;
        const std::string name = e.name;
        if (name == "Zorvik_ConnectToServer" || name == "Zorvik_DisconnectAll") {
            continue;
        }
        const std::vector<std::uint32_t> zeros(static_cast<std::size_t>(e.argument_bytes / 4), 0);
        EXPECT_EQ(probe_call(fn, zeros).popped_bytes, e.argument_bytes) << name;
    }
    // The names a host built with Microsoft's compiler links against.
    alignas(4) unsigned char object[4] = {};
    const auto self = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(object));
    const void* ctor = dll().symbol("??0CZorvikAccess@@QAE@XZ");
    const void* assign = dll().symbol("??4CZorvikAccess@@QAEAAV0@ABV0@@Z");
    ASSERT_NE(ctor, nullptr);
    ASSERT_NE(assign, nullptr);
    const auto made = probe_call(ctor, {}, self);
    EXPECT_EQ(made.result, self);
    EXPECT_EQ(made.popped_bytes, 0);
    const auto assigned = probe_call(assign, {self}, self);
    EXPECT_EQ(assigned.result, self);
    EXPECT_EQ(assigned.popped_bytes, 4);
}
#endif

TEST(Exports, CallsWithoutALinkGiveTheirDocumentedResults) {
    const Api& api = api_once();
    EXPECT_EQ(api.disconnect_all(), 0);  // before any connect: nothing to do
    EXPECT_EQ(api.set_pass(0x123456), 0);
    const unsigned int key[2] = {1, 2};
    EXPECT_EQ(api.set_key(key), 1);
    EXPECT_EQ(api.send_data("127.0.0.1", 1, 0x20, 1, 0, "01", 2), 0);
    char reply[8];
    int len = -1;
    EXPECT_EQ(api.send_with_ret("127.0.0.1", 1, 0x20, 1, 0, "01", 2, 100, reply, &len), 9);
    EXPECT_EQ(api.send_with_ret_ex("127.0.0.1", 1, 0x20, 1, 0, "01", 2, 100, reply, 8, &len), 9);
    EXPECT_EQ(len, -1);
    EXPECT_EQ(api.enable_upload("127.0.0.1", 1, 1), 9);
    EXPECT_EQ(api.init("127.0.0.1", 1), 9);
    EXPECT_EQ(api.verify_time("127.0.0.1", 1), 9);
    EXPECT_EQ(api.is_online("127.0.0.1", 1), 0);
    EXPECT_EQ(api.disconnect("127.0.0.1", 1), 0);
    char list[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(api.online_list(list), 0);
    EXPECT_EQ(list[0], '\0');
    EXPECT_EQ(api.online_list_ex(list, 4), 0);

    const auto path = std::filesystem::temp_directory_path() / "zorvik-exports-crc.bin";
    std::ofstream(path, std::ios::binary) << "123456789";
    unsigned short crc = 0;
    EXPECT_EQ(api.file_crc(path.string().c_str(), &crc), 1);
    EXPECT_EQ(crc, 0x31C3);
    std::filesystem::remove(path);
    EXPECT_EQ(api.file_crc(path.string().c_str(), &crc), 0);
}

TEST(Exports, OneLinkToTheSimulatorRaisesTheHostsCallbacks) {
    const Api& api = api_once();
    EXPECT_EQ(api.set_conn(&on_conn), &on_conn);
    EXPECT_EQ(api.set_disconn(&on_disconn), &on_disconn);
    EXPECT_EQ(api.set_report(&on_report), &on_report);
    EXPECT_EQ(api.set_reply(&on_reply), &on_reply);

    ctlsim::testing::Ctlsim sim;
    const int port = sim.port(0);
    const std::string key = "127.0.0.1 " + std::to_string(port);
    ASSERT_EQ(api.connect("127.0.0.1", port), 1);
    EXPECT_TRUE(seen.wait_for("conn " + key + " 1"));
    EXPECT_EQ(seen.conn_thread, std::this_thread::get_id());
    EXPECT_EQ(api.connect("127.0.0.1", port), 0);
    ASSERT_TRUE(sim.wait_upload(0, true));  // enabled from inside the callback
    EXPECT_EQ(api.is_online("127.0.0.1", port), 1);
    char list[64];
    EXPECT_EQ(api.online_list_ex(list, sizeof list), 1);
    EXPECT_EQ(std::string(list), "127.0.0.1:" + std::to_string(port) + "|");

    unsigned int before[5] = {};
    ASSERT_EQ(api.counters(before, 5), 5);
    sim.deliver("frame", 0, "30 01A2 ap=5");
    EXPECT_TRUE(seen.wait_for("report 30 5 01A2 4"));
    unsigned int after[6] = {};
    EXPECT_EQ(api.counters(after, 6), 5);
    EXPECT_EQ(after[0] - before[0], 1u);  // one frame received ...
    EXPECT_EQ(after[1] - before[1], 1u);  // ... and handed to DoorDataUpCallback
    unsigned int link[2] = {};
    EXPECT_EQ(api.link_counters("127.0.0.1", port, link, 2), 2);
    EXPECT_EQ(link[0], 1u);
    EXPECT_EQ(link[1], 1u);
    EXPECT_EQ(api.link_counters("127.0.0.1", port + 1, link, 2), 0);
    EXPECT_EQ(api.counters(nullptr, 5), 0);
    EXPECT_EQ(api.send_data("127.0.0.1", port, 0x21, 6, 0, "01", 2), 1);
    ASSERT_TRUE(sim.wait_received(0, 0x21));
    EXPECT_TRUE(seen.wait_prefix("reply 33 6 "));  // lower-case hex of the status byte

    sim.ok("reply 0 0x21 0x21 0A80");
    char reply[8] = {};
    int len = 0;
    EXPECT_EQ(api.send_with_ret_ex("127.0.0.1", port, 0x21, 7, 0, "01", 2, 5000, reply,
                                   sizeof reply, &len),
              0x21);
    EXPECT_EQ(std::string(reply, len), "0a80");
    EXPECT_EQ(api.init("127.0.0.1", port), 0x10);
    EXPECT_EQ(api.verify_time("127.0.0.1", port), 0x11);

    sim.ok("disconnect 0");
    EXPECT_TRUE(seen.wait_for("disconn " + key));
    EXPECT_EQ(api.is_online("127.0.0.1", port), 0);
    EXPECT_EQ(api.disconnect_all(), 1);
    EXPECT_EQ(api.disconnect_all(), 0);
    EXPECT_EQ(seen.count_prefix("disconn "), 1u);
}

TEST(Exports, AnOfflineLinkRefusesFramesAndNoneOfThemIsSentLater) {
    const Api& api = api_once();
    api.set_conn(&on_conn);
    api.set_disconn(&on_disconn);
    api.set_report(&on_report);
    api.set_reply(&on_reply);
    ctlsim::testing::Ctlsim sim;
    const int port = sim.port(0);
    const std::string key = "127.0.0.1 " + std::to_string(port);
    ASSERT_EQ(api.connect("127.0.0.1", port), 1);
    ASSERT_TRUE(sim.wait_upload(0, true));
    sim.ok("disconnect 0");
    ASSERT_TRUE(seen.wait_for("disconn " + key));
    sim.clear_received(0);

    // A remote open for a door whose controller is away is refused, not kept for later.
    EXPECT_EQ(api.send_data("127.0.0.1", port, 0x20, 11, 0, "01", 2), 0);
    char reply[8];
    int len = -1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(api.send_with_ret_ex("127.0.0.1", port, 0x20, 12, 0, "01", 2, 5000, reply,
                                   sizeof reply, &len),
              9);
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1000));  // no wait
    EXPECT_EQ(len, -1);
    EXPECT_EQ(api.enable_upload("127.0.0.1", port, 1), 9);
    EXPECT_EQ(api.init("127.0.0.1", port), 9);
    EXPECT_EQ(api.verify_time("127.0.0.1", port), 9);

    // The host brings the controller back (the library's own retry waits 30 s).
    api.disconnect("127.0.0.1", port);
    ASSERT_EQ(api.connect("127.0.0.1", port), 1);
    ASSERT_TRUE(sim.wait_upload(0, true));
    EXPECT_EQ(api.send_data("127.0.0.1", port, 0x21, 13, 0, "01", 2), 1);
    ASSERT_TRUE(sim.wait_received(0, 0x21));
    const auto got = sim.received(0);
    ASSERT_EQ(got.size(), 2u);  // the upload switch and the frame sent while online: no other
    EXPECT_TRUE(got[0].upload_switch);
    EXPECT_EQ(got[1].ap_code, 13);
    EXPECT_EQ(api.disconnect_all(), 1);
}

#ifdef _WIN32
bool in_call = false;
bool dispatched_during_call = false;

LRESULT CALLBACK record_message(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_APP) {
        dispatched_during_call = in_call;
    }
    return DefWindowProcW(window, message, w, l);
}

TEST(Exports, AWaitingCallKeepsTheCallersWindowMessagesFlowing) {
    const Api& api = api_once();
    WNDCLASSW wc{};
    wc.lpfnWndProc = record_message;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZorvikAccessPumpTest";
    RegisterClassW(&wc);
    const HWND window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                        nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);

    ctlsim::testing::Ctlsim sim;
    const int port = sim.port(0);
    ASSERT_EQ(api.connect("127.0.0.1", port), 1);
    sim.ok("reply 0 0x21 silent");
    PostMessageW(window, WM_APP, 0, 0);
    PostQuitMessage(7);
    char reply[8];
    int len = 0;
    in_call = true;
    EXPECT_EQ(api.send_with_ret_ex("127.0.0.1", port, 0x21, 9, 0, "01", 2, 300, reply, sizeof reply,
                                   &len),
              9);
    in_call = false;
    EXPECT_TRUE(dispatched_during_call);
    // The quit belongs to the host's own loop: it is still there after the call.
    MSG msg{};
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_EQ(api.disconnect_all(), 1);
    DestroyWindow(window);
}
#endif

}  // namespace
}  // namespace zorvik::access::testing
