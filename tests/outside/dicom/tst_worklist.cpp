// Modality worklist queries against wlmscpfs and Orthanc's worklist plugin, with the
// identifier the workstation sends and the twelve grid columns it lists.

#include "Peers.h"

#include "common/TestMain.h"
#include "common/Tools.h"
#include "outside/dicom/Network.h"

#include <QDir>

using namespace orv::dicom;
using namespace orv::test;

namespace {

struct Item
{
    QString accession, patientId, name, sex, birth, doctor, modality, procId, procDesc, date;
};

const QList<Item> kItems{
    {"ACC1001", "P1001", "ALPHA^ANN^A", "F", "19700101", "D01^HOUSE^GREG^", "US", "RP01", "ABDOMEN US", "20261205"},
    {"ACC1002", "P1002", "ALPHA^BEN", "M", "19800202", "D02^WATSON^JOHN^", "US", "RP02", "THYROID US", "20261205"},
    {"ACC1003", "P1003", "BRAVO^CARL", "M", "19900303", "D01^HOUSE^GREG^", "ES", "RP03", "GASTROSCOPY", "20261205"},
    {"ACC1004", "P1004", "CHARLIE^DORA", "F", "19600404", "D03^GREY^MEREDITH^", "US", "RP04", "PELVIS US", "20261206"},
    {"ACC1005", "P1005", "MÜLLER^JÖRG", "M", "19550505", "D02^WATSON^JOHN^", "US", "RP06", "HÜFTE US", "20261205"},
};

QString itemDump(const Item &i, bool withStep)
{
    QString t = QStringLiteral("(0008,0005) CS [ISO_IR 100]\n"
                               "(0008,0020) DA [@DATE]\n"
                               "(0008,0050) SH [@ACC]\n"
                               "(0008,0090) PN [@DOC]\n"
                               "(0010,0010) PN [@NAME]\n"
                               "(0010,0020) LO [@PID]\n"
                               "(0010,0030) DA [@BIRTH]\n"
                               "(0010,0040) CS [@SEX]\n"
                               "(0020,000d) UI [1.2.826.0.1.3680043.9.7777.@ACC]\n"
                               "(0032,1032) PN [REQUESTER]\n"
                               "(0032,1060) LO [@DESC]\n");
    if (withStep)
        t += QStringLiteral("(0040,0100) SQ\n"
                            "(fffe,e000) -\n"
                            "(0008,0060) CS [@MOD]\n"
                            "(0040,0001) AE [STATION1]\n"
                            "(0040,0002) DA [@DATE]\n"
                            "(0040,0003) TM [091500]\n"
                            "(0040,0006) PN [PERFORMER]\n"
                            "(0040,0007) LO [@DESC]\n"
                            "(0040,0009) SH [SPS@ACC]\n"
                            "(0040,0010) SH [ROOM1]\n"
                            "(0040,0011) SH [FLOOR1]\n"
                            "(0040,0012) LO\n"
                            "(0040,0400) LT\n"
                            "(fffe,e00d) -\n"
                            "(fffe,e0dd) -\n");
    else
        t += QStringLiteral("(0008,0060) CS [@MOD]\n");
    t += QStringLiteral("(0040,1001) SH [@PROC]\n(0040,1003) SH [LOW]\n");
    t.replace(QStringLiteral("1.2.826.0.1.3680043.9.7777.@ACC"), QStringLiteral("1.2.826.0.1.3680043.9.7777.") + i.accession.mid(3));
    const QList<std::pair<const char *, QString>> fields{{"@DATE", i.date}, {"@ACC", i.accession}, {"@DOC", i.doctor},
                                                         {"@NAME", i.name}, {"@PID", i.patientId}, {"@BIRTH", i.birth},
                                                         {"@SEX", i.sex},   {"@DESC", i.procDesc}, {"@MOD", i.modality},
                                                         {"@PROC", i.procId}};
    for (const auto &[key, value] : fields)
        t.replace(QLatin1String(key), value);
    return t;
}

// The grid takes the top-level Modality; these items carry it only in their scheduled step
// unless they have no step.
QStringList rowOf(const Item &i, bool topLevelModality = false)
{
    return {i.accession, i.patientId, i.name, i.sex, i.birth, i.doctor, topLevelModality ? i.modality : QString(),
            i.procId, i.procDesc, i.date, QString(), QString()};
}

QList<QStringList> query(quint16 port, const QString &ae, const QString &name, const QString &date = QStringLiteral("12/05/2026"))
{
    WorklistScu scu(QStringLiteral("127.0.0.1"), port, ae);
    QList<QStringList> rows;
    for (const DataSet &answer : scu.run(WorklistScu::standardIdentifier(name, {}, date, {}, {}, {})))
        rows << WorklistScu::gridRow(answer);
    std::sort(rows.begin(), rows.end());
    return rows;
}

} // namespace

class TestWorklist : public QObject
{
    Q_OBJECT

private slots:
    void identifierCarriesTheQueryKeys();
    void wlmscpfsListsTheDay();
    void orthancListsTheDayAndItemsWithoutStep();
};

