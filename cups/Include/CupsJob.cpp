#include "CupsJob.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <cups/ppd.h>

#include "BaseRender.h"
#include "CupsInstance.h"
#include "CupsLog.h"
#include "CupsMessages.h"
#include "CupsOutput.h"
#include "PrinterSettings.h"

bool CCupsJob::Write(const void* data, int length)
{
    if (length <= kProgressStep || Pages() == 0) {
        if (!CupsWriteOutput(data, length))
            return false;
        m_pageBytes += length > 0 ? length : 0;
        return true;
    }
    const char* bytes = static_cast<const char*>(data);
    int done = 0;
    for (int tenth = 1; tenth <= 10; ++tenth) {
        const int end = static_cast<int>(static_cast<long long>(length) * tenth / 10);
        if (!CupsWriteOutput(bytes + done, end - done))
            return false;
        m_pageBytes += end - done;
        done = end;
        if (tenth < 10)
            Progress(10 * tenth);
    }
    return true;
}

void CCupsJob::PageStarted(int page)
{
    m_pageBytes = 0;
    std::fprintf(stderr, "PAGE: %d 1\n", page);
    _cupsLangPrintFilter(stderr, "INFO", "Starting page %d.", page);
}

void CCupsJob::PageFinished(int page)
{
    // A page refused before any of it was written, or cut off by a failed
    // printer channel, is not complete.
    if (m_pageBytes > 0 && !OutputFailed())
        Progress(100);
    _cupsLangPrintFilter(stderr, "INFO", "Finished page %d.", page);
}

void CCupsJob::Progress(int percent)
{
    _cupsLangPrintFilter(stderr, "INFO", "Printing page %d, %d%% complete.", Pages(), percent);
    std::fprintf(stderr, "ATTR: job-media-progress=%d\n", percent);
}

void CCupsJob::LogV(int priority, const char* format, va_list args)
{
    CupsLogV(priority, format, args);
}

void CCupsJob::PreparePage(CBaseRender& render)
{
    if (render.m_ppd == nullptr || render.m_header == nullptr) {
        render.AddLog("ppd == NULL || header == NULL");
        return;
    }
    render.PreparePage();
}

void CCupsJob::Report(Level level, const char* text)
{
    static const char* const kPrefix[] = {"INFO", "WARNING", "ERROR"};
    _cupsLangPrintFilter(stderr, kPrefix[level], "%s", text);
}

bool CCupsJob::IsCanceled() const
{
    return Canceled != 0;
}

bool CCupsJob::OutputFailed() const
{
    return CupsOutputFailed();
}

namespace {

// The marked choice of a PPD main keyword, or "" when there is none.
// Settings that describe the printer rather than the job are PPD
// attributes, and their value is the choice.
class CPpdChoices : public ISettingChoices {
public:
    explicit CPpdChoices(CBaseRender& render) : m_render(render) {}

    std::string Choice(const char* keyword) override
    {
        const SettingRow* row = FindSetting(keyword);
        if (row && row->source == SettingRow::kAttribute) {
            ppd_attr_t* attr = ppdFindAttr(m_render.m_ppd, keyword, nullptr);
            if (!attr || !attr->value) {
                m_render.AddLog("FindAttr: %s is missing", keyword);
                return std::string();
            }
            m_render.AddLog("%s: attribute value: %s", keyword, attr->value);
            return std::string(attr->value);
        }
        ppd_choice_t* choice = ppdFindMarkedChoice(m_render.m_ppd, keyword);
        if (!choice) {
            m_render.AddLog("GetMarkedOption: %s is error", keyword);
            return std::string();
        }
        ppd_option_t* option = choice->option;
        m_render.AddLog(
            "%s: marked=%d, choice: %s, text: %s, code: %s, \t\t\tconflicted=%d, keyword: %s, "
            "defchoice: %s, option->text: %s, option->num_choices: %d",
            keyword, choice->marked, choice->choice, choice->text,
            choice->code ? choice->code : "(null)", option ? option->conflicted : 0,
            option ? option->keyword : "", option ? option->defchoice : "",
            option ? option->text : "", option ? option->num_choices : 0);
        return std::string(choice->choice);
    }

private:
    CBaseRender& m_render;
};

} // namespace

void CupsReadSettings(CBaseRender& render)
{
    render.AddLog("CCupsRender::GetPrinterParameters");
    CPpdChoices choices(render);
    ReadPrinterSettings(render, choices);
}
