#include "ui/settings_page.h"

#include <commctrl.h>

#include "opc/com/text.h"

namespace porvex::ui {
namespace {

std::wstring TextOf(HWND control) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::string Utf8Of(HWND control) { return opc::Utf8FromWide(TextOf(control)); }

HWND Make(HWND parent, HINSTANCE instance, HFONT font, const wchar_t* cls, const wchar_t* text,
          DWORD style, int x, int y, int w, int h, int id, std::vector<HWND>& controls,
          DWORD ex_style = 0) {
    HWND control =
        CreateWindowExW(ex_style, cls, text, WS_CHILD | style, x, y, w, h, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    controls.push_back(control);
    return control;
}

// The check boxes in the order of the settings page (and of the enable values).
constexpr std::array<PointKind, kPointKindCount> kCheckOrder = {
    PointKind::door_state,   PointKind::last_card, PointKind::remote_open,
    PointKind::invalid_card, PointKind::tamper,    PointKind::door_open_state,
    PointKind::contact_alarm};

}  // namespace

FieldLabels LabelsFor(int db_kind) {
    switch (db_kind) {
        case 2:  // SQLite: one file, nothing else
            return {{L"数据库文件：", L"数据库名称：", L"用户名：", L"数据库密码："},
                    {true, false, false, false}};
        case 3:  // ODBC: a DSN or a whole connection string, an optional schema
            return {{L"数据源(DSN)：", L"架构名称：", L"用户名：", L"数据库密码："},
                    {true, true, true, true}};
        default:  // SQL Server and Oracle
            return {{L"服务器：", L"数据库名称：", L"用户名：", L"数据库密码："},
                    {true, true, true, true}};
    }
}

void TSettingsPage::Create(HWND parent, HINSTANCE instance, HFONT font, RECT area, int first_id,
                           std::vector<HWND>& controls) {
    first_id_ = first_id;
    const int x = area.left + 4;
    const int w = area.right - area.left - 8;
    int y = area.top + 4;
    int id = first_id;

    // Database box.
    Make(parent, instance, font, WC_BUTTONW, L"数据库设置", BS_GROUPBOX, x, y, w, 184, -1,
         controls);
    for (int i = 0; i < kRadioCount; ++i) {
        radios_[i] = Make(parent, instance, font, WC_BUTTONW, kDbKindCaptions[i],
                          BS_AUTORADIOBUTTON | WS_TABSTOP | (i == 0 ? WS_GROUP : 0),
                          x + 12 + i * 100, y + 22, 96, 22, id++, controls);
    }
    for (int i = 0; i < 4; ++i) {
        const int row = y + 54 + i * 31;
        labels_[i] = Make(parent, instance, font, WC_STATICW, L"", SS_RIGHT, x + 8, row + 3, 104,
                          20, -1, controls);
        DWORD style = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | (i == 0 ? WS_GROUP : 0);
        if (i == 3) {
            style |= ES_PASSWORD;
        }
        edits_[i] = Make(parent, instance, font, WC_EDITW, L"", style, x + 118, row, w - 132, 24,
                         id++, controls, WS_EX_CLIENTEDGE);
    }
    SendMessageW(edits_[3], EM_SETPASSWORDCHAR, L'*', 0);
    y += 192;

    // Point box.
    Make(parent, instance, font, WC_BUTTONW, L"监控点设置", BS_GROUPBOX, x, y, w, 112, -1,
         controls);
    for (std::size_t i = 0; i < kCheckOrder.size(); ++i) {
        const PointKind kind = kCheckOrder[i];
        const int col = static_cast<int>(i % 2);
        const int row = static_cast<int>(i / 2);
        const std::wstring text = opc::WideFromUtf8(info(kind).name);
        checks_[static_cast<std::size_t>(kind)] =
            Make(parent, instance, font, WC_BUTTONW, text.c_str(),
                 BS_AUTOCHECKBOX | WS_TABSTOP | (i == 0 ? WS_GROUP : 0), x + 12 + col * (w / 2),
                 y + 20 + row * 22, w / 2 - 16, 22, id++, controls);
    }
    y += 120;

    // Refresh box.
    Make(parent, instance, font, WC_BUTTONW, L"最后一个刷卡人卡片号码", BS_GROUPBOX, x, y, w, 56,
         -1, controls);
    Make(parent, instance, font, WC_STATICW, L"刷新时间：", SS_RIGHT, x + 8, y + 25, 104, 20, -1,
         controls);
    refresh_ = Make(parent, instance, font, WC_EDITW, L"10",
                    WS_BORDER | WS_TABSTOP | WS_GROUP | ES_NUMBER | ES_AUTOHSCROLL, x + 118, y + 22,
                    80, 24, id++, controls, WS_EX_CLIENTEDGE);
    HWND spin = Make(parent, instance, font, UPDOWN_CLASSW, L"",
                     UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_SETBUDDYINT | UDS_NOTHOUSANDS, 0, 0, 0, 0,
                     id++, controls);
    SendMessageW(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(refresh_), 0);
    SendMessageW(spin, UDM_SETRANGE32, 1, 86400);
    Make(parent, instance, font, WC_STATICW, L"秒", 0, x + 206, y + 25, 30, 20, -1, controls);
    Relabel();
}

void TSettingsPage::Load(const Settings& settings) {
    const int kind = settings.db_type >= 0 && settings.db_type < kRadioCount ? settings.db_type : 0;
    for (int i = 0; i < kRadioCount; ++i) {
        SendMessageW(radios_[i], BM_SETCHECK, i == kind ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    const std::array<const std::string*, 4> texts = {&settings.server, &settings.database,
                                                     &settings.user, &settings.password};
    for (std::size_t i = 0; i < edits_.size(); ++i) {
        SetWindowTextW(edits_[i], opc::WideFromUtf8(*texts[i]).c_str());
    }
    SetWindowTextW(refresh_, opc::WideFromUtf8(refresh_text(settings)).c_str());
    for (PointKind kind_ : kAllPointKinds) {
        SendMessageW(checks_[static_cast<std::size_t>(kind_)], BM_SETCHECK,
                     settings.points.has(kind_) ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    Relabel();
}

int TSettingsPage::DbKind() const {
    for (int i = 0; i < kRadioCount; ++i) {
        if (SendMessageW(radios_[i], BM_GETCHECK, 0, 0) == BST_CHECKED) {
            return i;
        }
    }
    return 0;
}

Settings TSettingsPage::Read() const {
    Settings s;
    s.db_type = DbKind();
    s.server = Utf8Of(edits_[0]);
    s.database = Utf8Of(edits_[1]);
    s.user = Utf8Of(edits_[2]);
    s.password = Utf8Of(edits_[3]);
    s.refresh = RefreshText();
    for (PointKind kind : kAllPointKinds) {
        s.points.set(kind, SendMessageW(checks_[static_cast<std::size_t>(kind)], BM_GETCHECK, 0,
                                        0) == BST_CHECKED);
    }
    return s;
}

std::string TSettingsPage::RefreshText() const { return Utf8Of(refresh_); }

bool TSettingsPage::OnCommand(int id) {
    if (id >= first_id_ && id < first_id_ + kRadioCount) {
        Relabel();
        return true;
    }
    return false;
}

void TSettingsPage::Relabel() {
    const FieldLabels labels = LabelsFor(DbKind());
    for (std::size_t i = 0; i < labels_.size(); ++i) {
        SetWindowTextW(labels_[i], labels.text[i]);
        EnableWindow(edits_[i], labels.used[i]);
    }
}

}  // namespace porvex::ui
