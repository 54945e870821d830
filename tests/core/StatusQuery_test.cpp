// The printers' status answers, byte by byte, and the asking: stale
// answers, answers in pieces, printers that never answer.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>

#include "PrinterFamilies.h"
#include "StatusQuery.h"

using namespace printer_status;

namespace {

struct ReplyCase {
    const char* what;
    StatusQueryKind kind;
    std::string answer;
    unsigned conditions;
};

TEST(StatusReply, AnswersReadAsTheirConditions)
{
    const ReplyCase kCases[] = {
        // ESC/POS: DLE EOT 1, 2, 3, 4.
        {"ready", kEscPosStatus, "\x12\x12\x12\x12", kNone},
        {"paper end (printer offline, near-end sensor too)", kEscPosStatus, "\x1a\x32\x12\x7e",
         kMediaEmpty},
        {"paper near end only", kEscPosStatus, "\x12\x12\x12\x1e", kMediaLow},
        {"cover open", kEscPosStatus, "\x1a\x16\x12\x12", kCoverOpen},
        {"cutter jam", kEscPosStatus, "\x1a\x52\x1a\x12", kMediaJam},
        {"unrecoverable error", kEscPosStatus, "\x1a\x52\x32\x12", kError},
        {"error without a cause", kEscPosStatus, "\x1a\x52\x12\x12", kError},
        {"offline, no cause given", kEscPosStatus, "\x1a\x12\x12\x12", kOffline},
        {"cover open and paper out", kEscPosStatus, "\x1a\x36\x12\x7e", kCoverOpen | kMediaEmpty},
        // TSPL: ESC ! ?
        {"tspl ready", kTsplStatus, std::string(1, '\0'), kNone},
        {"tspl head open", kTsplStatus, "\x01", kCoverOpen},
        {"tspl jam", kTsplStatus, "\x02", kMediaJam},
        {"tspl paper out", kTsplStatus, "\x04", kMediaEmpty},
        {"tspl ribbon out", kTsplStatus, "\x08", kRibbonEmpty},
        {"tspl paused", kTsplStatus, "\x10", kPaused},
        {"tspl printing", kTsplStatus, "\x20", kNone},
        {"tspl other error", kTsplStatus, "\x80", kError},
        {"tspl head open and paper out", kTsplStatus, "\x05", kCoverOpen | kMediaEmpty},
    };
    for (const ReplyCase& c : kCases) {
        CStatusReply reply(c.kind);
        EXPECT_TRUE(
            reply.Add(reinterpret_cast<const unsigned char*>(c.answer.data()), c.answer.size()))
            << c.what;
        EXPECT_EQ(Describe(reply.Conditions()), Describe(c.conditions)) << c.what;
    }
}

TEST(StatusReply, QueriesAreTheFamiliesOwn)
{
    EXPECT_EQ(CStatusReply(kEscPosStatus).Query(),
              std::string("\x10\x04\x01\x10\x04\x02\x10\x04\x03\x10\x04\x04", 12));
    EXPECT_EQ(CStatusReply(kTsplStatus).Query(), "\x1b!?");
    EXPECT_TRUE(CStatusReply(kNoStatusQuery).Query().empty());

    // The family table says which family asks what.
    EXPECT_EQ(FindPrinterFamilyByLanguage("escpos")->statusQuery, kEscPosStatus);
    EXPECT_EQ(FindPrinterFamilyByLanguage("tspl")->statusQuery, kTsplStatus);
    for (const char* quiet : {"cpcl", "paperang", "peripage"})
        EXPECT_EQ(FindPrinterFamilyByLanguage(quiet)->statusQuery, kNoStatusQuery) << quiet;
}

TEST(StatusReply, EscPosBytesThatAreNoAnswerArePassedOver)
{
    // A byte without the answer pattern (here an XON and a stray 'A') is
    // not taken for an answer; an incomplete answer reports nothing.
    CStatusReply reply(kEscPosStatus);
    const unsigned char first[] = {0x11, 0x12, 'A', 0x32};
    EXPECT_FALSE(reply.Add(first, sizeof first));
    EXPECT_EQ(reply.Conditions(), kNone);
    const unsigned char rest[] = {0x12, 0x12, 0x12};
    EXPECT_TRUE(reply.Add(rest, sizeof rest));
    EXPECT_EQ(reply.Conditions(), kMediaEmpty);
}

// A link whose printer answers from a script: bytes waiting before the
// query, and what comes after it, in pieces.
class ScriptedLink : public IStatusLink {
public:
    std::string waiting;           // there before the query
    std::deque<std::string> after; // one piece per read after the query
    std::string sent;
    bool failSend = false;
    int reads = 0;

    bool Send(const void* data, size_t length) override
    {
        if (failSend)
            return false;
        sent.append(static_cast<const char*>(data), length);
        return true;
    }
    ssize_t Receive(void* data, size_t length, int) override
    {
        ++reads;
        std::string* from = nullptr;
        if (!waiting.empty())
            from = &waiting;
        else if (!sent.empty() && !after.empty())
            from = &after.front();
        if (!from)
            return 0;
        const size_t n = std::min(length, from->size());
        std::memcpy(data, from->data(), n);
        from->erase(0, n);
        if (from != &waiting && from->empty())
            after.pop_front();
        return static_cast<ssize_t>(n);
    }
};

TEST(AskStatus, StaleAnswerIsDroppedAndAnswerInPiecesIsRead)
{
    ScriptedLink link;
    link.waiting = "\x04";                   // a TSPL printer's late answer: paper out, then
    link.after = {"", std::string(1, '\0')}; // nothing yet, then ready
    unsigned c = ~0u;
    EXPECT_EQ(AskStatus(link, kTsplStatus, 200, c), StatusAnswer::kAnswered);
    EXPECT_EQ(c, kNone);
    EXPECT_EQ(link.sent, "\x1b!?");

    ScriptedLink escpos;
    escpos.after = {"\x1a", "\x16\x12", "\x12"};
    EXPECT_EQ(AskStatus(escpos, kEscPosStatus, 200, c), StatusAnswer::kAnswered);
    EXPECT_EQ(c, kCoverOpen);
}

TEST(AskStatus, SilentAndFailingLinks)
{
    unsigned c = ~0u;
    ScriptedLink silent;
    EXPECT_EQ(AskStatus(silent, kTsplStatus, 50, c), StatusAnswer::kSilent);
    EXPECT_EQ(c, kNone);

    ScriptedLink half; // an answer cut short is no answer
    half.after = {"\x12\x12"};
    EXPECT_EQ(AskStatus(half, kEscPosStatus, 50, c), StatusAnswer::kSilent);

    ScriptedLink broken;
    broken.failSend = true;
    EXPECT_EQ(AskStatus(broken, kEscPosStatus, 50, c), StatusAnswer::kFailed);

    ScriptedLink none; // a family without a query sends nothing
    EXPECT_EQ(AskStatus(none, kNoStatusQuery, 50, c), StatusAnswer::kSilent);
    EXPECT_TRUE(none.sent.empty());
}

TEST(QueryBackoff, SilentPrinterIsLeftAloneForTheBackoff)
{
    CQueryBackoff backoff(300);
    EXPECT_TRUE(backoff.MayAsk(10));
    backoff.Silent(10);
    EXPECT_FALSE(backoff.MayAsk(11));
    EXPECT_FALSE(backoff.MayAsk(309));
    EXPECT_TRUE(backoff.MayAsk(310));
    backoff.Silent(310);
    backoff.Answered();
    EXPECT_TRUE(backoff.MayAsk(311));
}

} // namespace
