#include "settings/file_settings_store.h"

#include <gtest/gtest.h>

#include <fstream>

#include "settings/settings.h"
#include "temp_dir.h"

namespace porvex {
namespace {

TEST(FileSettingsStore, OpeningCreatesTheFileAndSavedSettingsReadBack) {
    test::TempDir dir;
    FileSettingsStore store(dir.path() / "conf" / "settings.conf");
    Settings s;
    s.db_type = 2;
    s.server = dir.path().string() + "/门禁.db";
    s.password = "a=b;c\\d\nnext";
    s.refresh = "10";
    s.points.set(PointKind::door_state).set(PointKind::contact_alarm);
    ASSERT_TRUE(save_settings(store, s));
    ASSERT_TRUE(std::filesystem::exists(store.path()));

    const Settings back = read_settings(store);
    EXPECT_EQ(back.db_type, 2);
    EXPECT_EQ(back.server, s.server);
    EXPECT_EQ(back.password, s.password);
    EXPECT_EQ(back.points, s.points);
}

TEST(FileSettingsStore, TypesAreKeptAsTheRegistryKeepsThem) {
    test::TempDir dir;
    const auto path = dir.path() / "settings.conf";
    {
        std::ofstream out(path);
        out << "# hand-written\nopcdbtype=sz:2\nOPCIP=sz:x\ngarbage line\n";
    }
    FileSettingsStore store(path);
    auto key = store.open();
    ASSERT_TRUE(key);
    EXPECT_FALSE(key->read_integer("OPCDBTYPE"));  // a string is not an integer
    EXPECT_EQ(key->read_string("OPCIP"), "x");
    EXPECT_EQ(key->read_string("OPCDB"), "");  // absent
    EXPECT_TRUE(read_settings(store).server.empty());
    ASSERT_TRUE(key->write_integer("OPCDBTYPE", 1));
    EXPECT_EQ(read_settings(store).server, "x");
}

TEST(FileSettingsStore, AFileThatCannotBeCreatedCannotBeOpened) {
    test::TempDir dir;
    const auto blocker = dir.path() / "file";
    std::ofstream(blocker) << "x";
    FileSettingsStore store(blocker / "settings.conf");
    EXPECT_EQ(store.open(), nullptr);
    EXPECT_TRUE(read_settings(store).server.empty());
}

}  // namespace
}  // namespace porvex
