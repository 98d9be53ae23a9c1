// The simulator reads language libraries from the program folder of a
// scenario, so the reader must cope with any text: it either reads a script
// or names a line in it, and what it reads can be shown.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sim/resource_script.h"
#include "sim/sim_ui.h"

namespace {

constexpr int kSmallBuffer = 4;

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    sim::ScriptReading reading = sim::readResourceScript(text, "fuzz.rc");
    if (!reading.ok()) {
        const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
        require(reading.error->line >= 1 && reading.error->line <= lines);
        require(!reading.error->message.empty());
        require(reading.script.dialogs.empty() && reading.script.strings.empty());
        return 0;
    }
    const auto script = std::make_shared<const sim::ResourceScript>(std::move(reading.script));
    sim::QueuedUserScript user;
    sim::SimUi ui(user);
    ui.setProgramResources(script);
    for (const auto& [id, dialog] : script->dialogs) {
        const win::HWND window = ui.CreateDialogParamA(id, nullptr);
        require(window != nullptr);
        require(ui.view(window)->templateId == id);
        ui.DestroyWindow(window);
    }
    for (const auto& [id, string] : script->strings) {
        char buffer[kSmallBuffer];
        const int length = ui.LoadStringA(static_cast<win::UINT>(id), buffer, kSmallBuffer);
        require(length >= 0 && length < kSmallBuffer && buffer[length] == '\0');
    }
    return 0;
}
