// The registry key owner and the registration helpers, under the test user's own key.
#include <gtest/gtest.h>

#include "win/registry.h"

namespace porvex::win {
namespace {

const wchar_t kRoot[] = L"Software\\PorvexWinTest";

class Registry : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(delete_key_tree(HKEY_CURRENT_USER, kRoot), ERROR_SUCCESS); }
    void TearDown() override { delete_key_tree(HKEY_CURRENT_USER, kRoot); }
};

TEST_F(Registry, WritesReadsAndRemovesKeys) {
    const std::wstring child = std::wstring(kRoot) + L"\\Child";
    ASSERT_EQ(write_key_default(HKEY_CURRENT_USER, child, L"门禁"), ERROR_SUCCESS);
    ASSERT_EQ(write_key_text(HKEY_CURRENT_USER, child, L"Name", L"value"), ERROR_SUCCESS);
    EXPECT_EQ(read_key_text(HKEY_CURRENT_USER, child), L"门禁");
    EXPECT_EQ(read_key_text(HKEY_CURRENT_USER, child, L"Name"), L"value");
    EXPECT_EQ(read_key_text(HKEY_CURRENT_USER, child, L"Missing"), std::nullopt);
    EXPECT_TRUE(key_has_subkeys(HKEY_CURRENT_USER, kRoot));
    // A key with subkeys stays on a plain delete; the tree delete takes everything.
    EXPECT_NE(delete_key(HKEY_CURRENT_USER, kRoot), ERROR_SUCCESS);
    EXPECT_EQ(delete_key_tree(HKEY_CURRENT_USER, kRoot), ERROR_SUCCESS);
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, kRoot));
    EXPECT_EQ(delete_key_tree(HKEY_CURRENT_USER, kRoot), ERROR_SUCCESS);
}

TEST_F(Registry, TheKeyOwnerOpensCreatesAndCloses) {
    RegistryKey key;
    EXPECT_EQ(key.open(HKEY_CURRENT_USER, kRoot), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(key);
    ASSERT_EQ(key.create(HKEY_CURRENT_USER, kRoot), ERROR_SUCCESS);
    EXPECT_EQ(key.set_string(L"", L"default"), ERROR_SUCCESS);
    EXPECT_EQ(key.get_string(L""), L"default");
    key.reset();
    EXPECT_FALSE(key);
    EXPECT_EQ(guid_text(IID_IUnknown), L"{00000000-0000-0000-C000-000000000046}");
    EXPECT_FALSE(module_path(nullptr).empty());
}

}  // namespace
}  // namespace porvex::win
