#pragma once

// What the backend's tests need of the machine they run on, reached with the
// platform's own calls. Include after every header of the project.
#include <cstdint>
#include <string>
#include <vector>

#include "win32/windows_api.h"

namespace win32_test {

// The folder of the running test program, without a trailing separator.
std::string programFolder();

// A letter (upper case) that names no drive and that no mount record of the
// registry mentions, so the tests can lay one of their own.
char unusedDriveLetter();

// How many handles the process holds: a handle left open shows here.
::DWORD processHandleCount();

// One run of the probe program beside the test program, its output taken
// whole.
struct ProbeRun {
    ::DWORD exitCode = 0;
    std::string output;
};
ProbeRun runProbe(const std::string& arguments);

// Registry records laid under HKEY_LOCAL_MACHINE for one test and taken away
// again when it ends: the keys it had to create (deepest first) and the
// values it set in keys that were there before. ctest runs the tests of one
// suite in several processes at once; while a test holds its records no
// other test process lays any.
class ScratchRecords {
  public:
    ScratchRecords();
    ~ScratchRecords();
    ScratchRecords(const ScratchRecords&) = delete;
    ScratchRecords& operator=(const ScratchRecords&) = delete;

    // Every missing level of `path` is created.
    void createKey(const std::string& path);
    void setValue(const std::string& keyPath, const std::string& name, ::DWORD type,
                  const std::vector<std::uint8_t>& data);
    void setString(const std::string& keyPath, const std::string& name, const std::string& text);
    // The strings, each with its terminator, and the list's own terminator.
    void setMultiString(const std::string& keyPath, const std::string& name,
                        const std::vector<std::string>& strings);

  private:
    struct Value {
        std::string keyPath;
        std::string name;
    };
    HANDLE turn_;
    std::vector<std::string> createdKeys_;
    std::vector<Value> valuesInOldKeys_;
};

// Text as UTF-16LE without a terminator.
std::vector<std::uint8_t> utf16le(const std::string& text);

// Names a parameterised case after the `name` of its row, blanks as
// underscores.
struct CaseName {
    template <typename Info>
    std::string operator()(const Info& tested) const {
        std::string name = tested.param.name;
        for (char& c : name) {
            if (c == ' ') c = '_';
        }
        return name;
    }
};

bool keyExists(const std::string& path);
bool valueExists(const std::string& keyPath, const std::string& name);

}  // namespace win32_test
