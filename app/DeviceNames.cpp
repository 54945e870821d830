#include "DeviceNames.h"

#include <cctype>
#include <cstring>

namespace bandrill_app {

const char* SuggestDriver(const std::string& name)
{
    // Upper case without separators: "MTP-II_4F3A" -> "MTPII4F3A".
    std::string key;
    for (char c : name)
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '+')
            key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    struct Row {
        const char* part;
        const char* driver;
    };
    // First match wins: longer names before the names they contain.
    static const Row kRows[] = {
        {"PAPERANG", "paperang"},
        {"PERIPAGE+", "peripage-576"},
        {"PERIPAGEPLUS", "peripage-576"},
        {"PERIPAGE", "peripage-384"},
        {"MTPIII", "escpos-80"}, // 80 mm portable receipt printers
        {"MPTIII", "escpos-80"},
        {"MTP3", "escpos-80"},
        {"MPT3", "escpos-80"},
        {"MTPII", "escpos-58"}, // 58 mm portable receipt printers
        {"MPTII", "escpos-58"},
        {"MTP2", "escpos-58"},
        {"MPT2", "escpos-58"},
        {"PT210", "escpos-58"},
        {"PT280", "escpos-80"},
        {"RPP02", "escpos-58"},
    };
    for (const Row& r : kRows)
        if (key.find(r.part) != std::string::npos)
            return r.driver;
    return nullptr;
}

std::string PlainName(const std::string& name)
{
    std::string out;
    for (char c : name) {
        if (out.size() >= 64)
            break;
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7f || std::strchr("<>&\"'|;:\\", c))
            out += '_';
        else
            out += c;
    }
    return out;
}

} // namespace bandrill_app
