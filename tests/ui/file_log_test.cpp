// The operator log stays bounded: past its size limit the file moves to ".1" (replacing
// the previous one) and a new file starts.
#include "ui/file_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "temp_dir.h"

namespace porvex::ui {
namespace {

std::string Contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(FileLogTest, RollsOverAtItsLimitKeepingOnePreviousFile) {
    test::TempDir dir;
    const std::filesystem::path path = dir.path() / "Porvex398.log";
    {
        TFileLog log(path.wstring(), 400);
        for (int i = 0; i < 40; ++i) {
            log.write(LogLevel::info, "line " + std::to_string(i) + " of the log");
        }
        EXPECT_EQ(log.PreviousPath(), path.wstring() + L".1");
    }
    const std::filesystem::path previous = path.string() + ".1";
    ASSERT_TRUE(std::filesystem::exists(previous));
    EXPECT_LE(std::filesystem::file_size(path), 400u);
    EXPECT_LE(std::filesystem::file_size(previous), 400u);
    EXPECT_NE(Contents(path).find("line 39 of the log"), std::string::npos);
    EXPECT_EQ(Contents(path).find("line 0 of"), std::string::npos);
    EXPECT_EQ(Contents(previous).find("line 0 of"), std::string::npos);  // replaced since
}

TEST(FileLogTest, AnExistingLogCountsTowardsTheLimit) {
    test::TempDir dir;
    const std::filesystem::path path = dir.path() / "Porvex398.log";
    std::ofstream(path, std::ios::binary) << std::string(390, 'x') << "\r\n";
    {
        TFileLog log(path.wstring(), 400);
        log.write(LogLevel::info, "the first line after a restart");
    }
    EXPECT_NE(Contents(path.string() + ".1").find(std::string(390, 'x')), std::string::npos);
    EXPECT_NE(Contents(path).find("the first line after a restart"), std::string::npos);
}

}  // namespace
}  // namespace porvex::ui
