// orv_bench_pickers [--master N] [--admitted N] [--outpatients N] [--register N] [--runs N]
//                   [--written-runs N] [--analyze] <database options>
// Fills the hospital master with N patients (default five million; --admitted of them in
// hospital, --outpatients with an unbilled visit, as many again discharged or billed) and the
// department register with --register patients (once per database), then times the patient
// picker's searches: the register, out-patient and in-patient lists empty and searched (a name
// prefix, or a part of the name for in-patients), each to its first screen and a prefix search to
// its every row, median of --runs (default 5), and whether each is within 50 ms. Beside each: the
// statement as written (values bound, no tie-breaks, no first-rows read) read whole through one
// cursor, as a client-side record set bound to the grid reads it (--written-runs, default 1). Also
// times opening the patient picker. --analyze gathers statistics after the fill (by default the
// searches run on the statistics the schema upgrade left).
#include "DatabaseBench.h"

#include "core/Database.h"
#include "core/SharedState.h"
#include "masterdata/GridModel.h"
#include "masterdata/MasterDataStore.h"
#include "masterdata/StaffPickers.h"
#include "masterdata/frmSelectPatient.h"
#include "outside/Error.h"

#include <QApplication>

#include <cstdio>

using namespace orv;

namespace {
using namespace orv::bench;

// Last names of three two-letter syllables (2744 names), spread evenly.
QString lastName(const QString &i)
{
    const QString s = QStringLiteral("'BACADEFIGOHALIMONERASUTOVIYA'");
    return QStringLiteral("substr(%1, 1 + 2 * (%2 % 14), 2) || substr(%1, 1 + 2 * ((%2 / 14) % 14), 2) || substr(%1, 1 + 2 * ((%2 / 196) % 14), 2)")
        .arg(s, i);
}

void fill(Connection &db, int master, int admitted, int outpatients, int registered)
{
    if (count(db, QStringLiteral("Patient_Data..tbMaster")) >= master)
        return;
    const bool sqlite = db.backend() == Backend::SQLite;
    std::printf("filling %d hospital patients (%d admitted, %d unbilled visits) and %d registered...\n", master, admitted,
                outpatients, registered);
    std::fflush(stdout);
    const QString series = sqlite ? QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) ")
                                  : QString();
    const QString from = sqlite ? QStringLiteral(" FROM n") : QStringLiteral(" FROM generate_series(1, %1) AS i");
    const QString day = sqlite ? QStringLiteral("date('1940-01-01', '+' || (%1) || ' days')") : QStringLiteral("DATE '1940-01-01' + (%1)");
    auto insert = [&](int rows, const QString &head, const QString &select) {
        const QString n = QString::number(rows);
        db.executeScript(QString(series).replace(QStringLiteral("%1"), n) + head + QStringLiteral(" SELECT ") + select
                         + QString(from).replace(QStringLiteral("%1"), n) + QLatin1Char(';'));
    };
    withoutIndexes(db, {QStringLiteral("Patient_Data.tbMaster"), QStringLiteral("Patient_Data.tbPatient"), QStringLiteral("Patient_Data.tbOutPatient"),
                        QStringLiteral("pacs.tblPatient")},
                   false, [&] {
        // The master's trigger that copies names to its patients' stays has none to copy yet.
        db.executeScript(sqlite ? QStringLiteral("BEGIN;") : QStringLiteral("SET session_replication_role = replica;"));
        insert(master, QStringLiteral("INSERT INTO Patient_Data.tbMaster(HospNum,IdNum,LastName,FirstName,MiddleName,BirthDate,sex)"),
               QStringLiteral("'H' || i, 'R' || i, %1, 'FN' || (i % 977), 'M', %2, CASE i % 2 WHEN 0 THEN 'F' ELSE 'M' END")
                   .arg(lastName(QStringLiteral("i")), day.arg(QStringLiteral("i % 25000"))));
        if (!sqlite)
            db.executeScript(QStringLiteral("SET session_replication_role = origin;"));
        // Stays and visits of patients spread over the master; as many closed ones as open.
        for (int closed : {0, 1}) {
            insert(admitted, QStringLiteral("INSERT INTO Patient_Data.tbPatient(HospNum,AdmDate,RoomID,DcrDate)"),
                   QStringLiteral("'H' || (((i * 19 + %1) %% %2) + 1), %3, 'R' || (i %% 300), %4")
                       .arg(closed * 7)
                       .arg(master)
                       .arg(day.arg(QStringLiteral("30000")), closed ? day.arg(QStringLiteral("30001")) : QStringLiteral("NULL"))
                       .replace(QStringLiteral("%%"), QStringLiteral("%")));
            insert(outpatients * (closed ? 2 : 1), QStringLiteral("INSERT INTO Patient_Data.tbOutPatient(HospNum,AdmDate,BillingDate)"),
                   QStringLiteral("'H' || (((i * 37 + %1) %% %2) + 1), %3, %4")
                       .arg(closed * 11)
                       .arg(master)
                       .arg(day.arg(QStringLiteral("30000")), closed ? day.arg(QStringLiteral("30001")) : QStringLiteral("NULL"))
                       .replace(QStringLiteral("%%"), QStringLiteral("%")));
        }
        insert(registered, QStringLiteral("INSERT INTO pacs.tblPatient(patient_id,name_last,name_first,name_middle,date_birth,sex_type)"),
               QStringLiteral("i + 1000, %1, 'FN' || (i % 977), 'M', %2, 'F'").arg(lastName(QStringLiteral("(i * 3 + 1)")), day.arg(QStringLiteral("i % 25000"))));
        if (sqlite)
            db.executeScript(QStringLiteral("COMMIT;"));
    });
}

