#include "sim/windows_names.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/scratch_folder.h"

namespace {

using Parts = std::vector<std::string>;

TEST(WindowsNames, CompareAndOrderWithoutRegardToAsciiCase) {
    struct Case {
        const char* first;
        const char* second;
        bool same;
        bool less;  // first before second
    };
    const Case cases[] = {
        {"Velcrest.exe", "VELCREST.EXE", true, false},
        {"KELDRA_ENG.rc", "keldra_eng.RC", true, false},
        {"apple", "Banana", false, true},
        {"Banana", "apple", false, false},
        {"abc", "abcd", false, true},
        {"abcd", "ABC", false, false},
        // Only ASCII letters fold: the platform's file systems leave the rest
        // to the code page, and the programs never rely on it.
        {"\xC4", "\xE4", false, true},
        {"\xE4", "a", false, false},  // bytes above 0x7F after the letters
        {"", "", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " / " + c.second);
        EXPECT_EQ(sim::sameName(c.first, c.second), c.same);
        EXPECT_EQ(sim::nameLess(c.first, c.second), c.less);
        EXPECT_EQ(sim::nameKey(c.first) == sim::nameKey(c.second), c.same);
    }
    EXPECT_TRUE(sim::nameEndsWith("KELDRA_ENG.DLL", ".dll"));
    EXPECT_FALSE(sim::nameEndsWith("dll", ".dll"));
    EXPECT_TRUE(sim::nameStartsWith("Removable Disk (E:)", "removable"));
    EXPECT_FALSE(sim::nameStartsWith("E:", "E:\\"));
}

TEST(WindowsNames, FilePatternsMatchAsFindFirstFileDoes) {
    struct Case {
        const char* name;
        const char* pattern;
        bool matches;
    };
    const Case cases[] = {
        {"DCIM", "*.*", true},  // no dot, still every name
        {"photo.jpg", "*.*", true},
        {"photo.jpg", "*", true},
        {"photo.jpg", "*.JPG", true},
        {"photo.jpg", "p?oto.*", true},
        {"photo.jpg", "PHOTO.JPG", true},
        {"photo.jpg", "*.txt", false},
        {"photo.jpg", "photo", false},
        {"ab", "a*?b", false},
        {"axxb", "a*?b", true},
        {"a", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " ~ " + c.pattern);
        EXPECT_EQ(sim::matchesFilePattern(c.name, c.pattern), c.matches);
    }
}

TEST(WindowsNames, PathsDropDotAndTakeOffOneComponentForDotDot) {
    struct Case {
        const char* path;
        Parts parts;
    };
    const Case cases[] = {
        {"C:\\Program Files\\Kavo\\", {"C:", "Program Files", "Kavo"}},
        {"C:\\Program Files\\\\Kavo", {"C:", "Program Files", "Kavo"}},
        {"C:/Program Files/Kavo", {"C:", "Program Files", "Kavo"}},
        {"C:\\a\\.\\b", {"C:", "a", "b"}},
        {"C:\\a\\b\\..\\c", {"C:", "a", "c"}},
        {"C:\\a\\..\\..\\..\\b", {"C:", "b"}},  // never above the root
        {"..\\x", {"..", "x"}},                 // relative: the folder above the start
        {".\\", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(sim::pathComponents(c.path), c.parts);
    }
    EXPECT_TRUE(sim::samePath("c:\\PROGRAM FILES\\kavo\\", "C:\\Program Files\\.\\Kavo"));
    EXPECT_FALSE(sim::samePath("C:\\Program Files", "C:\\Program Files\\Kavo"));
}

TEST(WindowsNames, PathsAreReadFromTheCurrentDirectory) {
    constexpr char kCurrent[] = "C:\\Tools\\Kavo";
    struct Case {
        const char* path;
        Parts parts;
    };
    const Case cases[] = {
        {"fw\\mini.s28", {"C:", "Tools", "Kavo", "fw", "mini.s28"}},
        {".\\firmtable.txt", {"C:", "Tools", "Kavo", "firmtable.txt"}},
        {"\\x", {"C:", "x"}},
        {"D:\\x", {"D:", "x"}},
        {"C:x", {"C:", "Tools", "Kavo", "x"}},
        {"D:x", {"D:", "x"}},
        {"..\\..\\..\\..\\x", {"C:", "x"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(sim::fullPathComponents(c.path, kCurrent), c.parts);
    }
}

TEST(WindowsNames, HostFileLookUpStaysInsideTheFolder) {
    testsupport::ScratchFolder scratch("windows_names");
    const std::filesystem::path host = scratch.path() / "Kavo";
    std::filesystem::create_directories(host / "fw");
    std::ofstream(host / "firmtable.txt") << "table";
    std::ofstream(host / "fw" / "mini.s28") << "S0";
    std::ofstream(scratch.path() / "outside.txt") << "not the program's";
    const sim::HostFolder folder{"C:\\Tools\\Kavo", host};
    constexpr char kCurrent[] = "C:\\Tools\\Kavo";

    struct Case {
        const char* path;
        std::optional<std::filesystem::path> found;
    };
    const Case cases[] = {
        {"FIRMTABLE.TXT", host / "firmtable.txt"},
        {".\\fw\\..\\firmtable.txt", host / "firmtable.txt"},
        {"..\\KAVO\\firmtable.txt", host / "firmtable.txt"},  // out and back in
        {"C:\\..\\..\\Tools\\Kavo\\FW\\MINI.S28", host / "fw" / "mini.s28"},
        {"c:\\tools\\kavo\\fw\\", std::nullopt},  // a folder, no file
        {"..\\outside.txt", std::nullopt},        // the host folder above is not the program's
        {"firm*.txt", std::nullopt},              // no valid name
        {"C:\\Other\\firmtable.txt", std::nullopt},
        {"D:\\Tools\\Kavo\\firmtable.txt", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(sim::hostFileFor(folder, c.path, kCurrent), c.found);
    }
}

TEST(WindowsNames, DriveLettersComeOutInUpperCase) {
    struct Case {
        const char* text;
        std::optional<char> drive;
        std::optional<char> volume;
    };
    const Case cases[] = {
        {"e", 'E', std::nullopt},
        {"E:", 'E', std::nullopt},
        {"e:\\DCIM", 'E', std::nullopt},
        {"\\\\.\\e:", std::nullopt, 'E'},
        {"\\\\.\\E:\\", std::nullopt, std::nullopt},
        {"\\\\.\\PhysicalDrive0", std::nullopt, std::nullopt},
        {"\\\\.\\1:", std::nullopt, std::nullopt},
        {"1:", std::nullopt, std::nullopt},
        {"Ex", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(sim::driveLetterOf(c.text), c.drive);
        EXPECT_EQ(sim::volumeLetterOf(c.text), c.volume);
    }
}

}  // namespace
