#include "TransportGuard.h"

#include "Toolkit.h"

#include <algorithm>
#include <cstring>

namespace orv::dicom {

namespace {

thread_local std::shared_ptr<ConnectionFault> t_nextFault;

std::uint32_t be32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::uint16_t be16(const std::uint8_t *p) { return std::uint16_t(p[0] << 8 | p[1]); }

// PDU types of the upper layer protocol.
constexpr std::uint8_t kAssociateRq = 0x01, kAssociateAc = 0x02, kData = 0x04;

} // namespace

void ConnectionFault::set(Kind kind)
{
    std::lock_guard lock(m_mutex);
    if (m_kind == None)
        m_kind = kind;
}

ConnectionFault::Kind ConnectionFault::kind() const
{
    std::lock_guard lock(m_mutex);
    return m_kind;
}

QString ConnectionFault::text(const QString &where) const
{
    switch (kind()) {
    case TooDeep: return tooDeepText(QStringLiteral("A message from %1").arg(where));
    case TooSlow:
        return QStringLiteral("%1 did not send a whole message within %2 seconds; the association was ended.")
            .arg(where)
            .arg(exchangeTimeLimit());
    case Unreadable: return QStringLiteral("%1 sent data in a form the workstation does not take.").arg(where);
    case None: break;
    }
    return {};
}

PduWatch::PduWatch(std::shared_ptr<ConnectionFault> fault) : m_fault(std::move(fault)) {}

void PduWatch::arm()
{
    if (m_armed)
        return;
    m_armed = true;
    m_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(exchangeTimeLimit());
}

long long PduWatch::remainingMs() const
{
    if (!m_armed)
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - std::chrono::steady_clock::now()).count();
    return std::max<long long>(left, 0);
}

bool PduWatch::received(const std::uint8_t *p, std::size_t n)
{
    Stream &s = m_in;
    while (n > 0) {
        if (s.have < 6) {
            arm();
            const std::size_t take = std::min(6 - s.have, n);
            std::memcpy(s.head + s.have, p, take);
            s.have += take;
            p += take;
            n -= take;
            if (s.have < 6)
                return true;
            s.type = s.head[0];
            s.left = be32(s.head + 2);
            s.body.clear();
            m_pdvHave = 0;
            m_pdvLeft = 0;
        }
        const std::size_t take = std::size_t(std::min<std::uint64_t>(s.left, n));
        if (s.type == kData) {
            if (!data(p, take))
                return false;
        } else if ((s.type == kAssociateAc || s.type == kAssociateRq) && s.body.size() < (1 << 20)) {
            s.body.append(reinterpret_cast<const char *>(p), qsizetype(take));
        }
        p += take;
        n -= take;
        s.left -= take;
        if (s.left == 0) {
            if (s.type == kAssociateAc)
                associate(s.body);
            s.have = 0;
            if (!m_message)
                m_armed = false; // between messages: the silence is the network timeout's
        }
    }
    return true;
}

bool PduWatch::data(const std::uint8_t *p, std::size_t n)
{
    while (n > 0) {
        if (m_pdvLeft == 0) {
            arm();
            const std::size_t take = std::min(6 - m_pdvHave, n);
            std::memcpy(m_pdvHead + m_pdvHave, p, take);
            m_pdvHave += take;
            p += take;
            n -= take;
            if (m_pdvHave < 6)
                return true;
            m_pdvHave = 0;
            const std::uint32_t length = be32(m_pdvHead);
            if (length < 2) {
                m_fault->set(ConnectionFault::Unreadable);
                return false;
            }
            m_pdvLeft = length - 2;
            m_last = (m_pdvHead[5] & 0x02) != 0;
            if (!m_message) {
                // Commands are always implicit little endian; a data set is in the syntax
                // accepted for its presentation context (only uncompressed and the image's own
                // encapsulated syntaxes are ever proposed or accepted, never a deflated one).
                const bool command = (m_pdvHead[5] & 0x01) != 0;
                const auto found = m_syntaxes.find(m_pdvHead[4]);
                const auto syntax = command || found == m_syntaxes.end() ? NestingCheck::Syntax::ImplicitLittle : found->second;
                m_message = std::make_unique<NestingCheck>(syntax);
            }
        } else {
            const std::size_t take = std::size_t(std::min<std::uint64_t>(m_pdvLeft, n));
            if (!m_message->feed(p, take)) {
                m_fault->set(ConnectionFault::TooDeep);
                return false;
            }
            p += take;
            n -= take;
            m_pdvLeft -= take;
        }
        if (m_pdvLeft == 0 && m_pdvHave == 0 && m_last) {
            m_message.reset();
            m_armed = false;
            m_last = false;
        }
    }
    return true;
}

void PduWatch::sent(const std::uint8_t *p, std::size_t n)
{
    Stream &s = m_out;
    while (n > 0) {
        if (s.have < 6) {
            const std::size_t take = std::min(6 - s.have, n);
            std::memcpy(s.head + s.have, p, take);
            s.have += take;
            p += take;
            n -= take;
            if (s.have < 6)
                return;
            s.type = s.head[0];
            s.left = be32(s.head + 2);
            s.body.clear();
        }
        const std::size_t take = std::size_t(std::min<std::uint64_t>(s.left, n));
        if (s.type == kAssociateAc && s.body.size() < (1 << 20))
            s.body.append(reinterpret_cast<const char *>(p), qsizetype(take));
        p += take;
        n -= take;
        s.left -= take;
        if (s.left == 0) {
            if (s.type == kAssociateAc)
                associate(s.body);
            s.have = 0;
        }
    }
}

// Reads the accepted presentation contexts of an A-ASSOCIATE-AC body: after the fixed part
// (version, reserved, two AE title fields, reserved: 68 bytes) come items of type, reserved,
// two-byte length; a presentation context (0x21) holds its ID, result and a transfer syntax
// sub-item (0x40).
void PduWatch::associate(const QByteArray &body)
{
    const auto *b = reinterpret_cast<const std::uint8_t *>(body.constData());
    const std::size_t size = std::size_t(body.size());
    for (std::size_t at = 68; at + 4 <= size;) {
        const std::size_t length = be16(b + at + 2);
        const std::size_t end = std::min(size, at + 4 + length);
        if (b[at] == 0x21 && length >= 4) {
            const int id = b[at + 4];
            for (std::size_t sub = at + 8; sub + 4 <= end;) {
                const std::size_t subLength = be16(b + sub + 2);
                if (b[sub] == 0x40 && sub + 4 + subLength <= end) {
                    std::string uid(reinterpret_cast<const char *>(b + sub + 4), subLength);
                    while (!uid.empty() && (uid.back() == '\0' || uid.back() == ' '))
                        uid.pop_back();
                    m_syntaxes[id] = uid == "1.2.840.10008.1.2"     ? NestingCheck::Syntax::ImplicitLittle
                                     : uid == "1.2.840.10008.1.2.2" ? NestingCheck::Syntax::ExplicitBig
                                                                    : NestingCheck::Syntax::ExplicitLittle;
                }
                sub += 4 + subLength;
            }
        }
        at = end;
    }
}

void watchNextConnection(std::shared_ptr<ConnectionFault> fault) { t_nextFault = std::move(fault); }

std::shared_ptr<ConnectionFault> takeConnectionWatch()
{
    auto fault = std::move(t_nextFault);
    t_nextFault.reset();
    return fault ? fault : std::make_shared<ConnectionFault>();
}

} // namespace orv::dicom
