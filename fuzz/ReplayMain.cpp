// Replays a fuzzer's corpus without libFuzzer: every file named, and every
// file in every folder named, goes once through LLVMFuzzerTestOneInput. The
// corpora run this way in the test builds, the 32-bit one included, where
// libFuzzer is not available. Prints "replayed N inputs" and exits 0, or
// exits 1 when an argument cannot be read or no input was found.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    // An empty input must be handled too; give it a valid pointer all the same.
    const std::uint8_t none = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &none : reinterpret_cast<const std::uint8_t*>(bytes.data()),
                           bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path, error)) {
            for (const auto& item : std::filesystem::directory_iterator(path, error)) {
                if (!item.is_regular_file()) continue;
                if (!Replay(item.path())) {
                    std::fprintf(stderr, "cannot read %s\n", item.path().c_str());
                    return 1;
                }
                ++count;
            }
        } else if (Replay(path)) {
            ++count;
        } else {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        if (error) {
            std::fprintf(stderr, "cannot list %s\n", argv[i]);
            return 1;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return count == 0 ? 1 : 0;
}
