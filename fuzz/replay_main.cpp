// The entry point of a fuzz target built without libFuzzer (gcc, the ordinary suite): runs
// LLVMFuzzerTestOneInput over every file given and every file of every folder given, in name
// order, and says how many inputs each folder held (a folder that does not exist holds none:
// a target without findings has no folder of regressions). A finding aborts, or is a
// sanitizer's report, and fails the run; a run that found nothing at all to replay fails too.
//
// usage: TARGET_replay FOLDER_OR_FILE...
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    size_t total = 0;
    for (int a = 1; a < argc; ++a) {
        const fs::path given(argv[a]);
        std::vector<fs::path> inputs;
        std::error_code ec;
        if (fs::is_directory(given, ec)) {
            for (const auto& e : fs::directory_iterator(given, ec))
                if (e.is_regular_file()) inputs.push_back(e.path());
            std::sort(inputs.begin(), inputs.end());
        } else if (fs::is_regular_file(given, ec)) {
            inputs.push_back(given);
        } else if (fs::exists(given, ec)) {
            std::fprintf(stderr, "replay: %s is neither a file nor a folder\n", argv[a]);
            return 2;
        }
        for (const fs::path& input : inputs) {
            std::ifstream in(input, std::ios::binary);
            const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
            if (!in.eof() && in.fail()) {
                std::fprintf(stderr, "replay: cannot read %s\n", input.c_str());
                return 2;
            }
            std::fprintf(stderr, "replay: %s\n", input.c_str());
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        }
        std::printf("replay: %zu inputs from %s\n", inputs.size(), argv[a]);
        total += inputs.size();
    }
    if (total == 0) {
        std::printf("replay: nothing to replay, so nothing was verified\n");
        return 1;
    }
    std::printf("replay: %zu inputs, no finding\n", total);
    return 0;
}
