#pragma once

namespace win32 {

// True when the predefined values portable code makes itself (the local
// machine's registry key, the invalid handle) are the platform's own. The
// constants and records are checked when the backend compiles.
bool predefinedValuesAgree();

}  // namespace win32
