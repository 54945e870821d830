#include <gtest/gtest.h>

#include "StdRefPtr.h"

namespace {

// Counts destructions so that the tests see exactly when an object dies.
struct Probe : TObjRefImpl<IObjRef> {
    explicit Probe(int* deaths) : m_deaths(deaths) {}
    ~Probe() override { ++*m_deaths; }
    int Count() const { return m_nRef; }
    int* m_deaths;
};

TEST(StdRefPtr, CountsReferencesAndDestroysAtZero)
{
    int deaths = 0;
    Probe* p = new Probe(&deaths);
    EXPECT_EQ(p->Count(), 1);
    EXPECT_EQ(p->AddRef(), 2);
    EXPECT_EQ(p->Release(), 1);
    EXPECT_EQ(deaths, 0);
    EXPECT_EQ(p->Release(), 0);
    EXPECT_EQ(deaths, 1);
}

TEST(StdRefPtr, AdoptsTheCreationReference)
{
    int deaths = 0;
    {
        CStdRefPtr<Probe> ptr;
        Probe* p = new Probe(&deaths);
        ptr = MakeRefPtr<Probe>(p);
        EXPECT_EQ(p->Count(), 1);
        // The same pointer again: nothing released, count unchanged.
        ptr = MakeRefPtr<Probe>(p);
        EXPECT_EQ(p->Count(), 1);
        EXPECT_TRUE(ptr == p);
        EXPECT_EQ(deaths, 0);
    }
    EXPECT_EQ(deaths, 1);
}

TEST(StdRefPtr, ReplacingReleasesTheOldObjectFirst)
{
    int deathsA = 0, deathsB = 0;
    CStdRefPtr<Probe> ptr;
    ptr = MakeRefPtr<Probe>(new Probe(&deathsA));
    Probe* b = new Probe(&deathsB);
    ptr = MakeRefPtr<Probe>(b);
    EXPECT_EQ(deathsA, 1);
    EXPECT_EQ(deathsB, 0);
    EXPECT_TRUE(ptr != nullptr);
    ptr = MakeRefPtr<Probe>(nullptr);
    EXPECT_EQ(deathsB, 1);
    EXPECT_TRUE(ptr == nullptr);
}

TEST(StdRefPtr, EmptyPointerDestroysNothing)
{
    CStdRefPtr<Probe> ptr;
    EXPECT_TRUE(ptr == nullptr);
}

} // namespace
