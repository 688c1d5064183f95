#include "Worklist.h"

#include "core/CoreRoutines.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "masterdata/MasterDataStore.h"
#include "outside/Connection.h"
#include "outside/dicom/WorklistScu.h"
#include "outside/dicom/Toolkit.h"

#include <dcmtk/dcmdata/dcdeftag.h>

#include <QDate>
#include <QElapsedTimer>
#include <QPointer>
#include <QRegularExpression>

namespace orv {

using F = OpenTransaction::Field;

WorklistAnswer WorklistAnswer::from(const dicom::DataSet &answer)
{
    WorklistAnswer a;
    a.cells = dicom::WorklistScu::gridRow(answer);
    a.studyUid = answer.text(DCM_StudyInstanceUID);
    const QList<dicom::DataSet> steps = answer.attribute(DCM_ScheduledProcedureStepSequence).items;
    if (!steps.isEmpty())
        a.scheduledStepId = steps.first().text(DCM_ScheduledProcedureStepID);
    return a;
}

QStringList WorklistModel::headers()
{
    return {QStringLiteral("Accession#"), QStringLiteral("Patient ID"), QStringLiteral("Patient Name"), QStringLiteral("Gender"),
            QStringLiteral("Birthdate"),  QStringLiteral("Doctor Name"), QStringLiteral("Modality"), QStringLiteral("Proc Code"),
            QStringLiteral("Proc Desc"),  QStringLiteral("Date"),        QStringLiteral("Remarks"),  QString()};
}

QList<int> WorklistModel::widthsInTwips() { return {2000, 2000, 5500, 800, 1800, 2500, 800, 1000, 2500, 1500, 2500, 0}; }

int WorklistModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(m_rows.size()); }
int WorklistModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : 12; }

QVariant WorklistModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    // A control character (line break, tab, escape) in a provider's value is shown as U+FFFD: a
    // cell stays one line and shows what was sent.
    QString shown = m_rows.at(index.row()).cells.value(index.column());
    for (QChar &c : shown)
        if (c.category() == QChar::Other_Control)
            c = QChar(0xFFFD);
    return shown;
}

QVariant WorklistModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return headers().value(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

void WorklistModel::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void WorklistModel::append(const QList<WorklistAnswer> &answers)
{
    if (answers.isEmpty())
        return;
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + answers.size() - 1));
    m_rows << answers;
    endInsertRows();
}

// ---------------------------------------------------------------------------------------------

WorklistQuery::~WorklistQuery() { cancel(); }

void WorklistQuery::cancel()
{
    if (m_cancel)
        m_cancel->store(true);
    m_cancel.reset();
}

void WorklistQuery::start(const WorklistSearch &search)
{
    cancel();
    dicom::Peer peer;
    try {
        peer = dicomNodes().worklistPeer();
    } catch (const std::exception &e) {
        emit failed(describe(e));
        return;
    }
    auto stop = std::make_shared<std::atomic_bool>(false);
    m_cancel = stop;
    QPointer<WorklistQuery> self(this);
    auto count = std::make_shared<int>(0); // GUI thread only
    auto broken = std::make_shared<std::atomic_bool>(false);
    auto work = [self, stop, count, broken, peer, search](JobContext &ctx) {
        try {
            const dicom::DataSet id = dicom::WorklistScu::standardIdentifier(search.patientName, search.patientId, search.studyDate,
                                                                             search.modality, search.accession, search.branch);
            // Answers go to the window in batches about 30 ms apart, so that a provider sending
            // thousands costs the GUI a few inserts rather than one per answer.
            QList<WorklistAnswer> batch;
            QElapsedTimer sinceSent;
            sinceSent.start();
            const auto send = [&] {
                if (batch.isEmpty())
                    return;
                ctx.post([self, stop, count, rows = std::move(batch)] {
                    if (self && !stop->load()) {
                        *count += int(rows.size());
                        emit self->answered(rows);
                    }
                });
                batch.clear();
                sinceSent.restart();
            };
            const auto sendWhenDue = [&] {
                if (sinceSent.elapsed() >= 30)
                    send();
            };
            // Asked between answers and while waiting for one: what came is sent meanwhile.
            const auto over = [&] {
                sendWhenDue();
                return stop->load() || ctx.cancelled();
            };
            try {
                dicom::WorklistScu(peer)
                    .run(
                        id,
                        [&](const dicom::DataSet &answer) {
                            batch << WorklistAnswer::from(answer);
                            sendWhenDue();
                        },
                        over);
            } catch (...) {
                send();
                throw;
            }
            send();
        } catch (const std::exception &e) {
            broken->store(true);
            ctx.post([self, stop, why = describe(e)] {
                if (!self || stop->load())
                    return;
                self->m_cancel.reset();
                emit self->failed(why);
            });
        }
    };
    auto finished = [self, stop, count, broken] {
        if (!self || stop->load())
            return;
        self->m_cancel.reset();
        if (!broken->load())
            emit self->finished(*count);
    };
    session().jobs().start(session().openTransNo(), QStringLiteral("worklist"), std::move(work), std::move(finished),
                           JobOptions{false, QString(), 0});
}

