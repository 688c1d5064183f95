// Film printing against dcmprscp: each film it stores must hold the images in the order they
// were given, in the chosen display format, orientation and film size.

#include "Peers.h"
#include "Pictures.h"

#include "common/TestMain.h"
#include "common/Tools.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/Network.h"

#include <QDir>
#include <QTemporaryDir>

using namespace orv::dicom;
using namespace orv::test;
using namespace Qt::StringLiterals;

class TestFilmPrint : public QObject
{
    Q_OBJECT

private slots:
    void filmsHoldImagesInOrder_data();
    void filmsHoldImagesInOrder();
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

void TestFilmPrint::filmsHoldImagesInOrder_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("orientation");
    QTest::addColumn<int>("boxes");
    QTest::addColumn<int>("count");
    for (int count : {1, 2, 7}) {
        QTest::addRow("1,1 x%d", count) << u"STANDARD\\1,1"_s << u"PORTRAIT"_s << 1 << count;
        QTest::addRow("2,3 x%d", count) << u"STANDARD\\2,3"_s << u"LANDSCAPE"_s << 6 << count;
    }
}

void TestFilmPrint::filmsHoldImagesInOrder()
{
    QFETCH(QString, format);
    QFETCH(QString, orientation);
    QFETCH(int, boxes);
    QFETCH(int, count);
    auto peer = PeerProcess::dcmprscp();
    QVERIFY2(peer->isRunning(), qPrintable(peer->log()));

    FilmPrinter printer(u"127.0.0.1"_s, peer->port(), u"IHEFULL"_s, u"ORVTEST"_s);
    printer.open();
    printer.setDisplayFormat(format);
    printer.setOrientation(orientation);
    printer.setFilmSize(u"14INx17IN"_s);
    printer.filmBoxAttributes().add(0x2010, 0x0060, u"CUBIC"_s);
    for (Image &img : images(count))
        printer.printImage(img, false, true);
    printer.close();
    const int films = (count + boxes - 1) / boxes;
    QCOMPARE(printer.filmsPrinted(), films);

    // dcmprscp keeps each film as a stored print object (SP_*) referring to hardcopy images (HG_*).
    const QDir db(peer->folder() + u"/database"_s);
    QMap<QString, int> indexOfImage;
    for (const QString &name : db.entryList({u"HG_*"_s}))
        indexOfImage.insert(Image::fromFile(db.filePath(name)).instanceUid(), Image::fromFile(db.filePath(name)).width() - 40);
    QList<QList<int>> filmContents;
    for (const QString &name : db.entryList({u"SP_*"_s})) {
        const Image sp = Image::fromFile(db.filePath(name));
        const DataSet box = sp.attribute(0x2130, 0x0030).items.value(0);
        QCOMPARE(QStringList({box.text(0x2010, 0x0010), box.text(0x2010, 0x0040), box.text(0x2010, 0x0050), box.text(0x2010, 0x0060)}),
                 QStringList({format, orientation, u"14INX17IN"_s, u"CUBIC"_s}));
        QMap<int, int> byPosition;
        for (const DataSet &imageBox : sp.attribute(0x2130, 0x0040).items)
            byPosition.insert(imageBox.text(0x2020, 0x0010).toInt(),
                              indexOfImage.value(imageBox.attribute(0x0008, 0x1140).items.value(0).text(0x0008, 0x1155), -1));
        QCOMPARE(byPosition.keys().first(), 1);
        QCOMPARE(byPosition.keys().last(), byPosition.size());
        filmContents << byPosition.values();
    }
    // Sorted by their first image, the films hold 0, 1, 2, ... in box order, `boxes` to a film.
    std::sort(filmContents.begin(), filmContents.end());
    QCOMPARE(filmContents.size(), films);
    int next = 0;
    for (const QList<int> &film : filmContents) {
        QCOMPARE(film.size(), qMin(boxes, count - next));
        for (int index : film)
            QCOMPARE(index, next++);
    }
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
