#include "sim/sim_registry.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace sim {

namespace {

constexpr char kSeparator = '\\';
// Handles are small even numbers far below the predefined keys, so a stale
// or made-up handle is never mistaken for HKEY_LOCAL_MACHINE.
constexpr std::uintptr_t kFirstHandle = 0x100;
constexpr std::uintptr_t kHandleStep = 4;
constexpr win::DWORD kVolatileOption = 1;  // REG_OPTION_VOLATILE

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The registry orders names by their upper-case form, so '_' sorts after
// the letters.
bool registryNameLess(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto ca = static_cast<unsigned char>(upper(a[i]));
        const auto cb = static_cast<unsigned char>(upper(b[i]));
        if (ca != cb) return ca < cb;
    }
    return a.size() < b.size();
}

// Gives the caller's buffer as much of a value's data as it takes, and says
// whether all of it fitted. After a too-small buffer the platform leaves its
// contents undefined; it gets the bytes that fit, so a caller that uses them
// anyway is caught reading a cut-off value. An empty value may have no
// storage at all, which copy_n, unlike memcpy, is defined for.
bool copyValueData(const RegistryValue& value, win::BYTE* data, win::DWORD room) {
    const bool fits = value.data.size() <= room;
    std::copy_n(value.data.begin(), fits ? value.data.size() : std::size_t{room}, data);
    return fits;
}

// Splits a key path into its levels; nullopt when a level is empty or too
// long for a key name. An empty path names the key itself.
std::optional<std::vector<std::string_view>> splitPath(std::string_view path) {
    std::vector<std::string_view> levels;
    if (path.empty()) return levels;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find(kSeparator, start);
        const std::string_view level = path.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (level.empty() || level.size() > kMaxKeyNameLength) return std::nullopt;
        levels.push_back(level);
        if (end == std::string_view::npos) return levels;
        start = end + 1;
    }
}

std::string joinPath(std::string_view parent, std::string_view name) {
    if (parent.empty()) return std::string(name);
    std::string path(parent);
    path += kSeparator;
    path += name;
    return path;
}

std::string_view valueNameOf(const char* name) {
    return name == nullptr ? std::string_view{} : std::string_view{name};
}

}  // namespace

bool registryNamesEqual(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return upper(x) == upper(y); });
}

struct SimRegistry::Node {
    std::string name;
    std::string path;
    std::vector<std::shared_ptr<Node>> subkeys;  // sorted as the registry lists them
    std::vector<RegistryValue> values;           // in the order written
    bool deleted = false;

    std::shared_ptr<Node> subkey(std::string_view wanted) const {
        for (const auto& child : subkeys) {
            if (registryNamesEqual(child->name, wanted)) return child;
        }
        return nullptr;
    }
    RegistryValue* value(std::string_view wanted) {
        for (auto& v : values) {
            if (registryNamesEqual(v.name, wanted)) return &v;
        }
        return nullptr;
    }
    std::shared_ptr<Node> addSubkey(std::string_view childName) {
        auto child = std::make_shared<Node>();
        child->name = std::string(childName);
        child->path = joinPath(path, childName);
        const auto at = std::upper_bound(subkeys.begin(), subkeys.end(), childName,
                                         [](std::string_view n, const std::shared_ptr<Node>& c) {
                                             return registryNameLess(n, c->name);
                                         });
        subkeys.insert(at, child);
        return child;
    }
    void setValue(std::string_view valueName, win::DWORD type, std::span<const win::BYTE> data) {
        RegistryValue* existing = value(valueName);
        if (existing == nullptr) {
            values.push_back(RegistryValue{std::string(valueName), type, {}});
            existing = &values.back();
        }
        existing->type = type;
        existing->data.assign(data.begin(), data.end());
    }
};

SimRegistry::SimRegistry() : root_(std::make_shared<Node>()), nextHandle_(kFirstHandle) {}

SimRegistry::~SimRegistry() = default;

// ---- handles -------------------------------------------------------------

SimRegistry::Resolved SimRegistry::resolve(win::HKEY key) const {
    if (key == win::hkeyLocalMachine()) return {root_, win::KEY_ALL_ACCESS, win::ERROR_SUCCESS};
    const auto found = open_.find(reinterpret_cast<std::uintptr_t>(key));
    if (found == open_.end()) return {nullptr, 0, win::ERROR_INVALID_HANDLE};
    if (found->second.node->deleted) return {nullptr, 0, win::ERROR_KEY_DELETED};
    return {found->second.node, found->second.access, win::ERROR_SUCCESS};
}

SimRegistry::Resolved SimRegistry::resolveWith(win::HKEY key, win::REGSAM needed) const {
    Resolved resolved = resolve(key);
    if (resolved.node && (resolved.access & needed) != needed) {
        return {nullptr, 0, win::ERROR_ACCESS_DENIED};
    }
    return resolved;
}

