// orv_bench_export OUT FILE...
// Reads the files into the session's image set and runs the viewer's "Export All" (the same
// background job the button starts) into OUT, timing from the start of the job to its end.
// Prints the seconds taken; exit status 1 when a message was shown (the export failed).
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "outside/Prompter.h"
#include "viewer/ViewerTransfer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <cstdio>

using namespace orv;

namespace {
// Counts the messages instead of showing them.
class CountingPrompter : public DialogPrompter
{
public:
    int messages = 0;
    int message(QWidget *, const QString &text, const QString &, Icon, int) override
    {
        ++messages;
        std::fprintf(stderr, "%s\n", qPrintable(text));
        return Ok;
    }
};
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: orv_bench_export OUT FILE...\n");
        return 2;
    }
    auto prompter = std::make_unique<CountingPrompter>();
    CountingPrompter *counter = prompter.get();
    Prompter::install(std::move(prompter));
    QList<dicom::Image> images;
    for (const QString &f : args.mid(1))
        images << dicom::Image::fromFile(f);
    session().images().add(images);
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    ViewerTransfer::exportAll(images, args.first(), [&loop] { loop.quit(); });
    loop.exec();
    std::printf("%.3f\n", timer.nsecsElapsed() / 1e9);
    resetState();
    return counter->messages == 0 ? 0 : 1;
}
