// Every #include of the tree against the table of who may include whom
// (docs/include-rules.txt). The link keeps the libraries apart, but src/ is
// one include root: a header-only piece of another layer would slip through.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/case_names.h"

namespace {

using testsupport::PrintTo;

namespace fs = std::filesystem;

constexpr char kRulesFile[] = "docs/include-rules.txt";
const std::vector<std::string> kScannedFolders = {"src", "apps", "tests", "bench", "fuzz"};
const std::vector<std::string> kSourceExtensions = {".h", ".cpp"};
// Where a bare include is looked for after the including file's own folder.
const std::vector<std::string> kIncludeRoots = {"src", "tests"};

struct IncludeRules {
    // Folder -> the folders it may include.
    std::map<std::string, std::set<std::string>> folders;
    // Platform header -> the files or folders that may include it.
    std::map<std::string, std::vector<std::string>> platformHeaders;
};

// A file of the tree, its path relative to the tree's root with '/'.
struct SourceFile {
    std::string path;
    std::string text;
};

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> found;
    for (std::string word; in >> word;) found.push_back(word);
    return found;
}

bool holds(const std::string& folder, const std::string& path) {
    return path == folder || path.rfind(folder + "/", 0) == 0;
}

// Problems in the table itself come back as "<rules> ..." lines.
IncludeRules parseRules(const std::string& text, std::vector<std::string>& problems) {
    IncludeRules rules;
    std::istringstream in(text);
    int lineNumber = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNumber;
        const std::vector<std::string> parts = words(line.substr(0, line.find('#')));
        if (parts.empty()) continue;
        const std::string& head = parts.front();
        if (head.size() < 2 || head.back() != ':') {
            problems.push_back("<rules> line " + std::to_string(lineNumber) + ": no 'name:'");
            continue;
        }
        const std::string name = head.substr(0, head.size() - 1);
        const std::vector<std::string> rest(parts.begin() + 1, parts.end());
        if (name.front() == '<') {
            rules.platformHeaders[name] = rest;
        } else {
            rules.folders[name].insert(rest.begin(), rest.end());
        }
    }
    return rules;
}

std::optional<std::string> folderOf(const IncludeRules& rules, const std::string& path) {
    std::optional<std::string> best;
    for (const auto& [folder, allowed] : rules.folders) {
        if (holds(folder, path) && (!best || folder.size() > best->size())) best = folder;
    }
    return best;
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string{} : path.substr(0, slash);
}

std::string normalised(const std::string& path) {
    return fs::path(path).lexically_normal().generic_string();
}

// The file an include names: beside the includer, under an include root, or
// in one of the table's folders.
std::optional<std::string> resolve(const IncludeRules& rules, const std::set<std::string>& tree,
                                   const std::string& includer, const std::string& name) {
    std::vector<std::string> candidates{normalised(parentOf(includer) + "/" + name)};
    for (const std::string& root : kIncludeRoots) candidates.push_back(root + "/" + name);
    for (const auto& [folder, allowed] : rules.folders) candidates.push_back(folder + "/" + name);
    for (const std::string& candidate : candidates) {
        if (tree.count(candidate) != 0) return candidate;
    }
    return std::nullopt;
}

struct IncludeLine {
    int lineNumber = 0;
    bool angled = false;
    std::string name;
};

