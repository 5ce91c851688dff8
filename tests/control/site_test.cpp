// The control in a form host's window (needs a display): in-place activation in a child
// window that receives the engine's notices, UI activation, painting, deactivation back
// to the message-only window, the About box and the properties verb.
#include <gtest/gtest.h>

#include <olectl.h>

#include <set>

#include "com_support.h"
#include "ctlsim_driver.h"
#include "identifiers.h"
#include "resource.h"

namespace tarnet::testing {
namespace {

// A minimal container: client site, in-place site and frame in one object.
class Site final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
  public:
    explicit Site(HWND window) : window_(window) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
            *out = static_cast<IOleClientSite*>(this);
        } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) {
            *out = static_cast<IOleInPlaceSite*>(this);
        } else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) {
            *out = static_cast<IOleInPlaceFrame*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives on the test's stack
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** c) override {
        *c = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* w) override {
        *w = window_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return S_OK; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override {
        ++activations;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override {
        ++ui_activations;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                               LPRECT position, LPRECT clip,
                                               LPOLEINPLACEFRAMEINFO info) override {
        *frame = this;
        *doc = nullptr;
        *position = kPosition;
        *clip = kPosition;
        info->fMDIApp = FALSE;
        info->hwndFrame = window_;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override {
        ++ui_deactivations;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override {
        ++deactivations;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow, IOleInPlaceFrame
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override {
        return INPLACE_E_NOTOOLSPACE;
    }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override {
        active = object;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    static constexpr RECT kPosition{10, 10, 130, 70};
    int activations = 0;
    int ui_activations = 0;
    int ui_deactivations = 0;
    int deactivations = 0;
    IOleInPlaceActiveObject* active = nullptr;

  private:
    HWND window_;
};

// Records which window each engine notice (UM_DATARECEIVE) was sent to.
std::set<HWND>* g_notice_windows = nullptr;
LRESULT CALLBACK watch_messages(int code, WPARAM wparam, LPARAM lparam) {
    const auto* message = reinterpret_cast<const CWPSTRUCT*>(lparam);
    if (code == HC_ACTION && message->message == WM_USER + 101 && g_notice_windows != nullptr) {
        g_notice_windows->insert(message->hwnd);
    }
    return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

class SiteTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(register_tarnet(), S_OK); }
    void SetUp() override {
        host = ::CreateWindowExW(0, L"STATIC", L"Tarnet host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(host, nullptr) << "needs a display";
        site = std::make_unique<Site>(host);
        object = control.as<IOleObject>(IID_IOleObject);
        ASSERT_EQ(object->SetClientSite(site.get()), S_OK);
        ASSERT_EQ(sink->connect(control), S_OK);
        g_notice_windows = &notice_windows;
        hook =
            ::SetWindowsHookExW(WH_CALLWNDPROC, &watch_messages, nullptr, ::GetCurrentThreadId());
    }
    void TearDown() override {
        ::UnhookWindowsHookEx(hook);
        g_notice_windows = nullptr;
        control.call(L"DisconnectAll");
        sink->disconnect();
        object->Close(OLECLOSE_NOSAVE);
        object->SetClientSite(nullptr);
        ::DestroyWindow(host);
    }
    HWND control_window() {
        auto in_place = control.as<IOleInPlaceObject>(IID_IOleInPlaceObject);
        HWND w = nullptr;
        return in_place && SUCCEEDED(in_place->GetWindow(&w)) ? w : nullptr;
    }
    void reply_round_trip(int ap) {
        const auto before = sink->count(kEventDataReceive);
        ASSERT_EQ(control.call(L"SendData", {L"127.0.0.1", port, short{0x20}, ap, 0, L"01", 2})
                      .as_short(),
                  0);
        ASSERT_TRUE(pump_until([&] { return sink->count(kEventDataReceive) > before; }));
    }

    ComApartment apartment;
    ctlsim::testing::Ctlsim sim{1};
    short port = static_cast<short>(sim.port(0));
    Control control = Control::create();
    win::ComPtr<EventSink> sink = EventSink::create();
    win::ComPtr<IOleObject> object;
    HWND host = nullptr;
    std::unique_ptr<Site> site;
    HHOOK hook = nullptr;
    std::set<HWND> notice_windows;
};

TEST_F(SiteTest, InPlaceWindowReceivesTheNoticesAndDeactivationHandsThemBack) {
    ASSERT_EQ(control.call(L"ConnectToServer", {L"127.0.0.1", port}).as_short(), 0);
    reply_round_trip(1);  // before activation: the message-only window
    ASSERT_EQ(notice_windows.size(), 1u);
    const HWND message_window = *notice_windows.begin();
    EXPECT_EQ(::GetParent(message_window), nullptr);

    RECT position = Site::kPosition;
    ASSERT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site.get(), 0, host, &position),
              S_OK);
    EXPECT_EQ(site->activations, 1);
    const HWND child = control_window();
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(::GetParent(child), host);
    EXPECT_TRUE(::IsWindowVisible(child));
    RECT client{};
    ::GetClientRect(child, &client);
    EXPECT_EQ(client.right, 120);
    EXPECT_EQ(client.bottom, 60);

    notice_windows.clear();
    reply_round_trip(2);
    EXPECT_EQ(notice_windows, std::set<HWND>{child}) << "notices go to the in-place window";

    auto in_place = control.as<IOleInPlaceObject>(IID_IOleInPlaceObject);
    ASSERT_EQ(in_place->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(site->deactivations, 1);
    EXPECT_FALSE(::IsWindow(child));
    notice_windows.clear();
    reply_round_trip(3);
    EXPECT_EQ(notice_windows, std::set<HWND>{message_window}) << "and back, nothing lost";
}

TEST_F(SiteTest, UiActivationAndPainting) {
    RECT position = Site::kPosition;
    ASSERT_EQ(object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, site.get(), 0, host, &position), S_OK);
    EXPECT_EQ(site->ui_activations, 1);
    EXPECT_NE(site->active, nullptr);
    const HWND child = control_window();
    ASSERT_NE(child, nullptr);

    HDC screen = ::GetDC(child);
    HDC dc = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 120, 60);
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    ::SendMessageW(child, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    EXPECT_EQ(::GetPixel(dc, 1, 1) & 0xFFFFFF, 0xFFFFFFu) << "white fill";
    EXPECT_EQ(::GetPixel(dc, 0, 30) & 0xFFFFFF, 0x000000u) << "the ellipse's edge";
    ::SelectObject(dc, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
    ::ReleaseDC(child, screen);

    auto in_place = control.as<IOleInPlaceObject>(IID_IOleInPlaceObject);
    RECT moved{20, 20, 220, 120};
    ASSERT_EQ(in_place->SetObjectRects(&moved, &moved), S_OK);
    RECT client{};
    ::GetClientRect(child, &client);
    EXPECT_EQ(client.right, 200);
    ASSERT_EQ(in_place->UIDeactivate(), S_OK);
    EXPECT_EQ(site->ui_deactivations, 1);
}

// Closes the first top-level window of this thread whose title contains text, noting
// what it found.
struct DialogCloser {
    std::wstring title_part;
    std::wstring title;
    std::wstring about_text;
    bool found = false;
};
DialogCloser* g_closer = nullptr;

BOOL CALLBACK find_dialog(HWND window, LPARAM) {
    wchar_t title[256] = {};
    ::GetWindowTextW(window, title, 256);
    if (std::wstring(title).find(g_closer->title_part) == std::wstring::npos) {
        return TRUE;
    }
    g_closer->found = true;
    g_closer->title = title;
    wchar_t text[256] = {};
    ::GetDlgItemTextW(window, IDC_ABOUT_TEXT, text, 256);
    g_closer->about_text = text;
    ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    return FALSE;
}

void CALLBACK close_dialog(HWND, UINT, UINT_PTR, DWORD) {
    if (g_closer != nullptr && !g_closer->found) {
        ::EnumThreadWindows(::GetCurrentThreadId(), &find_dialog, 0);
    }
}

TEST_F(SiteTest, AboutBoxShowsTheControlsNameAndVersion) {
    DialogCloser closer;
    closer.title_part = L"About Tarnet";
    g_closer = &closer;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, &close_dialog);
    control.call(L"AboutBox");  // modal: returns once the timer closed it
    ::KillTimer(nullptr, timer);
    g_closer = nullptr;
    EXPECT_TRUE(closer.found);
    EXPECT_EQ(closer.title, L"About Tarnet Control");
    EXPECT_EQ(closer.about_text, L"Tarnet Control, Version 1.0");
}

TEST_F(SiteTest, PropertiesVerbShowsTheGeneralPage) {
    DialogCloser closer;
    closer.title_part = L"Tarnet";
    g_closer = &closer;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, &close_dialog);
    const HRESULT hr = object->DoVerb(OLEIVERB_PROPERTIES, nullptr, site.get(), 0, host, nullptr);
    ::KillTimer(nullptr, timer);
    g_closer = nullptr;
    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(closer.found) << "a property frame titled after the control";
}

}  // namespace
}  // namespace tarnet::testing
