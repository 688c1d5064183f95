// Modality worklist queries against wlmscpfs and Orthanc's worklist plugin, with the
// identifier the workstation sends and the twelve grid columns it lists.

#include "Peers.h"
#include "Pictures.h"

#include "common/TestMain.h"
#include "common/Tools.h"
#include "outside/dicom/WorklistScu.h"
#include "outside/dicom/Toolkit.h"

#include <QElapsedTimer>
#include <QTcpServer>

using namespace orv::dicom;
using namespace orv::test;
using namespace Qt::StringLiterals;

namespace {

struct Item
{
    QString accession, patientId, name, sex, birth, doctor, modality, procId, procDesc, date;
};

const QList<Item> kItems{
    {u"ACC1001"_s, u"P1001"_s, u"ALPHA^ANN^A"_s, u"F"_s, u"19700101"_s, u"D01^HOUSE^GREG^"_s, u"US"_s, u"RP01"_s, u"ABDOMEN US"_s, u"20261205"_s},
    {u"ACC1002"_s, u"P1002"_s, u"ALPHA^BEN"_s, u"M"_s, u"19800202"_s, u"D02^WATSON^JOHN^"_s, u"US"_s, u"RP02"_s, u"THYROID US"_s, u"20261205"_s},
    {u"ACC1003"_s, u"P1003"_s, u"BRAVO^CARL"_s, u"M"_s, u"19900303"_s, u"D01^HOUSE^GREG^"_s, u"ES"_s, u"RP03"_s, u"GASTROSCOPY"_s, u"20261205"_s},
    {u"ACC1004"_s, u"P1004"_s, u"CHARLIE^DORA"_s, u"F"_s, u"19600404"_s, u"D03^GREY^MEREDITH^"_s, u"US"_s, u"RP04"_s, u"PELVIS US"_s, u"20261206"_s},
    {u"ACC1005"_s, u"P1005"_s, u"MÜLLER^JÖRG"_s, u"M"_s, u"19550505"_s, u"D02^WATSON^JOHN^"_s, u"US"_s, u"RP06"_s, u"HÜFTE US"_s, u"20261205"_s},
};

// A worklist file in ISO 8859-1 with the attributes wlmscpfs requires; without a scheduled
// step the modality is kept at the top level.
QString itemDump(const Item &i, bool withStep)
{
    const QString step = withStep ? u"(0040,0100) SQ\n(fffe,e000) -\n(0008,0060) CS [%1]\n(0040,0001) AE [STATION1]\n"
                                    "(0040,0002) DA [%2]\n(0040,0003) TM [091500]\n(0040,0006) PN [PERFORMER]\n"
                                    "(0040,0007) LO [%3]\n(0040,0009) SH [SPS%4]\n(0040,0010) SH [ROOM1]\n"
                                    "(0040,0011) SH [FLOOR1]\n(0040,0012) LO\n(0040,0400) LT\n(fffe,e00d) -\n(fffe,e0dd) -\n"_s
                                      .arg(i.modality, i.date, i.procDesc, i.accession)
                                  : u"(0008,0060) CS [%1]\n"_s.arg(i.modality);
    return u"(0008,0005) CS [ISO_IR 100]\n(0008,0020) DA [%1]\n(0008,0050) SH [%2]\n(0008,0090) PN [%3]\n"
                             "(0010,0010) PN [%4]\n(0010,0020) LO [%5]\n(0010,0030) DA [%6]\n(0010,0040) CS [%7]\n"
                             "(0020,000d) UI [1.2.826.0.1.3680043.9.7777.%8]\n(0032,1032) PN [REQUESTER]\n(0032,1060) LO [%9]\n"_s
                                     .arg(i.date, i.accession, i.doctor, i.name, i.patientId, i.birth, i.sex, i.accession.mid(3), i.procDesc)
                                 + step + u"(0040,1001) SH [%1]\n(0040,1003) SH [LOW]\n"_s.arg(i.procId);
}

bool writeItem(const Item &i, bool withStep, const QString &path) { return writeWorklistFile(itemDump(i, withStep), path); }

// These items carry their modality at the top level only when they have no step; the grid takes
// it from the step otherwise.
QStringList rowOf(const Item &i)
{
    return {i.accession, i.patientId, i.name, i.sex, i.birth, i.doctor, i.modality, i.procId, i.procDesc, i.date, QString(), QString()};
}

// An item in another character set: the name is given as encoded bytes.
QByteArray encodedItem(const QByteArray &charset, const QByteArray &name, const QString &accession)
{
    QByteArray dump = itemDump({accession, u"ID"_s + accession, u"@NAME@"_s, u"F"_s, u"19700101"_s, u"1^DOC"_s, u"MR"_s,
                                u"RP"_s, u"MRI"_s, u"20261205"_s}, true).toLatin1();
    return dump.replace("ISO_IR 100", charset).replace("@NAME@", name);
}

QList<QStringList> rowsOf(std::initializer_list<int> indexes)
{
    QList<QStringList> rows;
    for (int i : indexes)
        rows << rowOf(kItems[i]);
    return rows;
}

QList<QStringList> query(quint16 port, const QString &ae, const QString &name, const QString &date = u"12/05/2026"_s)
{
    QList<QStringList> rows;
    for (const DataSet &answer : WorklistScu(u"127.0.0.1"_s, port, ae).run(WorklistScu::standardIdentifier(name, {}, date, {}, {}, {})))
        rows << WorklistScu::gridRow(answer);
    std::sort(rows.begin(), rows.end());
    return rows;
}

} // namespace