win::HKEY SimRegistry::giveHandle(std::shared_ptr<Node> node, win::REGSAM access) {
    const std::uintptr_t value = nextHandle_;
    nextHandle_ += kHandleStep;
    open_.emplace(value, Handle{std::move(node), access});
    return reinterpret_cast<win::HKEY>(value);
}

std::vector<std::string> SimRegistry::openKeyPaths() const {
    std::vector<std::string> paths;
    for (const auto& [value, handle] : open_) {
        paths.push_back(handle.node->deleted ? handle.node->path + " (deleted)"
                                             : handle.node->path);
    }
    return paths;
}

// ---- finding and creating keys -------------------------------------------

std::shared_ptr<SimRegistry::Node> SimRegistry::find(const Node& from,
                                                     std::string_view path) const {
    const auto levels = splitPath(path);
    if (!levels || levels->empty()) return nullptr;
    std::shared_ptr<Node> at;
    const Node* current = &from;
    for (const std::string_view level : *levels) {
        at = current->subkey(level);
        if (!at) return nullptr;
        current = at.get();
    }
    return at;
}

std::shared_ptr<SimRegistry::Node> SimRegistry::findFromRoot(std::string_view path) const {
    if (path.empty()) return root_;
    return find(*root_, path);
}

std::shared_ptr<SimRegistry::Node> SimRegistry::createBelow(Node& from, std::string_view path,
                                                            bool announce) {
    const auto levels = splitPath(path);
    if (!levels || levels->empty()) return nullptr;
    std::shared_ptr<Node> at;
    Node* current = &from;
    for (const std::string_view level : *levels) {
        at = current->subkey(level);
        if (!at) {
            at = current->addSubkey(level);
            if (announce)
                notify({RegistryEvent::Kind::KeyCreated, at->path, {}, win::REG_NONE, {}});
        }
        current = at.get();
    }
    return at;
}

SimRegistry::Node* SimRegistry::findOrCreate(std::string_view path) {
    if (path.empty()) return root_.get();
    return createBelow(*root_, path, false).get();
}

std::optional<win::LONG> SimRegistry::faultFor(RegistryCall call, const std::string& keyPath,
                                               const std::string* name) const {
    for (const RegistryFault& fault : faults_) {
        if (fault.call != call || !registryNamesEqual(fault.keyPath, keyPath)) continue;
        if (fault.name && (name == nullptr || !registryNamesEqual(*fault.name, *name))) continue;
        return fault.error;
    }
    return std::nullopt;
}

void SimRegistry::notify(RegistryEvent event) const {
    if (observer_) observer_(event);
}

// ---- the platform calls --------------------------------------------------

win::LONG SimRegistry::RegOpenKeyExA(win::HKEY key, const char* subKey, win::DWORD options,
                                     win::REGSAM access, win::HKEY* result) {
    if (result == nullptr) return win::ERROR_INVALID_PARAMETER;
    *result = nullptr;
    const Resolved from = resolve(key);
    if (!from.node) return from.error;
    if (options != 0) return win::ERROR_INVALID_PARAMETER;
    const std::string_view path = valueNameOf(subKey);
    const std::string target = joinPath(from.node->path, path);
    if (const auto fault = faultFor(RegistryCall::Open, target, nullptr)) return *fault;
    // An empty or missing subkey name gives a new handle to the same key.
    std::shared_ptr<Node> node = path.empty() ? from.node : find(*from.node, path);
    if (!node) return win::ERROR_FILE_NOT_FOUND;
    *result = giveHandle(std::move(node), access);
    return win::ERROR_SUCCESS;
}

win::LONG SimRegistry::RegCreateKeyExA(win::HKEY key, const char* subKey, win::DWORD options,
                                       win::REGSAM access, win::HKEY* result,
                                       win::DWORD* disposition) {
    if (result == nullptr || subKey == nullptr) return win::ERROR_INVALID_PARAMETER;
    *result = nullptr;
    const Resolved from = resolve(key);
    if (!from.node) return from.error;
    if (options != win::REG_OPTION_NON_VOLATILE && options != kVolatileOption) {
        return win::ERROR_INVALID_PARAMETER;
    }
    const std::string_view path = subKey;
    if (!splitPath(path)) return win::ERROR_INVALID_PARAMETER;
    const std::string target = joinPath(from.node->path, path);
    if (const auto fault = faultFor(RegistryCall::Create, target, nullptr)) return *fault;
    std::shared_ptr<Node> node = path.empty() ? from.node : find(*from.node, path);
    const bool existed = static_cast<bool>(node);
    if (!existed) {
        // Opening an existing key this way needs no right on the parent;
        // making a new one does.
        if ((from.access & win::KEY_CREATE_SUB_KEY) == 0) return win::ERROR_ACCESS_DENIED;
        node = createBelow(*from.node, path, true);
    }
    if (disposition != nullptr) {
        *disposition = existed ? win::REG_OPENED_EXISTING_KEY : win::REG_CREATED_NEW_KEY;
    }
    *result = giveHandle(std::move(node), access);
    return win::ERROR_SUCCESS;
}

