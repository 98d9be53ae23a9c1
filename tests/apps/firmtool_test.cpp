// firmtool run as its users run it: a process with arguments, a working
// directory, standard output, standard error and an exit status.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "firmware/byte_source.h"
#include "firmware/chained_xor.h"
#include "firmware/firmware_image.h"
#include "firmware/firmware_table.h"
#include "firmware/flash_layout.h"
#include "firmware/srecord_reader.h"
#include "support/case_names.h"
#include "support/scratch_folder.h"
#include "support/srecord_writer.h"

namespace {

namespace fs = std::filesystem;
using testsupport::NameOfCase;
using testsupport::PrintTo;
using Bytes = std::vector<std::uint8_t>;

constexpr int kExitSuccess = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFileError = 3;

const fs::path kExamplePackage = fs::path(VELCREST_SOURCE_DIR) / "examples" / "package";
const std::string kScramblingName(firmware::kScramblingHeaderName);

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Bytes readBytes(const fs::path& path) {
    const std::string text = readText(path);
    return {text.begin(), text.end()};
}

void writeBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes toBytes(std::string_view text) {
    return {text.begin(), text.end()};
}

Bytes encoded(std::string_view plain) {
    return firmware::encodeChainedLines(toBytes(plain));
}

// Runs firmtool in `directory` with exactly these arguments (no shell, so
// empty and blank arguments arrive as they are).
ToolRun runFirmtool(const std::vector<std::string>& arguments, const fs::path& directory) {
    const testsupport::ScratchFolder capture("firmtool_run");
    const fs::path outPath = capture.path() / "out";
    const fs::path errPath = capture.path() / "err";
    std::vector<char*> argv;
    std::string program = FIRMTOOL_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || chdir(directory.c_str()) != 0) _exit(127);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readText(outPath);
    run.err = readText(errPath);
    return run;
}

// Checks the message convention of every failure: one line on standard error.
void expectOneErrorLine(const ToolRun& run) {
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_TRUE(run.err.starts_with("firmtool: ")) << run.err;
    EXPECT_TRUE(run.err.ends_with("\n")) << run.err;
}

// One S-record line with a correct checksum (or a wrong one when asked).
std::string record(char type, std::uint32_t address, const Bytes& data = {},
                   bool badChecksum = false) {
    constexpr std::uint8_t kSpoilt = 0x01;
    constexpr std::uint8_t kRight = 0x00;
    return testsupport::sRecord(type, address, data,
                                {.checksumFlip = badChecksum ? kSpoilt : kRight});
}

std::string repeated(std::string_view text, std::size_t times) {
    std::string out;
    for (std::size_t index = 0; index < times; ++index) out += text;
    return out;
}

// Two S3 records of count 3, too short for their address field, at 0x20000
// and 0x30000: the loader takes them, moves its bounds, and stores no byte.
const std::string kRecordsWithoutBytes = "S30300020000FA\nS30300030000F9\n";

Bytes patternBytes(std::size_t length, std::uint8_t seed) {
    Bytes bytes(length);
    for (std::size_t index = 0; index < length; ++index) {
        bytes[index] = static_cast<std::uint8_t>(seed + index * 7 + (index >> 8));
    }
    return bytes;
}

// A small firmware file in S2 records of 16 bytes from `start`, with a header
// record and an S8 end record.
std::string firmwareText(std::uint32_t start, std::size_t length, std::uint8_t seed = 1) {
    return testsupport::firmwareText(
        start, patternBytes(length, seed),
        {.bytesPerRecord = 16, .header = "test", .endType = '8', .endAddress = start});
}

Bytes goodFirmware() {
    return encoded(firmwareText(0x10000, 0x400));
}

std::string row(std::string_view vendor, std::string_view product, std::string_view revision,
                std::string_view name, std::string_view header, std::string_view file) {
    return std::string(vendor) + ";" + std::string(product) + ";1f00;" + std::string(name) + ";" +
           std::string(name) + " New;" + std::string(revision) + ";" + std::string(header) +
           ";0200;" + std::string(file);
}

// The library's own answer to what the reader receives for this row.
std::optional<Bytes> libraryStream(const fs::path& directory,
                                   const firmware::FirmwareTableRow& tableRow,
                                   const firmware::ReaderIdentity& reader) {
    firmware::FileByteSource file;
    if (!file.open((directory / tableRow.firmwareFileName).string())) return std::nullopt;
    auto image = std::make_unique<firmware::FirmwareImage>();
    firmware::resetChainedDecoder();
    if (firmware::loadFirmwareImage(file, *image) != firmware::kLoadOk) return std::nullopt;
    const firmware::FlashPlan plan =
        firmware::planFlash(*image, {reader.usbVendorId, tableRow.newProductId, reader.usbRevision,
                                     tableRow.newProductName, tableRow.headerName});
    return firmware::buildBlockStream(*image, plan);
}

class FirmtoolTest : public testing::Test {
  protected:
    void writeEncoded(const std::string& name, std::string_view plain) {
        writeBytes(dir_ / name, encoded(plain));
    }
    ToolRun runHere(const std::vector<std::string>& arguments) {
        return runFirmtool(arguments, dir_);
    }

    testsupport::ScratchFolder scratch_{"firmtool_test"};
    fs::path dir_ = scratch_.path();
};

// --- encode and decode ------------------------------------------------------

struct CodecCase {
    const char* name;
    std::vector<std::string> keyArguments;
    std::optional<std::uint8_t> key;
};

