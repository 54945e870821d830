// A page wider than the print head is cut to the head's width after the
// whole preparation (rotation included), and the user is told once per job.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "AsciiImage.h"
#include "BaseRender.h"

namespace {

using testing_support::AsciiPicture;
using testing_support::MakeAsciiImage;
using testing_support::ToAscii;
using Picture = std::vector<std::string>;

class ReportingJob : public CRenderJob {
public:
    void Report(Level level, const char* text) override
    {
        reports.push_back(std::make_pair(level, std::string(text)));
    }
    std::vector<std::pair<Level, std::string>> reports;
};

Picture Pattern(int width, int height)
{
    Picture p;
    for (int y = 0; y < height; ++y) {
        std::string row(static_cast<size_t>(width), '.');
        for (int x = 0; x < width; ++x)
            if ((x + 2 * y) % 5 == 0 || x == width - 1)
                row[static_cast<size_t>(x)] = 'X';
        p.push_back(row);
    }
    return p;
}

// The page prepared with the given head width and rotation.
Picture Prepared(const Picture& page, int headDots, int rotate, ReportingJob* job = nullptr)
{
    CBaseRender r;
    r.SetJob(job);
    r.m_iDpi = 203;
    r.m_regHalftone.iGrayMethod = 0;
    r.m_reg.iRotate = rotate;
    r.m_reg.iHeadDots = headDots;
    MakeAsciiImage(r.m_image, page);
    r.PreparePage();
    // Padding bits past the new width stay paper, so no back end sends ink there.
    for (unsigned y = 0; y < r.m_image.GetHeight(); ++y)
        for (unsigned x = r.m_image.GetWidth(); x < r.m_image.GetEffWidth() * 8; ++x)
            EXPECT_TRUE((r.m_image.GetBits(y)[x / 8] >> (7 - x % 8)) & 1) << "row " << y << " bit " << x;
    return ToAscii(r.m_image);
}

Picture LeftPart(const Picture& p, size_t width)
{
    Picture out;
    for (const std::string& row : p)
        out.push_back(row.substr(0, width));
    return out;
}

TEST(HeadWidth, WiderPageKeepsItsLeftPartAfterRotation)
{
    const struct {
        int width, height, head, rotate;
    } kCases[] = {
        {80, 6, 48, 0},   // on a byte boundary
        {80, 6, 45, 0},   // inside a byte
        {20, 70, 33, 2},  // 90 degrees: 70 wide once turned
        {20, 70, 33, 3},
        {40, 5, 17, 1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + ", head " +
                     std::to_string(c.head) + ", rotate " + std::to_string(c.rotate));
        const Picture page = Pattern(c.width, c.height);
        const Picture full = Prepared(page, 0, c.rotate);
        ASSERT_GT(full[0].size(), static_cast<size_t>(c.head));
        ReportingJob job;
        const Picture cut = Prepared(page, c.head, c.rotate, &job);
        EXPECT_EQ(AsciiPicture(cut), AsciiPicture(LeftPart(full, static_cast<size_t>(c.head))));
        ASSERT_EQ(job.reports.size(), 1u);
        EXPECT_EQ(job.reports[0].first, CRenderJob::kWarning);
        // Both widths, in dots.
        EXPECT_NE(job.reports[0].second.find(std::to_string(full[0].size())), std::string::npos)
            << job.reports[0].second;
        EXPECT_NE(job.reports[0].second.find(std::to_string(c.head)), std::string::npos)
            << job.reports[0].second;
    }
}

TEST(HeadWidth, PageThatFitsOrUnknownHeadIsLeftAlone)
{
    const Picture page = Pattern(48, 9);
    for (int head : {0, -5, 48, 384}) {
        SCOPED_TRACE(head);
        ReportingJob job;
        EXPECT_EQ(Prepared(page, head, 0, &job), Prepared(page, 0, 0));
        EXPECT_TRUE(job.reports.empty());
    }
}

// Every page of the job is cut, the warning comes with the first only.
TEST(HeadWidth, WarnsOncePerJob)
{
    ReportingJob job;
    CBaseRender r;
    r.SetJob(&job);
    r.m_iDpi = 203;
    r.m_regHalftone.iGrayMethod = 0;
    r.m_reg.iHeadDots = 16;
    for (int width : {40, 30, 50}) {
        MakeAsciiImage(r.m_image, Pattern(width, 4));
        r.PreparePage();
        EXPECT_EQ(r.m_image.GetWidth(), 16u);
    }
    ASSERT_EQ(job.reports.size(), 1u);
    EXPECT_NE(job.reports[0].second.find("40"), std::string::npos) << job.reports[0].second;
}

} // namespace
