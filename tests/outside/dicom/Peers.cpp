#include "Peers.h"

#include "common/Tools.h"

#include <QDir>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTextStream>

namespace orv::test {

PeerProcess::PeerProcess() { m_process.setProcessChannelMode(QProcess::MergedChannels); }

PeerProcess::~PeerProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString PeerProcess::log() { return QString::fromLocal8Bit(m_process.readAll()); }

bool PeerProcess::start(const QString &program, const QStringList &args, quint16 waitPort)
{
    m_process.setWorkingDirectory(m_dir.path());
    m_process.start(program, args);
    if (!m_process.waitForStarted(10000))
        return false;
    m_started = waitForPort(waitPort, 30000) && m_process.state() == QProcess::Running;
    return m_started;
}

std::unique_ptr<PeerProcess> PeerProcess::storescp(const QStringList &extraArgs)
{
    auto p = std::make_unique<PeerProcess>();
    p->m_port = freeLoopbackPort();
    QDir(p->folder()).mkpath(QStringLiteral("in"));
    QStringList args{QStringLiteral("-od"), p->folder() + QStringLiteral("/in"), QStringLiteral("-aet"), QStringLiteral("STORESCP"),
                     QStringLiteral("-ta"), QStringLiteral("10"), QStringLiteral("-td"), QStringLiteral("10")};
    args << extraArgs << QString::number(p->m_port);
    p->start(QStringLiteral("storescp"), args, p->m_port);
    return p;
}

std::unique_ptr<PeerProcess> PeerProcess::stepProvider(quint16 port)
{
    auto p = std::make_unique<PeerProcess>();
    p->m_port = port ? port : freeLoopbackPort();
    p->start(QStringLiteral("node"),
             {QStringLiteral(ORV_SOURCE_DIR "/tests/outside/dicom/peers/mpps-scp.mjs"), QString::number(p->m_port),
              p->folder() + QStringLiteral("/steps.jsonl")},
             p->m_port);
    return p;
}

QList<QJsonObject> PeerProcess::steps() const
{
    QFile f(folder() + QStringLiteral("/steps.jsonl"));
    QList<QJsonObject> out;
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            out << QJsonDocument::fromJson(line).object();
    return out;
}

std::unique_ptr<PeerProcess> PeerProcess::orthanc(const QString &extraConfig, quint16 dicomPort)
{
    auto p = std::make_unique<PeerProcess>();
    p->m_port = dicomPort ? dicomPort : freeLoopbackPort();
    p->m_httpPort = freeLoopbackPort();
    const QString dir = p->folder();
    QDir(dir).mkpath(QStringLiteral("worklists"));
    QFile cfg(dir + QStringLiteral("/orthanc.json"));
    cfg.open(QIODevice::WriteOnly);
    QTextStream(&cfg) << QStringLiteral(R"({
  "Name": "orvaline-test",
  "StorageDirectory": "%1/storage",
  "IndexDirectory": "%1/index",
  "HttpPort": %2,
  "DicomPort": %3,
  "DicomAet": "ORTHANC",
  "RemoteAccessAllowed": false,
  "AuthenticationEnabled": false,
  "DicomAlwaysAllowStore": true,
  "DicomAlwaysAllowFindWorklist": true,
  "DicomCheckCalledAet": false,
  "Plugins": ["/usr/share/orthanc/plugins/libModalityWorklists.so"],
  "Worklists": { "Enable": true, "Database": "%1/worklists" }%4
})")
                             .arg(dir)
                             .arg(p->m_httpPort)
                             .arg(p->m_port)
                             .arg(extraConfig.isEmpty() ? QString() : QStringLiteral(",\n  ") + extraConfig);
    cfg.close();
    if (p->start(QStringLiteral("Orthanc"), {cfg.fileName()}, p->m_httpPort))
        p->m_started = waitForPort(p->m_port, 30000);
    return p;
}

std::unique_ptr<PeerProcess> PeerProcess::wlmscpfs(const QString &aeTitle)
{
    auto p = std::make_unique<PeerProcess>();
    p->m_port = freeLoopbackPort();
    const QString db = p->folder() + QStringLiteral("/db");
    QDir().mkpath(db + QLatin1Char('/') + aeTitle);
    QFile lock(db + QLatin1Char('/') + aeTitle + QStringLiteral("/lockfile"));
    lock.open(QIODevice::WriteOnly);
    lock.close();
    // Answers name the character set of their file, as a RIS does.
    p->start(QStringLiteral("wlmscpfs"), {QStringLiteral("-csk"), QStringLiteral("-dfp"), db, QString::number(p->m_port)}, p->m_port);
    return p;
}

std::unique_ptr<PeerProcess> PeerProcess::dcmprscp()
{
    auto p = std::make_unique<PeerProcess>();
    p->m_port = freeLoopbackPort();
    const QString dir = p->folder();
    for (const char *sub : {"database", "spool", "log"})
        QDir(dir).mkpath(QLatin1String(sub));
    QFile in(QStringLiteral("/etc/dcmtk/dcmpstat.cfg"));
    if (!in.open(QIODevice::ReadOnly))
        return p;
    QString text = QString::fromLatin1(in.readAll());
    text.replace(QRegularExpression(QStringLiteral("(?m)^Directory = database$")), QStringLiteral("Directory = %1/database").arg(dir));
    text.replace(QRegularExpression(QStringLiteral("(?m)^Directory = spool$")), QStringLiteral("Directory = %1/spool").arg(dir));
    text.replace(QRegularExpression(QStringLiteral("(?m)^LogDirectory = log$")), QStringLiteral("LogDirectory = %1/log").arg(dir));
    text.replace(QRegularExpression(QStringLiteral("(?m)^Port = 10005$")), QStringLiteral("Port = %1").arg(p->m_port));
    // Landscape films are checked against the transposed format, so offer both.
    text.replace(QStringLiteral("DisplayFormat=1,1\\1,2\\2,2\\2,3\\"), QStringLiteral("DisplayFormat=1,1\\1,2\\2,2\\2,3\\3,2\\"));
    QFile out(dir + QStringLiteral("/dcmpstat.cfg"));
    out.open(QIODevice::WriteOnly);
    out.write(text.toLatin1());
    out.close();
    p->start(QStringLiteral("dcmprscp"), {QStringLiteral("-c"), out.fileName(), QStringLiteral("-p"), QStringLiteral("IHEFULL")}, p->m_port);
    return p;
}

bool writeWorklistFile(const QString &dumpText, const QString &path)
{
    return writeWorklistFile(dumpText.contains(QLatin1String("ISO_IR 100")) ? dumpText.toLatin1() : dumpText.toUtf8(), path);
}

bool writeWorklistFile(const QByteArray &dumpBytes, const QString &path)
{
    QFile dump(path + QStringLiteral(".dump"));
    if (!dump.open(QIODevice::WriteOnly))
        return false;
    dump.write(dumpBytes);
    dump.close();
    const ToolResult r = runTool(QStringLiteral("dump2dcm"), {dump.fileName(), path});
    QFile::remove(dump.fileName());
    return r.exitCode == 0;
}

QByteArray PeerProcess::rest(const QString &path, const QByteArray &verb, const QByteArray &body) const
{
    QNetworkAccessManager nam;
    QNetworkReply *reply = nam.sendCustomRequest(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_httpPort).arg(path))),
                                                 verb, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    return reply->readAll();
}

} // namespace orv::test
