#include "format/reader_search.h"

#include <array>
#include <cstdint>

namespace format {

namespace {

constexpr const char* kRootSuffix = ":\\";

std::string driveRoot(int number) {
    std::string root(1, static_cast<char>('A' + number));
    root += kRootSuffix;
    return root;
}

}  // namespace

void forEachRemovableDrive(platform::System& system,
                           const std::function<void(const std::string& root)>& visit) {
    const win::DWORD mask = system.GetLogicalDrives();
    for (int number = 0; number < kDriveLetterCount; ++number) {
        if ((mask & (win::DWORD{1} << number)) == 0) continue;
        const std::string root = driveRoot(number);
        if (system.GetDriveTypeA(root.c_str()) != win::DRIVE_REMOVABLE) continue;
        visit(root);
    }
}

device::InquiryStrings inquireDrive(device::DeviceLink& link, const std::string& root) {
    std::array<std::uint8_t, device::kInquiryLength> reply{};
    link.inquiry(root, reply);
    return device::parseInquiryReply(reply);
}

}  // namespace format
