#include "Drivers.h"

#include <cstdio>
#include <cstring>

namespace bandrill_app {

namespace {

// "48.05" for 4805 hundredths of a millimetre.
std::string Mm(int hundredths)
{
    char text[32];
    if (hundredths % 100 == 0)
        std::snprintf(text, sizeof text, "%d", hundredths / 100);
    else if (hundredths % 10 == 0)
        std::snprintf(text, sizeof text, "%d.%d", hundredths / 100, hundredths / 10 % 10);
    else
        std::snprintf(text, sizeof text, "%d.%02d", hundredths / 100, hundredths % 100);
    return text;
}

Driver MakeDriver(const PrinterFamily& family, const PrinterDriver& d)
{
    Driver driver{&family, &d, d.name, d.modelName, family.model, d.dpi, d.headDots, d.roll != nullptr,
                  {}, {}, {}, {}};
    if (d.roll) {
        // Roll lengths as the PPDs list them, as wide as the head.
        const std::string w = Mm(WidthForDots(d.headDots, d.dpi));
        for (int length : {50, 80, 100, 150, 200, 297})
            driver.media.push_back({std::string("om_") + d.roll + "-" + std::to_string(length) +
                                        "_" + w + "x" + std::to_string(length) + "mm",
                                    length == 100});
        driver.rangeMin = "roll_min_" + w + "x10mm";
        driver.rangeMax = "roll_max_" + w + "x3000mm";
    } else {
        for (const char* m : d.labels)
            driver.media.push_back({PwgMediaName(m), std::strcmp(m, d.defaultLabel) == 0});
        driver.rangeMin = d.customMin;
        driver.rangeMax = d.customMax;
    }
    for (const SettingRow& row : DocumentSettings())
        driver.documents.push_back(OfferedSetting{&row, row.defaultChoice, row.offered});
    return driver;
}

} // namespace

std::string PwgMediaName(const std::string& name)
{
    const std::string::size_type first = name.find('_');
    const std::string::size_type last = name.rfind('_');
    if (first == std::string::npos || last == first)
        return name;
    std::string pwg = name;
    for (std::string::size_type i = first + 1; i < last; ++i)
        if (pwg[i] == '.')
            pwg[i] = '-';
    return pwg;
}

std::string RenamedMedia(const std::string& name)
{
    const std::string pwg = PwgMediaName(name);
    if (pwg == name)
        return {};
    for (const Driver& d : Drivers())
        for (const MediaSize& m : d.media)
            if (m.pwg == pwg)
                return pwg;
    return {};
}

int WidthForDots(int dots, int dpi)
{
    // The least width w (0.01 mm) with w * dpi / 2540 >= dots.
    return (dots * 2540 + dpi - 1) / dpi;
}

const std::vector<Driver>& Drivers()
{
    static const std::vector<Driver> kDrivers = [] {
        std::vector<Driver> drivers;
        for (const PrinterFamily& f : PrinterFamilies())
            for (const PrinterDriver& d : f.drivers)
                drivers.push_back(MakeDriver(f, d));
        return drivers;
    }();
    return kDrivers;
}

const Driver* FindDriver(const char* name)
{
    if (!name)
        return nullptr;
    for (const Driver& d : Drivers())
        if (std::strcmp(d.name, name) == 0)
            return &d;
    return nullptr;
}

const OfferedSetting* Driver::Find(const char* keyword) const
{
    for (const OfferedSetting& d : documents)
        if (keyword && std::strcmp(d.row->keyword, keyword) == 0)
            return &d;
    return family->Offer(keyword);
}

bool Driver::Offers(const SettingRow& row) const
{
    const OfferedSetting* s = Find(row.keyword);
    return s && s->choices.size() > 1;
}

int DarknessLevels(const Driver& driver)
{
    const OfferedSetting* s = driver.Find("Darkness");
    return s ? static_cast<int>(s->choices.size()) - 1 : 0;
}

int SpeedMax(const Driver& driver)
{
    const OfferedSetting* s = driver.Find("zePrintRate");
    return s ? static_cast<int>(s->choices.size()) - 1 : 0;
}

} // namespace bandrill_app
