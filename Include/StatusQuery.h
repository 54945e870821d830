// Asking a printer for its status in its own language, and reading the
// answer: ESC/POS real-time status (DLE EOT 1 to 4, answered even while
// the printer is busy) and the TSPL status byte (ESC ! ?). The link the
// query goes over is the caller's (a PAPPL device in the printer
// application); nothing here blocks longer than the deadline it is given.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

// Which query a family's printers answer.
enum StatusQueryKind : int {
    kNoStatusQuery,
    kEscPosStatus, // DLE EOT 1, 2, 3, 4: one byte each
    kTsplStatus,   // ESC ! ?: one byte
};

// What can stop a printer or be worth telling its user, as the printers
// report it.
namespace printer_status {
enum Condition : unsigned {
    kNone = 0,
    kCoverOpen = 1u << 0,   // cover or print head open
    kMediaEmpty = 1u << 1,  // paper end, out of labels
    kMediaLow = 1u << 2,    // paper near end
    kMediaJam = 1u << 3,    // paper jam, cutter error
    kOffline = 1u << 4,     // offline for a reason it does not tell
    kRibbonEmpty = 1u << 5, // thermal transfer ribbon out
    kPaused = 1u << 6,      // paused at the printer (its button)
    kError = 1u << 7,       // another error
};

// The conditions under which a job does better waiting than printing:
// what is sent now would be lost or printed into nothing.
const unsigned kStopsPrinting = kCoverOpen | kMediaEmpty | kMediaJam | kOffline | kPaused;

// "media-empty cover-open", for logs and tests.
std::string Describe(unsigned conditions);
} // namespace printer_status

// One query's bytes and the reading of its answer.
class CStatusReply {
public:
    explicit CStatusReply(StatusQueryKind kind);

    // The bytes to send; empty for kNoStatusQuery.
    const std::string& Query() const { return m_query; }
    // Takes received bytes; true once the whole answer is in. ESC/POS
    // answer bytes carry a fixed pattern (bits 1 and 4 set, 0 and 7
    // clear); other bytes are not an answer and are passed over.
    bool Add(const unsigned char* data, size_t length);
    bool Complete() const { return m_got.size() >= m_length; }
    // The conditions the complete answer reports.
    unsigned Conditions() const;

    // The conditions of one ESC/POS DLE EOT n answer, and of a TSPL status
    // byte.
    static unsigned EscPos(int n, unsigned char answer);
    static unsigned Tspl(unsigned char answer);

private:
    StatusQueryKind m_kind;
    std::string m_query;
    size_t m_length = 0;
    std::string m_got;
};

// The link a query goes over.
class IStatusLink {
public:
    virtual ~IStatusLink() = default;
    // All bytes, or false.
    virtual bool Send(const void* data, size_t length) = 0;
    // Up to length bytes within timeoutMs (0: only what is there now);
    // 0 when nothing came, -1 on an error.
    virtual ssize_t Receive(void* data, size_t length, int timeoutMs) = 0;
};

enum class StatusAnswer {
    kAnswered,
    kSilent, // no (whole) answer within the deadline
    kFailed, // the link failed
};

// Sends the query and reads its answer within deadlineMs. Bytes already
// waiting on the link (a late answer to an earlier query) are read and
// dropped first, so they are not taken for this answer.
StatusAnswer AskStatus(IStatusLink& link, StatusQueryKind kind, int deadlineMs,
                       unsigned& conditions);

// When to ask a printer again: after a printer did not answer, not for
// backoffSeconds, so that a printer that never answers costs one
// deadline every few minutes and not one a query.
class CQueryBackoff {
public:
    explicit CQueryBackoff(double backoffSeconds) : m_backoff(backoffSeconds) {}

    bool MayAsk(double now) const { return now >= m_next; }
    void Answered() { m_next = 0; }
    void Silent(double now) { m_next = now + m_backoff; }

private:
    double m_backoff;
    double m_next = 0;
};
