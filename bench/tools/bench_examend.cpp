// orv_bench_examend <count> <provider port>
// "End E&xam..." in the editor, offscreen on an embedded database in a scratch folder, for
// <count> exams each with a step in progress (the provider on the port need not answer: the
// message is queued either way). Prints, over the exams, the longest time the click held the GUI
// thread and the longest gap of the GUI event loop (a 5 ms timer) from the click until the
// step's end was queued and shown.
#include "common/ScriptedPrompter.h"
#include "common/TestLogin.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "sendqueue/SendQueueRunner.h"
#include "core/SharedState.h"
#include "imagestore/ProcedureSteps.h"
#include "transactions/frmTransaction.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace orv;

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: %s <count> <provider port>\n", argv[0]);
        return 2;
    }
    const int count = args[1].toInt();
    std::unique_ptr<test::FreshDatabase> database;
    if (!test::loginOnFreshDatabase(database, Backend::SQLite)) {
        std::fprintf(stderr, "cannot log in on the scratch database\n");
        return 1;
    }
    test::ScriptedPrompter *prompter = test::ScriptedPrompter::install();
    dicomNodes().setValue(DicomNodes::MppsNode, QStringLiteral("127.0.0.1"));
    dicomNodes().setValue(DicomNodes::MppsPort, args[2]);
    const dicom::Peer provider = dicomNodes().procedureStepPeer();

    qint64 longestClick = 0, longestGap = 0;
    for (int i = 0; i < count; ++i) {
        frmTransaction *ed = frmTransaction::instance();
        ed->NewTransaction();
        const QString transNo = QStringLiteral("END%1").arg(i, 5, 10, QLatin1Char('0'));
        ed->txtTransNo->setText(transNo);
        TransactionRecord exam = openTransaction().record();
        ProcedureSteps(state().db()).begin(exam, provider, QStringLiteral("BENCH"));
        openTransaction().setValue(OpenTransaction::StepState, StepState::InProgress);

        QElapsedTimer gap;
        gap.start();
        QTimer beat;
        QObject::connect(&beat, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, gap.restart());
        });
        beat.start(5);
        prompter->choiceAnswers << 0;
        QElapsedTimer click;
        click.start();
        ed->cmdEndExam->click();
        longestClick = std::max(longestClick, click.elapsed());
        gap.restart();
        while (ed->lblStep->text() != QLatin1String("Procedure step: COMPLETED"))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        session().jobs().waitForIdle(10000);
        beat.stop();
    }
    SendQueueRunner::instance().stop();
    session().jobs().waitForIdle(10000);
    std::printf("%d exams ended: click held the GUI thread %lld ms at most, event loop gap %lld ms at most\n", count,
                longestClick, longestGap);
    std::fflush(stdout);
    delete frmTransaction::loaded();
    resetSession();
    resetState();
    database.reset();
    return 0;
}
