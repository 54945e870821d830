#include "StatusQuery.h"

#include <chrono>

namespace printer_status {

std::string Describe(unsigned conditions)
{
    static const struct {
        unsigned bit;
        const char* name;
    } kNames[] = {
        {kCoverOpen, "cover-open"}, {kMediaEmpty, "media-empty"},
        {kMediaLow, "media-low"},   {kMediaJam, "media-jam"},
        {kOffline, "offline"},      {kRibbonEmpty, "ribbon-empty"},
        {kPaused, "paused"},        {kError, "error"},
    };
    std::string text;
    for (const auto& n : kNames)
        if (conditions & n.bit)
            text += (text.empty() ? "" : " ") + std::string(n.name);
    return text.empty() ? "none" : text;
}

} // namespace printer_status

using namespace printer_status;

CStatusReply::CStatusReply(StatusQueryKind kind) : m_kind(kind)
{
    switch (kind) {
    case kEscPosStatus:
        m_query = std::string("\x10\x04\x01\x10\x04\x02\x10\x04\x03\x10\x04\x04", 12);
        m_length = 4;
        break;
    case kTsplStatus:
        m_query = "\x1b!?";
        m_length = 1;
        break;
    case kNoStatusQuery:
        break;
    }
}

bool CStatusReply::Add(const unsigned char* data, size_t length)
{
    for (size_t i = 0; i < length && !Complete(); ++i)
        if (m_kind != kEscPosStatus || (data[i] & 0x93) == 0x12)
            m_got += static_cast<char>(data[i]);
    return Complete();
}

unsigned CStatusReply::EscPos(int n, unsigned char answer)
{
    unsigned c = kNone;
    switch (n) {
    case 1: // printer status
        if (answer & 0x08)
            c |= kOffline;
        break;
    case 2: // offline cause
        if (answer & 0x04)
            c |= kCoverOpen;
        if (answer & 0x20)
            c |= kMediaEmpty;
        if (answer & 0x40)
            c |= kError;
        break;
    case 3: // error cause
        if (answer & 0x08)
            c |= kMediaJam; // the auto-cutter: paper caught in it
        if (answer & 0x60)
            c |= kError;
        break;
    case 4: // paper roll sensor
        if (answer & 0x0c)
            c |= kMediaLow;
        if (answer & 0x60)
            c |= kMediaEmpty;
        break;
    default:
        break;
    }
    return c;
}

unsigned CStatusReply::Tspl(unsigned char answer)
{
    unsigned c = kNone;
    if (answer & 0x01)
        c |= kCoverOpen;
    if (answer & 0x02)
        c |= kMediaJam;
    if (answer & 0x04)
        c |= kMediaEmpty;
    if (answer & 0x08)
        c |= kRibbonEmpty;
    if (answer & 0x10)
        c |= kPaused;
    if (answer & 0x80)
        c |= kError;
    return c;
}

unsigned CStatusReply::Conditions() const
{
    if (!Complete())
        return kNone;
    const auto byte = [this](size_t i) { return static_cast<unsigned char>(m_got[i]); };
    if (m_kind == kTsplStatus)
        return Tspl(byte(0));
    if (m_kind != kEscPosStatus)
        return kNone;
    unsigned c = EscPos(1, byte(0)) | EscPos(2, byte(1)) | EscPos(4, byte(3));
    const unsigned cause = EscPos(3, byte(2));
    // The error bit of the offline cause is the error cause's summary: a
    // cutter error alone is a jam, not another error besides.
    if (byte(1) & 0x40)
        c = (c & ~kError) | (cause ? cause : kError);
    else
        c |= cause;
    // Paper end: the near-end sensor sees it too.
    if (c & kMediaEmpty)
        c &= ~kMediaLow;
    // Offline is the printer's summary of the causes above; alone only
    // when it gives none.
    if (c & (kCoverOpen | kMediaEmpty | kMediaJam | kError))
        c &= ~kOffline;
    return c;
}

namespace {

long long NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

StatusAnswer AskStatus(IStatusLink& link, StatusQueryKind kind, int deadlineMs,
                       unsigned& conditions)
{
    conditions = kNone;
    CStatusReply reply(kind);
    if (reply.Query().empty())
        return StatusAnswer::kSilent;

    // A late answer to an earlier query is read and dropped; a link that
    // keeps sending is not drained for ever.
    unsigned char buffer[64];
    for (int i = 0; i < 64; ++i) {
        const ssize_t n = link.Receive(buffer, sizeof buffer, 0);
        if (n < 0)
            return StatusAnswer::kFailed;
        if (n == 0)
            break;
    }

    if (!link.Send(reply.Query().data(), reply.Query().size()))
        return StatusAnswer::kFailed;
    const long long end = NowMs() + deadlineMs;
    for (long long left = deadlineMs; left > 0 && !reply.Complete(); left = end - NowMs()) {
        const ssize_t n = link.Receive(buffer, sizeof buffer, static_cast<int>(left));
        if (n < 0)
            return StatusAnswer::kFailed;
        reply.Add(buffer, static_cast<size_t>(n));
    }
    if (!reply.Complete())
        return StatusAnswer::kSilent;
    conditions = reply.Conditions();
    return StatusAnswer::kAnswered;
}
