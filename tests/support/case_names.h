#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <string_view>

namespace testsupport {

// A table case with a `name` prints as that name wherever GoogleTest shows
// a parameter ("GetParam() = RefusedBlock" in listings, failures and ctest's
// test names) instead of the bytes of its object, which hold addresses and
// change from one build to the next. GoogleTest finds it by argument-
// dependent look-up, so a test file brings it next to its cases:
// `using testsupport::PrintTo;` in the namespace that declares them.
template <class Case>
requires requires(const Case& c) {
    std::string_view(c.name);
}
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

// Names each instance of a parameterised test after its case's `name`; a
// name written as a description ("rejects a bad key") becomes an identifier,
// each other character an underscore.
struct NameOfCase {
    template <class Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        std::string name(info.param.name);
        for (char& c : name) {
            if (std::isalnum(static_cast<unsigned char>(c)) == 0) c = '_';
        }
        return name;
    }
};

}  // namespace testsupport
