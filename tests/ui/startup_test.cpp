// Porvex398's start-up without a usable configuration, and saving settings through the
// window: the "注意" dialogs, the settings tab, the registry values written, the end.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "app_support.h"
#include "temp_dir.h"
#include "ui/monitor_window.h"
#include "ui/settings_page.h"

namespace porvex::ui::testing {
namespace {

constexpr wchar_t kKey[] = L"Software\\Microsoft\\Windows\\Help";

std::optional<std::wstring> RegistryText(const wchar_t* name) {
    wchar_t value[512] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(value);
}

std::optional<DWORD> RegistryDword(const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

void Click(HWND control) { SendMessageW(control, BM_CLICK, 0, 0); }
void SetText(HWND control, const std::wstring& text) {
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override { RegisterOnce(); }
};

TEST_F(StartupTest, AnUnconfiguredStartShowsItsDialogAndTheSettingsTab) {
    ClearSettings();
    TPorvexApp app;
    EXPECT_EQ(app.TakeDialog(), L"系统没有配置，请检查！");
    HWND window = app.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WaitFor([&] { return SelectedTab(window) == 2; }, 5s));
    // The key was created on the way; no doors, an empty server tree.
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(TreeCount(app.Control(kIdServerTree)), 0);
    // Closing the window ends the program (no client holds an object).
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(app.WaitExit(20s).value_or(99), 0u);
}

TEST_F(StartupTest, ADoorListThatCannotBeReadShowsTheDatabasesMessage) {
    test::TempDir dir;
    const std::filesystem::path file = dir.path() / "no-doors.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.string().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "create table other (x)", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    WriteSettings(SqliteSettings(file.wstring()));
    TPorvexApp app;
    const std::wstring dialog = app.TakeDialog().value_or(L"");
    EXPECT_TRUE(dialog.starts_with(L"门禁列表读取失败，请检查数据库！")) << Utf8(dialog);
    EXPECT_NE(dialog.find(L"ZelB_"), std::wstring::npos) << Utf8(dialog);  // SQLite's words
    HWND window = app.Window();
    ASSERT_NE(window, nullptr);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(app.WaitExit(20s).value_or(99), 0u);
}

TEST_F(StartupTest, AFailedDatabaseConnectionShowsItsDialog) {
    test::TempDir dir;
    WriteSettings(SqliteSettings((dir.path() / "missing.db").wstring()));
    TPorvexApp app;
    const std::wstring dialog = app.TakeDialog().value_or(L"");
    EXPECT_TRUE(dialog.starts_with(L"数据库连接失败，请检查系统配置是否正确！")) << Utf8(dialog);
    EXPECT_GT(dialog.size(), std::wstring_view(L"数据库连接失败，请检查系统配置是否正确！").size());
    HWND window = app.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WaitFor([&] { return SelectedTab(window) == 2; }, 5s));
    // The edits show what was read.
    wchar_t text[512] = {};
    SendMessageW(app.Control(kIdSettingsFirst + TSettingsPage::kEditOffset), WM_GETTEXT, 512,
                 reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::wstring(text), (dir.path() / "missing.db").wstring());
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(app.WaitExit(20s).value_or(99), 0u);
}

TEST_F(StartupTest, SavingThroughTheWindowWritesTheRegistryAndEndsTheProgram) {
    ClearSettings();
    TPorvexApp app;
    ASSERT_EQ(app.TakeDialog(), L"系统没有配置，请检查！");
    ASSERT_NE(app.Window(), nullptr);
    const int first = kIdSettingsFirst;
    Click(app.Control(first + 2));  // SQLite
    SetText(app.Control(first + TSettingsPage::kEditOffset), L"Z:\\plant\\doors.db");
    SetText(app.Control(first + TSettingsPage::kEditOffset + 2), L"操作员");
    Click(app.Control(first + TSettingsPage::kCheckOffset + 0));  // 门禁状态
    Click(app.Control(first + TSettingsPage::kCheckOffset + 2));  // 遥控开门
    SetText(app.Control(first + TSettingsPage::kRefreshOffset), L"15");

    app.Command(kIdSave);
    EXPECT_EQ(app.TakeDialog(), L"为了保证系统设置有效,请重新启动OPC Server");
    EXPECT_EQ(app.WaitExit(20s).value_or(99), 0u);

    EXPECT_EQ(RegistryDword(L"OPCDBTYPE"), 2u);
    EXPECT_EQ(RegistryText(L"OPCIP"), L"Z:\\plant\\doors.db");
    EXPECT_EQ(RegistryText(L"OPCDB"), L"");
    EXPECT_EQ(RegistryText(L"OPCUser"), L"操作员");
    EXPECT_EQ(RegistryText(L"OPCRefresh"), L"15");
    EXPECT_EQ(RegistryText(L"OPCDoorState"), L"1");
    EXPECT_EQ(RegistryText(L"OPCDoorOpen"), L"1");
    EXPECT_EQ(RegistryText(L"OPCDoorCard"), L"0");
    EXPECT_EQ(RegistryText(L"OPCAlarmType"), L"0");
}

}  // namespace
}  // namespace porvex::ui::testing
