// The dispatch members of _DTarnet: the DefaultPort and DroppedReports properties and
// the methods, each a thin call into the engine. Arguments arrive already of their declared types.
#include <algorithm>
#include <cstdint>

#include "about_box.h"
#include "identifiers.h"
#include "system_text.h"
#include "tarnet_ctrl.h"

namespace tarnet {

namespace {

std::string text(const win::Variant& v) { return ax::to_system_text(V_BSTR(v.get())); }
std::int16_t short_of(const win::Variant& v) { return V_I2(v.get()); }
std::int32_t long_of(const win::Variant& v) { return V_I4(v.get()); }

void set_short(win::Variant& result, std::int16_t value) { result = win::Variant::i2(value); }

}  // namespace

HRESULT CTarnetCtrl::invoke_member(DISPID id, ax::MemberAccess access,
                                   std::span<const win::Variant> a, win::Variant& result) {
    switch (id) {
        case kDispDefaultPort:
            if (access == ax::MemberAccess::put) {
                default_port_ = short_of(a[0]);
                set_modified();
            } else {
                set_short(result, default_port_);
            }
            return S_OK;
        case kDispDroppedReports: {
            // Counted since the engine (one per process) was made; saturates rather than
            // wrapping to a negative count.
            const std::uint64_t total = engine_->report_drops().total();
            result =
                win::Variant::i4(static_cast<LONG>(std::min<std::uint64_t>(total, 0x7FFFFFFF)));
            return S_OK;
        }
        case kDispConnectToServer:
            set_short(result, connect_to_server(text(a[0]), short_of(a[1])));
            return S_OK;
        case kDispConnectToServerH:
            set_short(result, connect_to_server(text(a[0]), default_port_));
            return S_OK;
        case kDispEnableUpload:
            set_short(result, enable_upload(text(a[0]), short_of(a[1]), short_of(a[2])));
            return S_OK;
        case kDispEnabledUploadH:
            set_short(result, enable_upload(text(a[0]), default_port_, short_of(a[1])));
            return S_OK;
        case kDispSendData:
            set_short(result, send_data(text(a[0]), short_of(a[1]), short_of(a[2]), long_of(a[3]),
                                        long_of(a[4]), text(a[5]), long_of(a[6])));
            return S_OK;
        case kDispSendDataH:
            set_short(result, send_data(text(a[0]), default_port_, short_of(a[1]), long_of(a[2]),
                                        long_of(a[3]), text(a[4]), long_of(a[5])));
            return S_OK;
        case kDispDisconnect:  // the port is not compared
        case kDispDisconnectH:
            disconnect(text(a[0]));
            return S_OK;
        case kDispDisconnectAll:
            disconnect_all();
            return S_OK;
        case kDispAboutBox:
            about_box();
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
    }
}

std::int16_t CTarnetCtrl::connect_to_server(const std::string& server, std::int16_t port) {
    return engine_->connect_link(server, port, *this);
}

std::int16_t CTarnetCtrl::enable_upload(const std::string& server, std::int16_t port,
                                        std::int16_t enabled) {
    return engine_->set_upload(server, port, enabled != 0);
}

std::int16_t CTarnetCtrl::send_data(const std::string& server, std::int16_t port, std::int16_t cmd,
                                    std::int32_t ap_code, std::int32_t psw, const std::string& data,
                                    std::int32_t data_len) {
    return engine_->send_frame(server, port, cmd, ap_code, psw, data, data_len, *this);
}

void CTarnetCtrl::disconnect(const std::string& server) { engine_->disconnect_by_server(server); }

void CTarnetCtrl::disconnect_all() { EngineHost::instance().stop_all(); }

void CTarnetCtrl::about_box() { show_about_box(dialog_owner()); }

}  // namespace tarnet
