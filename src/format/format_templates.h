#pragma once

namespace format {

// The format program's dialog templates in its language library. The numbers
// are the library's; several of them mean something else in the update
// program, so they are named here and nowhere else.
enum class FormatTemplate : int {
    AboutBox = 100,
    MainDialog = 102,
    WriteProtected = 137,
    NotReady = 138,
    RevisionDiffers = 139,
    RevisionMatches = 140,
    VersionNotice = 142,
    AdministratorNotice = 143,
    DriveSelect = 144,
    NothingSelected = 145,
    ConfirmFormat = 149,
    // One template serves both: the drive selection found no reader, and the
    // closing notice of a stand-alone format.
    NoReader = 150,
    StandAloneDone = 150,
    MediumAbsent = 152,
    Progress = 153,
    // Shown before the closing notice when the format was not seen to finish.
    NotFormatted = 154,
};

constexpr int templateNumber(FormatTemplate id) {
    return static_cast<int>(id);
}

// Controls inside the templates above.
inline constexpr int kDriveComboControl = 1000;
inline constexpr int kProgressBarControl = 1003;

}  // namespace format
