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

// Images told apart on film by their width: 40 + index.
QList<Image> TestFilmPrint::images(int count)
{
    QList<Image> list;
    for (int i = 0; i < count; ++i) {
        const QString pic = m_dir.filePath(QStringLiteral("film%1.bmp").arg(i));
        (i % 2 ? greyPicture(40 + i, 30, i) : QImage(colourPicture(40 + i, 30, i))).save(pic, "BMP");
        Image img;
        img.importPicture(pic, QStringLiteral("BMP"));
        list << img;
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
        QTest::addRow("1,1 x%d", count) << QStringLiteral("STANDARD\\1,1") << QStringLiteral("PORTRAIT") << 1 << count;
        QTest::addRow("2,3 x%d", count) << QStringLiteral("STANDARD\\2,3") << QStringLiteral("LANDSCAPE") << 6 << count;
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

    FilmPrinter printer(QStringLiteral("127.0.0.1"), peer->port(), QStringLiteral("IHEFULL"), QStringLiteral("ORVTEST"));
    printer.open();
    printer.setDisplayFormat(format);
    printer.setOrientation(orientation);
    printer.setFilmSize(QStringLiteral("14INx17IN"));
    printer.filmBoxAttributes().add(0x2010, 0x0060, QStringLiteral("CUBIC"));
    for (Image &img : images(count))
        printer.printImage(img, false, true);
    printer.close();
    const int films = (count + boxes - 1) / boxes;
    QCOMPARE(printer.filmsPrinted(), films);

    // dcmprscp keeps each film as a stored print object (SP_*) referring to hardcopy images (HG_*).
    const QString db = peer->folder() + QStringLiteral("/database/");
    QMap<QString, int> widthOfImage;
    for (const QString &name : QDir(db).entryList({QStringLiteral("HG_*")}, QDir::Files)) {
        const Image hg = Image::fromFile(db + name);
        widthOfImage.insert(hg.instanceUid(), hg.width());
    }
    QList<QList<int>> filmContents;
    for (const QString &name : QDir(db).entryList({QStringLiteral("SP_*")}, QDir::Files)) {
        const Image sp = Image::fromFile(db + name);
        const Attribute filmBox = sp.attribute(0x2130, 0x0030);
        QCOMPARE(filmBox.items.size(), 1);
        const DataSet box = filmBox.items.first();
        QCOMPARE(box.text(0x2010, 0x0010), format);
        QCOMPARE(box.text(0x2010, 0x0040), orientation);
        QCOMPARE(box.text(0x2010, 0x0050), QStringLiteral("14INX17IN"));
        QCOMPARE(box.text(0x2010, 0x0060), QStringLiteral("CUBIC"));
        QMap<int, int> byPosition;
        for (const DataSet &imageBox : sp.attribute(0x2130, 0x0040).items) {
            const QString uid = imageBox.attribute(0x0008, 0x1140).items.value(0).text(0x0008, 0x1155);
            QVERIFY(widthOfImage.contains(uid));
            byPosition.insert(imageBox.text(0x2020, 0x0010).toInt(), widthOfImage.value(uid) - 40);
        }
        filmContents << byPosition.values();
        QCOMPARE(byPosition.keys().first(), 1);
        QCOMPARE(byPosition.keys().last(), byPosition.size());
    }
    std::sort(filmContents.begin(), filmContents.end());
    QCOMPARE(filmContents.size(), films);
    int next = 0;
    for (const QList<int> &film : filmContents) {
        QCOMPARE(film.size(), qMin(boxes, count - next));
        for (int index : film)
            QCOMPARE(index, next++);
    }
    QCOMPARE(next, count);
}

void TestFilmPrint::cliPrintsOneFilm()
{
    auto peer = PeerProcess::dcmprscp();
    QVERIFY(peer->isRunning());
    QStringList files;
    int i = 0;
    for (Image &img : images(3)) {
        files << m_dir.filePath(QStringLiteral("print%1.dcm").arg(i++));
        img.writeFile(files.last());
    }
    const QStringList args{QStringLiteral("print"), QStringLiteral("--host"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                           QString::number(peer->port()), QStringLiteral("--aec"), QStringLiteral("IHEFULL"), QStringLiteral("--format"),
                           QStringLiteral("STANDARD\\2,3")};
    ToolResult r = runTool(QStringLiteral(ORV_CLI), args + files);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QStringLiteral("3 image(s) printed on 1 film(s)\n"));
    QCOMPARE(QDir(peer->folder() + QStringLiteral("/database")).entryList({QStringLiteral("SP_*")}, QDir::Files).size(), 1);

    // A format the printer does not offer is refused with the printer's status.
    r = runTool(QStringLiteral(ORV_CLI), args.mid(0, 8) + QStringList{QStringLiteral("STANDARD\\7,7")} + files);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("film box refused")), qPrintable(r.err));
}

ORV_TEST_MAIN(TestFilmPrint)
#include "tst_filmprint.moc"
