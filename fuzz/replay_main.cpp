// Runs a fuzz target's entry point on every file of the directories given, so that the seeds
// and past findings replay as ordinary tests in any build.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    int inputs = 0;
    for (int i = 1; i < argc; ++i)
        if (std::filesystem::is_directory(argv[i]))
            for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
                std::ifstream in(entry.path(), std::ios::binary);
                // Exactly the input's size, so that a read past it is seen under ASan.
                std::vector<uint8_t> data{std::istreambuf_iterator<char>(in), {}};
                LLVMFuzzerTestOneInput(data.data(), data.size());
                ++inputs;
            }
    std::fprintf(stderr, "%d inputs replayed\n", inputs);
    return inputs == 0;
}
