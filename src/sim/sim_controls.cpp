#include "sim/sim_controls.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "sim/windows_names.h"

namespace sim {

namespace {

constexpr std::string_view kProgressBarClass = "msctls_progress32";
constexpr std::string_view kComboBoxClass = "ComboBox";
constexpr unsigned kWordBits = 16;
constexpr std::uint32_t kLowWord = 0xFFFF;

int asInt(win::WPARAM value) {
    return static_cast<int>(static_cast<std::intptr_t>(value));
}
int asInt(win::LPARAM value) {
    return static_cast<int>(value);
}

win::LRESULT packRange(const ProgressBarState& bar) {
    const auto low = static_cast<std::uint32_t>(bar.low) & kLowWord;
    const auto high = static_cast<std::uint32_t>(bar.high) & kLowWord;
    return static_cast<win::LRESULT>((high << kWordBits) | low);
}

}  // namespace

ControlModel controlModelOf(std::string_view className) {
    if (sameName(className, kProgressBarClass)) return ControlModel::ProgressBar;
    if (sameName(className, kComboBoxClass)) return ControlModel::ComboBox;
    return ControlModel::Plain;
}

ControlAnswer progressBarMessage(ProgressBarState& bar, win::UINT message, win::WPARAM wParam,
                                 win::LPARAM lParam) {
    const auto keepInRange = [&bar] {
        if (bar.position < bar.low) bar.position = bar.low;
        if (bar.position > bar.high) bar.position = bar.high;
    };
    win::LRESULT previous = 0;
    switch (message) {
        case win::PBM_SETRANGE: {
            previous = packRange(bar);
            const auto packed = static_cast<std::uint32_t>(lParam);
            bar.low = static_cast<int>(packed & kLowWord);
            bar.high = static_cast<int>(packed >> kWordBits);
            keepInRange();
            break;
        }
        case win::PBM_SETRANGE32:
            previous = packRange(bar);
            bar.low = asInt(wParam);
            bar.high = asInt(lParam);
            keepInRange();
            break;
        case win::PBM_SETPOS:
            previous = bar.position;
            bar.position = asInt(wParam);
            keepInRange();
            break;
        case win::PBM_STEPIT:
            previous = bar.position;
            bar.position += bar.step;
            // Past the end the bar starts over, as the platform's does.
            if (bar.position > bar.high)
                bar.position = bar.high > bar.low
                                   ? bar.low + (bar.position - bar.low) % (bar.high - bar.low)
                                   : bar.low;
            keepInRange();
            break;
        case win::PBM_SETSTEP:
            previous = bar.step;
            bar.step = asInt(wParam);
            return {previous, false};
        default:
            return {};
    }
    return {previous, true};
}

ControlAnswer comboBoxMessage(ComboBoxState& combo, win::UINT message, win::WPARAM wParam,
                              win::LPARAM lParam) {
    const int index = asInt(wParam);
    const bool validIndex = index >= 0 && index < static_cast<int>(combo.items.size());
    switch (message) {
        case win::CB_ADDSTRING: {
            const char* text = reinterpret_cast<const char*>(lParam);
            if (text == nullptr) return {win::CB_ERR, false};
            auto at = combo.items.end();
            if (combo.sorted) {
                at = std::find_if(combo.items.begin(), combo.items.end(),
                                  [&](const std::string& each) { return nameLess(text, each); });
            }
            const int added = static_cast<int>(at - combo.items.begin());
            combo.items.insert(at, text);
            if (combo.selection >= added) ++combo.selection;  // the chosen item stays chosen
            return {added, true};
        }
        case win::CB_SETCURSEL:
            combo.selection = validIndex ? index : -1;
            return {validIndex ? index : win::CB_ERR, true};
        case win::CB_GETCURSEL:
            return {combo.selection, false};
        case win::CB_GETCOUNT:
            return {static_cast<win::LRESULT>(combo.items.size()), false};
        case win::CB_GETLBTEXTLEN:
            return {validIndex ? static_cast<win::LRESULT>(
                                     combo.items[static_cast<std::size_t>(index)].size())
                               : win::CB_ERR,
                    false};
        case win::CB_GETLBTEXT: {
            char* buffer = reinterpret_cast<char*>(lParam);
            if (!validIndex || buffer == nullptr) return {win::CB_ERR, false};
            // The platform gives no size: the caller asked CB_GETLBTEXTLEN first.
            const std::string& item = combo.items[static_cast<std::size_t>(index)];
            std::memcpy(buffer, item.c_str(), item.size() + 1);
            return {static_cast<win::LRESULT>(item.size()), false};
        }
        default:
            return {};
    }
}

}  // namespace sim
