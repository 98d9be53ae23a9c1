#pragma once

// The window manager's own record of a window, shared by the files that make
// up SimUi (sim_ui.cpp: resources, windows and the dialog manager;
// sim_ui_messages.cpp: menus, painting, the message queue, suspend queries,
// the loop guard and what a test inspects). Nothing else includes it.
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "sim/sim_ui.h"

namespace sim::ui_detail {

// Messages and notifications only the backend needs.
constexpr win::UINT kWmNull = 0x0000;
constexpr win::WPARAM kBnClicked = 0;
constexpr win::WPARAM kCbnSelChange = 1;
constexpr win::WPARAM kSysCommandMask = 0xFFF0;
constexpr win::LRESULT kPowerQueryGranted = win::TRUE;

// Handle values as the platform hands them out: distinct, never null, never
// reused within a run.
constexpr std::uintptr_t kWindowHandleBase = 0x00010000;
constexpr std::uintptr_t kMenuHandleBase = 0x00200000;
constexpr std::uintptr_t kIconHandleBase = 0x00300000;
constexpr std::uintptr_t kDcHandleBase = 0x00400000;
constexpr std::uintptr_t kModuleHandleBase = 0x10000000;
constexpr std::uintptr_t kHandleStride = 0x10;
constexpr std::uintptr_t kModuleStride = 0x00010000;

constexpr int kIconSize = 32;
constexpr unsigned kWordBits = 16;
constexpr std::uint32_t kLowWord = 0xFFFF;

template <typename Handle>
inline Handle makeHandle(std::uintptr_t base, std::uintptr_t number, std::uintptr_t stride) {
    return reinterpret_cast<Handle>(base + number * stride);
}

inline win::WPARAM commandWParam(int id, win::WPARAM notification) {
    return (notification << kWordBits) | (static_cast<win::WPARAM>(id) & kLowWord);
}

inline int asInt(win::WPARAM value) {
    return static_cast<int>(static_cast<std::intptr_t>(value));
}

}  // namespace sim::ui_detail

namespace sim {

struct SimUi::Window {
    win::HWND handle = nullptr;
    std::uintptr_t number = 0;
    std::shared_ptr<const ResourceScript> resources;  // keeps the template alive
    const DialogTemplate* dialog = nullptr;
    platform::DialogProcedure* procedure = nullptr;
    bool modal = false;
    bool visible = false;
    bool ended = false;
    bool destroyed = false;
    bool iconic = false;
    bool centred = false;
    int redraws = 0;
    win::INT_PTR endResult = 0;
    win::LRESULT messageResult = 0;
    win::HICON bigIcon = nullptr;
    win::HICON smallIcon = nullptr;
    std::vector<MenuItem> menu;
    std::map<int, ProgressBarState> bars;
    std::map<int, ComboBoxState> combos;

    int templateId() const { return dialog->id; }
    bool hasSystemMenu() const { return dialog->hasStyle("WS_SYSMENU"); }
    win::HMENU menuHandle() const {
        return ui_detail::makeHandle<win::HMENU>(ui_detail::kMenuHandleBase, number,
                                                 ui_detail::kHandleStride);
    }
};

}  // namespace sim
