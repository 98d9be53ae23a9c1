#pragma once

#include <functional>
#include <string_view>

// The process's standard output as the file readers write their diagnostics
// to it. A host that runs the programs inside its own process (and keeps its
// own standard output for something else) takes the text over for a while
// instead of redirecting the process's file descriptor.
namespace firmware {

using OutputWriter = std::function<void(std::string_view text)>;

// The text goes to the writer of the innermost redirect, or to the process's
// standard output when there is none.
void writeStandardOutput(std::string_view text);

// Takes the standard output of the process over for its lifetime; redirects
// nest, and each gives the output back to the one it replaced.
class StandardOutputRedirect {
  public:
    explicit StandardOutputRedirect(OutputWriter writer);
    ~StandardOutputRedirect();
    StandardOutputRedirect(const StandardOutputRedirect&) = delete;
    StandardOutputRedirect& operator=(const StandardOutputRedirect&) = delete;

  private:
    friend void writeStandardOutput(std::string_view text);

    OutputWriter writer_;
    StandardOutputRedirect* replaced_;
};

}  // namespace firmware
