#include "PpdWriter.h"

#include <algorithm>
#include <sstream>

#include "TempDir.h"

namespace testing_support {

std::string MakePpdText(const PpdModel& ppdModel)
{
    std::ostringstream s;
    s << "*PPD-Adobe: \"4.3\"\n"
      << "*FormatVersion: \"4.3\"\n"
      << "*FileVersion: \"1.0\"\n"
      << "*LanguageVersion: English\n"
      << "*LanguageEncoding: ISOLatin1\n"
      << "*PCFileName: \"TEST.PPD\"\n"
      << "*Manufacturer: \"Test\"\n"
      << "*Product: \"(Test)\"\n";
    if (!ppdModel.modelName.empty())
        s << "*ModelName: \"" << ppdModel.modelName << "\"\n"
          << "*ShortNickName: \"" << ppdModel.modelName << "\"\n"
          << "*NickName: \"" << ppdModel.modelName << "\"\n";
    if (!ppdModel.personality.empty())
        s << "*Personality: \"" << ppdModel.personality << "\"\n";
    s << "*PSVersion: \"(3010.000) 0\"\n"
      << "*LanguageLevel: \"3\"\n"
      << "*ColorDevice: False\n"
      << "*DefaultColorSpace: Gray\n"
      << "*FileSystem: False\n"
      << "*Throughput: \"1\"\n"
      << "*LandscapeOrientation: Plus90\n"
      << "*TTRasterizer: Type42\n"
      << "*cupsVersion: 2.4\n"
      << "*cupsModelNumber: " << ppdModel.modelNumber << "\n";
    if (!ppdModel.manualCopies.empty())
        s << "*cupsManualCopies: " << ppdModel.manualCopies << "\n";
    s << "*cupsFilter: \"application/vnd.cups-raster 0 bandrill\"\n";
    for (const auto& a : ppdModel.attributes)
        s << "*" << a.first << ": \"" << a.second << "\"\n";
    for (const PpdOption& o : ppdModel.options) {
        std::vector<std::string> choices = o.choices;
        if (!o.defaultChoice.empty() &&
            std::find(choices.begin(), choices.end(), o.defaultChoice) == choices.end())
            choices.insert(choices.begin(), o.defaultChoice);
        s << "*OpenUI *" << o.keyword << "/" << o.keyword << ": PickOne\n"
          << "*OrderDependency: 10 AnySetup *" << o.keyword << "\n";
        if (!o.defaultChoice.empty())
            s << "*Default" << o.keyword << ": " << o.defaultChoice << "\n";
        for (const std::string& c : choices)
            s << "*" << o.keyword << " " << c << "/" << c << ": \"\"\n";
        s << "*CloseUI: *" << o.keyword << "\n";
    }
    s << ppdModel.extra;
    return s.str();
}

std::string WritePpd(const std::string& path, const PpdModel& ppdModel)
{
    WriteFile(path, MakePpdText(ppdModel));
    return path;
}

} // namespace testing_support
