#include "Golden.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

namespace testing_support {

void ExpectGolden(const std::string& dir, const std::string& name, const std::string& actual)
{
    const std::filesystem::path path =
        std::filesystem::path(BANDRILL_SOURCE_DIR) / "tests/golden" / dir / name;
    const char* update = std::getenv("BANDRILL_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << actual;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "missing " << path << " (BANDRILL_UPDATE_GOLDEN=1 writes it)";
    const std::string expected((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    ASSERT_EQ(expected.size(), actual.size()) << path;
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(expected[i], actual[i]) << path << ": first difference at byte " << i;
}

} // namespace testing_support
