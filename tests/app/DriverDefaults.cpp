// The printer application's drivers against the compiled PPDs they stand
// for: the same resolution, head width, model and device ID, and the same
// page sizes as PWG media. (The settings the PPDs offer are held against
// the family table by tests/ppd.) A PPD change the driver
// table does not follow fails here.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include <cups/ppd.h>
#include <gtest/gtest.h>

#include "Drivers.h"

using namespace bandrill_app;

namespace {

struct PpdCloser {
    void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};

// The size of a PWG media name in hundredths of a millimetre.
bool PwgSize(const char* name, int& width, int& length)
{
    pwg_media_t* m = pwgMediaForPWG(name);
    if (!m)
        return false;
    width = m->width;
    length = m->length;
    return true;
}

class DriverPpd : public ::testing::TestWithParam<const Driver*> {
protected:
    void SetUp() override
    {
        // BANDRILL_PPD_DIR in the environment: other PPDs to hold the table to.
        const char* dir = std::getenv("BANDRILL_PPD_DIR");
        const std::string path = std::string(dir && *dir ? dir : BANDRILL_PPD_DIR) + "/bandrill-" +
                                 GetParam()->name + ".ppd";
        ppd.reset(ppdOpenFile(path.c_str()));
        ASSERT_TRUE(ppd) << path;
        ppdMarkDefaults(ppd.get());
        // The table follows the PPDs with per-family options; PPDs from
        // before them (every option in every PPD) say nothing about it.
        if (!ppdFindAttr(ppd.get(), "bandrillHeadDots", nullptr))
            GTEST_SKIP() << path << " predates the per-family options";
    }
    std::unique_ptr<ppd_file_t, PpdCloser> ppd;
};

TEST_P(DriverPpd, ResolutionHeadAndModel)
{
    const Driver& d = *GetParam();
    EXPECT_EQ(d.model, ppd->model_number);
    ppd_choice_t* res = ppdFindMarkedChoice(ppd.get(), "Resolution");
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(d.dpi, std::atoi(res->choice)) << res->choice;
    ppd_attr_t* head = ppdFindAttr(ppd.get(), "bandrillHeadDots", nullptr);
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(d.headDots, std::atoi(head->value));
    EXPECT_EQ(std::string("Generic ") + d.description, ppd->modelname);
    ppd_attr_t* id = ppdFindAttr(ppd.get(), "1284DeviceID", nullptr);
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(DeviceId(*d.family, *d.driver), id->value);
}

TEST_P(DriverPpd, PageSizes)
{
    const Driver& d = *GetParam();
    // Each PPD size has a driver size of the same dimensions (within 0.3 mm: PPD sizes are
    // in points), and
    // the defaults agree.
    std::set<std::string> matched;
    for (int i = 0; i < ppd->num_sizes; ++i) {
        const ppd_size_t& size = ppd->sizes[i];
        if (std::strcmp(size.name, "Custom") == 0)
            continue;
        const int w = static_cast<int>(std::lround(size.width * 2540.0 / 72.0));
        const int l = static_cast<int>(std::lround(size.length * 2540.0 / 72.0));
        bool found = false;
        for (const MediaSize& m : d.media) {
            int mw, ml;
            ASSERT_TRUE(PwgSize(m.pwg.c_str(), mw, ml)) << m.pwg;
            if (std::abs(mw - w) <= 30 && std::abs(ml - l) <= 30) {
                found = true;
                matched.insert(m.pwg);
                EXPECT_EQ(m.isDefault, size.marked != 0) << d.name << " " << size.name;
            }
        }
        EXPECT_TRUE(found) << d.name << ": no size for " << size.name;
    }
    EXPECT_EQ(matched.size(), d.media.size()) << d.name << ": sizes the PPD does not have";
    // Sizes made for the head are exactly as wide as the head.
    if (d.roll) {
        for (const MediaSize& m : d.media) {
            int mw, ml;
            ASSERT_TRUE(PwgSize(m.pwg.c_str(), mw, ml));
            EXPECT_EQ(mw * d.dpi / 2540, d.headDots) << m.pwg;
        }
    }
}

std::string Name(const ::testing::TestParamInfo<const Driver*>& info)
{
    std::string n = info.param->name;
    for (char& c : n)
        if (c == '-')
            c = '_';
    return n;
}

std::vector<const Driver*> AllDrivers()
{
    std::vector<const Driver*> v;
    for (const Driver& d : Drivers())
        v.push_back(&d);
    return v;
}

INSTANTIATE_TEST_SUITE_P(Shipped, DriverPpd, ::testing::ValuesIn(AllDrivers()), Name);

} // namespace
