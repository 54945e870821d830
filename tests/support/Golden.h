// Golden files: whole printer pages kept byte for byte under tests/golden/.
// BANDRILL_UPDATE_GOLDEN=1 rewrites them from the current output.
#pragma once

#include <string>

namespace testing_support {

// Compares actual with tests/golden/<dir>/<name>, reporting the first
// differing byte.
void ExpectGolden(const std::string& dir, const std::string& name, const std::string& actual);

} // namespace testing_support
