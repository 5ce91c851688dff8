// CTarnetCtrl: the Tarnet socket control. Its methods are thin calls into the engine;
// its events fire on its own thread when the engine hands a notice to its window (its
// in-place window, or, without one, a message-only window of its own).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "engine.h"
#include "engine_host.h"
#include "notice_receiver.h"
#include "ole_control.h"

namespace tarnet {

namespace win = porvex::win;

class CTarnetCtrl final : public ax::OleControl,
                          public NoticeTarget,
                          public EventSink,
                          public EngineClient {
  public:
    // A new control, built in two steps: a constructor that cannot fail, then
    // initialise(); a control that fails to initialise is released again at once.
    static HRESULT create_instance(REFIID iid, void** out);

    // NoticeTarget: the engine's notices, on the control's thread.
    void data_receive(const FrameReport& report) override;
    void failed_connect(const std::string& server, std::int16_t port) override;
    void reconnect_request(const std::string& server, std::int16_t port) override;

    // EventSink: events an engine operation fires before it returns.
    void fire_reconnect(const std::string& server, std::int16_t port) override;
    void fire_failed_connect(const std::string& server, std::int16_t port) override;

    // EngineClient
    HWND notice_window() const override;
    void drop_taken_over_notices() override { receiver_.drop_taken_over(); }

  protected:
    HRESULT invoke_member(DISPID id, ax::MemberAccess access, std::span<const win::Variant> args,
                          win::Variant& result) override;
    void draw(HDC dc, const RECT& bounds) override;
    void reset_properties() override;
    HRESULT save_properties(IStream* stream) override;
    HRESULT load_properties(IStream* stream) override;
    HRESULT save_properties(IPropertyBag* bag) override;
    HRESULT load_properties(IPropertyBag* bag, IErrorLog* log) override;
    void window_created(HWND window) override;
    void window_destroying(HWND window) override;
    bool window_message(HWND window, UINT msg, WPARAM wparam, LPARAM lparam,
                        LRESULT& result) override;
    void on_final_release() override;

  private:
    CTarnetCtrl();
    ~CTarnetCtrl() override = default;

    // Winsock, the message-only window and the process's engine. What it set up before
    // a failure is undone by on_final_release.
    HRESULT initialise();

    // The methods of _DTarnet.
    std::int16_t connect_to_server(const std::string& server, std::int16_t port);
    std::int16_t enable_upload(const std::string& server, std::int16_t port, std::int16_t enabled);
    std::int16_t send_data(const std::string& server, std::int16_t port, std::int16_t cmd,
                           std::int32_t ap_code, std::int32_t psw, const std::string& data,
                           std::int32_t data_len);
    void disconnect(const std::string& server);
    void disconnect_all();
    void about_box();

    void fire_link_event(DISPID id, const std::string& server, std::int16_t port);
    bool handle_notice(HWND window, UINT msg, WPARAM wparam, LPARAM lparam, LRESULT& result);
    static LRESULT CALLBACK message_window_procedure(HWND hwnd, UINT msg, WPARAM wparam,
                                                     LPARAM lparam);
    LRESULT message_window_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

    std::int16_t default_port_ = 5768;
    bool winsock_started_ = false;
    HWND message_window_ = nullptr;
    NoticeReceiver receiver_{
        *this,
        [this] { return engine_ ? engine_->take_posted_notices() : std::vector<PostedNotice>{}; }};
    std::shared_ptr<Engine> engine_;
};

}  // namespace tarnet
