// Runs a fuzz target over saved inputs without libFuzzer, so that the seed
// corpora and every kept finding are regression tests of the normal and
// the sanitizer builds. Arguments are files or folders of inputs.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

int main(int argc, char **argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; i++) {
        if (std::filesystem::is_directory(argv[i]))
            for (const auto &entry : std::filesystem::directory_iterator(argv[i]))
                inputs.push_back(entry.path());
        else inputs.emplace_back(argv[i]);
    }
    for (const auto &path : inputs) {
        std::ifstream in(path, std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(data.data()), data.size());
    }
    fprintf(stderr, "replayed %zu inputs\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
