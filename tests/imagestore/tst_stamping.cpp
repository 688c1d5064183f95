// Identity stamping and the import of pictures into the temporary folder.
#include "common/TestMain.h"
#include "common/Tools.h"
#include "session/OpenTransaction.h"
#include "core/SharedState.h"
#include "imagestore/PictureImport.h"
#include "outside/dicom/Image.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTime>

using namespace orv;
using namespace orv::test;
using T = OpenTransaction;

class tst_Stamping : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_temp;

    QString picture(const QString &name, const char *format)
    {
        QImage img(64, 48, QImage::Format_RGB888);
        img.fill(Qt::darkCyan);
        if (!img.save(m_dir->filePath(name), format))
            qFatal("cannot write the test picture %s", qPrintable(name));
        return m_dir->filePath(name);
    }
    static void open(const QHash<T::Field, QString> &values)
    {
        openTransaction().clear();
        for (auto it = values.begin(); it != values.end(); ++it)
            openTransaction().setValue(it.key(), it.value());
    }
    QStringList tempFiles() const { return QDir(m_temp).entryList(QDir::Files | QDir::Hidden); }
    QString written(const QString &name, quint16 g, quint16 e) const
    {
        return dicom::Image::fromFile(QDir(m_temp).filePath(name)).dataSet().text(g, e);
    }