// ---------------------------------------------------------------------------------------------

WorklistPatient WorklistPatient::from(const WorklistAnswer &answer)
{
    const QStringList name = answer.cell(WorklistAnswer::PatientName).split(QLatin1Char('^'));
    return {answer.cell(WorklistAnswer::PatientId), name.value(0), name.value(1), name.value(2),
            answer.cell(WorklistAnswer::Birthdate), answer.cell(WorklistAnswer::Gender)};
}

bool useWorklistStudyUid()
{
    const QString v = settings().read(apps::VelmorOrvaline, QStringLiteral("DICOM"), QStringLiteral("UseWorklistStudyUID"),
                                      QStringLiteral("1"));
    return SettingsStore::intOf(v) != 0;
}

namespace WorklistAccept {

namespace {
bool sameBirthDate(const QString &a, const QString &b)
{
    const QDate da = parseShownDate(a), db = parseShownDate(b);
    return !da.isValid() || !db.isValid() || da == db;
}
} // namespace

RegisterMatch findInRegister(Connection &db, const WorklistPatient &p)
{
    const QString id = p.patientId.trimmed();
    if (const auto known = PatientStore::findByHospNum(db, id))
        return {RegisterMatch::Kind::Known, *known};
    // Registered before under the worklist's own number (as numbers were registered earlier).
    static const QRegularExpression number(QStringLiteral("^\\d{1,9}$"));
    if (number.match(id).hasMatch()) {
        if (const auto known = PatientStore::load(db, id); known && known->hospNum.isEmpty())
            return {RegisterMatch::Kind::Known, *known};
    }
    for (const PatientStore::Patient &namesake : PatientStore::unlinkedByName(db, p.lastName, p.firstName)) {
        if (namesake.middle.trimmed() == p.middleName.trimmed() && parseShownDate(namesake.birthDate).isValid()
            && parseShownDate(namesake.birthDate) == parseShownDate(p.birthDate))
            return {RegisterMatch::Kind::Namesake, namesake};
    }
    return {};
}

Result accept(Connection &db, const WorklistAnswer &answer, const WorklistPatient &p, const QString &userCode,
              OpenTransaction &t, bool takeStudyUid, const std::function<bool(const PatientStore::Patient &)> &sameAsRegistered)
{
    const QString id = p.patientId.trimmed();
    if (id.isEmpty())
        dicom::fail(QStringLiteral("The worklist entry has no Patient ID; it cannot be taken into an exam."));
    const QString examId = answer.cell(WorklistAnswer::ProcCode);
    // A doctor field without "^" is a name without an id: no doctor is added or looked up.
    const QStringList doctor = answer.cell(WorklistAnswer::DoctorName).split(QLatin1Char('^'));
    const QString doctorId = doctor.size() > 1 ? doctor.value(0).trimmed() : QString();
    // Values the register cannot hold are refused before anything is written.
    const struct
    {
        const char *what;
        QString value;
        int max;
    } sized[] = {{"Patient ID", id, 10},            {"last name", p.lastName, 50},         {"first name", p.firstName, 50},
                 {"middle name", p.middleName, 50}, {"sex", p.sex, 1},                     {"Proc Code", examId, 10},
                 {"Proc Desc", answer.cell(WorklistAnswer::ProcDesc), 100},                {"doctor id", doctorId, 10},
                 {"doctor's last name", doctor.value(1), 50}, {"doctor's first name", doctor.value(2), 50},
                 {"doctor's middle name", doctor.value(3), 50}};
    for (const auto &f : sized) {
        if (f.value.size() > f.max)
            dicom::fail(QStringLiteral("The worklist entry's %1 is longer than the database holds (%2 characters): \"%3\"")
                            .arg(QLatin1String(f.what))
                            .arg(f.max)
                            .arg(f.value));
    }
    // The accession number becomes the transaction number, and so part of file and folder names.
    requireNameComponent(answer.cell(WorklistAnswer::Accession), QStringLiteral("accession number"));
    // An exam that holds images (or is making them) keeps its patient: its rows follow its
    // number, and would otherwise be filed and sent under the worklist entry's patient.
    const QString openNo = t.value(OpenTransaction::TransNo);
    const ImageRowsModel *openRows = session().existingRows(openNo);
    if (!openNo.isEmpty() && ((openRows && openRows->count() > 0) || session().jobs().hasJobs(openNo)))
        dicom::fail(QStringLiteral("The exam %1 already holds images, so its patient cannot change. Close it and take the "
                                   "worklist entry into a new exam.")
                        .arg(openNo));

    // The person: found by the worklist's Patient ID (checked against the name and birth date),
    // or a namesake of the register without a hospital number whom the operator confirms, or
    // registered now; either way the register holds them once, under the hospital number.
    RegisterMatch match = findInRegister(db, p);
    if (match.kind == RegisterMatch::Kind::Known) {
        if (match.patient.last.trimmed() != p.lastName.trimmed())
            return Result::DifferentName;
        if (!sameBirthDate(match.patient.birthDate, p.birthDate))
            return Result::DifferentBirthDate;
    } else if (match.kind == RegisterMatch::Kind::Namesake && !(sameAsRegistered && sameAsRegistered(match.patient))) {
        match = {};
    }
    const QDate birth = parseShownDate(p.birthDate);
    QString registration = match.patient.id;
    db.runInTransaction([&] {
        if (match.kind == RegisterMatch::Kind::None) {
            static const QRegularExpression number(QStringLiteral("^[1-9]\\d{0,8}$"));
            registration = number.match(id).hasMatch() && !PatientStore::idExists(db, id) ? id : PatientStore::nextId(db);
            PatientStore::add(db, {registration, p.firstName, p.middleName, p.lastName, shownDate(birth), p.sex, id}, userCode);
        } else if (match.patient.hospNum != id) {
            PatientStore::linkHospNum(db, registration, id);
        }
        if (!examId.isEmpty() && !ExamStore::examExists(db, examId))
            ExamStore::addExam(db, examId, answer.cell(WorklistAnswer::ProcDesc), answer.cell(WorklistAnswer::Modality));
        if (!doctorId.isEmpty() && !StaffStore::hospitalDoctorExists(db, doctorId))
            StaffStore::addHospitalDoctor(db, doctorId, doctor.value(1), doctor.value(2), doctor.value(3));
    }, true);

    t.NewTranDefault();
    // Emptied first: the editor empties the patient block when the registration number is
    // emptied, which would take the names filled next.
    t.setValue(F::PatientID, QString());
    t.setValue(F::HospNum, id);
    t.setValue(F::LName, p.lastName);
    t.setValue(F::MName, p.middleName);
    t.setValue(F::FName, p.firstName);
    t.setValue(F::Gender, p.sex);
    t.setValue(F::BDate, shownDate(birth));
    t.setValue(F::PatientID, registration);
    t.setValue(F::TransNo, answer.cell(WorklistAnswer::Accession));
    t.setValue(F::FileNo, QString());
    t.setValue(F::ExamId, examId);
    t.lookup(F::ExamId);
    t.setValue(F::DocID, doctorId);
    t.lookup(F::DocID);
    // The exam is made by the one logged in: User ID and Technologist keep the new exam's
    // defaults (the logged-in user), so the exam records who created it.
    for (F f : {F::RadId, F::Interpret, F::IntBy})
        t.setValue(f, QString());
    const bool takeUid = takeStudyUid && !answer.studyUid.isEmpty();
    if (takeUid)
        t.setValue(F::StudyUID, answer.studyUid);
    t.setScheduledOrder({answer.cell(WorklistAnswer::Accession), examId, answer.cell(WorklistAnswer::ProcDesc),
                         answer.scheduledStepId, takeUid ? answer.studyUid : QString()});
    return Result::Accepted;
}

} // namespace WorklistAccept

} // namespace orv
