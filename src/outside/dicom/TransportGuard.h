#pragma once

#include "InputLimits.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>

namespace orv::dicom {

// What a guarded connection refused of what its peer sent. Shared by the connection and the
// owner of the association, which turns it into the description of the failure. Thread-safe.
class ConnectionFault
{
public:
    enum Kind { None, TooDeep, TooSlow, Unreadable };
    void set(Kind kind);
    Kind kind() const;
    // The description for a peer named `where` ("host:port (AE)"), "" when nothing was refused.
    QString text(const QString &where) const;

private:
    mutable std::mutex m_mutex;
    Kind m_kind = None;
};

// Watches the bytes of one association in both directions, at the level of the upper-layer
// protocol: PDUs, the presentation data values inside them and the transfer syntaxes the
// association accepted. Every message received (a command or a data set, however many PDUs it
// takes) is checked for nesting as it arrives and must arrive whole within the exchange time
// limit from its first byte. Internal to this layer: the connections of SecureTransport.cpp use it.
class PduWatch
{
public:
    explicit PduWatch(std::shared_ptr<ConnectionFault> fault);
    // Bytes received; false when they are refused (the fault says why): the connection then fails.
    bool received(const std::uint8_t *data, std::size_t size);
    // Bytes sent: an A-ASSOCIATE-AC sent names the transfer syntaxes of what will be received.
    void sent(const std::uint8_t *data, std::size_t size);
    // Milliseconds left for the message under way; -1 when none is under way.
    long long remainingMs() const;
    void timedOut() { m_fault->set(ConnectionFault::TooSlow); }

private:
    struct Stream
    {
        std::uint8_t head[6] = {};
        std::size_t have = 0;
        std::uint8_t type = 0;
        std::uint64_t left = 0; // bytes of the PDU body still to come
        QByteArray body;        // an A-ASSOCIATE PDU's body, kept to read its presentation contexts
    };
    void associate(const QByteArray &body);
    bool data(const std::uint8_t *p, std::size_t n);
    void arm();

    std::shared_ptr<ConnectionFault> m_fault;
    Stream m_in, m_out;
    std::map<int, NestingCheck::Syntax> m_syntaxes; // by presentation context ID
    // Inside a P-DATA-TF PDU: the header of the PDV under way and what is left of its value.
    std::uint8_t m_pdvHead[6] = {};
    std::size_t m_pdvHave = 0;
    std::uint64_t m_pdvLeft = 0;
    bool m_last = false;
    std::unique_ptr<NestingCheck> m_message;
    bool m_armed = false;
    std::chrono::steady_clock::time_point m_deadline;
};

// The fault record the next connection made on this thread reports to (then forgotten); a
// connection made without one keeps its own.
void watchNextConnection(std::shared_ptr<ConnectionFault> fault);
std::shared_ptr<ConnectionFault> takeConnectionWatch();

} // namespace orv::dicom
