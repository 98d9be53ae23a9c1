#include <algorithm>
#include <cstdio>
#include <span>
#include <string>

#include "sim/sim_registry.h"

// How a registry value reads in the machine's dump and in the transcript:
// kept apart from the registry itself, which only stores bytes.

namespace sim {

namespace {

constexpr win::BYTE kFirstPrintable = 0x20;
constexpr win::BYTE kDelete = 0x7F;

// Printable bytes as they are (backslashes too, so paths read naturally),
// anything else and the quote as \xNN.
void appendQuoted(std::string& out, std::span<const win::BYTE> text) {
    out += '"';
    for (const win::BYTE b : text) {
        if (b >= kFirstPrintable && b < kDelete && b != '"') {
            out += static_cast<char>(b);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
            out += escaped;
        }
    }
    out += '"';
}

// Strings are shown piece by piece up to each zero, the way a program reads
// them; a last piece without its zero is marked. A list's closing zero is
// not shown as a piece of its own.
void appendData(std::string& out, const RegistryValue& value) {
    std::span<const win::BYTE> data(value.data);
    const bool isText = value.type == win::REG_SZ || value.type == win::REG_EXPAND_SZ ||
                        value.type == win::REG_MULTI_SZ;
    if (!isText) {
        for (std::size_t i = 0; i < data.size(); ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x", data[i]);
            if (i != 0) out += ' ';
            out += hex;
        }
        return;
    }
    if (value.type == win::REG_MULTI_SZ && !data.empty() && data.back() == 0) {
        data = data.first(data.size() - 1);
    }
    bool first = true;
    while (!data.empty()) {
        const auto zero = std::find(data.begin(), data.end(), win::BYTE{0});
        const auto length = static_cast<std::size_t>(zero - data.begin());
        if (!first) out += ", ";
        appendQuoted(out, data.first(length));
        first = false;
        if (zero == data.end()) {
            out += " (no terminator)";
            break;
        }
        data = data.subspan(length + 1);
    }
}

}  // namespace

std::string registryValueText(const RegistryValue& value) {
    std::string out;
    appendQuoted(
        out, std::span(reinterpret_cast<const win::BYTE*>(value.name.data()), value.name.size()));
    out += ' ';
    out += registryTypeName(value.type);
    out += ' ';
    appendData(out, value);
    return out;
}

std::string registryTypeName(win::DWORD type) {
    switch (type) {
        case win::REG_NONE:
            return "REG_NONE";
        case win::REG_SZ:
            return "REG_SZ";
        case win::REG_EXPAND_SZ:
            return "REG_EXPAND_SZ";
        case win::REG_BINARY:
            return "REG_BINARY";
        case win::REG_DWORD:
            return "REG_DWORD";
        case win::REG_MULTI_SZ:
            return "REG_MULTI_SZ";
        default:
            return "type " + std::to_string(type);
    }
}

}  // namespace sim
