// A fuzz target without the fuzzer: replays the empty input, then every file named and every file in every
// folder named, once each, in name order. The seed folders replayed by the normal build's tests make a saved
// crash input a regression test.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i)
    {
        std::error_code error;
        if (!fs::is_directory(argv[i], error))
            inputs.emplace_back(argv[i]);
        else
            for (const auto& entry : fs::directory_iterator(argv[i], error))
                if (entry.is_regular_file())
                    inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());

    LLVMFuzzerTestOneInput(nullptr, 0);
    for (const auto& path : inputs)
    {
        std::ifstream file(path, std::ios::binary);
        if (!file)
        {
            std::cerr << "cannot read " << path << "\n";
            return 1;
        }
        const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
        std::cout << path.filename().string() << ": " << bytes.size() << " bytes" << std::endl;
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::cout << inputs.size() + 1 << " inputs replayed, the empty one first\n";
    return inputs.empty() ? 1 : 0;
}
