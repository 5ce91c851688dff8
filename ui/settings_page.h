// The settings tab "系统配置": the database box "数据库设置" with the kind radio group
// rgDBType and four edits, the point box "监控点设置" with seven check boxes, the refresh
// box "最后一个刷卡人卡片号码" with its spin edit, and the button "保存配置" (made by the
// main form). Field labels follow the chosen database kind.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "settings/settings.h"

namespace porvex::ui {

// Captions of the database kinds, in "OPCDBTYPE" order.
inline constexpr std::array<const wchar_t*, 4> kDbKindCaptions = {L"SQL Server", L"Oracle",
                                                                  L"SQLite", L"ODBC"};

// The four field labels for a database kind (server, database, user, password), and
// whether each field is used by that kind.
struct FieldLabels {
    std::array<const wchar_t*, 4> text;
    std::array<bool, 4> used;
};
FieldLabels LabelsFor(int db_kind);

class TSettingsPage {
  public:
    // Control IDs: the radio buttons are first_id .. first_id + 3; the others follow.
    static constexpr int kRadioCount = 4;
    // Offsets of the controls' IDs from first_id (scripts and tests fill the page).
    static constexpr int kEditOffset = 4;      // server IP, database, OPC user, OPC password
    static constexpr int kCheckOffset = 8;     // the seven point kinds, in PointKind order
    static constexpr int kRefreshOffset = 15;  // the refresh period R

    // Creates the controls as children of parent inside `area`; every control made is
    // appended to `controls` (the tab shows and hides them).
    void Create(HWND parent, HINSTANCE instance, HFONT font, RECT area, int first_id,
                std::vector<HWND>& controls);

    void Load(const Settings& settings);  // start-up step 7
    Settings Read() const;                // what "保存配置" writes
    // The text of the refresh period's spin edit as it is now (R is read at each tick).
    std::string RefreshText() const;
    // A radio button of the kind group was clicked: relabel the fields.
    bool OnCommand(int id);
    int DbKind() const;

  private:
    void Relabel();

    std::array<HWND, kRadioCount> radios_{};
    std::array<HWND, 4> labels_{};
    std::array<HWND, 4> edits_{};                 // server IP, database, OPC user, OPC password
    std::array<HWND, kPointKindCount> checks_{};  // in PointKind order
    HWND refresh_ = nullptr;                      // the refresh period's edit
    int first_id_ = 0;
};

}  // namespace porvex::ui
