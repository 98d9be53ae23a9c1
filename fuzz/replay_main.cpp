// Runs a fuzz target over every file of its seed corpus, so that the corpus
// stays a regression suite in builds without libFuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path corpus = argv[1];
    if (!std::filesystem::is_directory(corpus)) {
        std::fprintf(stderr, "%s: no corpus folder %s\n", argv[0], corpus.c_str());
        return 2;
    }
    std::size_t replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>()};
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ++replayed;
    }
    if (replayed == 0) {
        std::fprintf(stderr, "%s: corpus %s is empty\n", argv[0], corpus.c_str());
        return 1;
    }
    std::printf("replayed %zu inputs\n", replayed);
    return 0;
}
