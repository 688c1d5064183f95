#include "HostilePeer.h"

#include <QtEndian>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace orv::test::hostile {

namespace {

// The bytes of `v` in little (data sets) or big (PDU headers) endian order.
template <typename T, bool Big>
QByteArray bytes(T v)
{
    QByteArray b(int(sizeof v), '\0');
    if constexpr (Big)
        qToBigEndian(v, b.data());
    else
        qToLittleEndian(v, b.data());
    return b;
}
const auto le16 = bytes<quint16, false>;
const auto le32 = bytes<quint32, false>;
const auto be16 = bytes<quint16, true>;
const auto be32 = bytes<quint32, true>;

QByteArray even(QByteArray v)
{
    if (v.size() % 2)
        v.append('\0');
    return v;
}

QByteArray ae(const QByteArray &title) { return title.leftJustified(16, ' ', true); }

QByteArray item(quint8 type, const QByteArray &value) { return QByteArray(1, char(type)) + '\0' + be16(quint16(value.size())) + value; }

QByteArray pdu(quint8 type, const QByteArray &body) { return QByteArray(1, char(type)) + '\0' + be32(quint32(body.size())) + body; }

QByteArray userInformation()
{
    return item(0x50, item(0x51, be32(16384)) + item(0x52, "1.2.826.0.1.3680043.2.1143.9"));
}

QByteArray fixedPart(const QByteArray &called, const QByteArray &calling)
{
    return be16(1) + QByteArray(2, '\0') + ae(called) + ae(calling) + QByteArray(32, '\0') + item(0x10, "1.2.840.10008.3.1.1.1");
}

} // namespace

QByteArray implicitElement(quint16 group, quint16 element, const QByteArray &value)
{
    const QByteArray v = even(value);
    return le16(group) + le16(element) + le32(quint32(v.size())) + v;
}

QByteArray explicitElement(quint16 group, quint16 element, const char *vr, const QByteArray &value)
{
    const QByteArray v = even(value);
    const QByteArray r(vr, 2);
    if (r == "OB" || r == "OW" || r == "SQ" || r == "UN" || r == "UT")
        return le16(group) + le16(element) + r + QByteArray(2, '\0') + le32(quint32(v.size())) + v;
    return le16(group) + le16(element) + r + le16(quint16(v.size())) + v;
}

QByteArray nestedSequences(int levels, bool explicitVr)
{
    const QByteArray open = le16(0x0040) + le16(0xA730) + (explicitVr ? QByteArray("SQ") + QByteArray(2, '\0') : QByteArray())
                            + le32(0xFFFFFFFF) + le16(0xFFFE) + le16(0xE000) + le32(0xFFFFFFFF);
    const QByteArray close = le16(0xFFFE) + le16(0xE00D) + le32(0) + le16(0xFFFE) + le16(0xE0DD) + le32(0);
    QByteArray out;
    out.reserve(levels * (open.size() + close.size()));
    for (int i = 0; i < levels; ++i)
        out += open;
    for (int i = 0; i < levels; ++i)
        out += close;
    return out;
}

QByteArray fileOf(const QByteArray &dataSet, const char *transferSyntax, const char *sopClass)
{
    const QByteArray meta = explicitElement(0x0002, 0x0001, "OB", QByteArray("\0\1", 2))
                            + explicitElement(0x0002, 0x0002, "UI", sopClass)
                            + explicitElement(0x0002, 0x0003, "UI", "1.2.826.0.1.3680043.2.1143.7.1")
                            + explicitElement(0x0002, 0x0010, "UI", transferSyntax);
    return QByteArray(128, '\0') + "DICM" + explicitElement(0x0002, 0x0000, "UL", le32(quint32(meta.size()))) + meta + dataSet;
}

QByteArray commandSet(const QByteArray &elements)
{
    return implicitElement(0x0000, 0x0000, le32(quint32(elements.size()))) + elements;
}

QList<QByteArray> pdus(int context, bool command, const QByteArray &bytes, int piece)
{
    QList<QByteArray> out;
    for (qsizetype at = 0; at < bytes.size() || at == 0; at += piece) {
        const QByteArray part = bytes.mid(at, piece);
        const bool last = at + piece >= bytes.size();
        const char control = char((command ? 1 : 0) | (last ? 2 : 0));
        out << pdu(0x04, be32(quint32(part.size() + 2)) + char(context) + control + part);
        if (bytes.isEmpty())
            break;
    }
    return out;
}

QByteArray associateRq(const QByteArray &called, const QByteArray &calling, const char *abstractSyntax)
{
    const QByteArray context = QByteArray("\1\0\0\0", 4) + item(0x30, abstractSyntax) + item(0x40, "1.2.840.10008.1.2");
    return pdu(0x01, fixedPart(called, calling) + item(0x20, context) + userInformation());
}

QByteArray associateAc(const QByteArray &called, const QByteArray &calling, int context)
{
    const QByteArray accepted = QByteArray(1, char(context)) + QByteArray(3, '\0') + item(0x40, "1.2.840.10008.1.2");
    return pdu(0x02, fixedPart(called, calling) + item(0x21, accepted) + userInformation());
}

Socket::~Socket()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Socket Socket::connectTo(const char *address, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address, &a.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return Socket();
    }
    return Socket(fd);
}

bool Socket::send(const QByteArray &bytes)
{
    return ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
}

bool Socket::sendPaced(const QList<QByteArray> &pieces, int pauseMs)
{
    for (const QByteArray &piece : pieces) {
        if (!send(piece))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    return true;
}

int Socket::readPdu(QByteArray *body, int timeoutMs)
{
    const auto readExactly = [&](char *to, qsizetype n) {
        for (qsizetype got = 0; got < n;) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0)
                return false;
            const ssize_t r = ::recv(m_fd, to + got, size_t(n - got), 0);
            if (r <= 0)
                return false;
            got += r;
        }
        return true;
    };
    char head[6];
    if (!readExactly(head, 6))
        return 0;
    const quint32 length = qFromBigEndian<quint32>(head + 2);
    QByteArray b(qsizetype(length), '\0');
    if (!readExactly(b.data(), b.size()))
        return 0;
    if (body)
        *body = b;
    return quint8(head[0]);
}

bool Socket::readMessage(bool commandOnly, int timeoutMs)
{
    for (;;) {
        QByteArray body;
        if (readPdu(&body, timeoutMs) != 0x04)
            return false;
        for (qsizetype at = 0; at + 6 <= body.size();) {
            const quint32 length = qFromBigEndian<quint32>(body.constData() + at);
            const quint8 control = quint8(body.at(at + 5));
            if ((control & 2) && (commandOnly == bool(control & 1)))
                return true;
            at += 4 + length;
        }
    }
}

Server::Server(std::function<void(Socket &)> script)
{
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ::bind(m_listen, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::listen(m_listen, 1);
    ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &size);
    m_port = ntohs(a.sin_port);
    m_thread = std::thread([this, script] {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 30000) <= 0)
            return;
        Socket peer(::accept(m_listen, nullptr, nullptr));
        script(peer);
    });
}

Server::~Server()
{
    ::shutdown(m_listen, SHUT_RDWR);
    m_thread.join();
    ::close(m_listen);
}

} // namespace orv::test::hostile
