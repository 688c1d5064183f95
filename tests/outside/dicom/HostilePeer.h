#pragma once

// Hostile DICOM data and peers written byte by byte (the toolkit's own writer would recurse
// through the nesting it is meant to carry): upper-layer PDUs over plain sockets on loopback.

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <thread>

namespace orv::test::hostile {

// One element, implicit VR little endian.
QByteArray implicitElement(quint16 group, quint16 element, const QByteArray &value);
// One element, explicit VR little endian (`vr` two letters; OB, SQ, UN, ... with the long form).
QByteArray explicitElement(quint16 group, quint16 element, const char *vr, const QByteArray &value);
// A sequence (0040,A730) nested `levels` deep, undefined lengths throughout.
QByteArray nestedSequences(int levels, bool explicitVr);
// A file: preamble, meta information for `sopClass` in `transferSyntax`, then `dataSet`.
QByteArray fileOf(const QByteArray &dataSet, const char *transferSyntax, const char *sopClass = "1.2.840.10008.5.1.4.1.1.7");
// A command set (implicit VR little endian, group length first) of the given elements.
QByteArray commandSet(const QByteArray &elements);
// `bytes` as P-DATA-TF PDUs of presentation context `context`, at most `piece` bytes each, the
// last fragment marked.
QList<QByteArray> pdus(int context, bool command, const QByteArray &bytes, int piece = 16000);
inline QByteArray pdata(int context, bool command, const QByteArray &bytes) { return pdus(context, command, bytes).join(); }
QByteArray associateRq(const QByteArray &called, const QByteArray &calling, const char *abstractSyntax);
QByteArray associateAc(const QByteArray &called, const QByteArray &calling, int context);

// A socket connection, blocking with a receive timeout.
class Socket
{
public:
    explicit Socket(int fd = -1) : m_fd(fd) {}
    ~Socket();
    Socket(Socket &&o) noexcept : m_fd(o.m_fd) { o.m_fd = -1; }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    static Socket connectTo(const char *address, quint16 port);
    bool valid() const { return m_fd >= 0; }
    // false when the peer closed or failed.
    bool send(const QByteArray &bytes);
    // Sends each piece whole, `pauseMs` after the one before.
    bool sendPaced(const QList<QByteArray> &pieces, int pauseMs);
    // The next PDU (type and body); type 0 when none came within `timeoutMs` or the peer closed.
    int readPdu(QByteArray *body, int timeoutMs = 10000);
    // Reads P-DATA-TF PDUs until a message is complete: a data set, or a command when
    // `commandOnly`. False when anything else came.
    bool readMessage(bool commandOnly, int timeoutMs = 10000);

private:
    int m_fd;
};

// Accepts one connection on a free loopback port and runs `script` with it on a thread of its own.
class Server
{
public:
    explicit Server(std::function<void(Socket &)> script);
    ~Server();
    quint16 port() const { return m_port; }

private:
    int m_listen = -1;
    quint16 m_port = 0;
    std::thread m_thread;
};

} // namespace orv::test::hostile
