#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MyBuffer.h"

namespace {

std::string Content(const CMyBuffer& b)
{
    return std::string(reinterpret_cast<const char*>(b.GetBuffer()),
                       static_cast<size_t>(b.GetBufferLength()));
}

bool StorageIsZero(const CMyBuffer& b)
{
    for (int i = 0; i < b.GetBufferSize(); ++i)
        if (b.GetBuffer()[i] != 0)
            return false;
    return true;
}

TEST(MyBuffer, StartsEmptyWithZeroedKilobyte)
{
    CMyBuffer b;
    EXPECT_EQ(b.GetBufferLength(), 0);
    EXPECT_EQ(b.GetBufferSize(), 1024);
    EXPECT_EQ(b.GetMaxBufferSize(), 104857600);
    EXPECT_TRUE(StorageIsZero(b));
}

TEST(MyBuffer, GrowsToExactlyWhatAnAppendNeeds)
{
    CMyBuffer b;
    std::vector<unsigned char> first(1000), second(100);
    for (size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<unsigned char>(i);
    for (size_t i = 0; i < second.size(); ++i)
        second[i] = static_cast<unsigned char>(200 + i);
    b.AddBuffer(first.data(), 1000);
    EXPECT_EQ(b.GetBufferSize(), 1024);
    b.AddBuffer(second.data(), 100);
    EXPECT_EQ(b.GetBufferSize(), 1100);
    ASSERT_EQ(b.GetBufferLength(), 1100);
    EXPECT_EQ(b.GetBuffer()[999], static_cast<unsigned char>(999 & 0xFF));
    EXPECT_EQ(b.GetBuffer()[1099], static_cast<unsigned char>(299 & 0xFF));

    b.SetBufferSize(512); // never shrinks
    EXPECT_EQ(b.GetBufferSize(), 1100);
    EXPECT_EQ(b.GetBufferLength(), 1100);
}

TEST(MyBuffer, InitBufferResetsAndZeroesTheWholeStorage)
{
    CMyBuffer b;
    b.AddStringA("forty bytes of content, give or take....");
    b.InitBuffer(16);
    EXPECT_EQ(b.GetBufferLength(), 16);
    EXPECT_TRUE(StorageIsZero(b));
    for (int n : {0, -5}) {
        b.AddStringA("abc");
        b.InitBuffer(n);
        EXPECT_EQ(b.GetBufferLength(), 0);
        EXPECT_TRUE(StorageIsZero(b));
    }
}

TEST(MyBuffer, TextAndDecimalAppends)
{
    CMyBuffer b;
    b.AddInt(-12);
    b.AddByte(' ');
    b.AddInt(0);
    b.AddByte(' ');
    b.AddInt(-2147483647 - 1);
    b.AddStringA("");
    b.AddStringA("x");
    b.AddBuffer("ignored", 0);
    EXPECT_EQ(Content(b), "-12 0 -2147483648x");
}

TEST(MyBuffer, LimitDiscardsTheContentBeforeTheAppend)
{
    CMyBuffer b;
    b.SetMaxBufferSize(100);
    b.InitBuffer(0);
    const std::string ninety(90, 'a'), twenty(20, 'b');
    b.AddBuffer(ninety.data(), 90);
    // Below capacity nothing is checked: the limit acts only on growth.
    b.AddBuffer(twenty.data(), 20);
    EXPECT_EQ(b.GetBufferLength(), 110);

    CMyBuffer small;
    small.SetMaxBufferSize(100);
    const std::string big(1000, 'a'), more(30, 'c');
    small.AddBuffer(big.data(), 1000);            // fills the kilobyte
    small.AddBuffer(more.data(), 30);             // over capacity and limit
    EXPECT_EQ(Content(small), more);

    // New bytes that alone exceed the capacity still fit after the discard.
    CMyBuffer edge;
    edge.SetMaxBufferSize(2000);
    edge.AddBuffer(big.data(), 1000);
    const std::string huge(3000, 'z');
    edge.AddBuffer(huge.data(), 3000);
    EXPECT_EQ(Content(edge), huge);

    CMyBuffer unlimited;
    unlimited.SetMaxBufferSize(0);
    for (int i = 0; i < 5; ++i)
        unlimited.AddBuffer(big.data(), 1000);
    EXPECT_EQ(unlimited.GetBufferLength(), 5000);
}

} // namespace
