#include "sim/sim_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using sim::RegistryCall;
using sim::RegistryEvent;
using sim::RegistryFault;
using sim::SimRegistry;

const win::HKEY kMachine = win::hkeyLocalMachine();

std::vector<win::BYTE> bytesOf(std::string_view text) {
    return std::vector<win::BYTE>(text.begin(), text.end());
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts) out += "[" + part + "]";
    return out;
}

class SimRegistryTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (win::HKEY key : held_) registry_.RegCloseKey(key);
        EXPECT_EQ(registry_.openKeyCount(), 0u) << joined(registry_.openKeyPaths());
    }

    // Opens a key the test closes in TearDown.
    win::HKEY open(const char* path, win::REGSAM access) {
        win::HKEY key = nullptr;
        EXPECT_EQ(registry_.RegOpenKeyExA(kMachine, path, 0, access, &key), win::ERROR_SUCCESS)
            << path;
        held_.push_back(key);
        return key;
    }
    win::HKEY create(const char* path, win::REGSAM access) {
        win::HKEY key = nullptr;
        EXPECT_EQ(registry_.RegCreateKeyExA(kMachine, path, win::REG_OPTION_NON_VOLATILE, access,
                                            &key, nullptr),
                  win::ERROR_SUCCESS)
            << path;
        held_.push_back(key);
        return key;
    }
    std::vector<std::string> enumerateSubkeys(win::HKEY key) {
        std::vector<std::string> names;
        for (win::DWORD index = 0;; ++index) {
            char name[256] = {};
            win::DWORD length = sizeof name;
            const win::LONG status = registry_.RegEnumKeyExA(key, index, name, &length);
            if (status == win::ERROR_NO_MORE_ITEMS) break;
            EXPECT_EQ(status, win::ERROR_SUCCESS);
            if (status != win::ERROR_SUCCESS) break;
            EXPECT_EQ(length, std::strlen(name));
            names.push_back(name);
        }
        return names;
    }
    std::vector<std::string> enumerateValues(win::HKEY key) {
        std::vector<std::string> names;
        for (win::DWORD index = 0;; ++index) {
            char name[256] = {};
            win::DWORD length = sizeof name;
            const win::LONG status =
                registry_.RegEnumValueA(key, index, name, &length, nullptr, nullptr, nullptr);
            if (status == win::ERROR_NO_MORE_ITEMS) break;
            EXPECT_EQ(status, win::ERROR_SUCCESS);
            if (status != win::ERROR_SUCCESS) break;
            names.push_back(name);
        }
        return names;
    }

    SimRegistry registry_;
    std::vector<win::HKEY> held_;
};

// The update program writes the marker under one spelling and the format
// program deletes it under another; both must meet the same key.
TEST_F(SimRegistryTest, KeyAndValueNamesIgnoreLetterCase) {
    const win::HKEY written = create("SOFTWARE\\Kavo Corporation\\Pendrel", win::KEY_SET_VALUE);
    const auto rev = bytesOf(std::string_view("0200", 5));
    ASSERT_EQ(registry_.RegSetValueExA(written, "rev", win::REG_SZ, rev.data(),
                                       static_cast<win::DWORD>(rev.size())),
              win::ERROR_SUCCESS);

    const win::HKEY read = open("software\\KAVO CORPORATION\\pendrel", win::KEY_QUERY_VALUE);
    win::BYTE data[16] = {};
    win::DWORD length = sizeof data;
    win::DWORD type = 0;
    ASSERT_EQ(registry_.RegQueryValueExA(read, "REV", &type, data, &length), win::ERROR_SUCCESS);
    EXPECT_EQ(type, win::REG_SZ);
    EXPECT_EQ(std::vector<win::BYTE>(data, data + length), rev);

    const win::HKEY parent = open("Software\\Kavo Corporation", win::KEY_READ);
    EXPECT_EQ(registry_.RegDeleteKeyA(parent, "Pendrel"), win::ERROR_SUCCESS);
    EXPECT_FALSE(registry_.keyExists("SOFTWARE\\Kavo Corporation\\Pendrel"));
    // The names keep the spelling they were created with.
    EXPECT_EQ(registry_.subkeyNames("SOFTWARE"), std::vector<std::string>{"Kavo Corporation"});
}

