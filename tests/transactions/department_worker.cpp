// orv_department_worker ID ARCHIVE-PORT EXAMS FILES SERVER-NAME <database options>: one
// workstation of a department, run offscreen. Logs in as T01 and, EXAMS times: opens a new exam in
// the editor with a generated number, imports FILES pictures through the image list, saves them
// into SERVER-NAME and sends them to the archive (127.0.0.1:ARCHIVE-PORT, AE ORTHANC). Prints
// "exam NUMBER" per exam and then the log window's lines; messages shown to the operator go to
// stderr and make the exit code 1.
#include "common/ScriptedPrompter.h"
#include "core/Database.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "core/frmLog.h"
#include "imagestore/ImageListActions.h"
#include "transactions/frmTransaction.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>

using namespace orv;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString id = args.value(1);
    const int exams = args.value(3).toInt();
    const int files = args.value(4).toInt();
    const ConnectionConfig config = databaseConfig(args);
    QTemporaryDir temp;

    state().LoginComponent = std::make_unique<LoginComponent>([config] { return openDepartmentDatabase(config); });
    state().LoginComponent->setScriptedLogin(QStringLiteral("T01"), QStringLiteral("password1"));
    state().LoginComponent->ShowMain();
    if (!state().LoginComponent->Connected()) {
        std::fprintf(stderr, "login failed\n");
        return 1;
    }
    state().CurrentUser.setUserID(QStringLiteral("T01"));
    state().AcquireModalityCode = QStringLiteral("US");
    state().Server_Name = args.value(5);
    state().Server_Folder = QStringLiteral("images");
    state().TempFolder = temp.filePath(QStringLiteral("pacstemp"));
    QDir().mkpath(state().TempFolder);
    test::ScriptedPrompter *prompter = test::ScriptedPrompter::install();
    DicomNodes &nodes = dicomNodes();
    nodes.setValue(DicomNodes::StorageNode, QStringLiteral("127.0.0.1"));
    nodes.setValue(DicomNodes::StoragePort, args.value(2));
    nodes.setValue(DicomNodes::StorageAE, QStringLiteral("ORTHANC"));
    nodes.setValue(DicomNodes::CallingAE, QStringLiteral("WS") + id);

    int problems = 0;
    const auto problem = [&problems](const QString &what) {
        std::fprintf(stderr, "%s\n", qPrintable(what));
        ++problems;
    };
    frmTransaction *editor = frmTransaction::instance();
    const auto settle = [] { return session().jobs().waitForIdle(120000); };
    for (int e = 0; e < exams; ++e) {
        editor->NewTransaction();
        editor->btnRefresh->click(); // "generate"
        const QString patient = QStringLiteral("P%1-%2").arg(id).arg(e);
        editor->txtHospNum->setText(patient);
        editor->txtPatientID->setText(patient);
        editor->txtLName->setText(QStringLiteral("WORKSTATION") + id);
        editor->cmdSaveTrans->click();
        std::printf("exam %s\n", qPrintable(editor->txtTransNo->text()));
        for (int f = 0; f < files; ++f) {
            QImage picture(160, 120, QImage::Format_RGB888);
            picture.fill(QColor::fromHsv((f * 37 + e * 11) % 360, 160, 200));
            QPainter(&picture).drawText(10, 60, QStringLiteral("WS%1 exam %2 image %3").arg(id).arg(e).arg(f));
            const QString path = temp.filePath(QStringLiteral("ws%1-%2-%3.jpg").arg(id).arg(e).arg(f));
            picture.save(path);
            if (!ImageListActions::importPicture(path) || !settle())
                problem(QStringLiteral("import of %1 refused or stuck").arg(path));
        }
        if (!ImageListActions::save() || !settle())
            problem(QStringLiteral("save refused or stuck"));
        if (!ImageListActions::send() || !settle())
            problem(QStringLiteral("send refused or stuck"));
    }
    if (frmLog *log = frmLog::existing())
        std::printf("%s\n", qPrintable(log->text()));
    for (const QString &message : prompter->messages())
        std::fprintf(stderr, "message: %s\n", qPrintable(message));
    std::fflush(stdout);
    // The session, the windows and the login go while the application is still there.
    delete editor;
    resetSession();
    const bool clean = problems == 0 && prompter->messages().isEmpty();
    resetState();
    return clean ? 0 : 1;
}
