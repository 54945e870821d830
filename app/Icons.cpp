#include "Icons.h"

#include <cstring>

namespace bandrill_app {

const char* IconKind(const Driver& driver)
{
    const std::string language = driver.family->language;
    if (language == "paperang" || language == "peripage")
        return "pocket";
    return driver.roll ? "receipt" : "label";
}

void SetPrinterIcons(const Driver& driver, pappl_pr_driver_data_t* data)
{
    const char* const sizes[3] = {"sm", "md", "lg"};
    for (int i = 0; i < 3; ++i) {
        const IconData icon = FindIcon(std::string(IconKind(driver)) + "-" + sizes[i]);
        data->icons[i].filename[0] = '\0';
        data->icons[i].data = icon.data;
        data->icons[i].datalen = icon.size;
    }
}

} // namespace bandrill_app