// The #include lines of a source file, leaving out those inside raw string
// literals (tests carry resource scripts with includes of their own).
std::vector<IncludeLine> includesOf(const std::string& text) {
    static const std::regex include(R"re(^\s*#\s*include\s*([<"])([^>"]+)[>"])re");
    static const std::regex rawStart(R"re(R"([^(\s"\\]*)\()re");
    std::vector<IncludeLine> found;
    std::istringstream in(text);
    std::optional<std::string> rawEnd;
    int lineNumber = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNumber;
        if (rawEnd) {
            if (line.find(*rawEnd) != std::string::npos) rawEnd.reset();
            continue;
        }
        std::smatch match;
        if (std::regex_search(line, match, include)) {
            found.push_back({lineNumber, match[1] == "<", match[2]});
            continue;
        }
        if (std::regex_search(line, match, rawStart)) {
            const std::string end = ")" + match[1].str() + "\"";
            if (line.find(end, static_cast<std::size_t>(match.position(0) + match.length(0))) ==
                std::string::npos)
                rawEnd = end;
        }
    }
    return found;
}

bool platformHeaderAllowed(const std::vector<std::string>& allowed, const std::string& path) {
    return std::any_of(allowed.begin(), allowed.end(),
                       [&](const std::string& place) { return holds(place, path); });
}

// One line per include the table does not allow, and per file or include
// the table cannot place.
std::vector<std::string> violations(const std::string& rulesText,
                                    const std::vector<SourceFile>& files) {
    std::vector<std::string> found;
    const IncludeRules rules = parseRules(rulesText, found);
    std::set<std::string> tree;
    for (const SourceFile& file : files) tree.insert(file.path);
    for (const SourceFile& file : files) {
        const std::optional<std::string> from = folderOf(rules, file.path);
        if (!from) {
            found.push_back(file.path + ": in no folder of the table");
            continue;
        }
        const std::set<std::string>& allowed = rules.folders.at(*from);
        for (const IncludeLine& include : includesOf(file.text)) {
            const std::string where = file.path + ":" + std::to_string(include.lineNumber) + ": ";
            if (include.angled) {
                const auto platform = rules.platformHeaders.find("<" + include.name + ">");
                if (platform != rules.platformHeaders.end() &&
                    !platformHeaderAllowed(platform->second, file.path))
                    found.push_back(where + "<" + include.name + "> is not for " + *from);
                continue;
            }
            const std::optional<std::string> target = resolve(rules, tree, file.path, include.name);
            if (!target) {
                found.push_back(where + "\"" + include.name + "\" names no file of the tree");
                continue;
            }
            const std::optional<std::string> to = folderOf(rules, *target);
            if (!to || (*to != *from && allowed.count(*to) == 0))
                found.push_back(where + *from + " may not include " + *target);
        }
    }
    return found;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool isSource(const fs::path& path) {
    const std::string extension = path.extension().string();
    return std::find(kSourceExtensions.begin(), kSourceExtensions.end(), extension) !=
           kSourceExtensions.end();
}

std::vector<SourceFile> treeSources(const fs::path& root) {
    std::vector<SourceFile> files;
    for (const std::string& folder : kScannedFolders) {
        for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
            if (!entry.is_regular_file() || !isSource(entry.path())) continue;
            files.push_back(
                {fs::relative(entry.path(), root).generic_string(), readText(entry.path())});
        }
    }
    return files;
}

TEST(IncludeRules, EveryIncludeOfTheTreeIsOneTheTableAllows) {
    const fs::path root = VELCREST_SOURCE_DIR;
    const std::string rules = readText(root / kRulesFile);
    ASSERT_FALSE(rules.empty()) << kRulesFile;
    const std::vector<SourceFile> files = treeSources(root);
    ASSERT_FALSE(files.empty());
    const std::vector<std::string> found = violations(rules, files);
    std::string listed;
    for (const std::string& each : found) listed += each + "\n";
    EXPECT_TRUE(found.empty()) << listed;
}

// The checker on small trees of its own, so a broken checker cannot pass the
// real tree by finding nothing.
struct CheckerCase {
    const char* name;
    std::vector<SourceFile> files;
    std::vector<std::string> expected;
};

constexpr char kSmallRules[] = R"(# a comment
src/low:
src/high: src/low
tests/high: src/high src/low
<platform.h>: src/low/one_way.h
)";

const CheckerCase kCheckerCases[] = {
    {"AllowedIncludesPass",
     {{"src/low/a.h", "#include <vector>\n"},
      {"src/high/b.cpp", "#include \"high/b.h\"\n#include \"low/a.h\"\n"},
      {"src/high/b.h", ""},
      {"tests/high/b_test.cpp", "#include \"high/b.h\"\n#include \"helper.h\"\n"},
      {"tests/high/helper.h", ""}},
     {}},
    {"AHeaderOfAHigherLayerIsRefused",
     {{"src/low/a.cpp", "#include \"high/b.h\"\n"}, {"src/high/b.h", ""}},
     {"src/low/a.cpp:1: src/low may not include src/high/b.h"}},
    {"ATestHeaderInTheProductIsRefused",
     {{"src/high/b.cpp", "\n  #  include \"high/helper.h\"\n"}, {"tests/high/helper.h", ""}},
     {"src/high/b.cpp:2: src/high may not include tests/high/helper.h"}},
    {"ThePlatformHeaderOnlyThroughItsOneWay",
     {{"src/low/one_way.h", "#include <platform.h>\n"},
      {"src/high/b.cpp", "#include <platform.h>\n"}},
     {"src/high/b.cpp:1: <platform.h> is not for src/high"}},
    {"AFolderTheTableDoesNotNameIsReported",
     {{"apps/tool/main.cpp", "#include <vector>\n"}},
     {"apps/tool/main.cpp: in no folder of the table"}},
    {"AnIncludeOfNoFileIsReported",
     {{"src/low/a.cpp", "#include \"low/gone.h\"\n"}},
     {"src/low/a.cpp:1: \"low/gone.h\" names no file of the tree"}},
    {"IncludesInsideARawStringAreText",
     {{"tests/high/b_test.cpp",
       "auto s = R\"rc(\n#include \"high/ids.h\"\n)rc\";\n"
       "#include \"low/gone.h\"\n"}},
     {"tests/high/b_test.cpp:4: \"low/gone.h\" names no file of the tree"}},
};

class IncludeChecker : public ::testing::TestWithParam<CheckerCase> {};

TEST_P(IncludeChecker, FindsExactlyTheIncludesTheTableDoesNotAllow) {
    EXPECT_EQ(violations(kSmallRules, GetParam().files), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(SmallTrees, IncludeChecker, ::testing::ValuesIn(kCheckerCases),
                         testsupport::NameOfCase{});

}  // namespace
