#pragma once

// The dialog templates, strings and controls that the update program takes
// from its language library. The format program gives some of the same
// numbers other meanings; these names hold for Velcrest only.
namespace update {

enum class UpdateTemplate : int {
    AboutBox = 100,
    MainDialog = 102,
    Progress = 132,
    VersionNotSupported = 133,
    NotAdministrator = 134,
    NoReader = 136,
    ReaderNotReady = 137,
    UpdateComplete = 140,
    PowerOffPrompt = 142,
    SeveralReaders = 146,
    WriteProtected = 147,
    StartNotice = 150,
    UpdateStart = 151,
    DeviceAccessFailure = 152,
    NoTableRow = 153,
    FlashFailure = 154,
    FileCannotOpen = 155,
};

constexpr int templateNumber(UpdateTemplate id) {
    return static_cast<int>(id);
}

// The progress bar of the progress dialog.
inline constexpr int kProgressBarControl = 1002;

}  // namespace update
