#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "sim/registry_records.h"

namespace sim {

// The platform's limits on names: a key name holds at most 255 characters, a
// value name at most 16383.
inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxValueNameLength = 16383;

struct RegistryValue {
    std::string name;
    win::DWORD type = win::REG_NONE;
    std::vector<win::BYTE> data;
};

// The registry calls a fault can be attached to.
enum class RegistryCall {
    Open,
    Create,
    EnumValue,
    EnumKey,
    QueryValue,
    SetValue,
    DeleteKey,
    Close
};

// A call that fails with `error` instead of doing its work. `keyPath` is the
// key the call works on (for Open, Create and DeleteKey the key named by the
// call, otherwise the key behind the handle), compared without regard to
// case. `name` narrows the fault to one value (QueryValue, SetValue) or one
// enumerated entry (EnumValue, EnumKey); without it every such call fails.
// A failing Close still releases the handle: the caller cannot do anything
// better than having tried, and the count of open keys shows that it did.
struct RegistryFault {
    RegistryCall call = RegistryCall::Open;
    std::string keyPath;
    std::optional<std::string> name;
    win::LONG error = win::ERROR_ACCESS_DENIED;
};

// What the programs changed, for transcripts of a run.
struct RegistryEvent {
    enum class Kind { KeyCreated, ValueSet, KeyDeleted };
    Kind kind = Kind::KeyCreated;
    std::string keyPath;
    std::string valueName;  // ValueSet only
    win::DWORD type = win::REG_NONE;
    std::vector<win::BYTE> data;
};

// HKEY_LOCAL_MACHINE in memory, answering as Windows does wherever a program
// can tell: names compared without regard to case, subkeys listed in sorted
// order and values in the order written, access rights of each handle
// enforced, the platform's error codes. Paths below are relative to
// HKEY_LOCAL_MACHINE, levels separated by '\'.
class SimRegistry final : public platform::Registry, public RegistryRecords {
  public:
    using Observer = std::function<void(const RegistryEvent&)>;

    SimRegistry();
    ~SimRegistry() override;
    SimRegistry(const SimRegistry&) = delete;
    SimRegistry& operator=(const SimRegistry&) = delete;

    win::LONG RegOpenKeyExA(win::HKEY key, const char* subKey, win::DWORD options,
                            win::REGSAM access, win::HKEY* result) override;
    win::LONG RegCreateKeyExA(win::HKEY key, const char* subKey, win::DWORD options,
                              win::REGSAM access, win::HKEY* result,
                              win::DWORD* disposition) override;
    win::LONG RegEnumValueA(win::HKEY key, win::DWORD index, char* name, win::DWORD* nameLength,
                            win::DWORD* type, win::BYTE* data, win::DWORD* dataLength) override;
    win::LONG RegEnumKeyExA(win::HKEY key, win::DWORD index, char* name,
                            win::DWORD* nameLength) override;
    win::LONG RegQueryValueExA(win::HKEY key, const char* valueName, win::DWORD* type,
                               win::BYTE* data, win::DWORD* dataLength) override;
    win::LONG RegSetValueExA(win::HKEY key, const char* valueName, win::DWORD type,
                             const win::BYTE* data, win::DWORD dataLength) override;
    win::LONG RegDeleteKeyA(win::HKEY key, const char* subKey) override;
    win::LONG RegCloseKey(win::HKEY key) override;

    // Laying records as the machine holds them before a program runs: no
    // rights, no faults, no observer. Missing keys on the way are created.
    // False when the path or a name is not one the platform accepts.
    bool createKey(std::string_view path);
    // setString, setMultiString and setBinary come from RegistryRecords.
    bool setValue(std::string_view keyPath, std::string_view name, win::DWORD type,
                  std::span<const win::BYTE> data) override;
    // A value removed by the machine itself (Windows removing a run-once
    // entry it runs); false when the key or the value is missing.
    bool deleteValue(std::string_view keyPath, std::string_view name);

    // Looking at the tree.
    bool keyExists(std::string_view path) const;
    std::optional<RegistryValue> value(std::string_view keyPath, std::string_view name) const;
    // Names as created, in enumeration order; empty for a missing key.
    std::vector<std::string> subkeyNames(std::string_view path) const;
    std::vector<std::string> valueNames(std::string_view path) const;
    // Every key below HKEY_LOCAL_MACHINE with its values, one line each.
    std::string dump() const;

    // Handles given out and not yet closed (HKEY_LOCAL_MACHINE never counts).
    std::size_t openKeyCount() const { return open_.size(); }
    // The key path of each open handle, in the order they were opened.
    std::vector<std::string> openKeyPaths() const;

    void injectFault(RegistryFault fault) { faults_.push_back(std::move(fault)); }
    void clearFaults() { faults_.clear(); }

    // Called after every change a program makes through the calls above.
    void setObserver(Observer observer) { observer_ = std::move(observer); }

  private:
    struct Node;
    struct Handle {
        std::shared_ptr<Node> node;
        win::REGSAM access = 0;
    };
    struct Resolved {
        std::shared_ptr<Node> node;
        win::REGSAM access = 0;
        win::LONG error = win::ERROR_SUCCESS;
    };

    Resolved resolve(win::HKEY key) const;
    Resolved resolveWith(win::HKEY key, win::REGSAM needed) const;
    std::shared_ptr<Node> find(const Node& from, std::string_view path) const;
    std::shared_ptr<Node> findFromRoot(std::string_view path) const;
    std::shared_ptr<Node> createBelow(Node& from, std::string_view path, bool announce);
    Node* findOrCreate(std::string_view path);
    win::HKEY giveHandle(std::shared_ptr<Node> node, win::REGSAM access);
    std::optional<win::LONG> faultFor(RegistryCall call, const std::string& keyPath,
                                      const std::string* name) const;
    void notify(RegistryEvent event) const;

    std::shared_ptr<Node> root_;
    std::map<std::uintptr_t, Handle> open_;
    std::uintptr_t nextHandle_;
    std::vector<RegistryFault> faults_;
    Observer observer_;
};

// Names compared as the registry compares them: letters without regard to case.
bool registryNamesEqual(std::string_view a, std::string_view b);

// The platform's name of a value type, as the registry editor shows it;
// "type N" for one without a name.
std::string registryTypeName(win::DWORD type);

// One value as the dump shows it: its quoted name, its type and its data.
std::string registryValueText(const RegistryValue& value);

}  // namespace sim