private slots:
    void init()
    {
        resetState();
        m_dir = std::make_unique<QTemporaryDir>();
        m_temp = m_dir->filePath(QStringLiteral("pacstemp"));
        QDir().mkpath(m_temp);
    }

    // Each attribute holds the open transaction's value, encoded for its VR (a value the VR
    // cannot hold is written empty); the image number advances once per import; every object
    // written conforms.
    void importsCarryTheOpenTransaction_data()
    {
        for (const char *c : {"last", "birth", "sex", "date", "imgNum", "wBirth", "wSex", "wDate"})
            QTest::addColumn<QString>(c);
        QTest::addColumn<QStringList>("numbers");
        QTest::newRow("typed") << "DELA CRUZ" << "02/14/1980" << "f" << "12/05/2026" << "4" << "19800214" << "F"
                               << "20261205" << QStringList{"5", "6", "7"};
        QTest::newRow("odd") << QStringLiteral("O'BRIEN-NUÑEZ") << "unknown" << "Male" << "2026-12-05" << ""
                             << "" << "" << "20261205" << QStringList{"1", "2", "3"};
    }
    void importsCarryTheOpenTransaction()
    {
        QFETCH(QString, last);
        QFETCH(QString, birth);
        QFETCH(QString, sex);
        QFETCH(QString, date);
        QFETCH(QString, imgNum);
        QFETCH(QString, wBirth);
        QFETCH(QString, wSex);
        QFETCH(QString, wDate);
        QFETCH(QStringList, numbers);
        open({{T::TransNo, "00123"}, {T::HospNum, "H-4471"}, {T::PatientID, "991"}, {T::ExamType, "US"},
              {T::ExamId, "US01"}, {T::ExamName, "ABDOMEN, WHOLE"}, {T::DocName, "GONZAGA, PAOLO R"},
              {T::Technologist, "MANALO, JOY B"}, {T::TransDate, date}, {T::StudyUID, "1.2.826.0.1.77.1"},
              {T::SeriesUID, "1.2.826.0.1.77.1.1"}, {T::SeriesNum, "2"}, {T::ImgNum, imgNum}, {T::LName, last},
              {T::FName, "MARIA"}, {T::MName, "SANTOS"}, {T::Gender, sex}, {T::BDate, birth}});
        state().CompanyName = QStringLiteral("St. Luke's Medical Center");

        QSet<QString> instanceUids;
        const QStringList pictures{picture("one.jpg", "JPG"), picture("two.bmp", "BMP"), picture("three.png", "PNG")};
        for (int i = 0; i < pictures.size(); ++i) {
            const QString time = QTime::currentTime().toString("HHmm");
            dicom::Image inMemory;
            const ImageRow row = importNonDicom(pictures[i], m_temp, &inMemory);
            const QString name = QFileInfo(pictures[i]).baseName() + ".dcm";
            QCOMPARE(row.cells(), (QStringList{"New", "Image", name, "localtemp", "", "", m_temp}));
            const QString path = QDir(m_temp).filePath(name);
            QCOMPARE(dciodvfyErrors(path), QStringList());

            const dicom::Image img = dicom::Image::fromFile(path);
            QVERIFY(img.instanceUid().size() > 8 && !instanceUids.contains(img.instanceUid()));
            instanceUids.insert(img.instanceUid());
            QCOMPARE(inMemory.description(), last + "^MARIA^SANTOS");
            const QList<std::tuple<int, int, QString>> expected{
                {0x0020, 0x000D, "1.2.826.0.1.77.1"}, {0x0020, 0x000E, "1.2.826.0.1.77.1.1"},
                {0x0008, 0x0090, "GONZAGA^PAOLO^R"}, {0x0010, 0x0010, last + "^MARIA^SANTOS"},
                {0x0010, 0x0020, "H-4471"}, {0x0010, 0x0021, "St. Luke's Medical Center"}, {0x0010, 0x0030, wBirth},
                {0x0010, 0x0040, wSex}, {0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7"}, {0x0008, 0x0020, wDate},
                {0x0008, 0x1070, "MANALO^JOY^B"}, {0x0040, 0x1001, "US01"},
                {0x0032, 0x1060, "ABDOMEN, WHOLE"}, {0x0008, 0x0050, "00123"}, {0x0020, 0x0010, "00123"},
                {0x0008, 0x0060, "US"}, {0x0020, 0x0013, numbers[i]}, {0x0020, 0x0011, "2"}};
            // The registration number, which differs from the hospital number, rides along.
            QCOMPARE(img.dataSet().attribute(0x0010, 0x1002).items.value(0).text(0x0010, 0x0020), QString("991"));
            for (const auto &[g, e, value] : expected) {
                const QString actual = img.dataSet().text(quint16(g), quint16(e));
                QVERIFY2(actual == value, qPrintable(QString("(%1,%2) is \"%3\", not \"%4\"")
                                                         .arg(g, 4, 16, QChar('0')).arg(e, 4, 16, QChar('0')).arg(actual, value)));
            }
            const QString stampedTime = img.dataSet().text(0x0008, 0x0030);
            QVERIFY(stampedTime == time || stampedTime == QTime::currentTime().toString("HHmm"));
            QCOMPARE(openTransaction().value(T::ImgNum), numbers[i]);
        }
    }

    // The name written is the base name before the first "." & ".dcm"; alike names replace each
    // other; a video becomes a conforming multi-frame object.
    void namesAndFormats()
    {
        open({{T::ImgNum, "0"}, {T::SeriesNum, "1"}, {T::StudyUID, "1.2.3.4"}, {T::SeriesUID, "1.2.3.4.1"}});
        QCOMPARE(importNonDicom(picture("x.y.jpg", "JPG"), m_temp).fileName, QStringLiteral("x.dcm"));
        importNonDicom(picture("a.jpg", "JPG"), m_temp);
        importNonDicom(picture("a.bmp", "BMP"), m_temp);
        QCOMPARE(tempFiles(), (QStringList{"a.dcm", "x.dcm"}));
        QCOMPARE(written("a.dcm", 0x0020, 0x0013), QStringLiteral("3"));

        dicom::Image still;
        importNonDicom(picture("frame.png", "PNG"), m_temp, &still);
        still.exportVideo(m_dir->filePath("clip.avi"), 1);
        QCOMPARE(importNonDicom(m_dir->filePath("clip.avi"), m_temp).type, QStringLiteral("Image"));
        QCOMPARE(dciodvfyErrors(QDir(m_temp).filePath("clip.dcm")), QStringList());
        QCOMPARE(written("clip.dcm", 0x0020, 0x0013), QStringLiteral("5"));
        QCOMPARE(splitPicturePath("C:\\scans\\x.y.jpg").folder, QStringLiteral("C:\\scans"));
    }

    // A file that is not a picture, a missing file or a name without a base name: an error with
    // the reason; no file written or replaced; the image number unchanged.
    void failedImportsWriteNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("text named jpg") << "x.jpg" << QByteArray("minutes of the meeting\n") << "x.jpg";
        QTest::newRow("truncated jpeg") << "x.jpg" << QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10) << "x.jpg";
        QTest::newRow("missing") << "x.png" << QByteArray() << "does not exist";
        QTest::newRow("no base name") << ".jpg" << QByteArray("\xFF\xD8", 2) << "no name before";
        QByteArray wide;
        QBuffer out(&wide);
        QImage(0x10000, 1, QImage::Format_Grayscale8).save(&out, "PNG");
        QTest::newRow("wider than an image can be") << "x.png" << wide << "at most 65535";
    }
    void failedImportsWriteNothing()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        open({{T::ImgNum, "4"}, {T::StudyUID, "1.2.3.4"}, {T::SeriesUID, "1.2.3.4.1"}});
        QFile existing(QDir(m_temp).filePath("x.dcm"));
        QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("earlier") == 7);
        existing.close();
        QFile source(m_dir->filePath(name));
        QVERIFY(content.isEmpty() || (source.open(QIODevice::WriteOnly) && source.write(content) == content.size()));
        source.close();
        try {
            importNonDicom(source.fileName(), m_temp);
            QFAIL("the import did not fail");
        } catch (const Error &e) {
            QVERIFY2(e.description().contains(reason), qPrintable(e.description()));
        }
        QCOMPARE(tempFiles(), QStringList{"x.dcm"});
        QVERIFY(existing.open(QIODevice::ReadOnly));
        QCOMPARE(existing.readAll(), QByteArray("earlier"));
        QCOMPARE(openTransaction().value(T::ImgNum), QStringLiteral("4"));
    }
};

ORV_TEST_MAIN(tst_Stamping)
#include "tst_stamping.moc"
