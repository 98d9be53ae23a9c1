#pragma once

#include <string>
#include <vector>

// Texts the event lines and the summary of a transcript both write.
namespace simrun {

// A string as JSON quotes it, so that a quote, a backslash, a CR or a
// missing character inside it can never be mistaken for anything else.
std::string quoted(const std::string& text);
std::string joined(const std::vector<std::string>& parts, const std::string& separator);

}  // namespace simrun