class TestWorklist : public QObject
{
    Q_OBJECT

private slots:
    void wlmscpfsListsTheDay();
    void namesInOtherCharacterSets();
    void failuresAndCancel();
};

void TestWorklist::wlmscpfsListsTheDay()
{
    auto peer = PeerProcess::wlmscpfs(u"WLMTEST"_s);
    QVERIFY(peer->isRunning());
    for (int i = 0; i < kItems.size(); ++i)
        QVERIFY(writeItem(kItems[i], true, peer->folder() + u"/db/WLMTEST/item%1.wl"_s.arg(i)));

    // An empty name field matches every item of the day; a name matches as a prefix; the date
    // typed as the window shows it selects the day; Latin-1 answers arrive as text.
    QCOMPARE(query(peer->port(), u"WLMTEST"_s, QString()), rowsOf({0, 1, 2, 4}));
    QCOMPARE(query(peer->port(), u"WLMTEST"_s, u"ALPHA"_s), rowsOf({0, 1}));
    QCOMPARE(query(peer->port(), u"WLMTEST"_s, u"ZULU"_s), QList<QStringList>());
    QCOMPARE(query(peer->port(), u"WLMTEST"_s, QString(), u"12/06/2026"_s), rowsOf({3}));

    const ToolResult r = runTool(QStringLiteral(ORV_CLI), {u"worklist"_s, u"--host"_s, u"127.0.0.1"_s, u"--port"_s, QString::number(peer->port()),
                                                           u"--aec"_s, u"WLMTEST"_s, u"--patient-name"_s, u"BRAVO"_s, u"--date"_s, u"12/05/2026"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, rowOf(kItems[2]).join(u'\t') + u'\n');
    QVERIFY(errorOf([] { query(freeLoopbackPort(), u"WLMTEST"_s, QString()); }).contains(u"Cannot connect"_s));
}

// Names in UTF-8 and in the ISO 2022 sets for Japanese and Korean reach the grid as text, from
// both providers, and the command line lists the same cells.
void TestWorklist::namesInOtherCharacterSets()
{
    const QList<std::pair<QByteArray, QByteArray>> names{
        {"ISO_IR 192", u"ŁUKASZ^ŻÓŁW"_s.toUtf8()},
        {"\\ISO 2022 IR 87", "Yamada^Tarou=\033$B;3ED\033(B^\033$BB@O:\033(B=\033$B$d$^$@\033(B^\033$B$?$m$&\033(B"},
        {"\\ISO 2022 IR 149", "Hong^Gildong=\033$)C\373\363^\033$)C\321\316\324\327=\033$)C\310\253^\033$)C\261\346\265\277"},
    };
    const QStringList expected{u"ŁUKASZ^ŻÓŁW"_s, u"Yamada^Tarou=山田^太郎=やまだ^たろう"_s, u"Hong^Gildong=洪^吉洞=홍^길동"_s};
    auto wlm = PeerProcess::wlmscpfs(u"WLMTEST"_s);
    // Orthanc answers in its default encoding, Latin-1 unless configured otherwise.
    auto orthanc = PeerProcess::orthanc(u"\"DefaultEncoding\": \"Utf8\""_s);
    QVERIFY(wlm->isRunning() && orthanc->isRunning());
    for (int i = 0; i < names.size(); ++i) {
        const QByteArray dump = encodedItem(names[i].first, names[i].second, u"ACC90%1"_s.arg(i));
        QVERIFY(writeWorklistFile(dump, wlm->folder() + u"/db/WLMTEST/cs%1.wl"_s.arg(i)));
        QVERIFY(writeWorklistFile(dump, orthanc->folder() + u"/worklists/cs%1.wl"_s.arg(i)));
    }
    for (auto [port, ae] : {std::pair{wlm->port(), u"WLMTEST"_s}, std::pair{orthanc->port(), u"ORTHANC"_s}}) {
        QStringList got;
        for (const QStringList &row : query(port, ae, QString(), QString()))
            got << row.at(2);
        QCOMPARE(got, expected);
    }
    const ToolResult r = runTool(QStringLiteral(ORV_CLI), {u"worklist"_s, u"--host"_s, u"127.0.0.1"_s, u"--port"_s, QString::number(wlm->port()),
                                                           u"--aec"_s, u"WLMTEST"_s, u"--accession"_s, u"ACC901"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out.section(u'\t', 2, 2), expected[1]);
}

// A provider that refuses the association or never answers ends the query with a message
// within the network timeout; a cancelled query stops early and releases, so the next
// query on the same provider is answered in full.
void TestWorklist::failuresAndCancel()
{
    auto wlm = PeerProcess::wlmscpfs(u"WLMTEST"_s);
    QVERIFY(wlm->isRunning());
    for (int i = 0; i < 40; ++i)
        QVERIFY(writeItem({u"C%1"_s.arg(i), u"9%1"_s.arg(i), u"CANCEL^ME"_s, u"F"_s, u"19700101"_s, u"1^DOC^A"_s, u"US"_s, u"RP"_s,
                           u"US"_s, u"20261205"_s}, true, wlm->folder() + u"/db/WLMTEST/c%1.wl"_s.arg(i)));
    const DataSet id = WorklistScu::standardIdentifier(u"CANCEL"_s, {}, {}, {}, {}, {});
    int seen = 0;
    QVERIFY(!WorklistScu(u"127.0.0.1"_s, wlm->port(), u"WLMTEST"_s).run(id, [&](const DataSet &) { ++seen; }, [&] { return seen >= 1; }));
    QVERIFY(seen >= 1 && seen < 40);
    QCOMPARE(WorklistScu(u"127.0.0.1"_s, wlm->port(), u"WLMTEST"_s).run(id).size(), 40);

    QVERIFY(errorOf([&] { WorklistScu(u"127.0.0.1"_s, wlm->port(), u"NOSUCHAE"_s).run(id); }).contains(u"rejected"_s));

    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    setNetworkTimeout(2);
    QElapsedTimer clock;
    clock.start();
    const QString why = errorOf([&] { WorklistScu(u"127.0.0.1"_s, silent.serverPort(), u"WLMTEST"_s).run(id); });
    setNetworkTimeout(10);
    QVERIFY2(!why.isEmpty() && clock.elapsed() < 6000, qPrintable(why));
}

ORV_TEST_MAIN(TestWorklist)
#include "tst_worklist.moc"
