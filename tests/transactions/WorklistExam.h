#pragma once

// An exam taken from the worklist, as the tests of the exam's way through the department use it:
// the worklist entry of REYES JOSE GARCIA (90002, accession WL0002, step SPS0002), and its
// acceptance through the windows.

#include "Peers.h"

#include "common/ScriptedPrompter.h"
#include "core/DicomNodes.h"
#include "core/SharedState.h"
#include "dicomnet/frmWorklistQuery.h"
#include "transactions/frmTransaction.h"

#include <QDate>
#include <QDir>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

namespace orv::test {

inline const char *const kWorklistStudyUid = "1.2.826.0.1.3680043.9.7777.90002";

inline bool writeWorklistEntry(const QString &folder)
{
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    return writeWorklistFile(QStringLiteral("(0008,0005) CS [ISO_IR 100]\n(0008,0020) DA [%1]\n(0008,0050) SH [WL0002]\n"
                                            "(0008,0090) PN [1005^SORIANO^BEATRIZ^L]\n(0010,0010) PN [REYES^JOSE^GARCIA]\n"
                                            "(0010,0020) LO [90002]\n(0010,0030) DA [19711102]\n(0010,0040) CS [M]\n"
                                            "(0020,000d) UI [%2]\n(0032,1060) LO [THYROID]\n(0040,0100) SQ\n(fffe,e000) -\n"
                                            "(0008,0060) CS [US]\n(0040,0001) AE [ORVALINE]\n(0040,0002) DA [%1]\n"
                                            "(0040,0003) TM [093000]\n(0040,0007) LO [THYROID]\n(0040,0009) SH [SPS0002]\n"
                                            "(fffe,e00d) -\n(fffe,e0dd) -\n(0040,1001) SH [US04]\n")
                                 .arg(today, QLatin1String(kWorklistStudyUid)),
                             folder + QStringLiteral("/wl0002.wl"));
}

// The workstation's folders in `dir` (local "pacstemp", server "server/ACQUIRE"), company
// "ORVALINE GENERAL", and `archive` (Orthanc) as storage archive and worklist provider.
inline void useDepartment(const QTemporaryDir &dir, const PeerProcess &archive)
{
    state().TempFolder = dir.filePath(QStringLiteral("pacstemp"));
    state().Server_Name = dir.filePath(QStringLiteral("server"));
    state().Server_Folder = QStringLiteral("ACQUIRE");
    state().CompanyName = QStringLiteral("ORVALINE GENERAL");
    QDir().mkpath(state().TempFolder);
    QDir().mkpath(dir.filePath(QStringLiteral("server/ACQUIRE")));
    for (auto [key, value] : {std::pair{DicomNodes::StorageNode, "127.0.0.1"}, {DicomNodes::StorageAE, "ORTHANC"},
                              {DicomNodes::wRemoteNode, "127.0.0.1"}, {DicomNodes::wRemoteAE, "ORTHANC"}})
        dicomNodes().setValue(key, QLatin1String(value));
    dicomNodes().setValue(DicomNodes::StoragePort, QString::number(archive.port()));
    dicomNodes().setValue(DicomNodes::wRemotePort, QString::number(archive.port()));
}

// A new exam in the editor filled from the worklist entry of REYES; the operator confirms that
// the registered REYES is him. False when the entry is not found or not taken.
inline bool acceptWorklistEntry(frmTransaction *ed, ScriptedPrompter *prompter)
{
    ed->NewTransaction();
    ed->cmdWorklist->click();
    frmWorklistQuery *w = frmWorklistQuery::loaded();
    if (!w)
        return false;
    w->PatientName->setText(QStringLiteral("REYES"));
    w->RunMWL->click();
    if (!QTest::qWaitFor([&] { return w->model()->rowCount() == 1; }, 15000))
        return false;
    w->Grid1->selectRow(0);
    w->cmdSelect->click();
    prompter->buttonAnswers << Prompter::Yes;
    w->cmdYes->click();
    return QTest::qWaitFor([] { return !frmWorklistQuery::loaded(); }, 5000) && ed->txtTransNo->text() == QLatin1String("WL0002");
}

} // namespace orv::test
