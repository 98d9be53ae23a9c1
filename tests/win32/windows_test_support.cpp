#include "windows_test_support.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>

namespace win32_test {

namespace {

constexpr const char* kProbeProgram = "win32_probe.exe";
constexpr const char* kMountedDevices = "SYSTEM\\MountedDevices";
constexpr const char* kRecordsTurn = "VelcrestBackendTestRecords";
constexpr char kFirstCandidateLetter = 'R';
constexpr char kLastCandidateLetter = 'Y';
constexpr std::size_t kPipeChunk = 4096;
constexpr std::uintptr_t kHandleStep = 4;
constexpr std::uintptr_t kHandleValueLimit = 0x10000;

// The support code runs inside the tests; a failure of its own platform
// calls is a broken test machine, not a finding, and stops the test.
void require(bool condition, const std::string& what) {
    if (!condition)
        throw std::runtime_error(what + " failed, error " + std::to_string(GetLastError()));
}

class Key {
  public:
    Key(const std::string& path, REGSAM access) {
        status_ = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key_);
    }
    ~Key() {
        if (status_ == ERROR_SUCCESS) RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    bool isOpen() const { return status_ == ERROR_SUCCESS; }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
    LONG status_ = ERROR_FILE_NOT_FOUND;
};

bool mountRecordMentions(char letter) {
    const Key mounted(kMountedDevices, KEY_QUERY_VALUE);
    if (!mounted.isOpen()) return false;
    const std::string wanted{letter, ':'};
    for (DWORD index = 0;; ++index) {
        std::array<char, 256> name{};
        DWORD length = static_cast<DWORD>(name.size());
        const LONG status = RegEnumValueA(mounted.get(), index, name.data(), &length, nullptr,
                                          nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) return false;
        if (status == ERROR_SUCCESS &&
            std::string(name.data(), length).find(wanted) != std::string::npos) {
            return true;
        }
    }
}

}  // namespace

std::string programFolder() {
    std::vector<char> path(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        require(length != 0, "GetModuleFileNameA");
        if (length < path.size()) {
            const std::string file(path.data(), length);
            return file.substr(0, file.rfind('\\'));
        }
        path.resize(path.size() * 2);
    }
}

char unusedDriveLetter() {
    const DWORD drives = GetLogicalDrives();
    for (char letter = kFirstCandidateLetter; letter <= kLastCandidateLetter; ++letter) {
        const bool present = (drives >> (letter - 'A') & 1u) != 0;
        if (!present && !mountRecordMentions(letter)) return letter;
    }
    throw std::runtime_error("no unused drive letter");
}

DWORD processHandleCount() {
    // Counted one possible value at a time: wine's GetProcessHandleCount
    // always says 0. Handle values are multiples of 4.
    DWORD count = 0;
    for (std::uintptr_t value = kHandleStep; value < kHandleValueLimit; value += kHandleStep) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != FALSE) ++count;
    }
    return count;
}

ProbeRun runProbe(const std::string& arguments) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    require(CreatePipe(&readEnd, &writeEnd, &inheritable, 0) != FALSE, "CreatePipe");
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    const std::string program = programFolder() + "\\" + kProbeProgram;
    std::string commandLine = "\"" + program + "\" " + arguments;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (started == FALSE) CloseHandle(readEnd);
    require(started != FALSE, "CreateProcessA " + program);

    ProbeRun run;
    std::array<char, kPipeChunk> chunk{};
    DWORD got = 0;
    while (ReadFile(readEnd, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) !=
               FALSE &&
           got != 0) {
        run.output.append(chunk.data(), got);
    }
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // The probe's C runtime writes lines with a carriage return.
    run.output.erase(std::remove(run.output.begin(), run.output.end(), '\r'), run.output.end());
    return run;
}

ScratchRecords::ScratchRecords() : turn_(CreateMutexA(nullptr, FALSE, kRecordsTurn)) {
    require(turn_ != nullptr, "CreateMutexA");
    // An abandoned turn (a test process that died) is a turn all the same.
    const DWORD waited = WaitForSingleObject(turn_, INFINITE);
    require(waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED, "WaitForSingleObject");
}

ScratchRecords::~ScratchRecords() {
    for (auto value = valuesInOldKeys_.rbegin(); value != valuesInOldKeys_.rend(); ++value) {
        const Key key(value->keyPath, KEY_SET_VALUE);
        if (key.isOpen()) RegDeleteValueA(key.get(), value->name.c_str());
    }
    for (auto key = createdKeys_.rbegin(); key != createdKeys_.rend(); ++key) {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, key->c_str());
    }
    ReleaseMutex(turn_);
    CloseHandle(turn_);
}

void ScratchRecords::createKey(const std::string& path) {
    std::size_t end = 0;
    while (end != std::string::npos) {
        end = path.find('\\', end + 1);
        const std::string level = path.substr(0, end);
        HKEY key = nullptr;
        DWORD disposition = 0;
        const LONG status =
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, level.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_WRITE, nullptr, &key, &disposition);
        SetLastError(static_cast<DWORD>(status));
        require(status == ERROR_SUCCESS, "RegCreateKeyExA " + level);
        RegCloseKey(key);
        if (disposition == REG_CREATED_NEW_KEY) createdKeys_.push_back(level);
    }
}

void ScratchRecords::setValue(const std::string& keyPath, const std::string& name, DWORD type,
                              const std::vector<std::uint8_t>& data) {
    const bool keyIsOurs =
        std::find(createdKeys_.begin(), createdKeys_.end(), keyPath) != createdKeys_.end();
    if (!keyIsOurs) {
        require(!valueExists(keyPath, name), "the test's own value " + name);
        valuesInOldKeys_.push_back({keyPath, name});
    }
    const Key key(keyPath, KEY_SET_VALUE);
    require(key.isOpen(), "RegOpenKeyExA " + keyPath);
    const LONG status = RegSetValueExA(key.get(), name.c_str(), 0, type, data.data(),
                                       static_cast<DWORD>(data.size()));
    SetLastError(static_cast<DWORD>(status));
    require(status == ERROR_SUCCESS, "RegSetValueExA " + name);
}

void ScratchRecords::setString(const std::string& keyPath, const std::string& name,
                               const std::string& text) {
    std::vector<std::uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    setValue(keyPath, name, REG_SZ, data);
}

void ScratchRecords::setMultiString(const std::string& keyPath, const std::string& name,
                                    const std::vector<std::string>& strings) {
    std::vector<std::uint8_t> data;
    for (const std::string& text : strings) {
        data.insert(data.end(), text.begin(), text.end());
        data.push_back(0);
    }
    data.push_back(0);
    setValue(keyPath, name, REG_MULTI_SZ, data);
}

std::vector<std::uint8_t> utf16le(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    for (const char c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(0);
    }
    return bytes;
}

bool keyExists(const std::string& path) {
    return Key(path, KEY_QUERY_VALUE).isOpen();
}

bool valueExists(const std::string& keyPath, const std::string& name) {
    const Key key(keyPath, KEY_QUERY_VALUE);
    return key.isOpen() && RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr, nullptr,
                                            nullptr) == ERROR_SUCCESS;
}

}  // namespace win32_test