// The picker's grid: its first screen, or with `all` every row. The model is the picker's, which
// lives as long as the picker: every search runs on it.
int read(GridModel &model, Connection &db, const ListQuery &q, bool all)
{
    model.search(db, q);
    while (all && model.canFetchMore(QModelIndex()))
        model.fetchMore(QModelIndex());
    return model.rowCount();
}

int whole(Connection &db, const ListQuery &q)
{
    auto cursor = db.openCursor(q.sql, q.params);
    QList<QStringList> rows;
    while (cursor->fetch(GridModel({}, false).partSize(), rows)) {
    }
    return int(rows.size());
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    try {
        auto db = openDepartmentDatabase(databaseConfig(args));
        fill(*db, option(args, QStringLiteral("--master"), 5000000), option(args, QStringLiteral("--admitted"), 50000),
             option(args, QStringLiteral("--outpatients"), 100000), option(args, QStringLiteral("--register"), 200000));
        if (args.contains(QStringLiteral("--analyze")))
            db->executeScript(QStringLiteral("ANALYZE;"));
        const int runs = option(args, QStringLiteral("--runs"), 5);
        const int writtenRuns = option(args, QStringLiteral("--written-runs"), 1);
        const QString backend = backendName(db->backend());
        struct Search
        {
            const char *what;
            char kind;
            const char *text;
        };
        const Search searches[] = {{"register", 'R', ""},           {"register prefix", 'R', "BACA"}, {"out-patients", 'O', ""},
                                   {"out-patient prefix", 'O', "BACA"}, {"in-patients", 'I', ""},         {"in-patient substring", 'I', "CADE"},
                                   {"in-patient substring", 'I', "YAB"}, {"in-patient substring", 'I', "LI"}};
        int missed = 0;
        GridModel model({}, false);
        for (const Search &s : searches) {
            const QString text = QLatin1String(s.text);
            const int source = s.kind == 'R' ? 1 : 0;
            const ListQuery ours = PatientStore::pickerSearch(db->backend(), source, QLatin1Char(s.kind), text);
            const Timing written = timed(writtenRuns, [&] { return whole(*db, PatientStore::pickerSearchAsWritten(source, QLatin1Char(s.kind), text)); });
            const QString what = QStringLiteral("%1, %2 \"%3\"").arg(backend, QLatin1String(s.what), text);
            missed += !report(what + QStringLiteral(", first screen"), timed(runs, [&] { return read(model, *db, ours, false); }), written);
            // A prefix search's every row (a part of a name is looked for among all open stays).
            if (!text.isEmpty() && s.kind != 'I')
                missed += !report(what + QStringLiteral(", every row"), timed(runs, [&] { return read(model, *db, ours, true); }), written);
        }
        summary(missed);
        // Opening a picker (window, layout, and the doctor list's opening search).
        const Timing open = timed(runs, [&] {
            frmSelectPatient::pick(nullptr, 0, [](const std::optional<PatientChoice> &) {});
            QApplication::processEvents();
            frmSelectPatient::loaded()->hide();
            return 0;
        });
        std::printf("%s, patient picker opens: median %.1f ms (the first opening builds the window)\n", qPrintable(backend), open.ms);
        delete frmSelectPatient::loaded();
    } catch (const Error &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
    return 0;
}
