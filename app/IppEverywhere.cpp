#include "IppEverywhere.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace bandrill_app {

namespace {

// Trim finishings and the cut mode each means. A PAPPL job holds one
// document, so after each document is after the job.
struct Trim {
    int finishing;
    const char* keyword;
    const char* cutMode;
};
const Trim kTrims[] = {
    {IPP_FINISHINGS_TRIM_AFTER_PAGES, "trim-after-pages", "Page"},
    {IPP_FINISHINGS_TRIM_AFTER_DOCUMENTS, "trim-after-documents", "Job"},
    {IPP_FINISHINGS_TRIM_AFTER_JOB, "trim-after-job", "Job"},
};

const Trim* TrimOf(int finishing)
{
    for (const Trim& t : kTrims)
        if (t.finishing == finishing)
            return &t;
    return nullptr;
}

const Trim* TrimOf(const char* keyword)
{
    for (const Trim& t : kTrims)
        if (keyword && std::strcmp(t.keyword, keyword) == 0)
            return &t;
    return nullptr;
}

ipp_t* Template(const char* keyword)
{
    ipp_t* col = ippNew();
    ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "finishing-template", nullptr, keyword);
    return col;
}

// finishings with none and the trims, for a driver with a cutter. With
// none, the printer's Cut setting applies.
void AddFinishings(ipp_t* attrs)
{
    std::vector<int> values = {IPP_FINISHINGS_NONE};
    std::vector<const char*> keywords = {"none"};
    for (const Trim& t : kTrims) {
        values.push_back(t.finishing);
        keywords.push_back(t.keyword);
    }
    const int n = static_cast<int>(values.size());
    ippAddIntegers(attrs, IPP_TAG_PRINTER, IPP_TAG_ENUM, "finishings-supported", n, values.data());
    ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_ENUM, "finishings-default", IPP_FINISHINGS_NONE);
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "finishing-template-supported", n,
                  nullptr, keywords.data());
    std::vector<ipp_t*> cols;
    for (const char* k : keywords)
        cols.push_back(Template(k));
    ippAddCollections(attrs, IPP_TAG_PRINTER, "finishings-col-database", n,
                      const_cast<const ipp_t**>(cols.data()));
    ippAddCollection(attrs, IPP_TAG_PRINTER, "finishings-col-default", cols[0]);
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "finishings-col-supported", nullptr,
                 "finishing-template");
    for (ipp_t* c : cols)
        ippDelete(c);
}

// The old name's replacement in one attribute's values, if any.
void Rename(ipp_t* ipp, ipp_attribute_t* attr)
{
    for (int i = 0; i < ippGetCount(attr); ++i) {
        const char* v = ippGetString(attr, i, nullptr);
        const std::string now = v ? RenamedMedia(v) : "";
        if (!now.empty())
            ippSetString(ipp, &attr, i, now.c_str());
    }
}

void RenameIn(ipp_t* ipp)
{
    for (ipp_attribute_t* a = ippFirstAttribute(ipp); a; a = ippNextAttribute(ipp)) {
        const char* n = ippGetName(a);
        const std::string name = n ? n : "";
        if (name == "media" || name == "media-default" || name == "media-size-name")
            Rename(ipp, a);
        else if (name == "media-col" || name == "media-col-default")
            for (int i = 0; i < ippGetCount(a); ++i)
                RenameIn(ippGetCollection(a, i));
    }
}

bool RenameCol(pappl_media_col_t& media)
{
    const std::string now = RenamedMedia(media.size_name);
    if (now.empty())
        return false;
    std::snprintf(media.size_name, sizeof media.size_name, "%s", now.c_str());
    return true;
}

} // namespace

void AddIppEverywhereAttributes(const Driver& driver, ipp_t* attrs)
{
    const SettingRow* cut = FindSetting("CutMode");
    if (cut && driver.Offers(*cut))
        AddFinishings(attrs);

    // No colour management: the printer renders every intent alike.
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported",
                 nullptr, "auto");
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default",
                 nullptr, "auto");
    // Get-Printer-Attributes has no preferred values to give.
    ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    // One side only: a back side is never printed, so never turned.
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back",
                 nullptr, "normal");
    // overrides may name pages and documents, but nothing a page or document
    // prints differently: no job template attribute is listed (and a job's
    // overrides of one are not taken, see CheckJobAttributes).
    const char* const overrides[] = {"document-number", "pages"};
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "overrides-supported", 2, nullptr,
                  overrides);

    // The supply the application knows of is the paper (a label printer's
    // ribbon, if it has one, it cannot tell); nothing tells how much is left
    // (level -2: unknown).
    const char* what = driver.roll ? "Paper roll" : "Labels";
    const char* const supply = "index=1;class=supplyThatIsConsumed;type=other;unit=percent;"
                               "maxcapacity=100;level=-2;colorantname=unknown;";
    ippAddOctetString(attrs, IPP_TAG_PRINTER, "printer-supply", supply,
                      static_cast<int>(std::strlen(supply)));
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-supply-description", nullptr, what);
}

