// The values a printer takes. Every job attribute and printer default a
// client sends is checked against what the printer advertises (its
// NAME-supported values and ranges, the driver's media) before the job or
// the default is taken: a value the printer does not take is refused, never
// stored or printed with the defaults in its place.
#pragma once

#include <string>
#include <vector>

#include <pappl/pappl.h>

namespace bandrill_app {

struct BadValue {
    ipp_attribute_t* attr;  // the request's attribute
    std::string why;        // for people: the value and what the printer takes
    bool ignored;           // an attribute the printer has not at all (ignored, not refused)
};

// The job template attributes of a Print-Job, Validate-Job or Create-Job.
std::vector<BadValue> CheckJobAttributes(pappl_printer_t* printer, ipp_t* request);

// The NAME-default and NAME-configured attributes of a Set-Printer-Attributes.
std::vector<BadValue> CheckDefaultAttributes(pappl_printer_t* printer, ipp_t* request);

// New defaults as papplPrinterSetDriverDefaults gets them (the web forms):
// the vendor values as text and the standard ones in data. "" when the
// printer takes them all, else why not.
std::string CheckDriverDefaults(pappl_printer_t* printer, const pappl_pr_driver_data_t& data,
                                int num_vendor, cups_option_t* vendor);

// A command line option that PAPPL's client would drop without a word
// (a vendor value that is not of its attribute's kind, a number out of the
// range IPP gives it): why it is wrong, or "". name may end in -default.
std::string CheckOptionText(const std::string& name, const std::string& value);

} // namespace bandrill_app