win::LONG SimRegistry::RegEnumValueA(win::HKEY key, win::DWORD index, char* name,
                                     win::DWORD* nameLength, win::DWORD* type, win::BYTE* data,
                                     win::DWORD* dataLength) {
    const Resolved at = resolveWith(key, win::KEY_QUERY_VALUE);
    if (!at.node) return at.error;
    if (name == nullptr || nameLength == nullptr) return win::ERROR_INVALID_PARAMETER;
    if (data != nullptr && dataLength == nullptr) return win::ERROR_INVALID_PARAMETER;
    if (index >= at.node->values.size()) return win::ERROR_NO_MORE_ITEMS;
    const RegistryValue& entry = at.node->values[index];
    if (const auto fault = faultFor(RegistryCall::EnumValue, at.node->path, &entry.name)) {
        return *fault;
    }
    // The name must fit with its zero; the platform does not say how much
    // room it would have needed.
    if (entry.name.size() >= *nameLength) return win::ERROR_MORE_DATA;
    win::LONG status = win::ERROR_SUCCESS;
    const auto size = static_cast<win::DWORD>(entry.data.size());
    if (data != nullptr && !copyValueData(entry, data, *dataLength)) status = win::ERROR_MORE_DATA;
    if (dataLength != nullptr) *dataLength = size;
    std::memcpy(name, entry.name.c_str(), entry.name.size() + 1);
    *nameLength = static_cast<win::DWORD>(entry.name.size());
    if (type != nullptr) *type = entry.type;
    return status;
}

win::LONG SimRegistry::RegEnumKeyExA(win::HKEY key, win::DWORD index, char* name,
                                     win::DWORD* nameLength) {
    const Resolved at = resolveWith(key, win::KEY_ENUMERATE_SUB_KEYS);
    if (!at.node) return at.error;
    if (name == nullptr || nameLength == nullptr) return win::ERROR_INVALID_PARAMETER;
    if (index >= at.node->subkeys.size()) return win::ERROR_NO_MORE_ITEMS;
    const std::string& entry = at.node->subkeys[index]->name;
    if (const auto fault = faultFor(RegistryCall::EnumKey, at.node->path, &entry)) return *fault;
    // Nothing is copied when the name does not fit with its zero.
    if (entry.size() >= *nameLength) return win::ERROR_MORE_DATA;
    std::memcpy(name, entry.c_str(), entry.size() + 1);
    *nameLength = static_cast<win::DWORD>(entry.size());
    return win::ERROR_SUCCESS;
}

win::LONG SimRegistry::RegQueryValueExA(win::HKEY key, const char* valueName, win::DWORD* type,
                                        win::BYTE* data, win::DWORD* dataLength) {
    const Resolved at = resolveWith(key, win::KEY_QUERY_VALUE);
    if (!at.node) return at.error;
    if (data != nullptr && dataLength == nullptr) return win::ERROR_INVALID_PARAMETER;
    const std::string wanted(valueNameOf(valueName));
    if (const auto fault = faultFor(RegistryCall::QueryValue, at.node->path, &wanted)) {
        return *fault;
    }
    const RegistryValue* entry = at.node->value(wanted);
    if (entry == nullptr) return win::ERROR_FILE_NOT_FOUND;
    if (type != nullptr) *type = entry->type;
    const auto size = static_cast<win::DWORD>(entry->data.size());
    if (dataLength == nullptr) return win::ERROR_SUCCESS;
    const bool fits = data == nullptr || copyValueData(*entry, data, *dataLength);
    *dataLength = size;
    return fits ? win::ERROR_SUCCESS : win::ERROR_MORE_DATA;
}

win::LONG SimRegistry::RegSetValueExA(win::HKEY key, const char* valueName, win::DWORD type,
                                      const win::BYTE* data, win::DWORD dataLength) {
    const Resolved at = resolveWith(key, win::KEY_SET_VALUE);
    if (!at.node) return at.error;
    if (data == nullptr && dataLength != 0) return win::ERROR_INVALID_PARAMETER;
    const std::string name(valueNameOf(valueName));
    if (name.size() > kMaxValueNameLength) return win::ERROR_INVALID_PARAMETER;
    if (const auto fault = faultFor(RegistryCall::SetValue, at.node->path, &name)) return *fault;
    const std::span<const win::BYTE> bytes = data == nullptr
                                                 ? std::span<const win::BYTE>{}
                                                 : std::span<const win::BYTE>(data, dataLength);
    at.node->setValue(name, type, bytes);
    notify({RegistryEvent::Kind::ValueSet, at.node->path, name, type,
            std::vector<win::BYTE>(bytes.begin(), bytes.end())});
    return win::ERROR_SUCCESS;
}

