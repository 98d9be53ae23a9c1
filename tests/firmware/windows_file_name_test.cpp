// File names found on the host as the update program's file system finds them.

#include "firmware/windows_file_name.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kFolderAttempts = 1000;

// A folder of the temporary directory that did not exist before; the
// Windows build has no mkdtemp, so names are tried until one is new.
fs::path freshFolder() {
    const fs::path base = fs::temp_directory_path();
    const std::string stem = "host_file_" + std::to_string(std::random_device{}()) + "_";
    for (int attempt = 0; attempt < kFolderAttempts; ++attempt) {
        const fs::path folder = base / (stem + std::to_string(attempt));
        std::error_code error;
        if (fs::create_directory(folder, error)) return folder;
    }
    return {};
}

TEST(WindowsPathComponents, SplitsAtBothSlashesAndAppliesDots) {
    using Parts = std::vector<std::string>;
    EXPECT_EQ(firmware::windowsPathComponents("fw\\mini.s28"), (Parts{"fw", "mini.s28"}));
    EXPECT_EQ(firmware::windowsPathComponents("fw/mini.s28"), (Parts{"fw", "mini.s28"}));
    EXPECT_EQ(firmware::windowsPathComponents(".\\fw\\\\x\\..\\mini.s28"),
              (Parts{"fw", "mini.s28"}));
    EXPECT_EQ(firmware::windowsPathComponents("..\\mini.s28"), (Parts{"..", "mini.s28"}));
    EXPECT_EQ(firmware::windowsPathComponents("C:\\..\\Kavo"), (Parts{"C:", "Kavo"}))
        << "a drive is never taken away";
}

TEST(IsValidWindowsName, RefusesWhatThePlatformRefuses) {
    EXPECT_TRUE(firmware::isValidWindowsName("C:\\Program Files\\fw.s28"));
    EXPECT_FALSE(firmware::isValidWindowsName("fw.s28\r")) << "a CR left by CR LF line ends";
    EXPECT_FALSE(firmware::isValidWindowsName("fw?.s28"));
    EXPECT_FALSE(firmware::isValidWindowsName("fw:1.s28"));
}

class FindHostFileTest : public testing::Test {
  protected:
    void SetUp() override {
        folder_ = freshFolder();
        ASSERT_FALSE(folder_.empty());
        fs::create_directories(folder_ / "fw");
        std::ofstream(folder_ / "mini.s28") << "x";
        std::ofstream(folder_ / "fw" / "mini.s28") << "y";
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path folder_;
};

struct NameCase {
    const char* name;
    std::optional<std::string> found;  // relative to the folder; none when not found
};

TEST_F(FindHostFileTest, FindsFilesAsWindowsDoes) {
    const NameCase cases[] = {
        {"mini.s28", "mini.s28"},
        {"MINI.S28", "mini.s28"},
        {"fw\\mini.s28", "fw/mini.s28"},
        {"FW\\Mini.S28", "fw/mini.s28"},
        {".\\fw\\..\\mini.s28", "mini.s28"},
        {"gone.s28", std::nullopt},
        {"fw\\gone.s28", std::nullopt},
        {"fw", std::nullopt},
        {"mini.s28\r", std::nullopt},
        {"C:\\mini.s28", std::nullopt},
        {"", std::nullopt},
    };
    for (const NameCase& c : cases) {
        const auto found = firmware::findHostFile(folder_, std::string(c.name));
        if (c.found) {
            ASSERT_TRUE(found) << c.name;
            EXPECT_TRUE(fs::equivalent(*found, folder_ / *c.found)) << c.name;
        } else {
            EXPECT_FALSE(found) << c.name;
        }
    }
}

}  // namespace
