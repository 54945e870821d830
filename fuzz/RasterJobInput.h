// The head of a raster_job fuzz input: model number, flags and one choice
// byte per PPD option keyword. Shared by the target and the seed writer.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace fuzz_support {

// The option keywords the settings are read from, in reading order.
constexpr const char* kJobKeywords[] = {
    "MediaMethod",    "AdjustHoriaontal", "AdjustVertical", "zeMediaTracking", "FeedOffset",
    "Rotate",         "Darkness",         "zePrintRate",    "AutoDotted",      "Brightness",
    "Contrast",       "ImageFilter",      "Threshold",      "ImageCompress",   "CropEdgeTop",
    "CropEdgeBottom", "CropEdgeLeft",     "CropEdgeRight",
};
constexpr int kJobKeywordCount = sizeof kJobKeywords / sizeof kJobKeywords[0];

// Keywords newer than the fixed head, read when flag bit 3 is set: a count
// byte, then one choice byte for each of the first that many keywords. New
// keywords go at the end, so that older inputs keep their meaning. (Not
// CutMode: a receipt never cut cannot be told by its reader from one cut
// short, so the stream check could not count its pages.)
constexpr const char* kJobMoreKeywords[] = {
    "ImageBrightness", "SetcCommands", "BandRows",     "CutFeed",
    "CashDrawer",      "InkOnly",      "FastCompress",
};
constexpr int kJobMoreKeywordCount = sizeof kJobMoreKeywords / sizeof kJobMoreKeywords[0];

// Choices worth trying on any keyword: the words the settings know, numbers
// at and past every limit, and words no setting knows.
constexpr const char* kJobChoices[] = {
    "Default",    "0",           "1",          "2",           "3",          "4",
    "5",          "6",           "7",          "8",           "9",          "10",
    "11",         "12",          "13",         "15",          "20",         "-1",
    "-2",         "-5",          "-16",        "-9999",       "99",         "127",
    "128",        "175",         "255",        "256",         "999",        "9999",
    "99999",      "1000000",     "268435455",  "268435456",   "2147483647", "-2147483648",
    "2147483648", "-2147483649", "4294967297", "99999999999", "Normal",     "Direct",
    "Transfer",   "normal",      "Continuous", "A4Stock",     "Gap",        "BLine",
    "Perforated", "Roll",        "Recording",  "gap",         "None",       "True",
    "False",      "1.5",         "0x10",       "+3",          "-0",         "007",
};
constexpr int kJobChoiceCount = sizeof kJobChoices / sizeof kJobChoices[0];

// Choice byte values: 0 leaves the option out, 1 offers choices without a
// default (nothing marked), 2 + i is kJobChoices[i], and the bytes above
// the table are the integers from -24 up.
constexpr uint8_t kChoiceAbsent = 0;
constexpr uint8_t kChoiceUnmarked = 1;
constexpr int kChoiceIntBase = 2 + kJobChoiceCount;
constexpr int kChoiceIntFirst = -24;

// The byte that selects `choice` from the table; kChoiceAbsent when it is
// not there.
inline uint8_t JobChoiceByte(const char* choice)
{
    for (int i = 0; i < kJobChoiceCount; ++i)
        if (std::strcmp(kJobChoices[i], choice) == 0)
            return static_cast<uint8_t>(2 + i);
    return kChoiceAbsent;
}

// Flag bits of byte 1.
constexpr uint8_t kFlagFailingChannel = 3;  // bits 0-1 both set
constexpr uint8_t kFlagOptions = 4;         // an options string follows
constexpr uint8_t kFlagMoreKeywords = 8;    // choices of kJobMoreKeywords follow the head
inline uint8_t CancelFlag(int at) { return static_cast<uint8_t>(at << 4); }

} // namespace fuzz_support