// Windows orders subkeys by their upper-case names, so '_' (after 'Z')
// sorts behind every letter, unlike a lower-case comparison.
TEST_F(SimRegistryTest, SubkeysAreListedInUpperCaseOrder) {
    for (const char* name : {"Vid_1234&Pid_5678", "ROOT_HUB", "a_b", "aZb", "Alpha"}) {
        ASSERT_TRUE(registry_.createKey(std::string("SYSTEM\\Enum\\") + name));
    }
    const std::vector<std::string> expected = {"Alpha", "aZb", "a_b", "ROOT_HUB",
                                               "Vid_1234&Pid_5678"};
    EXPECT_EQ(enumerateSubkeys(open("SYSTEM\\Enum", win::KEY_ENUMERATE_SUB_KEYS)), expected);
    EXPECT_EQ(registry_.subkeyNames("system\\enum"), expected);
}

TEST_F(SimRegistryTest, ValuesAreListedInTheOrderWrittenAndKeepTheirPlaceWhenOverwritten) {
    const win::HKEY key =
        create("SYSTEM\\MountedDevices", win::KEY_SET_VALUE | win::KEY_QUERY_VALUE);
    for (const char* name : {"\\DosDevices\\E:", "\\??\\Volume{1}", "\\DosDevices\\C:"}) {
        const auto data = bytesOf(name);
        ASSERT_EQ(registry_.RegSetValueExA(key, name, win::REG_BINARY, data.data(),
                                           static_cast<win::DWORD>(data.size())),
                  win::ERROR_SUCCESS);
    }
    const win::BYTE replaced[] = {1, 2, 3};
    ASSERT_EQ(registry_.RegSetValueExA(key, "\\dosdevices\\e:", win::REG_BINARY, replaced, 3),
              win::ERROR_SUCCESS);

    EXPECT_EQ(enumerateValues(key), (std::vector<std::string>{"\\DosDevices\\E:", "\\??\\Volume{1}",
                                                              "\\DosDevices\\C:"}));
    const auto stored = registry_.value("SYSTEM\\MountedDevices", "\\DosDevices\\E:");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->data, std::vector<win::BYTE>(replaced, replaced + 3));
}

// Data of every type comes back exactly as written, through both calls that
// read it: no terminator is added to a string stored without one, and an
// empty value gives no bytes.
TEST_F(SimRegistryTest, DataIsStoredAsTheBytesGiven) {
    struct Case {
        win::DWORD type;
        std::vector<win::BYTE> data;
    };
    const Case cases[] = {
        {win::REG_SZ, bytesOf("no terminator")},
        {win::REG_SZ, bytesOf(std::string_view("with\0", 5))},
        {win::REG_MULTI_SZ, bytesOf(std::string_view("USB\\Vid_1234\0USB\\X\0\0", 21))},
        {win::REG_BINARY, {0x00, 0xFF, 0x00, 0x7F}},
        {win::REG_BINARY, {}},
    };
    const win::HKEY key = create("SYSTEM\\Data", win::KEY_SET_VALUE | win::KEY_QUERY_VALUE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data.size());
        ASSERT_EQ(registry_.RegSetValueExA(key, "v", c.type, c.data.data(),
                                           static_cast<win::DWORD>(c.data.size())),
                  win::ERROR_SUCCESS);
        std::vector<win::BYTE> back(64, 0xEE);
        win::DWORD length = static_cast<win::DWORD>(back.size());
        win::DWORD type = 0;
        ASSERT_EQ(registry_.RegQueryValueExA(key, "v", &type, back.data(), &length),
                  win::ERROR_SUCCESS);
        EXPECT_EQ(type, c.type);
        ASSERT_EQ(length, c.data.size());
        back.resize(length);
        EXPECT_EQ(back, c.data);

        std::vector<win::BYTE> listed(64, 0xEE);
        length = static_cast<win::DWORD>(listed.size());
        char name[16] = {};
        win::DWORD nameLength = sizeof name;
        ASSERT_EQ(registry_.RegEnumValueA(key, 0, name, &nameLength, &type, listed.data(), &length),
                  win::ERROR_SUCCESS);
        EXPECT_EQ(type, c.type);
        ASSERT_EQ(length, c.data.size());
        listed.resize(length);
        EXPECT_EQ(listed, c.data);
    }
}

