// Every input the grid fuzzer found a fault with (tests/regressions/grid/), replayed
// through the same check the fuzz target runs (fuzz/GridFuzzChecks.h).
#include "fuzz/GridFuzzChecks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace zarvel;

TEST(GridFuzzRegressions, GridInputs) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(ZARVEL_TEST_DATA_DIR) / "regressions" / "grid";
    std::vector<fs::path> files;
    if (fs::is_directory(folder))
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        try {
            fuzz::checkGrid(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        } catch (const fuzz::CheckFailure& failure) {
            ADD_FAILURE() << file.filename().string() << ": " << failure.what();
        }
    }
}
