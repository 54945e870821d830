// A job's settings as typed values for the core's settings table: the
// job's IPP attributes, else the printer's defaults, else the driver's
// (its PPD's) defaults. Values the driver's PPD does not offer are not
// taken; keywords the PPD does not carry get no value, as in the filter.
#pragma once

#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "Drivers.h"
#include "PrinterSettings.h"

namespace bandrill_app {

// The qualifiers of two standard attributes, which the settings table
// names for their settings: media sensing IPP's media-tracking has no value
// for ("media-tracking", the default, follows media-tracking; "perforated"
// and "recording" pick those choices where the PPD has them), and whether
// the printer's own darkness applies ("printer", what the PPDs default to)
// or the IPP one ("configured": printer-darkness-configured plus the job's
// print-darkness).
extern const char* const kFollowMediaTracking;
extern const char* const kDarknessPrinter;
extern const char* const kDarknessConfigured;

// The darkness qualifier new printer defaults imply: a new
// printer-darkness-configured takes effect by itself (kDarknessConfigured)
// unless the same change picks the qualifier; null when it stays.
const char* ImpliedDarknessQualifier(pappl_printer_t* printer, const pappl_pr_driver_data_t& next,
                                     int num_vendor, cups_option_t* vendor);

class CJobSettings : public ISettingValues {
public:
    CJobSettings(const Driver& driver, pappl_job_t* job, pappl_pr_options_t* options);
    ~CJobSettings() override;
    CJobSettings(const CJobSettings&) = delete;
    CJobSettings& operator=(const CJobSettings&) = delete;

    SettingValue Value(const SettingRow& row) override;

    // "keyword=value" of every setting given a value, for the job's log.
    const std::vector<std::string>& Log() const { return m_log; }

private:
    // The job's attribute, else the printer's NAME-default; null when neither.
    ipp_attribute_t* Attribute(const char* name) const;
    // The value of a vendor attribute within what the driver offers, or none.
    SettingValue Vendor(const SettingRow& row, const OfferedSetting& offer) const;
    SettingValue MediaTracking(const SettingRow& row, const OfferedSetting& offer) const;
    SettingValue Darkness(const OfferedSetting& offer) const;
    SettingValue Speed() const;
    SettingValue Rotation(const SettingRow& row, const OfferedSetting& offer) const;
    SettingValue Cut(const SettingRow& row, const OfferedSetting& offer) const;
    // The value of the choice if the driver offers it, else none.
    static SettingValue Offered(const OfferedSetting& offer, const SettingChoice* choice);

    const Driver& m_driver;
    pappl_job_t* m_job;
    pappl_pr_options_t* m_options;
    ipp_t* m_printerAttrs;
    std::vector<std::string> m_log;
};

// The copies the printer makes of the job: its IPP copies when
// bandrill-printer-copies (the job's, else the printer's default) is on or
// the job is raster (PAPPL repeats no raster page), else 1 (every copy of a
// document is rendered and sent, as PAPPL does).
int PrinterCopies(const Driver& driver, pappl_job_t* job, pappl_pr_options_t* options);

} // namespace bandrill_app
