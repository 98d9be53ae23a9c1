#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "platform/win_api.h"

namespace sim {

// Where the records a machine holds before a program runs are laid: the
// simulated registry, or a real one through the registry seam. Paths are
// relative to HKEY_LOCAL_MACHINE, levels separated by '\'; missing keys on
// the way are created. Each call says whether the value was laid.
class RegistryRecords {
  public:
    virtual ~RegistryRecords() = default;

    virtual bool setValue(std::string_view keyPath, std::string_view name, win::DWORD type,
                          std::span<const win::BYTE> data) = 0;

    // REG_SZ with its terminating zero.
    bool setString(std::string_view keyPath, std::string_view name, std::string_view text);
    // REG_MULTI_SZ: each string with its zero, then the closing zero.
    bool setMultiString(std::string_view keyPath, std::string_view name,
                        const std::vector<std::string>& strings);
    bool setBinary(std::string_view keyPath, std::string_view name,
                   std::span<const win::BYTE> data);
};

// Records laid through a backend of the registry seam, as Windows lays its
// own: every level created with RegCreateKeyExA, the value set with
// RegSetValueExA, the key closed again.
class SeamRecords final : public RegistryRecords {
  public:
    explicit SeamRecords(platform::Registry& registry) : registry_(registry) {}

    bool setValue(std::string_view keyPath, std::string_view name, win::DWORD type,
                  std::span<const win::BYTE> data) override;

  private:
    platform::Registry& registry_;
};

}  // namespace sim