class FirmtoolCodecTest : public FirmtoolTest, public testing::WithParamInterface<CodecCase> {};

TEST_P(FirmtoolCodecTest, EncodesLikeTheLibraryAndDecodesBack) {
    const std::string plain = "S00600004844521B\nsecond line\r\n\nlast line without LF";
    writeBytes(dir_ / "plain.txt", toBytes(plain));
    std::vector<std::string> arguments = {"encode", "plain.txt", "coded.bin"};
    arguments.insert(arguments.end(), GetParam().keyArguments.begin(),
                     GetParam().keyArguments.end());

    const ToolRun encodeRun = runHere(arguments);
    ASSERT_EQ(encodeRun.exitCode, kExitSuccess) << encodeRun.err;
    EXPECT_EQ(readBytes(dir_ / "coded.bin"),
              firmware::encodeChainedLines(toBytes(plain), GetParam().key));

    const ToolRun decodeRun = runHere({"decode", "coded.bin", "back.txt"});
    ASSERT_EQ(decodeRun.exitCode, kExitSuccess) << decodeRun.err;
    EXPECT_EQ(readText(dir_ / "back.txt"), plain);
}

INSTANTIATE_TEST_SUITE_P(Keys, FirmtoolCodecTest,
                         testing::Values(CodecCase{"NoKey", {}, std::nullopt},
                                         CodecCase{"HexKeyApart", {"--key", "0x5a"}, 0x5a},
                                         CodecCase{"HexKeyJoined", {"--key=0xFF"}, 0xFF},
                                         CodecCase{"ZeroKey", {"--key", "0"}, 0},
                                         CodecCase{"DecimalKey", {"--key", "17"}, 17}),
                         NameOfCase{});

TEST_F(FirmtoolTest, DecodeReadsEveryLineBeyondTheTableLimit) {
    std::string plain;
    while (plain.size() < 2 * firmware::kTableReadLimit) plain += "0123456789abcdef0123456789\n";
    writeEncoded("big.bin", plain);
    ASSERT_EQ(runHere({"decode", "big.bin", "big.txt"}).exitCode, kExitSuccess);
    EXPECT_EQ(readText(dir_ / "big.txt"), plain);
}

// --- usage errors and unreadable files --------------------------------------

struct FailureCase {
    const char* name;  // what the case shows, as a sentence
    std::vector<std::string> arguments;
    int exitCode;
};

class FirmtoolFailureTest : public FirmtoolTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(FirmtoolFailureTest, GivesOneLineOnStandardErrorAndItsExitCode) {
    writeBytes(dir_ / "plain.txt", toBytes("text\n"));
    fs::create_directory(dir_ / "empty");
    const ToolRun result = runHere(GetParam().arguments);
    EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.err;
    EXPECT_EQ(result.out, "");
    expectOneErrorLine(result);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirmtoolFailureTest,
    testing::Values(
        FailureCase{"no command", {}, kExitUsage},
        FailureCase{"unknown command", {"flash", "x"}, kExitUsage},
        FailureCase{"decode lacks OUT", {"decode", "plain.txt"}, kExitUsage},
        FailureCase{"match lacks PRODUCT", {"match", "t", "0d9f", "1001", "0100"}, kExitUsage},
        FailureCase{"table has one argument too many", {"table", "a", "b"}, kExitUsage},
        FailureCase{"stream lacks --out", {"stream", "t", "a", "b", "c", "d"}, kExitUsage},
        FailureCase{"--out lacks its value", {"image", "f", "--out"}, kExitUsage},
        FailureCase{"unknown option", {"encode", "plain.txt", "o", "--seed", "1"}, kExitUsage},
        FailureCase{"key above a byte", {"encode", "plain.txt", "o", "--key", "0x100"}, kExitUsage},
        FailureCase{"key not a number", {"encode", "plain.txt", "o", "--key", "0xzz"}, kExitUsage},
        FailureCase{"key empty", {"encode", "plain.txt", "o", "--key="}, kExitUsage},
        FailureCase{"key negative", {"encode", "plain.txt", "o", "--key", "-1"}, kExitUsage},
        FailureCase{"decode input missing", {"decode", "missing", "o"}, kExitFileError},
        FailureCase{
            "encode output unwritable", {"encode", "plain.txt", "no/such/dir/o"}, kExitFileError},
        FailureCase{"table missing", {"table", "missing"}, kExitFileError},
        FailureCase{"match table missing", {"match", "missing", "", "", "", ""}, kExitFileError},
        FailureCase{"image missing", {"image", "missing"}, kExitFileError},
        FailureCase{"stream table missing",
                    {"stream", "missing", "", "", "", "", "--out", "o"},
                    kExitFileError},
        FailureCase{"check directory missing", {"check", "missing"}, kExitFileError},
        FailureCase{"check directory without table", {"check", "empty"}, kExitFileError}),
    NameOfCase{});

// --- help --------------------------------------------------------------------

TEST_F(FirmtoolTest, HelpOnTheToolAndEveryCommandExitsZeroWithItsExitStatuses) {
    const std::vector<std::string> commands = {"",      "decode", "encode", "table",
                                               "match", "image",  "stream", "check"};
    for (const std::string& command : commands) {
        for (const std::string flag : {"--help", "-h"}) {
            std::vector<std::string> arguments;
            if (!command.empty()) arguments.push_back(command);
            arguments.push_back(flag);
            SCOPED_TRACE(command + " " + flag);
            const ToolRun result = runHere(arguments);
            EXPECT_EQ(result.exitCode, kExitSuccess);
            EXPECT_EQ(result.err, "");
            EXPECT_NE(result.out.find("Usage: firmtool " + command), std::string::npos)
                << result.out;
            EXPECT_NE(result.out.find("Exit status: 0 "), std::string::npos) << result.out;
            EXPECT_NE(result.out.find("docs/firmtool.md"), std::string::npos) << result.out;
        }
    }
}

