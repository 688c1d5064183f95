#pragma once

#include "outside/audit/AuditTrail.h"

#include <QList>

namespace orv {

namespace dicom { class Image; }

// The audit trail's settings (application "VelmorOrvaline", section "Audit"): RepositoryHost
// ("": the trail stays in the local file only), RepositoryPort (6514), RepositoryTLS ("1"),
// RepositoryTLSHostCheck ("1"), SourceID (the computer's name when empty); the certificate files
// are those of DICOM TLS. The local file is <per-user data folder>/audit/audit.log. Applied at
// start-up, before the login.
void applyAuditSettings();

// The patient and study of images, one subject per study.
QList<audit::Subject> imageSubjects(const QList<dicom::Image> &images);

inline audit::AuditTrail &auditTrail() { return audit::AuditTrail::instance(); }

} // namespace orv
