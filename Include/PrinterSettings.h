// The print settings: one table row per setting, in the order the settings
// are read. A row names its PPD keyword, the field(s) of the render object
// it sets, its kind and the values it takes, and how the printer
// application offers it (IPP attribute, label for people). Every front end
// reads settings through the table: the filter from the choice text of the
// queue's PPD (ReadPrinterSettings), the printer application with typed
// values (ApplySettings). A new option is one row here, its choices in the
// families that offer it (PrinterFamilies.cpp) and the code that uses it.
#pragma once

#include <string>
#include <vector>

class CBaseRender;

// One value of a setting: the PPD choice keyword, the IPP keyword that
// stands for it (null: no IPP keyword offers it), a label for people and
// the value the setting stores for it.
struct SettingChoice {
    const char* ppd;
    const char* ipp;
    const char* label;
    int value;
};

struct SettingRow {
    // The PPD main keyword: the name the shipped PPDs carry and the row goes by.
    const char* keyword = nullptr;
    // Where the filter finds it: the marked choice of an option, or the
    // value of a PPD attribute (a property of the printer, not of the job).
    enum Source { kOption, kAttribute } source = kOption;
    // How IPP offers it: one of the choices (a keyword), an integer within
    // [min, max], or a boolean.
    enum Kind { kChoice, kInteger, kBoolean } kind = kInteger;
    // How the filter reads the PPD's choice text: as a number (atoi: sign,
    // leading digits, 0 without any), as one of the choices' words, or as a
    // decimal number stored in hundredths ("-1.25" is -125; anything else,
    // or a value outside [min, max], is a text the row does not know).
    enum Text { kNumber, kWords, kHundredths } text = kNumber;
    std::vector<SettingChoice> choices;  // kChoice and kBoolean rows, and kWords
    int min = 0, max = 0;                // kInteger: the values any PPD or job may give (stored values)
    // The shipped PPDs' default choice and the choices they offer, unless a
    // family says otherwise (PrinterFamily::settings).
    const char* defaultChoice = nullptr;
    std::vector<std::string> offered;

    // What a choice text the row's words do not know does (kWords): keep
    // the field(s) and trace them, ignore it altogether, or store
    // unknownValue.
    enum Unknown { kKeepTraced, kIgnore, kStoreValue } unknown = kKeepTraced;
    int unknownValue = 0;
    // What a missing choice (none marked, no IPP value, or noneWord) does:
    // keep the field(s), or store noneValue silently or traced.
    enum None { kKeep, kStoreSilently, kStoreTraced } none = kKeep;
    int noneValue = 0;
    const char* noneWord = nullptr;  // a choice text that counts as none ("Default"), or null

    // Stores a value in the render object's field(s); traces them as stored.
    void (*set)(CBaseRender& render, int value) = nullptr;
    void (*trace)(CBaseRender& render) = nullptr;

    // The IPP side: the vendor attribute ("bandrill-...") and its label, or
    // null; the standard attribute the value comes from first, or null.
    const char* attr = nullptr;
    const char* label = nullptr;
    const char* standard = nullptr;
    // The group the web interface and the PPDs show it in.
    enum Group { kImage, kPrinter } group = kPrinter;

    // Keywords read before the row's own one (a newer spelling), and after
    // it (an older one): the first keyword with a choice counts.
    std::vector<const char*> readBefore;
    std::vector<const char*> readAfter;

    // The choice with this PPD word or IPP keyword, or null.
    const SettingChoice* ChoiceForPpd(const std::string& ppd) const;
    const SettingChoice* ChoiceForIpp(const std::string& ipp) const;
    // The keywords in reading order.
    std::vector<const char*> ReadOrder() const;
};

// Every setting, in reading order.
const std::vector<SettingRow>& PrinterSettings();
const SettingRow* FindSetting(const char* keyword);
const SettingRow* FindSettingByAttr(const char* attr);

// The settings of documents the printer application renders itself (PDF,
// images, text): how a page is fitted to the label or roll. No PPD carries
// them (the filter gets its pages as raster already made) and they set no
// field of the render object; the application offers them as vendor
// attributes as it offers the rows above. The keyword is the name they go
// by; a choice's PPD word is its IPP keyword.
const std::vector<SettingRow>& DocumentSettings();
const SettingRow* FindDocumentSettingByAttr(const char* attr);

// The values of the fit setting (DocumentSettings, "Fit"): the page as it
// is, the whole page fitted, or the bounding box of its ink fitted.
enum FitChoice { kFitNone = 0, kFitPage = 1, kFitCropToInk = 2 };

// A setting's value as a front end found it.
struct SettingValue {
    enum State {
        kNone,     // no value: the row's none rule
        kValue,    // value
        kUnknown,  // a choice text the row does not know: the row's unknown rule
    } state = kNone;
    int value = 0;

    static SettingValue None() { return SettingValue(); }
    static SettingValue Of(int v) { return SettingValue{kValue, v}; }
};

// Typed values of the settings, as a front end has them.
class ISettingValues {
public:
    virtual ~ISettingValues() {}
    virtual SettingValue Value(const SettingRow& row) = 0;
};

// Sets the fields of render.m_reg and render.m_regHalftone row by row, in
// the table's order, tracing each value set to render.
void ApplySettings(CBaseRender& render, ISettingValues& values);

// The choice text of the settings keywords, as the filter has them from a
// PPD (or a test from a map).
class ISettingChoices {
public:
    virtual ~ISettingChoices() {}
    // The chosen value of keyword, or "" when there is none.
    virtual std::string Choice(const char* keyword) = 0;
};

// The value a row's choice text stands for, read as the filter always has.
SettingValue ParseSettingChoice(const SettingRow& row, const std::string& text);

// ApplySettings over choice text: each row's keywords are asked in reading
// order until one has a choice, which is then parsed.
void ReadPrinterSettings(CBaseRender& render, ISettingChoices& choices);
