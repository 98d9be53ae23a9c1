#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/firmware_image.h"
#include "firmware/firmware_table.h"
#include "firmware/flash_layout.h"
#include "firmware/srecord_reader.h"

// firmtool: the companion of the people who prepare firmware packages. Every
// command is a thin shell over src/firmware; what a command knows of the
// formats it learns from there.
namespace firmtool {

// Exit codes of every command.
inline constexpr int kExitSuccess = 0;
// The command ran but the answer is "no": no matching row, a package row that
// can never work, a firmware file the stream refuses.
inline constexpr int kExitRefused = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitFileError = 3;

// A command line after the command name: positionals in order and options by
// name (without the leading "--").
struct Arguments {
    std::vector<std::string> positionals;
    std::map<std::string, std::string, std::less<>> options;

    // The option's value, or nullptr when it was not given.
    const std::string* option(std::string_view name) const;
};

int runDecode(const Arguments& arguments);
int runEncode(const Arguments& arguments);
int runTable(const Arguments& arguments);
int runMatch(const Arguments& arguments);
int runImage(const Arguments& arguments);
int runStream(const Arguments& arguments);
int runCheck(const Arguments& arguments);

// One line "firmtool: MESSAGE" on standard error; returns exitCode so that a
// command can end with `return fail(...)`.
int fail(int exitCode, std::string_view message);

// Results go to standard output as key=value lines. Standard output is shared
// with the loader's diagnostics, so both write through C stdio and stay in
// order.
void printField(std::string_view key, std::string_view value);
void printHexField(std::string_view key, std::uint32_t value);

// 0x-prefixed lower-case hexadecimal, no padding.
std::string hex(std::uint32_t value);

// The text in double quotes with control characters and quotes escaped, so
// that a CR at the end of a file name can be seen.
std::string quote(std::string_view text);

// The text with its control characters shown as \r, \t or \xNN and nothing
// else changed, for output whose fields are not quoted.
std::string visible(std::string_view text);

// A count with a comma between each group of three digits: "236,560".
std::string groupedCount(std::size_t count);

// One line for a warning that does not change the command's verdict, on
// standard error: "firmtool: warning: MESSAGE".
void warn(std::string_view message);

// "no matching row", with the table's hint when it has one.
std::string noMatchMessage(const std::string& tablePath, const std::string& hint);

// The reader named by the positionals TABLE VID PID REV PRODUCT.
firmware::ReaderIdentity readerFromArguments(const Arguments& arguments);

// What the header is built from when `row` is chosen for `reader`: the
// reader's own vendor id and revision, and what the row says it becomes.
firmware::HeaderIdentity headerIdentity(const firmware::ReaderIdentity& reader,
                                        const firmware::FirmwareTableRow& row);

bool writeWholeFile(const std::string& path, std::span<const std::uint8_t> bytes);

// The decoded table text exactly as the update program reads it from `path`;
// false when the file cannot be read. `hint` gets tableHint of the raw bytes.
bool readTableText(const std::string& path, std::string& text, std::string& hint);

// The loader's diagnostics as the tools show them: the first few exactly as
// the programs print them, then how many more there were, so that a file
// full of stray characters does not drown what the tool has to say.
class CappedDiagnostics final : public firmware::LoaderDiagnostics {
  public:
    static constexpr std::size_t kShown = 5;

    void report(std::string_view line) override;
    // The lines kept and "and N more" when there were more, on standard output.
    void print() const;
    std::size_t total() const { return shown_.size() + more_; }

  private:
    std::vector<std::string> shown_;
    std::size_t more_ = 0;
};

// A firmware file loaded the way the update program loads it, from a fresh
// decoder state so that several loads in one run do not disturb each other.
struct LoadedFirmware {
    std::unique_ptr<firmware::FirmwareImage> image = std::make_unique<firmware::FirmwareImage>();
    std::uint8_t result = 0;
    std::optional<firmware::RecordPosition> endingRecord;
    CappedDiagnostics diagnostics;
};

// False when the file cannot be opened. The diagnostics are kept in `loaded`
// for the caller to print.
bool loadFirmwareFile(const std::string& path, LoadedFirmware& loaded);

// "result=1 (a record fails its checksum or is cut short) at line 12, S2
// record at 0x10230": why a load failed and which record ended it.
std::string describeLoadFailure(const LoadedFirmware& loaded);

// The host path of a file a table names, found from `folder` as the update
// program started there finds it on Windows (letter case ignored, backslash
// as folder separator); none when it names no file.
std::optional<std::string> firmwareFilePath(std::string_view folder, std::string_view tableName);

// One line naming what is wrong with the form of a file, or empty when it
// looks right: a firmware file that looks plain (unencoded), an input to
// encode that already looks encoded, a table with a byte-order mark or one
// that looks unencoded.
std::string firmwareFileHint(std::span<const std::uint8_t> raw);
std::string encodeInputHint(std::span<const std::uint8_t> raw);
std::string tableHint(std::span<const std::uint8_t> raw);

}  // namespace firmtool