// --- encode refuses what is encoded already ------------------------------------

TEST_F(FirmtoolTest, EncodeRefusesAnEncodedInputUnlessForced) {
    struct Case {
        const char* what;
        Bytes raw;
    };
    const Case cases[] = {
        {"firmware, default keys", encoded(firmwareText(0x10000, 64))},
        {"table, default keys",
         encoded(row("0d9f", "1001", "0100", "TKW-5 CardRW", "Plain", "fw.s28") + "\n")},
        {"table, one small key",
         firmware::encodeChainedLines(
             toBytes(row("0d9f", "1001", "0100", "TKW-5 CardRW", "Plain", "fw.s28") + "\n"), 0x01)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes(dir_ / "coded.bin", c.raw);
        const ToolRun refused = runHere({"encode", "coded.bin", "twice.bin"});
        EXPECT_EQ(refused.exitCode, kExitRefused);
        expectOneErrorLine(refused);
        EXPECT_NE(refused.err.find("already looks encoded"), std::string::npos) << refused.err;
        EXPECT_FALSE(fs::exists(dir_ / "twice.bin"));
    }
    writeEncoded("coded.s28", firmwareText(0x10000, 64));

    const ToolRun forced = runHere({"encode", "coded.s28", "twice.s28", "--force"});
    EXPECT_EQ(forced.exitCode, kExitSuccess) << forced.err;
    EXPECT_EQ(readBytes(dir_ / "twice.s28"),
              firmware::encodeChainedLines(readBytes(dir_ / "coded.s28")));
}

// --- the form of a table ----------------------------------------------------------

TEST_F(FirmtoolTest, TableHintsAreOneWarningLine) {
    struct Case {
        const char* what;
        Bytes raw;
        std::string warning;  // empty: none
    };
    const std::string plainRow = row("0d9f", "1001", "0100", "TKW-5 CardRW", "Plain", "fw.s28");
    const Case cases[] = {
        {"encoded", encoded(plainRow + "\n"), ""},
        {"with a byte-order mark", encoded("\xEF\xBB\xBF" + plainRow + "\n"),
         "the table starts with a byte-order mark"},
        {"not encoded", toBytes(plainRow + "\n"), "the table looks unencoded"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes(dir_ / "firmtable.txt", c.raw);
        const ToolRun result = runHere({"table", "firmtable.txt"});
        EXPECT_EQ(result.exitCode, kExitSuccess);
        if (c.warning.empty()) {
            EXPECT_EQ(result.err, "");
        } else {
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
            EXPECT_TRUE(result.err.starts_with("firmtool: warning: firmtable.txt: " + c.warning))
                << result.err;
        }
    }
}

// --- table and match --------------------------------------------------------

TEST_F(FirmtoolTest, TablePrintsTheRowsAsTheProgramCutsThem) {
    writeEncoded("firmtable.txt", "0d9f;1001;1002;TKW-5 CardRW;TKW-5 CardRW;0100;" +
                                      kScramblingName +
                                      ";0200;fw.s37\n"
                                      "0d9f,1003,1004,Combo;Combo New;0100,Plain;0200,crlf.s28\r\n"
                                      "\n"
                                      "0d9f;1005;1006;Short\n");
    const ToolRun result = runHere({"table", "firmtable.txt"});
    ASSERT_EQ(result.exitCode, kExitSuccess) << result.err;
    EXPECT_EQ(result.out, "0d9f\t1001\t1002\tTKW-5 CardRW\tTKW-5 CardRW\t0100\t" + kScramblingName +
                              "\t0200\tfw.s37\n"
                              "0d9f\t1003\t1004\tCombo\tCombo New\t0100\tPlain\t0200\tcrlf.s28\\r\n"
                              "\t\t\t\t\t\t\t\t\n"
                              "0d9f\t1005\t1006\tShort\t\t\t\t\t\n");
}

struct MatchCase {
    const char* name;                 // what the case shows, as a sentence
    std::vector<std::string> reader;  // VID PID REV PRODUCT
    std::string expected;             // stdout; empty when no row matches
};

class FirmtoolMatchTest : public FirmtoolTest, public testing::WithParamInterface<MatchCase> {};

TEST_P(FirmtoolMatchTest, PicksTheRowTheProgramWouldPick) {
    writeEncoded("firmtable.txt",
                 "0d9f;1001;1002;TKW-5 CardRW;TKW-5 New;0100;Header A;0200;a.s37\n"
                 "0d9f;1001;1008;TKW-5 CardRW;TKW-5 Dup;0100;Header B;0300;b.s37\n"
                 "0d9f;1001;1002;TKW-5 CardRW;TKW-5 Old;0080;Header C;0200;c.s28\n"
                 "0d9f;1003;1004;\n"
                 "0d9f;1005;1006;CRLF;CRLF;0100;Header D;0200;d.s28\r\n");
    std::vector<std::string> arguments = {"match", "firmtable.txt"};
    arguments.insert(arguments.end(), GetParam().reader.begin(), GetParam().reader.end());
    const ToolRun result = runHere(arguments);
    if (GetParam().expected.empty()) {
        EXPECT_EQ(result.exitCode, kExitRefused);
        EXPECT_EQ(result.err, "firmtool: no matching row\n");
        EXPECT_EQ(result.out, "");
    } else {
        EXPECT_EQ(result.exitCode, kExitSuccess) << result.err;
        EXPECT_EQ(result.out, GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Readers, FirmtoolMatchTest,
    testing::Values(
        MatchCase{"first of two equal rows wins",
                  {"0d9f", "1001", "0100", "TKW-5 CardRW"},
                  "firmwareFileName=a.s37\nheaderName=Header A\nmatchedProductName=TKW-5 CardRW\n"
                  "handoffRevision=0200\ninquiryProduct=TKW-5 New\nusbProductId=1002\n"},
        MatchCase{"older revision",
                  {"0d9f", "1001", "0080", "TKW-5 CardRW"},
                  "firmwareFileName=c.s28\nheaderName=Header C\nmatchedProductName=TKW-5 CardRW\n"
                  "handoffRevision=0200\ninquiryProduct=TKW-5 Old\nusbProductId=1002\n"},
        MatchCase{"short row matches empty arguments",
                  {"0d9f", "1003", "", ""},
                  "firmwareFileName=\nheaderName=\nmatchedProductName=\nhandoffRevision=\n"
                  "inquiryProduct=\nusbProductId=1004\n"},
        MatchCase{"a CR at the end of a field shows",
                  {"0d9f", "1005", "0100", "CRLF"},
                  "firmwareFileName=d.s28\\r\nheaderName=Header D\nmatchedProductName=CRLF\n"
                  "handoffRevision=0200\ninquiryProduct=CRLF\nusbProductId=1006\n"},
        MatchCase{"hex digit case differs", {"0D9F", "1001", "0100", "TKW-5 CardRW"}, ""},
        MatchCase{"product with trailing blank", {"0d9f", "1001", "0100", "TKW-5 CardRW "}, ""},
        MatchCase{"unknown revision", {"0d9f", "1001", "0200", "TKW-5 CardRW"}, ""},
        MatchCase{"all empty", {"", "", "", ""}, ""}),
    NameOfCase{});

// --- image ------------------------------------------------------------------

struct ImageCase {
    const char* name;  // what the case shows, as a sentence
    std::string text;
    std::string expected;  // stdout, diagnostics included
    int exitCode = kExitSuccess;
    std::string error = "";  // the one line on standard error, when the load fails
};

class FirmtoolImageTest : public FirmtoolTest, public testing::WithParamInterface<ImageCase> {};

TEST_P(FirmtoolImageTest, PrintsDiagnosticsThenTheResultAndExitsByIt) {
    writeEncoded("fw.s28", GetParam().text);
    const ToolRun result = runHere({"image", "fw.s28"});
    EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.err;
    EXPECT_EQ(result.out, GetParam().expected);
    EXPECT_EQ(result.err, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FirmtoolImageTest,
    testing::Values(
        ImageCase{"loads", firmwareText(0x10000, 40),
                  "result=0\nimageLowAddress=0x10000\nimageHighAddress=0x10027\n"},
        ImageCase{"stray characters are reported and skipped",
                  "s" + record('2', 0x12000, {1, 2}) + "S4\n" + record('8', 0),
                  "S Error = 0x73\nget_srecord: Error 52\n"
                  "result=0\nimageLowAddress=0x12000\nimageHighAddress=0x12001\n"},
        ImageCase{"bad checksum", record('2', 0x10000, {1, 2, 3}) + record('2', 0x10003, {4}, true),
                  "result=1\nimageLowAddress=0x10000\nimageHighAddress=0x10002\n"
                  "endingRecordLine=2\nendingRecordType=S2\nendingRecordAddress=0x10003\n",
                  kExitRefused,
                  "firmtool: fw.s28 does not load: result=1 (a record fails its "
                  "checksum or is cut short) at line 2, S2 record at 0x10003\n"},
        ImageCase{"address below the image",
                  record('0', 0, toBytes("hdr")) + "\n" + record('1', 0x1000, {1}),
                  "result=2\nimageLowAddress=0xffffffff\nimageHighAddress=0x0\n"
                  "endingRecordLine=3\nendingRecordType=S1\nendingRecordAddress=0x1000\n",
                  kExitRefused,
                  "firmtool: fw.s28 does not load: result=2 (a data record lies "
                  "outside 0x10000-0x3ffff) at line 3, S1 record at 0x1000\n"},
        ImageCase{"diagnostics beyond the first five are counted",
                  std::string(1234, '#') + "\n" + record('2', 0x10000, {1}),
                  repeated("S Error = 0x23\n", 5) + "and 1,229 more\n" +
                      "result=0\nimageLowAddress=0x10000\nimageHighAddress=0x10000\n"},
        ImageCase{"no data records", record('0', 0, toBytes("hdr")) + record('9', 0),
                  "result=0\nimageLowAddress=0xffffffff\nimageHighAddress=0x0\n"}),
    NameOfCase{});

TEST_F(FirmtoolTest, ImageWritesTheLoadedImage) {
    writeEncoded("fw.s28", record('2', 0x10000, {0x11, 0x22, 0x33, 0x44}) + record('8', 0));
    const ToolRun result = runHere({"image", "fw.s28", "--out", "image.bin"});
    ASSERT_EQ(result.exitCode, kExitSuccess) << result.err;
    const Bytes image = readBytes(dir_ / "image.bin");
    ASSERT_EQ(image.size(), firmware::kImageSize);
    EXPECT_EQ(Bytes(image.begin() + 0x10000, image.begin() + 0x10004),
              (Bytes{0x22, 0x11, 0x44, 0x33}));
    EXPECT_EQ(std::count(image.begin(), image.end(), firmware::kUnsetImageByte),
              static_cast<std::ptrdiff_t>(firmware::kImageSize - 4));
}

TEST_F(FirmtoolTest, ImageDoesNotLoadAPlainFileAndSaysWhyInOneLine) {
    writeBytes(dir_ / "plain.s28", toBytes(firmwareText(0x10000, 16)));
    const ToolRun result = runHere({"image", "plain.s28"});
    EXPECT_TRUE(result.out.find("imageLowAddress=0xffffffff\nimageHighAddress=0x0\n") !=
                std::string::npos)
        << result.out;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_NE(result.err.find("plain.s28: it looks like a plain S-record file, not encoded"),
              std::string::npos)
        << result.err;
}

// --- stream -----------------------------------------------------------------

struct StreamCase {
    const char* name;                 // what the case shows, as a sentence
    std::vector<std::string> reader;  // VID PID REV PRODUCT
    std::uint32_t imageLength;
    std::uint16_t blocks;
    bool scrambled;
};

class FirmtoolExampleStreamTest : public testing::TestWithParam<StreamCase> {};

// The example package is what the rest of the team rehearses with; its
// streams must be exactly what the library builds.
TEST_P(FirmtoolExampleStreamTest, WritesExactlyWhatTheLibraryBuilds) {
    const StreamCase& param = GetParam();
    const testsupport::ScratchFolder scratch("firmtool_stream");
    const fs::path out = scratch.path() / "stream.bin";
    std::vector<std::string> arguments = {"stream", "firmtable.txt"};
    arguments.insert(arguments.end(), param.reader.begin(), param.reader.end());
    arguments.insert(arguments.end(), {"--out", out.string()});

    const ToolRun result = runFirmtool(arguments, kExamplePackage);
    const Bytes stream = readBytes(out);
    ASSERT_EQ(result.exitCode, kExitSuccess) << result.err;

    const Bytes rawTable = readBytes(kExamplePackage / "firmtable.txt");
    const firmware::ReaderIdentity identity{param.reader[0], param.reader[1], param.reader[2],
                                            param.reader[3]};
    const auto tableRow =
        firmware::findFirmwareRow(firmware::decodeFirmwareTableText(rawTable), identity);
    ASSERT_TRUE(tableRow);
    const auto expected = libraryStream(kExamplePackage, *tableRow, identity);
    ASSERT_TRUE(expected);
    ASSERT_TRUE(stream == *expected) << "stream of " << stream.size() << " bytes differs";
    ASSERT_EQ(stream.size(), firmware::kBlockSize * (1u + param.blocks));

    const auto header = firmware::parseHeaderBlock(
        std::span<const std::uint8_t, firmware::kBlockSize>(stream.data(), firmware::kBlockSize),
        param.scrambled);
    EXPECT_EQ(header.imageStart, 0x10000u);
    EXPECT_EQ(header.imageLength, param.imageLength);
    EXPECT_EQ(header.headerNameBytes, firmware::headerNameBytes(tableRow->headerName));
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "0x%x", header.imageChecksum);
    char lengthText[16];
    std::snprintf(lengthText, sizeof lengthText, "0x%x", param.imageLength);
    char blocksText[16];
    std::snprintf(blocksText, sizeof blocksText, "0x%x", param.blocks);
    EXPECT_EQ(result.out, std::string("imageStart=0x10000\nimageLength=") + lengthText +
                              "\nimageChecksum=" + checksum + "\nblocks=" + blocksText +
                              "\nscrambled=" + (param.scrambled ? "yes" : "no") + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Readers, FirmtoolExampleStreamTest,
    testing::Values(StreamCase{.name = "CardRW",
                               .reader = {"0d9f", "1001", "0100", "TKW-5 CardRW"},
                               .imageLength = 0xC000,
                               .blocks = 0x60,
                               .scrambled = true},
                    StreamCase{.name = "CardRW older revision",
                               .reader = {"0d9f", "1001", "0080", "TKW-5 CardRW"},
                               .imageLength = 0x8000,
                               .blocks = 0x40,
                               .scrambled = true},
                    StreamCase{.name = "Combo",
                               .reader = {"0d9f", "1003", "0100", "TKW-5 Combo"},
                               .imageLength = 0x10000,
                               .blocks = 0x80,
                               .scrambled = false},
                    StreamCase{.name = "CardRW on newer Windows",
                               .reader = {"0D9F", "1001", "0100", "TKW-5 CardRW"},
                               .imageLength = 0xC000,
                               .blocks = 0x60,
                               .scrambled = true},
                    StreamCase{.name = "Combo on newer Windows",
                               .reader = {"0D9F", "1003", "0100", "TKW-5 Combo"},
                               .imageLength = 0x10000,
                               .blocks = 0x80,
                               .scrambled = false}),
    NameOfCase{});

struct RefusalCase {
    const char* name;                     // what the case shows, as a sentence
    std::optional<std::string> firmware;  // nullopt: the file is not there
    int exitCode;
    std::string message;
};

class FirmtoolStreamRefusalTest : public FirmtoolTest,
                                  public testing::WithParamInterface<RefusalCase> {};

TEST_P(FirmtoolStreamRefusalTest, WritesNothingAndSaysWhy) {
    writeEncoded("firmtable.txt",
                 row("0d9f", "1001", "0100", "TKW-5 CardRW", "Plain", "fw.s28") + "\n");
    if (GetParam().firmware) writeEncoded("fw.s28", *GetParam().firmware);
    const ToolRun result = runHere(
        {"stream", "firmtable.txt", "0d9f", "1001", "0100", "TKW-5 CardRW", "--out", "stream.bin"});
    EXPECT_EQ(result.exitCode, GetParam().exitCode);
    expectOneErrorLine(result);
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(dir_ / "stream.bin"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, FirmtoolStreamRefusalTest,
    testing::Values(RefusalCase{"empty image", record('0', 0, toBytes("hdr")) + record('8', 0),
                                kExitRefused, "holds no data"},
                    // Records too short for their address move the bounds but store nothing.
                    RefusalCase{"records without bytes", kRecordsWithoutBytes + record('8', 0),
                                kExitRefused, "holds no data"},
                    RefusalCase{"bad checksum", record('2', 0x10000, {1, 2}, true) + record('8', 0),
                                kExitRefused, "does not load: result=1"},
                    RefusalCase{"address out of range", record('2', 0x40001, {1}) + record('8', 0),
                                kExitRefused, "does not load: result=2"},
                    RefusalCase{"file missing", std::nullopt, kExitFileError,
                                "cannot open firmware file \"fw.s28\""}),
    NameOfCase{});

// The stream finds the row's firmware file as the update program does on
// Windows, from the folder it runs in.
TEST_F(FirmtoolTest, StreamFindsTheFileAsWindowsDoes) {
    struct Case {
        const char* nameInTable;
        const char* fileOnDisk;
        int exitCode;
    };
    const Case cases[] = {
        {"MINI.S28", "mini.s28", kExitSuccess},
        {"fw\\mini.s28", "fw/mini.s28", kExitSuccess},
        {"FW\\Mini.S28", "fw/mini.s28", kExitSuccess},
        {"gone.s28", "mini.s28", kExitFileError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nameInTable);
        fs::remove_all(dir_);
        fs::create_directories((dir_ / c.fileOnDisk).parent_path());
        writeEncoded("firmtable.txt",
                     row("0d9f", "1001", "0100", "TKW-5 CardRW", "Plain", c.nameInTable) + "\n");
        writeBytes(dir_ / c.fileOnDisk, goodFirmware());
        const ToolRun result = runHere({"stream", "firmtable.txt", "0d9f", "1001", "0100",
                                        "TKW-5 CardRW", "--out", "stream.bin"});
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_EQ(fs::exists(dir_ / "stream.bin"), c.exitCode == kExitSuccess);
    }
}

// Data above 0x10000 whose top the blocks never carry: the stream is still
// written, byte for byte what the program sends, but the tool says the reader
// will refuse it.
TEST_F(FirmtoolTest, StreamWarnsWhenTheBlocksDoNotCarryTheClaimedRange) {
    writeEncoded("firmtable.txt",
                 row("0d9f", "1001", "0100", "TKW-5 CardRW", "Plain", "high.s28") + "\n");
    writeEncoded("high.s28", firmwareText(0x12000, 0x2000));
    const ToolRun result = runHere(
        {"stream", "firmtable.txt", "0d9f", "1001", "0100", "TKW-5 CardRW", "--out", "stream.bin"});
    EXPECT_EQ(result.exitCode, kExitRefused);
    EXPECT_EQ(result.err,
              "firmtool: warning: the reader will not take this stream and keeps its old "
              "firmware: the header claims 0x12000-0x13fff but the blocks carry 0x10000-0x11fff\n");
    EXPECT_EQ(readBytes(dir_ / "stream.bin").size(), firmware::kBlockSize * (1 + 0x10));
}

TEST_F(FirmtoolTest, StreamWithoutMatchingRowSaysSo) {
    writeEncoded("firmtable.txt",
                 row("0d9f", "1001", "0100", "TKW-5 CardRW", "Plain", "fw.s28") + "\n");
    const ToolRun result = runHere(
        {"stream", "firmtable.txt", "0d9f", "1001", "0101", "TKW-5 CardRW", "--out", "stream.bin"});
    EXPECT_EQ(result.exitCode, kExitRefused);
    EXPECT_EQ(result.err, "firmtool: no matching row\n");
}

// --- check ------------------------------------------------------------------

TEST(FirmtoolCheck, ExamplePackageIsSound) {
    const testsupport::ScratchFolder elsewhere("firmtool_check");
    const ToolRun result = runFirmtool({"check", kExamplePackage.string()}, elsewhere.path());
    EXPECT_EQ(result.exitCode, kExitSuccess) << result.out << result.err;
    EXPECT_NE(result.out.find("summary: 6 rows, 6 can work, 0 can never work, 0 warnings"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(result.out.find("problem"), std::string::npos) << result.out;
}

// The committed package must be what make-package makes of its sources.
TEST(FirmtoolCheck, ExamplePackageIsEncodedFromItsSources) {
    bool sawTable = false;
    for (const auto& entry : fs::directory_iterator(kExamplePackage / "src")) {
        const std::string extension = entry.path().extension().string();
        if (extension != ".txt" && extension != ".s28" && extension != ".s37") continue;
        sawTable = sawTable || entry.path().filename() == "firmtable.txt";
        const fs::path encodedFile = kExamplePackage / entry.path().filename();
        ASSERT_TRUE(fs::exists(encodedFile)) << encodedFile;
        EXPECT_EQ(readBytes(encodedFile), firmware::encodeChainedLines(readBytes(entry.path())))
            << encodedFile << " is stale: run examples/package/make-package";
    }
    EXPECT_TRUE(sawTable) << "no src/firmtable.txt";
}

struct BrokenPackageCase {
    const char* name;                                  // what the case shows, as a sentence
    std::string table;                                 // plain rows
    std::vector<std::pair<std::string, Bytes>> files;  // as stored
    int exitCode;
    std::string rowTitle;  // the row the finding belongs to, e.g. "row 2:"
    std::string finding;   // text of the finding under that row
};

const std::string kGoodRow =
    row("0d9f", "1001", "0100", "TKW-5 CardRW", kScramblingName, "good.s28");

class FirmtoolBrokenPackageTest : public FirmtoolTest,
                                  public testing::WithParamInterface<BrokenPackageCase> {};

TEST_P(FirmtoolBrokenPackageTest, NamesTheRowAndWhatIsWrong) {
    const BrokenPackageCase& param = GetParam();
    fs::create_directory(dir_ / "package");
    writeBytes(dir_ / "package" / "firmtable.txt", encoded(param.table));
    writeBytes(dir_ / "package" / "good.s28", goodFirmware());
    for (const auto& [name, bytes] : param.files) {
        fs::create_directories((dir_ / "package" / name).parent_path());
        writeBytes(dir_ / "package" / name, bytes);
    }

    const ToolRun result = runHere({"check", "package"});
    EXPECT_EQ(result.exitCode, param.exitCode) << result.out << result.err;
    const std::size_t title = result.out.find("\n" + param.rowTitle);
    ASSERT_NE(title, std::string::npos) << result.out;
    const std::size_t nextRow = result.out.find("\nrow ", title + 1);
    const std::size_t finding = result.out.find(param.finding, title);
    EXPECT_TRUE(finding != std::string::npos && finding < nextRow)
        << "expected under " << param.rowTitle << ": " << param.finding << "\n"
        << result.out;
}

INSTANTIATE_TEST_SUITE_P(
    Packages, FirmtoolBrokenPackageTest,
    testing::Values(
        BrokenPackageCase{
            "missing file",
            kGoodRow + "\n" + row("0d9f", "1003", "0100", "Combo", "Plain", "gone.s28"),
            {},
            kExitRefused,
            "row 2:",
            "problem: firmware file \"gone.s28\" cannot be opened"},
        BrokenPackageCase{"CR LF row",
                          kGoodRow + "\r\n",
                          {},
                          kExitRefused,
                          "row 1:",
                          "problem: the file name \"good.s28\\r\" ends in CR"},
        BrokenPackageCase{"shadowed row",
                          kGoodRow + "\n" +
                              row("0d9f", "1001", "0100", "TKW-5 CardRW", "Plain", "good.s28") +
                              "\n",
                          {},
                          kExitRefused,
                          "row 2:",
                          "problem: never chosen: row 1 has the same"},

        BrokenPackageCase{
            "bad checksum file",
            kGoodRow + "\n" + row("0d9f", "1003", "0100", "Combo", "Plain", "bad.s28"),
            {{"bad.s28", encoded(record('2', 0x10000, {1, 2, 3}, true))}},
            kExitRefused,
            "row 2:",
            "problem: firmware file \"bad.s28\" does not load: result=1"},
        BrokenPackageCase{"file holding no data",
                          row("0d9f", "1003", "0100", "Combo", "Plain", "empty.s28"),
                          {{"empty.s28", encoded(record('0', 0, toBytes("hdr")) + record('8', 0))}},
                          kExitRefused,
                          "row 1:",
                          "problem: firmware file \"empty.s28\" holds no data"},
        BrokenPackageCase{"file whose records carry no bytes",
                          row("0d9f", "1003", "0100", "Combo", "Plain", "short.s28"),
                          {{"short.s28", encoded(kRecordsWithoutBytes + record('8', 0))}},
                          kExitRefused,
                          "row 1:",
                          // No plan is shown for bounds that hold no byte (the line ends
                          // after the result); the exit status holds the problem.
                          "file \"short.s28\": result=0\n"},
        BrokenPackageCase{"plain file not encoded",
                          row("0d9f", "1003", "0100", "Combo", "Plain", "plain.s28"),
                          {{"plain.s28", toBytes(firmwareText(0x10000, 64))}},
                          kExitRefused,
                          "row 1:",
                          "it looks like a plain S-record file"},
        BrokenPackageCase{"key field of three characters",
                          row("d9f", "1001", "0100", "TKW-5 CardRW", "Plain", "good.s28"),
                          {},
                          kExitRefused,
                          "row 1:",
                          "problem: keyVendorId \"d9f;\" is not four hexadecimal digits"},
        BrokenPackageCase{"product name with trailing blank",
                          row("0d9f", "1001", "0100", "TKW-5 ", "Plain", "good.s28"),
                          {},
                          kExitRefused,
                          "row 1:",
                          "problem: keyProductName \"TKW-5 \" ends with white space"},
        BrokenPackageCase{"data above 0x10000 is never sent",
                          row("0d9f", "1003", "0100", "Combo", "Plain", "high.s28"),
                          {{"high.s28", encoded(firmwareText(0x12000, 0x2000))}},
                          kExitRefused,
                          "row 1:",
                          "problem: the header claims 0x12000-0x13fff but the blocks carry "
                          "0x10000-0x11fff: the reader will not take the image"},
        BrokenPackageCase{"data above 0x10000 carried whole only warns",
                          row("0d9f", "1003", "0100", "Combo", "Plain", "high.s28"),
                          {{"high.s28", encoded(firmwareText(0x10010, 0x20))}},
                          kExitSuccess,
                          "row 1:",
                          "warning: data starts at 0x10010, yet the blocks are sent from 0x10000"},
        BrokenPackageCase{"row beyond the table limit",
                          kGoodRow + "\n" + std::string(firmware::kTableReadLimit, 'x') + "\n" +
                              row("0d9f", "1003", "0100", "Combo", "Plain", "good.s28") + "\n",
                          {},
                          kExitRefused,
                          "row 3:",
                          "problem: never read whole"},
        BrokenPackageCase{
            "no rows at all", "", {}, kExitRefused, "summary:", "problem: the table has no rows"},
        BrokenPackageCase{"other separators only warn",
                          "0d9f,1001,1002;TKW-5 CardRW;TKW-5 CardRW;0100;Plain;0200;good.s28\n",
                          {},
                          kExitSuccess,
                          "row 1:",
                          "warning: the separator after keyVendorId is \",\""},
        BrokenPackageCase{"upper-case ids match on newer Windows only",
                          row("0D9F", "1001", "0100", "TKW-5 CardRW", "Plain", "good.s28"),
                          {},
                          kExitSuccess,
                          "row 1:",
                          "matches on Windows Vista and later\n"},
        BrokenPackageCase{"lower-case ids match on older Windows only",
                          kGoodRow,
                          {},
                          kExitSuccess,
                          "row 1:",
                          "matches on Windows 2000/XP\n"},
        BrokenPackageCase{"ids of digits only match everywhere",
                          row("1234", "1001", "0100", "TKW-5 CardRW", "Plain", "good.s28"),
                          {},
                          kExitSuccess,
                          "row 1:",
                          "matches on every Windows generation\n"},
        BrokenPackageCase{"ids mixing letter cases match nowhere",
                          row("0d9f", "10AB", "0100", "TKW-5 CardRW", "Plain", "good.s28"),
                          {},
                          kExitRefused,
                          "row 1:",
                          "problem: the key ids mix lower- and upper-case hexadecimal digits"},
        BrokenPackageCase{"a reader with rows for one generation only",
                          kGoodRow,
                          {},
                          kExitSuccess,
                          "row 1:",
                          "warning: this reader has rows for Windows 2000/XP only: on Windows "
                          "Vista and later the registry spells its ids in upper case"},
        BrokenPackageCase{
            "rows for both generations",
            kGoodRow + "\n" +
                row("0D9F", "1001", "0100", "TKW-5 CardRW", kScramblingName, "good.s28"),
            {},
            kExitSuccess,
            "summary:",
            "2 rows, 2 can work, 0 can never work, 2 warnings"},
        BrokenPackageCase{"new name containing the old",
                          kGoodRow,
                          {},
                          kExitSuccess,
                          "row 1:",
                          "cannot confirm its new revision and shows notice 139 instead of 140"},
        BrokenPackageCase{"new name without the old",
                          "0d9f;1001;1002;TKW-5 CardRW;TKW-6 Reader;0100;Plain;0200;good.s28\n",
                          {},
                          kExitSuccess,
                          "row 1:",
                          "does not find the renamed reader and cannot format its card"},
        BrokenPackageCase{"file named in other letter case",
                          row("0d9f", "1003", "0100", "Combo", "Plain", "GOOD.S28"),
                          {},
                          kExitSuccess,
                          "row 1:",
                          "file \"GOOD.S28\": result=0"},
        BrokenPackageCase{"file in a folder named with a backslash",
                          row("0d9f", "1003", "0100", "Combo", "Plain", "fw\\Mini.s28"),
                          {{"fw/mini.s28", goodFirmware()}},
                          kExitSuccess,
                          "row 1:",
                          "file \"fw\\\\Mini.s28\": result=0"},
        BrokenPackageCase{"file missing from its folder",
                          row("0d9f", "1003", "0100", "Combo", "Plain", "fw\\gone.s28"),
                          {{"fw/mini.s28", goodFirmware()}},
                          kExitRefused,
                          "row 1:",
                          "problem: firmware file \"fw\\\\gone.s28\" cannot be opened"},
        BrokenPackageCase{"table with a byte-order mark",
                          "\xEF\xBB\xBF" + kGoodRow,
                          {},
                          kExitRefused,
                          "hint:",
                          "the table starts with a byte-order mark"},
        BrokenPackageCase{"hint before the diagnostics",
                          row("0d9f", "1003", "0100", "Combo", "Plain", "plain.s28"),
                          {{"plain.s28", toBytes(firmwareText(0x10000, 64))}},
                          kExitRefused,
                          "row 1:",
                          "  hint: it looks like a plain S-record file, not encoded: encode it "
                          "with firmtool encode\nS Error"},
        BrokenPackageCase{
            "header name in other case only warns",
            row("0d9f", "1001", "0100", "TKW-5 CardRW", "VA-DE-LO FIRMWARE UPDATE R01", "good.s28"),
            {},
            kExitSuccess,
            "row 1:",
            "only in letter case: the blocks are sent unscrambled"},
        BrokenPackageCase{"empty line is passed over",
                          kGoodRow + "\n\n",
                          {},
                          kExitSuccess,
                          "row 2:",
                          "empty line, passed over"}),
    NameOfCase{});

}  // namespace