void TestWorklist::identifierCarriesTheQueryKeys()
{
    const DataSet id = WorklistScu::standardIdentifier(QStringLiteral("SMI"), QStringLiteral("P9"), QStringLiteral("12/05/2026"),
                                                       QStringLiteral("us"), QStringLiteral("A7"), QStringLiteral("BR1"));
    QCOMPARE(id.text(0x0010, 0x0010), QStringLiteral("SMI*"));
    QCOMPARE(id.text(0x0008, 0x0020), QStringLiteral("20261205"));
    QCOMPARE(id.text(0x0008, 0x0060), QStringLiteral("US"));
    QCOMPARE(id.text(0x0008, 0x0080), QStringLiteral("BR1"));
    for (auto [g, e] : {std::pair{0x0010, 0x0040}, {0x0008, 0x0090}, {0x0040, 0x1001}, {0x0032, 0x1060}, {0x0010, 0x0030}}) {
        QVERIFY(id.contains(quint16(g), quint16(e)));
        QCOMPARE(id.text(quint16(g), quint16(e)), QString());
    }
    const Attribute step = id.attribute(0x0040, 0x0100);
    QCOMPARE(step.items.size(), 1);
    QCOMPARE(step.items.first().text(0x0040, 0x0002), QStringLiteral("20261205"));
    QVERIFY(step.items.first().contains(0x0040, 0x0003));
    QCOMPARE(WorklistScu::standardIdentifier({}, {}, {}, {}, {}, {}).text(0x0010, 0x0010), QStringLiteral("*"));
}

void TestWorklist::wlmscpfsListsTheDay()
{
    auto peer = PeerProcess::wlmscpfs(QStringLiteral("WLMTEST"));
    QVERIFY(peer->isRunning());
    for (int i = 0; i < kItems.size(); ++i)
        QVERIFY(writeWorklistFile(itemDump(kItems[i], true), peer->folder() + QStringLiteral("/db/WLMTEST/item%1.wl").arg(i)));

    // Latin-1 answers reach the caller as text.
    QCOMPARE(query(peer->port(), QStringLiteral("WLMTEST"), QString()),
             (QList<QStringList>{rowOf(kItems[0]), rowOf(kItems[1]), rowOf(kItems[2]), rowOf(kItems[4])}));
    QCOMPARE(query(peer->port(), QStringLiteral("WLMTEST"), QStringLiteral("ALPHA")), (QList<QStringList>{rowOf(kItems[0]), rowOf(kItems[1])}));
    QCOMPARE(query(peer->port(), QStringLiteral("WLMTEST"), QStringLiteral("ZULU")), QList<QStringList>());
    QCOMPARE(query(peer->port(), QStringLiteral("WLMTEST"), QString(), QStringLiteral("12/06/2026")), QList<QStringList>{rowOf(kItems[3])});

    // The command-line front prints the same rows, tab-separated.
    const ToolResult r = runTool(QStringLiteral(ORV_CLI), {QStringLiteral("worklist"), QStringLiteral("--host"), QStringLiteral("127.0.0.1"),
                                                           QStringLiteral("--port"), QString::number(peer->port()), QStringLiteral("--aec"),
                                                           QStringLiteral("WLMTEST"), QStringLiteral("--patient-name"), QStringLiteral("BRAVO"),
                                                           QStringLiteral("--date"), QStringLiteral("12/05/2026")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, rowOf(kItems[2]).join(QLatin1Char('\t')) + QLatin1Char('\n'));

    // Errors of the association reach the caller with their description.
    const quint16 closed = freeLoopbackPort();
    QVERIFY_THROWS_EXCEPTION(orv::Error, [closed] { query(closed, QStringLiteral("WLMTEST"), QString()); }());
}

void TestWorklist::orthancListsTheDayAndItemsWithoutStep()
{
    auto peer = PeerProcess::orthanc();
    QVERIFY2(peer->isRunning(), qPrintable(peer->log()));
    for (int i = 0; i < kItems.size(); ++i)
        QVERIFY(writeWorklistFile(itemDump(kItems[i], true), peer->folder() + QStringLiteral("/worklists/item%1.wl").arg(i)));

    QCOMPARE(query(peer->port(), QStringLiteral("ORTHANC"), QString()),
             (QList<QStringList>{rowOf(kItems[0]), rowOf(kItems[1]), rowOf(kItems[2]), rowOf(kItems[4])}));
    QCOMPARE(query(peer->port(), QStringLiteral("ORTHANC"), QStringLiteral("ALPHA^B")), QList<QStringList>{rowOf(kItems[1])});

    // An answer without a Scheduled Procedure Step Sequence is listed like any other.
    const Item noStep{"ACC2001", "P2001", "DELTA^EVE", "F", "19750505", "D04^KILDARE^JAMES^", "US", "RP05", "KNEE US", "20261205"};
    QVERIFY(writeWorklistFile(itemDump(noStep, false), peer->folder() + QStringLiteral("/worklists/nostep.wl")));
    const QList<QStringList> rows = query(peer->port(), QStringLiteral("ORTHANC"), QStringLiteral("DELTA"), QString());
    QCOMPARE(rows, QList<QStringList>{rowOf(noStep, true)});
}

ORV_TEST_MAIN(TestWorklist)
#include "tst_worklist.moc"
