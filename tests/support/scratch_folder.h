#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

namespace testsupport {

// A folder for one test of one process alone: ctest runs the cases side by
// side, and another build's suite may run at the same time. It starts empty
// and goes with everything in it when the object does, however the test
// ends.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& what)
        : path_(std::filesystem::path(::testing::TempDir()) /
                (what + "_" + std::to_string(::getpid()) + "_" + currentTestName())) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    static std::string currentTestName() {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        if (test == nullptr) return "outside_tests";
        // A parameterised test's name holds a '/'.
        std::string name = std::string(test->test_suite_name()) + "_" + test->name();
        std::replace(name.begin(), name.end(), '/', '_');
        return name;
    }

    std::filesystem::path path_;
};

}  // namespace testsupport