win::LONG SimRegistry::RegDeleteKeyA(win::HKEY key, const char* subKey) {
    const Resolved from = resolve(key);
    if (!from.node) return from.error;
    if (subKey == nullptr) return win::ERROR_INVALID_PARAMETER;
    const std::string_view path = subKey;
    std::shared_ptr<Node> victim = path.empty() ? from.node : find(*from.node, path);
    if (!victim) return win::ERROR_FILE_NOT_FOUND;
    if (victim == root_) return win::ERROR_ACCESS_DENIED;
    if (const auto fault = faultFor(RegistryCall::DeleteKey, victim->path, nullptr)) return *fault;
    // NT deletes only a key without subkeys.
    if (!victim->subkeys.empty()) return win::ERROR_ACCESS_DENIED;
    const std::size_t cut = victim->path.rfind(kSeparator);
    const std::shared_ptr<Node> parent =
        cut == std::string::npos ? root_
                                 : findFromRoot(std::string_view(victim->path).substr(0, cut));
    std::erase(parent->subkeys, victim);
    victim->deleted = true;
    notify({RegistryEvent::Kind::KeyDeleted, victim->path, {}, win::REG_NONE, {}});
    return win::ERROR_SUCCESS;
}

win::LONG SimRegistry::RegCloseKey(win::HKEY key) {
    if (key == win::hkeyLocalMachine()) return win::ERROR_SUCCESS;
    const auto found = open_.find(reinterpret_cast<std::uintptr_t>(key));
    if (found == open_.end()) return win::ERROR_INVALID_HANDLE;
    const std::string path = found->second.node->path;
    open_.erase(found);
    if (const auto fault = faultFor(RegistryCall::Close, path, nullptr)) return *fault;
    return win::ERROR_SUCCESS;
}

// ---- laying and looking --------------------------------------------------

bool SimRegistry::createKey(std::string_view path) {
    return findOrCreate(path) != nullptr;
}

bool SimRegistry::setValue(std::string_view keyPath, std::string_view name, win::DWORD type,
                           std::span<const win::BYTE> data) {
    if (name.size() > kMaxValueNameLength) return false;
    Node* node = findOrCreate(keyPath);
    if (node == nullptr) return false;
    node->setValue(name, type, data);
    return true;
}

bool SimRegistry::deleteValue(std::string_view keyPath, std::string_view name) {
    const std::shared_ptr<Node> node = findFromRoot(keyPath);
    if (node == nullptr) return false;
    const auto found =
        std::find_if(node->values.begin(), node->values.end(),
                     [&](const RegistryValue& v) { return registryNamesEqual(v.name, name); });
    if (found == node->values.end()) return false;
    node->values.erase(found);
    return true;
}

bool SimRegistry::keyExists(std::string_view path) const {
    return static_cast<bool>(findFromRoot(path));
}

std::optional<RegistryValue> SimRegistry::value(std::string_view keyPath,
                                                std::string_view name) const {
    const std::shared_ptr<Node> node = findFromRoot(keyPath);
    if (!node) return std::nullopt;
    const RegistryValue* entry = node->value(name);
    if (entry == nullptr) return std::nullopt;
    return *entry;
}

std::vector<std::string> SimRegistry::subkeyNames(std::string_view path) const {
    std::vector<std::string> names;
    if (const std::shared_ptr<Node> node = findFromRoot(path)) {
        for (const auto& child : node->subkeys) names.push_back(child->name);
    }
    return names;
}

std::vector<std::string> SimRegistry::valueNames(std::string_view path) const {
    std::vector<std::string> names;
    if (const std::shared_ptr<Node> node = findFromRoot(path)) {
        for (const auto& v : node->values) names.push_back(v.name);
    }
    return names;
}

std::string SimRegistry::dump() const {
    std::string out;
    std::vector<const Node*> pending;
    for (auto it = root_->subkeys.rbegin(); it != root_->subkeys.rend(); ++it)
        pending.push_back(it->get());
    while (!pending.empty()) {
        const Node* node = pending.back();
        pending.pop_back();
        out += node->path;
        out += '\n';
        for (const RegistryValue& v : node->values) {
            out += "    ";
            out += registryValueText(v);
            out += '\n';
        }
        for (auto it = node->subkeys.rbegin(); it != node->subkeys.rend(); ++it) {
            pending.push_back(it->get());
        }
    }
    return out;
}

}  // namespace sim
