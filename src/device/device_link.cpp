#include "device/device_link.h"

#include <utility>

namespace device {

DeviceLink::DeviceLink(platform::Volumes& volumes, platform::Registry& registry,
                       platform::Clock& clock, WriteProtectRule writeProtectRule)
    : volumeHandle(win::invalidHandleValue()),
      volumes_(volumes),
      registry_(registry),
      clock_(clock),
      writeProtectRule_(writeProtectRule) {}

// A link that goes away in the middle of a held period must not leave the
// volume locked behind it.
DeviceLink::~DeviceLink() {
    if (holding_) unlockVolume();
}

bool DeviceLink::holdsVolume() const {
    return holding_;
}

}  // namespace device