// Each call needs its own right on the handle, and no other right stands in
// for it.
TEST_F(SimRegistryTest, EachCallNeedsItsAccessRight) {
    ASSERT_TRUE(registry_.setString("SYSTEM\\Key\\Sub", "value", "text"));
    ASSERT_TRUE(registry_.setString("SYSTEM\\Key", "value", "text"));
    struct Case {
        const char* name;
        win::REGSAM needed;
        std::function<win::LONG(SimRegistry&, win::HKEY)> call;
    };
    const Case cases[] = {
        {"RegEnumKeyExA", win::KEY_ENUMERATE_SUB_KEYS,
         [](SimRegistry& r, win::HKEY key) {
             char name[64];
             win::DWORD length = sizeof name;
             return r.RegEnumKeyExA(key, 0, name, &length);
         }},
        {"RegEnumValueA", win::KEY_QUERY_VALUE,
         [](SimRegistry& r, win::HKEY key) {
             char name[64];
             win::DWORD length = sizeof name;
             return r.RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr);
         }},
        {"RegQueryValueExA", win::KEY_QUERY_VALUE,
         [](SimRegistry& r, win::HKEY key) {
             win::BYTE data[64];
             win::DWORD length = sizeof data;
             return r.RegQueryValueExA(key, "value", nullptr, data, &length);
         }},
        {"RegSetValueExA", win::KEY_SET_VALUE,
         [](SimRegistry& r, win::HKEY key) {
             const win::BYTE data[] = {'x', 0};
             return r.RegSetValueExA(key, "value", win::REG_SZ, data, sizeof data);
         }},
        {"RegCreateKeyExA of a new key", win::KEY_CREATE_SUB_KEY,
         [](SimRegistry& r, win::HKEY key) {
             win::HKEY created = nullptr;
             const win::LONG status =
                 r.RegCreateKeyExA(key, "New", 0, win::KEY_READ, &created, nullptr);
             if (status == win::ERROR_SUCCESS) {
                 r.RegCloseKey(created);
                 r.RegDeleteKeyA(key, "New");
             }
             return status;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const win::HKEY with = open("SYSTEM\\Key", c.needed);
        const win::HKEY without = open("SYSTEM\\Key", win::KEY_ALL_ACCESS & ~c.needed);
        EXPECT_EQ(c.call(registry_, with), win::ERROR_SUCCESS);
        EXPECT_EQ(c.call(registry_, without), win::ERROR_ACCESS_DENIED);
    }
}

TEST_F(SimRegistryTest, CreatingAnExistingKeyOpensItWithoutTheCreateRight) {
    ASSERT_TRUE(registry_.createKey("SYSTEM\\Key\\Sub"));
    const win::HKEY parent = open("SYSTEM\\Key", win::KEY_QUERY_VALUE);
    win::HKEY sub = nullptr;
    win::DWORD disposition = 0;
    ASSERT_EQ(registry_.RegCreateKeyExA(parent, "SUB", 0, win::KEY_READ, &sub, &disposition),
              win::ERROR_SUCCESS);
    held_.push_back(sub);
    EXPECT_EQ(disposition, win::REG_OPENED_EXISTING_KEY);

    win::HKEY fresh = nullptr;
    ASSERT_EQ(registry_.RegCreateKeyExA(kMachine, "SOFTWARE\\Kavo Corporation\\Pendrel", 0,
                                        win::KEY_SET_VALUE, &fresh, &disposition),
              win::ERROR_SUCCESS);
    held_.push_back(fresh);
    EXPECT_EQ(disposition, win::REG_CREATED_NEW_KEY);
    EXPECT_TRUE(registry_.keyExists("SOFTWARE\\Kavo Corporation"));
}

// A name must fit the buffer with its terminator; a value's data must fit
// without one. When data does not fit, the size it needs is reported.
TEST_F(SimRegistryTest, TooSmallBuffersGiveMoreData) {
    ASSERT_TRUE(registry_.createKey("SYSTEM\\Key\\Abcde"));
    ASSERT_TRUE(registry_.setBinary("SYSTEM\\Key", "Abcde", bytesOf("0123456789")));
    const win::HKEY key = open("SYSTEM\\Key", win::KEY_READ);
    struct Case {
        win::DWORD buffer;
        win::LONG expected;
    };
    const Case nameCases[] = {{4, win::ERROR_MORE_DATA},
                              {5, win::ERROR_MORE_DATA},
                              {6, win::ERROR_SUCCESS},
                              {255, win::ERROR_SUCCESS}};
    for (const Case& c : nameCases) {
        SCOPED_TRACE(c.buffer);
        char subkey[255] = {};
        win::DWORD subkeyLength = c.buffer;
        EXPECT_EQ(registry_.RegEnumKeyExA(key, 0, subkey, &subkeyLength), c.expected);
        char value[255] = {};
        win::DWORD valueLength = c.buffer;
        EXPECT_EQ(registry_.RegEnumValueA(key, 0, value, &valueLength, nullptr, nullptr, nullptr),
                  c.expected);
        if (c.expected == win::ERROR_SUCCESS) {
            EXPECT_STREQ(subkey, "Abcde");
            EXPECT_EQ(subkeyLength, 5u);
            EXPECT_STREQ(value, "Abcde");
            EXPECT_EQ(valueLength, 5u);
        } else {
            EXPECT_EQ(subkey[0], 0) << "nothing is copied";
        }
    }
    const Case dataCases[] = {{0, win::ERROR_MORE_DATA},
                              {9, win::ERROR_MORE_DATA},
                              {10, win::ERROR_SUCCESS},
                              {255, win::ERROR_SUCCESS}};
    for (const Case& c : dataCases) {
        SCOPED_TRACE(c.buffer);
        win::BYTE data[255] = {};
        win::DWORD length = c.buffer;
        EXPECT_EQ(registry_.RegQueryValueExA(key, "Abcde", nullptr, data, &length), c.expected);
        EXPECT_EQ(length, 10u);
        char name[16] = {};
        win::DWORD nameLength = sizeof name;
        length = c.buffer;
        EXPECT_EQ(registry_.RegEnumValueA(key, 0, name, &nameLength, nullptr, data, &length),
                  c.expected);
        EXPECT_EQ(length, 10u);
    }
    // Without a buffer the size alone is asked for.
    win::DWORD length = 0;
    EXPECT_EQ(registry_.RegQueryValueExA(key, "Abcde", nullptr, nullptr, &length),
              win::ERROR_SUCCESS);
    EXPECT_EQ(length, 10u);
}

TEST_F(SimRegistryTest, MissingKeysValuesAndIndexes) {
    ASSERT_TRUE(registry_.setString("SYSTEM\\Key\\Sub", "present", "x"));
    win::HKEY key = reinterpret_cast<win::HKEY>(std::uintptr_t{0x1234});
    EXPECT_EQ(registry_.RegOpenKeyExA(kMachine, "SYSTEM\\Absent", 0, win::KEY_READ, &key),
              win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    const win::HKEY sub = open("SYSTEM\\Key\\Sub", win::KEY_READ);
    win::BYTE data[8];
    win::DWORD length = sizeof data;
    EXPECT_EQ(registry_.RegQueryValueExA(sub, "absent", nullptr, data, &length),
              win::ERROR_FILE_NOT_FOUND);
    char name[64];
    win::DWORD nameLength = sizeof name;
    EXPECT_EQ(registry_.RegEnumKeyExA(sub, 0, name, &nameLength), win::ERROR_NO_MORE_ITEMS);
    nameLength = sizeof name;
    EXPECT_EQ(registry_.RegEnumValueA(sub, 1, name, &nameLength, nullptr, nullptr, nullptr),
              win::ERROR_NO_MORE_ITEMS);
}

// Paths the platform refuses: empty levels and key names over 255 characters.
TEST_F(SimRegistryTest, MalformedPathsAreRefused) {
    ASSERT_TRUE(registry_.createKey("SYSTEM\\Key"));
    const std::string longest(sim::kMaxKeyNameLength, 'k');
    const std::string tooLong(sim::kMaxKeyNameLength + 1, 'k');
    struct Case {
        std::string path;
        win::LONG open;
        win::LONG create;
    };
    const Case cases[] = {
        {"SYSTEM\\\\Key", win::ERROR_FILE_NOT_FOUND, win::ERROR_INVALID_PARAMETER},
        {"\\SYSTEM\\Key", win::ERROR_FILE_NOT_FOUND, win::ERROR_INVALID_PARAMETER},
        {"SYSTEM\\Key\\", win::ERROR_FILE_NOT_FOUND, win::ERROR_INVALID_PARAMETER},
        {"SYSTEM\\" + tooLong, win::ERROR_FILE_NOT_FOUND, win::ERROR_INVALID_PARAMETER},
        {"SYSTEM\\" + longest, win::ERROR_FILE_NOT_FOUND, win::ERROR_SUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        win::HKEY key = nullptr;
        EXPECT_EQ(registry_.RegOpenKeyExA(kMachine, c.path.c_str(), 0, win::KEY_READ, &key),
                  c.open);
        EXPECT_EQ(
            registry_.RegCreateKeyExA(kMachine, c.path.c_str(), 0, win::KEY_READ, &key, nullptr),
            c.create);
        if (c.create == win::ERROR_SUCCESS) held_.push_back(key);
        EXPECT_EQ(registry_.createKey(c.path), c.create == win::ERROR_SUCCESS);
    }
}

// NT deletes only keys without subkeys; a handle to a deleted key stays
// open but every use of it fails.
TEST_F(SimRegistryTest, DeleteRules) {
    ASSERT_TRUE(registry_.setString("SOFTWARE\\Kavo Corporation\\Pendrel", "rev", "0200"));
    const win::HKEY marker = open("SOFTWARE\\Kavo Corporation\\Pendrel", win::KEY_QUERY_VALUE);

    EXPECT_EQ(registry_.RegDeleteKeyA(kMachine, "SOFTWARE\\Kavo Corporation"),
              win::ERROR_ACCESS_DENIED);
    EXPECT_TRUE(registry_.keyExists("SOFTWARE\\Kavo Corporation\\Pendrel"));
    EXPECT_EQ(registry_.RegDeleteKeyA(kMachine, "SOFTWARE\\Kavo Corporation\\Absent"),
              win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry_.RegDeleteKeyA(kMachine, nullptr), win::ERROR_INVALID_PARAMETER);

    EXPECT_EQ(registry_.RegDeleteKeyA(kMachine, "SOFTWARE\\Kavo Corporation\\Pendrel"),
              win::ERROR_SUCCESS);
    EXPECT_FALSE(registry_.keyExists("SOFTWARE\\Kavo Corporation\\Pendrel"));
    EXPECT_EQ(registry_.RegDeleteKeyA(kMachine, "SOFTWARE\\Kavo Corporation\\Pendrel"),
              win::ERROR_FILE_NOT_FOUND);

    win::BYTE data[8];
    win::DWORD length = sizeof data;
    EXPECT_EQ(registry_.RegQueryValueExA(marker, "rev", nullptr, data, &length),
              win::ERROR_KEY_DELETED);
    EXPECT_EQ(registry_.openKeyPaths(),
              std::vector<std::string>{"SOFTWARE\\Kavo Corporation\\Pendrel (deleted)"});

    // Making the key again gives a new key; the old handle still sees the deleted one.
    ASSERT_TRUE(registry_.createKey("SOFTWARE\\Kavo Corporation\\Pendrel"));
    length = sizeof data;
    EXPECT_EQ(registry_.RegQueryValueExA(marker, "rev", nullptr, data, &length),
              win::ERROR_KEY_DELETED);
}

TEST_F(SimRegistryTest, InvalidHandlesAreRefusedByEveryCall) {
    ASSERT_TRUE(registry_.createKey("SYSTEM\\Key"));
    win::HKEY closed = nullptr;
    ASSERT_EQ(registry_.RegOpenKeyExA(kMachine, "SYSTEM\\Key", 0, win::KEY_ALL_ACCESS, &closed),
              win::ERROR_SUCCESS);
    ASSERT_EQ(registry_.RegCloseKey(closed), win::ERROR_SUCCESS);
    const win::HKEY handles[] = {nullptr, closed,
                                 reinterpret_cast<win::HKEY>(std::uintptr_t{0x7777})};
    for (const win::HKEY bad : handles) {
        SCOPED_TRACE(reinterpret_cast<std::uintptr_t>(bad));
        win::HKEY result = nullptr;
        char name[16];
        win::DWORD length = sizeof name;
        win::BYTE data[16] = {};
        EXPECT_EQ(registry_.RegOpenKeyExA(bad, "Key", 0, win::KEY_READ, &result),
                  win::ERROR_INVALID_HANDLE);
        EXPECT_EQ(registry_.RegCreateKeyExA(bad, "Key", 0, win::KEY_READ, &result, nullptr),
                  win::ERROR_INVALID_HANDLE);
        EXPECT_EQ(registry_.RegEnumValueA(bad, 0, name, &length, nullptr, nullptr, nullptr),
                  win::ERROR_INVALID_HANDLE);
        EXPECT_EQ(registry_.RegEnumKeyExA(bad, 0, name, &length), win::ERROR_INVALID_HANDLE);
        EXPECT_EQ(registry_.RegQueryValueExA(bad, "v", nullptr, data, &length),
                  win::ERROR_INVALID_HANDLE);
        EXPECT_EQ(registry_.RegSetValueExA(bad, "v", win::REG_BINARY, data, 1),
                  win::ERROR_INVALID_HANDLE);
        EXPECT_EQ(registry_.RegDeleteKeyA(bad, "Key"), win::ERROR_INVALID_HANDLE);
        EXPECT_EQ(registry_.RegCloseKey(bad), win::ERROR_INVALID_HANDLE);
    }
    // The predefined key is always there and closing it changes nothing.
    EXPECT_EQ(registry_.RegCloseKey(kMachine), win::ERROR_SUCCESS);
    open("SYSTEM\\Key", win::KEY_READ);
}

TEST_F(SimRegistryTest, CountsAndNamesTheOpenKeys) {
    ASSERT_TRUE(registry_.createKey("SYSTEM\\MountedDevices"));
    ASSERT_TRUE(registry_.createKey("SYSTEM\\CurrentControlSet\\Enum\\USB"));
    EXPECT_EQ(registry_.openKeyCount(), 0u);
    win::HKEY mounts = nullptr;
    win::HKEY usb = nullptr;
    win::HKEY again = nullptr;
    ASSERT_EQ(registry_.RegOpenKeyExA(kMachine, "system\\mounteddevices", 0, win::KEY_QUERY_VALUE,
                                      &mounts),
              win::ERROR_SUCCESS);
    ASSERT_EQ(registry_.RegOpenKeyExA(kMachine, "SYSTEM\\CurrentControlSet\\Enum\\USB", 0,
                                      win::KEY_ENUMERATE_SUB_KEYS, &usb),
              win::ERROR_SUCCESS);
    // An empty subkey name gives a second handle to the same key.
    ASSERT_EQ(registry_.RegOpenKeyExA(usb, "", 0, win::KEY_READ, &again), win::ERROR_SUCCESS);
    EXPECT_NE(again, usb);
    EXPECT_EQ(registry_.openKeyCount(), 3u);
    EXPECT_EQ(
        registry_.openKeyPaths(),
        (std::vector<std::string>{"SYSTEM\\MountedDevices", "SYSTEM\\CurrentControlSet\\Enum\\USB",
                                  "SYSTEM\\CurrentControlSet\\Enum\\USB"}));
    EXPECT_EQ(registry_.RegCloseKey(usb), win::ERROR_SUCCESS);
    EXPECT_EQ(registry_.RegCloseKey(usb), win::ERROR_INVALID_HANDLE);
    EXPECT_EQ(registry_.RegCloseKey(again), win::ERROR_SUCCESS);
    EXPECT_EQ(registry_.openKeyPaths(), std::vector<std::string>{"SYSTEM\\MountedDevices"});
    EXPECT_EQ(registry_.RegCloseKey(mounts), win::ERROR_SUCCESS);
}

TEST_F(SimRegistryTest, OptionsOtherThanTheDocumentedOnesAreRefused) {
    ASSERT_TRUE(registry_.createKey("SYSTEM\\Key"));
    win::HKEY key = nullptr;
    EXPECT_EQ(registry_.RegOpenKeyExA(kMachine, "SYSTEM\\Key", 1, win::KEY_READ, &key),
              win::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(registry_.RegCreateKeyExA(kMachine, "SYSTEM\\Key", 4, win::KEY_READ, &key, nullptr),
              win::ERROR_INVALID_PARAMETER);
}

// Faults as the identification's failure handling needs them: a key that
// will not open, a close that fails, one value or one entry that cannot be
// read while its neighbours can.
TEST_F(SimRegistryTest, InjectedFaults) {
    ASSERT_TRUE(
        registry_.setString("SYSTEM\\Enum\\USB\\Vid_1234&Pid_5678", "ParentIdPrefix", "6&1&0"));
    ASSERT_TRUE(registry_.setString("SYSTEM\\Enum\\USB\\Vid_1234&Pid_5678", "HardwareID", "USB"));
    ASSERT_TRUE(registry_.createKey("SYSTEM\\Enum\\USB\\ROOT_HUB"));
    registry_.injectFault({RegistryCall::Open, "system\\enum\\usb\\vid_1234&pid_5678", std::nullopt,
                           win::ERROR_ACCESS_DENIED});
    win::HKEY key = nullptr;
    EXPECT_EQ(registry_.RegOpenKeyExA(kMachine, "SYSTEM\\Enum\\USB\\Vid_1234&Pid_5678", 0,
                                      win::KEY_READ, &key),
              win::ERROR_ACCESS_DENIED);
    registry_.clearFaults();

    registry_.injectFault({RegistryCall::QueryValue, "SYSTEM\\Enum\\USB\\Vid_1234&Pid_5678",
                           std::string("hardwareid"), win::ERROR_ACCESS_DENIED});
    registry_.injectFault({RegistryCall::EnumKey, "SYSTEM\\Enum\\USB", std::string("ROOT_HUB"),
                           win::ERROR_ACCESS_DENIED});
    registry_.injectFault({RegistryCall::Close, "SYSTEM\\Enum\\USB\\Vid_1234&Pid_5678",
                           std::nullopt, win::ERROR_INVALID_HANDLE});
    const win::HKEY device = open("SYSTEM\\Enum\\USB\\Vid_1234&Pid_5678", win::KEY_READ);
    win::BYTE data[16];
    win::DWORD length = sizeof data;
    EXPECT_EQ(registry_.RegQueryValueExA(device, "HardwareID", nullptr, data, &length),
              win::ERROR_ACCESS_DENIED);
    length = sizeof data;
    EXPECT_EQ(registry_.RegQueryValueExA(device, "ParentIdPrefix", nullptr, data, &length),
              win::ERROR_SUCCESS);

    const win::HKEY usb = open("SYSTEM\\Enum\\USB", win::KEY_ENUMERATE_SUB_KEYS);
    char name[64];
    win::DWORD nameLength = sizeof name;
    EXPECT_EQ(registry_.RegEnumKeyExA(usb, 0, name, &nameLength), win::ERROR_ACCESS_DENIED);
    nameLength = sizeof name;
    EXPECT_EQ(registry_.RegEnumKeyExA(usb, 1, name, &nameLength), win::ERROR_SUCCESS);
    EXPECT_STREQ(name, "Vid_1234&Pid_5678");

    // The failed close still gives the handle back.
    held_.clear();
    EXPECT_EQ(registry_.RegCloseKey(device), win::ERROR_INVALID_HANDLE);
    EXPECT_EQ(registry_.RegCloseKey(usb), win::ERROR_SUCCESS);
    EXPECT_EQ(registry_.openKeyCount(), 0u);
}

TEST_F(SimRegistryTest, ObserverSeesEveryChangeMadeThroughTheCalls) {
    ASSERT_TRUE(registry_.createKey("SOFTWARE\\Microsoft"));  // laid beforehand: not reported
    std::vector<RegistryEvent> events;
    registry_.setObserver([&](const RegistryEvent& event) { events.push_back(event); });

    const win::HKEY marker = create("SOFTWARE\\Kavo Corporation\\Pendrel", win::KEY_SET_VALUE);
    const win::BYTE rev[] = {'0', '2', '0', '0', 0};
    ASSERT_EQ(registry_.RegSetValueExA(marker, "rev", win::REG_SZ, rev, sizeof rev),
              win::ERROR_SUCCESS);
    const win::HKEY parent = open("Software\\Kavo Corporation", win::KEY_READ);
    ASSERT_EQ(registry_.RegDeleteKeyA(parent, "Pendrel"), win::ERROR_SUCCESS);
    // Refused calls change nothing and are not reported.
    EXPECT_EQ(registry_.RegDeleteKeyA(parent, "Pendrel"), win::ERROR_FILE_NOT_FOUND);

    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].kind, RegistryEvent::Kind::KeyCreated);
    EXPECT_EQ(events[0].keyPath, "SOFTWARE\\Kavo Corporation");
    EXPECT_EQ(events[1].kind, RegistryEvent::Kind::KeyCreated);
    EXPECT_EQ(events[1].keyPath, "SOFTWARE\\Kavo Corporation\\Pendrel");
    EXPECT_EQ(events[2].kind, RegistryEvent::Kind::ValueSet);
    EXPECT_EQ(events[2].valueName, "rev");
    EXPECT_EQ(events[2].type, win::REG_SZ);
    EXPECT_EQ(events[2].data, std::vector<win::BYTE>(rev, rev + sizeof rev));
    EXPECT_EQ(events[3].kind, RegistryEvent::Kind::KeyDeleted);
    EXPECT_EQ(events[3].keyPath, "SOFTWARE\\Kavo Corporation\\Pendrel");
}

TEST_F(SimRegistryTest, DumpShowsKeysInOrderWithTheirValues) {
    ASSERT_TRUE(
        registry_.setMultiString("SYSTEM\\Enum\\USB\\Vid_1234&Pid_5678\\6&1&0", "HardwareID",
                                 {"USB\\Vid_1234&Pid_5678&Rev_0100", "USB\\Vid_1234&Pid_5678"}));
    ASSERT_TRUE(
        registry_.setBinary("SYSTEM\\MountedDevices", "\\DosDevices\\C:", bytesOf("\x12\x34")));
    ASSERT_TRUE(registry_.setValue("SYSTEM\\MountedDevices", "odd", win::REG_SZ, bytesOf("a\"b")));
    EXPECT_EQ(registry_.dump(),
              "SYSTEM\n"
              "SYSTEM\\Enum\n"
              "SYSTEM\\Enum\\USB\n"
              "SYSTEM\\Enum\\USB\\Vid_1234&Pid_5678\n"
              "SYSTEM\\Enum\\USB\\Vid_1234&Pid_5678\\6&1&0\n"
              "    \"HardwareID\" REG_MULTI_SZ \"USB\\Vid_1234&Pid_5678&Rev_0100\", "
              "\"USB\\Vid_1234&Pid_5678\"\n"
              "SYSTEM\\MountedDevices\n"
              "    \"\\DosDevices\\C:\" REG_BINARY 12 34\n"
              "    \"odd\" REG_SZ \"a\\x22b\" (no terminator)\n");
}

}  // namespace
