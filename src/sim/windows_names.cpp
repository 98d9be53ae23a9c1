#include "sim/windows_names.h"

#include <algorithm>

#include "firmware/windows_file_name.h"

namespace sim {

namespace {

constexpr char kBackslash = '\\';
constexpr char kSlash = '/';
constexpr char kDriveColon = ':';
constexpr char kAnyRun = '*';
constexpr char kAnyOne = '?';
constexpr std::string_view kEveryName = "*.*";
constexpr std::string_view kVolumePrefix = "\\\\.\\";
constexpr std::size_t kDriveLength = 2;  // "E:"

char lowerAscii(char character) {
    return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a')
                                                : character;
}

char upperAscii(char character) {
    return character >= 'a' && character <= 'z' ? static_cast<char>(character - 'a' + 'A')
                                                : character;
}

bool isAsciiLetter(char character) {
    return (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z');
}

bool isSeparator(char character) {
    return character == kBackslash || character == kSlash;
}

// The classic backtracking match: a '*' remembers where it stood, and a
// mismatch later lets it take one character more.
bool wildcardMatch(std::string_view name, std::string_view pattern) {
    std::size_t n = 0;
    std::size_t p = 0;
    std::optional<std::size_t> star;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == kAnyRun) {
            star = p++;
            starName = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == kAnyOne || lowerAscii(pattern[p]) == lowerAscii(name[n]))) {
            ++p;
            ++n;
        } else if (star) {
            p = *star + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == kAnyRun) ++p;
    return p == pattern.size();
}

// Whether `path` begins with the components of `start`.
bool startsWithComponents(const std::vector<std::string>& path,
                          const std::vector<std::string>& start) {
    return path.size() >= start.size() &&
           std::equal(start.begin(), start.end(), path.begin(),
                      [](const std::string& x, const std::string& y) {
                          return firmware::sameWindowsName(x, y);
                      });
}

}  // namespace

bool sameName(std::string_view first, std::string_view second) {
    return firmware::sameWindowsName(first, second);
}

bool nameLess(std::string_view first, std::string_view second) {
    return std::lexicographical_compare(first.begin(), first.end(), second.begin(), second.end(),
                                        [](char a, char b) {
                                            // Bytes above 0x7F sort after the letters, as unsigned
                                            // bytes do.
                                            return static_cast<unsigned char>(lowerAscii(a)) <
                                                   static_cast<unsigned char>(lowerAscii(b));
                                        });
}

bool nameStartsWith(std::string_view name, std::string_view prefix) {
    return name.size() >= prefix.size() && sameName(name.substr(0, prefix.size()), prefix);
}

bool nameEndsWith(std::string_view name, std::string_view ending) {
    return name.size() >= ending.size() &&
           sameName(name.substr(name.size() - ending.size()), ending);
}

std::string nameKey(std::string_view name) {
    std::string key(name);
    std::transform(key.begin(), key.end(), key.begin(), lowerAscii);
    return key;
}

bool matchesFilePattern(std::string_view name, std::string_view pattern) {
    return pattern == kEveryName || wildcardMatch(name, pattern);
}

std::vector<std::string> pathComponents(std::string_view path) {
    return firmware::windowsPathComponents(path);
}

bool samePath(std::string_view first, std::string_view second) {
    return sameComponents(pathComponents(first), pathComponents(second));
}

bool sameComponents(const std::vector<std::string>& first, const std::vector<std::string>& second) {
    return first.size() == second.size() && startsWithComponents(first, second);
}

std::vector<std::string> fullPathComponents(std::string_view path,
                                            std::string_view currentDirectory) {
    std::string full;
    if (firmware::hasWindowsDrive(path)) {
        const bool sameDrive = driveLetterOf(path) == driveLetterOf(currentDirectory);
        const std::string_view rest = path.substr(kDriveLength);
        // "C:x" is relative to the current directory when that is on C:.
        if (!rest.empty() && !isSeparator(rest.front()) && sameDrive) {
            full = std::string(currentDirectory) + kBackslash + std::string(rest);
        } else {
            full = std::string(path.substr(0, kDriveLength)) + kBackslash + std::string(rest);
        }
    } else if (!path.empty() && isSeparator(path.front())) {
        full = std::string(currentDirectory.substr(0, kDriveLength)) + std::string(path);
    } else {
        full = std::string(currentDirectory) + kBackslash + std::string(path);
    }
    return pathComponents(full);
}

std::optional<std::filesystem::path> hostFileFor(const HostFolder& folder,
                                                 std::string_view windowsPath,
                                                 std::string_view currentDirectory) {
    if (folder.hostFolder.empty() || !firmware::isValidWindowsName(windowsPath))
        return std::nullopt;
    const std::vector<std::string> wanted = fullPathComponents(windowsPath, currentDirectory);
    const std::vector<std::string> base = pathComponents(folder.windowsFolder);
    if (wanted.size() <= base.size() || !startsWithComponents(wanted, base)) return std::nullopt;
    const std::vector<std::string> inFolder(
        wanted.begin() + static_cast<std::ptrdiff_t>(base.size()), wanted.end());
    return firmware::findHostFile(folder.hostFolder, inFolder);
}

std::optional<char> driveLetterOf(std::string_view text) {
    if (text.empty() || !isAsciiLetter(text.front())) return std::nullopt;
    if (text.size() > 1 && text[1] != kDriveColon) return std::nullopt;
    return upperAscii(text.front());
}

std::optional<char> volumeLetterOf(std::string_view path) {
    if (!path.starts_with(kVolumePrefix)) return std::nullopt;
    const std::string_view drive = path.substr(kVolumePrefix.size());
    if (drive.size() != kDriveLength || drive.back() != kDriveColon) return std::nullopt;
    return driveLetterOf(drive);
}

}  // namespace sim
