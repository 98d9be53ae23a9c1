#include "firmware/standard_output.h"

#include <cstdio>
#include <utility>

namespace firmware {

namespace {

// Standard output belongs to the process, and so does its redirection.
StandardOutputRedirect* innermost = nullptr;

}  // namespace

StandardOutputRedirect::StandardOutputRedirect(OutputWriter writer)
    : writer_(std::move(writer)), replaced_(innermost) {
    innermost = this;
}

StandardOutputRedirect::~StandardOutputRedirect() {
    innermost = replaced_;
}

void writeStandardOutput(std::string_view text) {
    if (innermost != nullptr && innermost->writer_) {
        innermost->writer_(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace firmware
