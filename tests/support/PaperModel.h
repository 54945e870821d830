// What a printer puts on paper for a printer stream, read from the printer
// commands alone (it shares nothing with the filter or with the decoding
// tool): for the label languages (TSPL, CPCL) one sheet per printed label,
// copies counted out; for the paper-strip languages (ESC/POS, PeriPage,
// Paperang) one sheet for the whole job, on which raster rows and paper
// feeds move the paper on and every other command is noted with the paper
// position where it comes. Two streams that print the same have equal
// printouts, however they cut the ink into commands.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct PaperSheet {
    // Ink dots, a row per paper row from the top, each row's bytes most
    // significant bit first (a set bit is ink); trailing blank rows and the
    // blank bytes at the end of each row are left out.
    std::vector<std::string> ink;
    // The other commands in order: the label's setup lines (copy counts
    // left out), or on a paper strip each command with the dot row where
    // the paper stood ("@120 cut"), the last entry being where it ends.
    std::vector<std::string> marks;

    bool operator==(const PaperSheet& o) const { return ink == o.ink && marks == o.marks; }
};

enum class PaperLanguage { TSPL, CPCL, ESCPOS, PeriPage, Paperang };

// Reads a whole stream. Returns false, with what went wrong in *error,
// when the stream is not one the language allows.
bool ReadPrintout(PaperLanguage lang, const std::string& stream, std::vector<PaperSheet>& sheets,
                  std::string* error);

// The ink of one sheet as ASCII art ('X' ink), width dots wide, for test
// failures.
std::string SheetPicture(const PaperSheet& sheet, int width);

} // namespace testing_support
