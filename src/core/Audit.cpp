#include "Audit.h"

#include "Database.h"
#include "DicomNodes.h"
#include "SharedState.h"
#include "outside/SettingsStore.h"
#include "outside/dicom/Image.h"

#include <QDir>

namespace orv {

void applyAuditSettings()
{
    SettingsStore &s = settings();
    const QString section = QStringLiteral("Audit");
    const auto read = [&](const char *key, const QString &fallback = QString()) {
        return s.read(apps::VelmorOrvaline, section, QLatin1String(key), fallback).trimmed();
    };
    const auto tlsFile = [&](DicomNodes::Field f) {
        return s.read(apps::VelmorOrvaline, QStringLiteral("DICOM"), DicomNodes::tlsSettingsKey(f)).trimmed();
    };
    audit::Repository repo;
    repo.host = read("RepositoryHost");
    const int port = SettingsStore::intOf(read("RepositoryPort", QStringLiteral("6514")));
    repo.port = port > 0 && port <= 65535 ? port : 6514;
    repo.tls = read("RepositoryTLS", QStringLiteral("1")) != QLatin1String("0");
    repo.checkHostName = read("RepositoryTLSHostCheck", QStringLiteral("1")) != QLatin1String("0");
    repo.trustedCertificatesFile = tlsFile(DicomNodes::TLSTrustedCertificates);
    repo.certificateFile = tlsFile(DicomNodes::TLSCertificate);
    repo.privateKeyFile = tlsFile(DicomNodes::TLSPrivateKey);
    auditTrail().configure(QDir(perUserDataFolder()).filePath(QStringLiteral("audit")), read("SourceID"), repo);
}

QList<audit::Subject> imageSubjects(const QList<dicom::Image> &images)
{
    QList<audit::Subject> out;
    for (const dicom::Image &image : images) {
        const dicom::DataSet ds = image.dataSet();
        const QString study = ds.text(0x0020, 0x000D).trimmed();
        auto it = std::find_if(out.begin(), out.end(), [&](const audit::Subject &s) { return s.studyUid == study; });
        if (it == out.end()) {
            audit::Subject s;
            s.studyUid = study;
            s.patientId = ds.text(0x0010, 0x0020).trimmed();
            s.patientName = ds.text(0x0010, 0x0010).trimmed();
            s.accession = ds.text(0x0008, 0x0050).trimmed();
            out << s;
            it = out.end() - 1;
        }
        it->sopClasses << ds.text(0x0008, 0x0016).trimmed();
    }
    return out;
}

} // namespace orv
