// Small PPD files for the tests: a model number, a model name and any
// option keyword with its choices and default.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct PpdOption {
    std::string keyword;
    std::string defaultChoice;
    // Choices offered; the default is added when it is missing. An empty
    // default writes no *Default line (no choice is marked).
    std::vector<std::string> choices;
};

struct PpdModel {
    int modelNumber = 20;
    std::string modelName = "Test Printer";  // empty: no *ModelName line
    std::string personality;                 // empty: no *Personality line
    std::string manualCopies = "True";       // *cupsManualCopies; empty: no such line
    std::vector<PpdOption> options;
    // Main keyword attributes, written as *keyword: "value".
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string extra;                       // PPD lines appended as they are
};

std::string MakePpdText(const PpdModel& ppdModel);

// Writes the PPD to path; returns path.
std::string WritePpd(const std::string& path, const PpdModel& ppdModel);

} // namespace testing_support
