// orvaline-cli print against dcmprscp: the films it stores, and a format the printer refuses.
// (The films' contents, box by box, are checked through the viewer's "Dicom Print".)

#include "Peers.h"
#include "Pictures.h"

#include "common/TestMain.h"
#include "common/Tools.h"
#include "outside/dicom/Image.h"

#include <QDir>
#include <QTemporaryDir>

using namespace orv::dicom;
using namespace orv::test;
using namespace Qt::StringLiterals;

class TestFilmPrint : public QObject
{
    Q_OBJECT

private slots:
    void cliPrintsOneFilm();

private:
    QList<Image> images(int count);
    QTemporaryDir m_dir;
};

// Colour and grey images, told apart on film by their width: 40 + index.
QList<Image> TestFilmPrint::images(int count)
{
    QList<Image> list;
    for (int i = 0; i < count; ++i) {
        const QString pic = m_dir.filePath(u"film%1.bmp"_s.arg(i));
        (i % 2 ? greyPicture(40 + i, 30, i) : colourPicture(40 + i, 30, i)).save(pic, "BMP");
        list << Image();
        list.last().importPicture(pic);
    }
    return list;
}

void TestFilmPrint::cliPrintsOneFilm()
{
    auto peer = PeerProcess::dcmprscp();
    QVERIFY(peer->isRunning());
    QStringList files;
    for (Image &img : images(3)) {
        files << m_dir.filePath(u"print%1.dcm"_s.arg(files.size()));
        img.writeFile(files.last());
    }
    const QStringList args{u"print"_s, u"--host"_s, u"127.0.0.1"_s, u"--port"_s, QString::number(peer->port()), u"--aec"_s, u"IHEFULL"_s};
    ToolResult r = runTool(QStringLiteral(ORV_CLI), args + QStringList{u"--format"_s, u"STANDARD\\2,3"_s} + files);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, u"3 image(s) printed on 1 film(s)\n"_s);
    QCOMPARE(QDir(peer->folder() + u"/database"_s).entryList({u"SP_*"_s}).size(), 1);

    // A format the printer does not offer is refused with the printer's status.
    r = runTool(QStringLiteral(ORV_CLI), args + QStringList{u"--format"_s, u"STANDARD\\7,7"_s} + files);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(u"film box refused"_s), qPrintable(r.err));
}

ORV_TEST_MAIN(TestFilmPrint)
#include "tst_filmprint.moc"
