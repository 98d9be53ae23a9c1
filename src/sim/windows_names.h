#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Names and paths as the simulated Windows reads them. The file system, the
// loader, the run-once command line, the drive letters and the controls that
// sort text all ask here, so no two of them can disagree about what a name
// means. The rule of a single folder entry is the one firmtool uses too
// (firmware/windows_file_name.h).
namespace sim {

// --- names ---------------------------------------------------------------------

// Two names of one thing: ASCII letters compare without regard to case, every
// other byte exactly, as FAT and NTFS compare them.
bool sameName(std::string_view first, std::string_view second);
// The order of names without regard to case (a sorted combo box).
bool nameLess(std::string_view first, std::string_view second);
bool nameStartsWith(std::string_view name, std::string_view prefix);
bool nameEndsWith(std::string_view name, std::string_view ending);
// The name with its ASCII letters in lower case: a key under which every
// spelling of one name is found.
std::string nameKey(std::string_view name);
// FindFirstFileA's pattern: '*' any run of characters, '?' one character,
// letters without regard to case; "*.*" also takes a name without a dot.
bool matchesFilePattern(std::string_view name, std::string_view pattern);

// --- paths ---------------------------------------------------------------------

// The components of a Windows path: empty ones (doubled or trailing
// separators) and "." dropped, ".." taking off the one before it and never
// climbing above a drive's root; a relative path keeps a leading "..".
std::vector<std::string> pathComponents(std::string_view path);
// Whether two paths name the same place, component by component.
bool samePath(std::string_view first, std::string_view second);
bool sameComponents(const std::vector<std::string>& first, const std::vector<std::string>& second);
// The components of a path as the process with this current directory reads
// it: "C:\x" as it is, "\x" on the current drive, "x" below the current
// directory.
std::vector<std::string> fullPathComponents(std::string_view path,
                                            std::string_view currentDirectory);

// A Windows folder and the host folder that stands behind it.
struct HostFolder {
    std::string windowsFolder;  // "C:\Program Files\Kavo\Velcrest"
    std::filesystem::path hostFolder;
};

// The host file behind a Windows path read from `currentDirectory`; none
// when the path leads out of the folder, names nothing there, or is no valid
// name.
std::optional<std::filesystem::path> hostFileFor(const HostFolder& folder,
                                                 std::string_view windowsPath,
                                                 std::string_view currentDirectory);

// --- drives --------------------------------------------------------------------

// The drive a text names, in upper case: "e", "E:", "e:\" and "E:\file" are
// all drive E; none for anything else.
std::optional<char> driveLetterOf(std::string_view text);
// The drive of a volume path "\\.\E:"; none for any other path.
std::optional<char> volumeLetterOf(std::string_view path);

}  // namespace sim
