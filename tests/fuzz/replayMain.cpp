// Replays a fuzz target's corpus as a plain test: every file of the folders
// (or files) given on the command line goes through the target once. Built
// with the normal compiler, so CI exercises every corpus entry without
// libFuzzer; under the sanitizer builds it checks them for memory faults too.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace fs = std::filesystem;

static void replay(const fs::path& file, size_t& count) {
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A copy of exactly the file's length, so that ASan sees a read past it.
    auto* data = new uint8_t[bytes.size() ? bytes.size() : 1];
    std::copy(bytes.begin(), bytes.end(), data);
    LLVMFuzzerTestOneInput(data, bytes.size());
    delete[] data;
    ++count;
}

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        fs::path p(argv[i]);
        if (fs::is_directory(p)) {
            std::vector<fs::path> files;
            for (auto& e : fs::directory_iterator(p))
                if (e.is_regular_file()) files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (auto& f : files) replay(f, count);
        } else if (fs::is_regular_file(p)) {
            replay(p, count);
        } else {
            std::fprintf(stderr, "no such corpus: %s\n", argv[i]);
            return 1;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return count > 0 ? 0 : 1;
}
