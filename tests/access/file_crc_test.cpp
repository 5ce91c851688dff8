#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "frame/crc16.h"
#include "library.h"

namespace zorvik::access {
namespace {

class FileCrc : public ::testing::Test {
  protected:
    std::string write(const std::string& name, const std::string& content) {
        const auto path = dir_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path dir_ =
        std::filesystem::temp_directory_path() /
        ("zorvik-crc-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name());

  public:
    FileCrc() { std::filesystem::create_directories(dir_); }
};

TEST_F(FileCrc, KnownValuesOfWholeFiles) {
    unsigned short crc = 0xFFFF;
    EXPECT_EQ(file_check_crc16(write("check.bin", "123456789").c_str(), &crc), 1);
    EXPECT_EQ(crc, 0x31C3);
    EXPECT_EQ(file_check_crc16(write("empty.bin", "").c_str(), &crc), 1);
    EXPECT_EQ(crc, 0x0000);
}

TEST_F(FileCrc, EveryByteOfAFileLongerThanOneBlockCounts) {
    std::string content;
    for (int i = 0; i < 5000; ++i) {
        content.push_back(static_cast<char>(i * 7));
    }
    const auto path = write("long.bin", content);
    unsigned short crc = 0;
    ASSERT_EQ(file_check_crc16(path.c_str(), &crc), 1);
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(content.data()),
                                              content.size());
    EXPECT_EQ(crc, frame::crc16(bytes));
    // Changing the last byte changes the CRC: no coverage limit as in frames.
    content.back() ^= 0x01;
    unsigned short changed = 0;
    ASSERT_EQ(file_check_crc16(write("long2.bin", content).c_str(), &changed), 1);
    EXPECT_NE(changed, crc);
}

TEST_F(FileCrc, AFileThatCannotBeOpenedLeavesTheResultAlone) {
    unsigned short crc = 0x1234;
    EXPECT_EQ(file_check_crc16((dir_ / "missing.bin").string().c_str(), &crc), 0);
    EXPECT_EQ(crc, 0x1234);
    EXPECT_EQ(file_check_crc16(nullptr, &crc), 0);
    EXPECT_EQ(file_check_crc16(write("x.bin", "1").c_str(), nullptr), 0);
}

}  // namespace
}  // namespace zorvik::access
