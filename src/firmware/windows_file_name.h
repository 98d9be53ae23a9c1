#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// File names as the update program's file system takes them: a backslash (or
// a slash) separates folders, letters compare without regard to case, and a
// relative name starts at the folder the program runs in. Every tool that
// finds on the host the file a program would open on Windows goes through
// these functions, so that the tools and the programs agree on which file a
// name means.
namespace firmware {

// Two names of one folder entry: ASCII letters compare without regard to
// case, every other byte exactly.
bool sameWindowsName(std::string_view first, std::string_view second);

// False for a name the platform refuses outright: a control character, one of
// < > " | ? *, or a colon anywhere but after a drive letter.
bool isValidWindowsName(std::string_view path);

// Whether the name starts with a drive ("C:").
bool hasWindowsDrive(std::string_view path);

// The components of a Windows path: empty ones and "." dropped, ".." taking
// away the component before it. A drive is never taken away; a ".." with
// nothing before it stays, meaning the folder above the start.
std::vector<std::string> windowsPathComponents(std::string_view path);

// The host file that the components name, starting at `folder` and taking
// each component as the folder entry of the same name without regard to case;
// ".." is the folder above. None when a component names nothing or the last
// one is no regular file.
std::optional<std::filesystem::path> findHostFile(const std::filesystem::path& folder,
                                                  const std::vector<std::string>& components);

// The host file that a relative Windows name (as a firmware table gives it)
// names from `folder`; none for an invalid name, a name with a drive, or one
// that names no file.
std::optional<std::filesystem::path> findHostFile(const std::filesystem::path& folder,
                                                  std::string_view windowsName);

}  // namespace firmware
