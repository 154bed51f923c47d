// A harness's main without libFuzzer: runs it on every file of the given
// directories, its seeds and regressions/<harness>/<what it once found>.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
    int runs = 0;
    for (int i = 1; i < argc; i++) {
        if (!std::filesystem::is_directory(argv[i])) continue;
        for (const auto &e : std::filesystem::directory_iterator(argv[i])) {
            std::printf("%s\n", e.path().c_str());
            std::ifstream in(e.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), {});
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
            runs++;
        }
    }
    return runs > 0 ? 0 : 1;
}