const char* CutModeForFinishings(pappl_job_t* job)
{
    const Trim* asked = nullptr;
    // After every page wins over after the job when a job asks for both.
    auto take = [&asked](const Trim* t) {
        if (t && (!asked || std::strcmp(t->cutMode, "Page") == 0))
            asked = t;
    };
    if (ipp_attribute_t* f = papplJobGetAttribute(job, "finishings")) {
        for (int i = 0; i < ippGetCount(f); ++i)
            take(TrimOf(ippGetInteger(f, i)));
    } else if (ipp_attribute_t* col = papplJobGetAttribute(job, "finishings-col")) {
        for (int i = 0; i < ippGetCount(col); ++i)
            take(TrimOf(ippGetString(
                ippFindAttribute(ippGetCollection(col, i), "finishing-template", IPP_TAG_ZERO), 0,
                nullptr)));
    }
    return asked ? asked->cutMode : nullptr;
}

void RenameOldMedia(ipp_t* request)
{
    if (request)
        RenameIn(request);
}

void RenameOldMedia(pappl_system_t* system)
{
    papplSystemIteratePrinters(
        system,
        [](pappl_printer_t* printer, void*) {
            pappl_pr_driver_data_t data;
            papplPrinterGetDriverData(printer, &data);
            if (RenameCol(data.media_default))
                papplPrinterSetDriverDefaults(printer, &data, 0, nullptr);
            bool ready = false;
            for (int i = 0; i < PAPPL_MAX_SOURCE; ++i)
                ready = RenameCol(data.media_ready[i]) || ready;
            if (ready)
                papplPrinterSetReadyMedia(printer, data.num_source, data.media_ready);
        },
        nullptr);
}

void FixPrinterAttributes(pappl_client_t* client, pappl_printer_t* printer)
{
    ipp_t* response = papplClientGetResponse(client);
    if (!response)
        return;

    // printer-supply-info-uri: PAPPL names its supplies page, which a
    // printer without supply levels does not have; the media page it has.
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    ipp_attribute_t* attr = ippFindAttribute(response, "printer-supply-info-uri", IPP_TAG_URI);
    const std::string page = "/supplies";
    const char* uri = ippGetString(attr, 0, nullptr);
    const std::string was = uri ? uri : "";
    if (!data.has_supplies && was.size() > page.size() &&
        was.compare(was.size() - page.size(), page.size(), page) == 0) {
        const std::string media = was.substr(0, was.size() - page.size()) + "/media";
        ippSetString(response, &attr, 0, media.c_str());
    }

    // printer-up-time counts from 1: PAPPL gives 0 in a printer's first second.
    attr = ippFindAttribute(response, "printer-up-time", IPP_TAG_INTEGER);
    if (attr && ippGetInteger(attr, 0) < 1)
        ippSetInteger(response, &attr, 0, 1);

    // uri-security-supported, one value a printer-uri-supported value: PAPPL
    // always gives "none" and "tls", also where it answers with the ipp URI only.
    ipp_attribute_t* uris = ippFindAttribute(response, "printer-uri-supported", IPP_TAG_URI);
    attr = ippFindAttribute(response, "uri-security-supported", IPP_TAG_KEYWORD);
    if (uris && attr && ippGetCount(uris) != ippGetCount(attr)) {
        ippDeleteAttribute(response, attr);
        std::vector<const char*> security;
        for (int i = 0; i < ippGetCount(uris); ++i) {
            const char* u = ippGetString(uris, i, nullptr);
            security.push_back(u && std::strncmp(u, "ipps:", 5) == 0 ? "tls" : "none");
        }
        ippAddStrings(response, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "uri-security-supported",
                      static_cast<int>(security.size()), nullptr, security.data());
    }
}

} // namespace bandrill_app
