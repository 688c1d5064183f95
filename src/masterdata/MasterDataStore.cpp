#include "MasterDataStore.h"

#include <QDate>

namespace orv {

QString likeLiteral(const QString &text)
{
    QString out;
    out.reserve(text.size() + 4);
    for (const QChar c : text) {
        if (c == QLatin1Char('!') || c == QLatin1Char('%') || c == QLatin1Char('_') || c == QLatin1Char('['))
            out += QLatin1Char('!');
        out += c;
    }
    return out;
}

namespace {
QString today()
{
    return QDate::currentDate().toString(QStringLiteral("MM/dd/yyyy"));
}

// "Last, First Middle" from a row read with name_first, name_middle, name_last.
QString fullName(const RecordSet &rs)
{
    return rs.text(QStringLiteral("name_last")) + QStringLiteral(", ") + rs.text(QStringLiteral("name_first"))
         + QLatin1Char(' ') + rs.text(QStringLiteral("name_middle"));
}
} // namespace

namespace PatientStore {

ListQuery registerSearch(const QString &text)
{
    ListQuery q{QStringLiteral("SELECT patient_id,name_last,name_first,name_middle FROM pacs..tblPatient "), {}};
    if (!text.isEmpty()) {
        q.sql += QStringLiteral("WHERE name_last LIKE ? ESCAPE '!' ");
        q.params << likeLiteral(text) + QLatin1Char('%');
    }
    // The patient id after the name makes the order total, so that the list can be read in parts.
    q.sql += QStringLiteral("ORDER BY name_last, patient_id");
    return q;
}

ListQuery pickerSearchAsWritten(int source, QChar type, const QString &text)
{
    if (source == 1) {
        // The hospital number where the register knows it, else the registration number.
        ListQuery q{QStringLiteral("SELECT COALESCE(hospnum, CAST(patient_id AS varchar)),patient_id,name_last,name_first,name_middle,"
                                   "convert(varchar(10), date_birth, 101),sex_type FROM pacs..tblPatient "),
                    {}};
        if (!text.isEmpty()) {
            q.sql += QStringLiteral("WHERE name_last LIKE ? ESCAPE '!' ");
            q.params << likeLiteral(text) + QLatin1Char('%');
        }
        q.sql += QStringLiteral("ORDER BY name_last");
        return q;
    }
    if (type == QLatin1Char('I'))
        return {QStringLiteral(
                    "SELECT Mas.HospNum,IdNum, Mas.LastName ,  Mas.FirstName , Mas.MiddleName,BirthDate,sex,InPat.AdmDate AS AdmissionDate, InPat.RoomID  "
                    " FROM  Patient_Data.dbo.tbPatient AS InPat left outer join Patient_Data.dbo.tbMaster as Mas on InPat.HospNum = Mas.HospNum  "
                    " WHERE  Mas.LastName like ? ESCAPE '!'  and InPat.DcrDate IS NULL order by lastname"),
                {QLatin1Char('%') + likeLiteral(text) + QLatin1Char('%')}};
    return {QStringLiteral(
                "SELECT Mas.HospNum ,IdNum, Mas.LastName ,  Mas.FirstName ,Mas.MiddleName,BirthDate,sex, Pat.AdmDate  AS \"Time Registered\"   "
                " FROM  Patient_Data.dbo.tbOutPatient AS Pat left outer join Patient_Data.dbo.tbMaster as Mas on Pat.HospNum = Mas.HospNum  "
                " WHERE pat.BillingDate IS NULL  and  Mas.LastName like ? ESCAPE '!' order by lastname"),
            {likeLiteral(text) + QLatin1Char('%')}};
}

ListQuery pickerSearch(Backend backend, int source, QChar type, const QString &text)
{
    // The statements as written, with a total order (so that the list can be read in parts).
    ListQuery q = pickerSearchAsWritten(source, type, text);
    if (source == 1 && backend == Backend::PostgreSQL && !text.isEmpty()) {
        // The names that start with the text are found whole through the pattern index and
        // sorted: read along the list-order index instead, the server would pass every later
        // name to see that none follows (the register's prefix read whole took 106 ms so, 5 ms
        // this way, of 200,000 patients).
        q.sql = QStringLiteral(
            "WITH found AS MATERIALIZED (SELECT hospnum,patient_id,name_last,name_first,name_middle,date_birth,sex_type "
            "FROM pacs..tblPatient WHERE name_last LIKE ? ESCAPE '!') "
            "SELECT COALESCE(hospnum, CAST(patient_id AS varchar)),patient_id,name_last,name_first,name_middle,"
            "convert(varchar(10), date_birth, 101),sex_type FROM found ORDER BY name_last, patient_id");
        return q;
    }
    if (source == 1) {
        q.sql += QStringLiteral(", patient_id");
        return q;
    }
    const bool inPatients = type == QLatin1Char('I');
    if (backend == Backend::SqlServer) {
        // The hospital's own tables as they stand. Out-patients: the WHERE clause needs a master
        // row, so the outer join is an inner one, driven by the names that start with the text.
        if (inPatients) {
            q.sql += QStringLiteral(", Mas.HospNum, InPat.AdmDate");
            return q;
        }
        q.sql = QStringLiteral(
            "SELECT Mas.HospNum ,IdNum, Mas.LastName ,  Mas.FirstName ,Mas.MiddleName,BirthDate,sex, Pat.AdmDate  AS \"Time Registered\"   "
            " FROM  Patient_Data.dbo.tbMaster AS Mas CROSS JOIN Patient_Data.dbo.tbOutPatient AS Pat "
            " WHERE Pat.HospNum = Mas.HospNum AND pat.BillingDate IS NULL  and  Mas.LastName like ? ESCAPE '!' "
            "order by lastname, Mas.HospNum, Pat.AdmDate");
        return q;
    }
    // The open stays and unbilled visits carry a copy of their patient's last name (list_last,
    // kept by the schema's triggers; NULL without a master row), indexed over the open ones
    // alone: the in-patients are read in name order with the part of the name looked for along
    // it, the out-patients found by the name's start; only then is each looked up in the master
    // (CROSS JOIN keeps the stays first on SQLite), so a first screen looks up one screen.
    if (inPatients) {
        q.sql = QStringLiteral(
            "SELECT Mas.HospNum,IdNum, Mas.LastName ,  Mas.FirstName , Mas.MiddleName,BirthDate,sex,InPat.AdmDate AS AdmissionDate, InPat.RoomID "
            " FROM Patient_Data.dbo.tbPatient AS InPat CROSS JOIN Patient_Data.dbo.tbMaster AS Mas "
            " WHERE InPat.DcrDate IS NULL AND InPat.list_last like ? ESCAPE '!' AND Mas.HospNum = InPat.HospNum "
            "order by InPat.list_last, InPat.HospNum, InPat.AdmDate");
    } else {
        q.sql = QStringLiteral(
            "SELECT Mas.HospNum ,IdNum, Mas.LastName ,  Mas.FirstName ,Mas.MiddleName,BirthDate,sex, Pat.AdmDate  AS \"Time Registered\"   "
            " FROM Patient_Data.dbo.tbOutPatient AS Pat CROSS JOIN Patient_Data.dbo.tbMaster AS Mas "
            " WHERE Pat.BillingDate IS NULL AND Pat.list_last like ? ESCAPE '!' AND Mas.HospNum = Pat.HospNum "
            "order by Pat.list_last, Pat.HospNum, Pat.AdmDate");
    }
    return q;
}

bool hasTransactions(Connection &db, const QString &id)
{
    return !db.query(QStringLiteral("SELECT 1 FROM pacs..tblTransaction WHERE patient_id=?"), {id}).isEmpty();
}

void remove(Connection &db, const QString &id)
{
    db.execute(QStringLiteral("DELETE FROM pacs..tblPatient WHERE patient_id=?"), {id});
}

QString nextId(Connection &db)
{
    RecordSet rs = db.query(QStringLiteral("SELECT TOP 1 patient_id FROM pacs..tblPatient ORDER BY patient_id DESC"));
    if (rs.isEmpty())
        return QStringLiteral("1");
    return QString::number(rs.text(QStringLiteral("patient_id")).toLongLong() + 1);
}

bool idExists(Connection &db, const QString &id)
{
    return !db.query(QStringLiteral("SELECT 1 FROM pacs..tblPatient WHERE patient_id=?"), {id.trimmed()}).isEmpty();
}

void add(Connection &db, const Patient &p, const QString &userId)
{
    db.execute(QStringLiteral("INSERT INTO pacs..tblPatient(patient_id,name_first,name_middle,name_last,date_birth,sex_type,by_created,"
                              "hospnum) VALUES(?,?,?,?,?,?,?,?)"),
               {p.id, p.first, p.middle, p.last, p.birthDate, p.sex, userId, p.hospNum.isEmpty() ? QVariant() : QVariant(p.hospNum)});
}

namespace {
const QString kPatientColumns = QStringLiteral("patient_id,name_first,name_last,name_middle,date_birth,sex_type,hospnum");

Patient patientOf(const RecordSet &rs)
{
    return Patient{rs.text(QStringLiteral("patient_id")), rs.text(QStringLiteral("name_first")), rs.text(QStringLiteral("name_middle")),
                   rs.text(QStringLiteral("name_last")),  rs.text(QStringLiteral("date_birth")), rs.text(QStringLiteral("sex_type")),
                   rs.text(QStringLiteral("hospnum"))};
}
} // namespace

std::optional<Patient> load(Connection &db, const QString &id)
{
    RecordSet rs = db.query(QStringLiteral("SELECT ") + kPatientColumns + QStringLiteral(" FROM pacs..tblPatient WHERE patient_id=?"), {id});
    if (rs.isEmpty())
        return std::nullopt;
    Patient p = patientOf(rs);
    p.id = id;
    return p;
}

std::optional<Patient> findByHospNum(Connection &db, const QString &hospNum)
{
    RecordSet rs = db.query(QStringLiteral("SELECT TOP 1 ") + kPatientColumns
                                + QStringLiteral(" FROM pacs..tblPatient WHERE hospnum=? ORDER BY patient_id"),
                            {hospNum});
    if (rs.isEmpty())
        return std::nullopt;
    return patientOf(rs);
}

QList<Patient> unlinkedByName(Connection &db, const QString &last, const QString &first)
{
    QList<Patient> found;
    for (RecordSet rs = db.query(QStringLiteral("SELECT ") + kPatientColumns
                                     + QStringLiteral(" FROM pacs..tblPatient WHERE name_last=? AND name_first=? AND hospnum IS NULL "
                                                      "ORDER BY patient_id"),
                                 {last, first});
         !rs.eof(); rs.moveNext())
        found << patientOf(rs);
    return found;
}

void linkHospNum(Connection &db, const QString &id, const QString &hospNum)
{
    db.execute(QStringLiteral("UPDATE pacs..tblPatient SET hospnum=? WHERE patient_id=?"), {hospNum, id});
}

void update(Connection &db, const Patient &p, const QString &userId)
{
    db.execute(QStringLiteral("UPDATE pacs..tblPatient SET name_first=?,name_middle=?,name_last=?,date_birth=?,sex_type=?,"
                              "by_updated=?,date_updated=? WHERE patient_id=?"),
               {p.first, p.middle, p.last, p.birthDate, p.sex, userId, today(), p.id});
}

} // namespace PatientStore

namespace StaffStore {

ListQuery doctorSearch(const QString &text)
{
    return {QStringLiteral("DICOM.dbo.spRADIOLOGY_SearchDoctors ?, ?"), {QStringLiteral("0"), text}};
}

ListQuery radiologistSearch(const QString &text, bool radiologistsOnly)
{
    ListQuery q{QStringLiteral("SELECT LastName + ', ' + FirstName + ' ' + MiddleName AS FullName, DoctorID "
                               " FROM BUILD_FILE..tbCoDoctor  WHERE Status = 'A' "),
                {}};
    if (!text.isEmpty()) {
        q.sql += QStringLiteral(" AND LastName LIKE ? ESCAPE '!' ");
        q.params << likeLiteral(text) + QLatin1Char('%');
    }
    if (radiologistsOnly)
        q.sql += QStringLiteral(" and Radiologist = 'Y' ");
    q.sql += QStringLiteral(" ORDER BY FullName, DoctorID");
    return q;
}

ListQuery technologistSearch(const QString &text)
{
    ListQuery q{QStringLiteral("SELECT technologist_id,name_last,name_first,name_middle FROM pacs..tblTechnologist "), {}};
    if (!text.isEmpty()) {
        q.sql += QStringLiteral("WHERE name_last LIKE ? ESCAPE '!' ");
        q.params << likeLiteral(text) + QLatin1Char('%');
    }
    q.sql += QStringLiteral("ORDER BY name_last, technologist_id");
    return q;
}

void addTechnologist(Connection &db, const QString &id, const QString &last, const QString &first, const QString &middle)
{
    db.execute(QStringLiteral("Insert into pacs..tblTechnologist(technologist_id,name_last,name_first,name_middle)  values(?,?,?,? )"),
               {id, last, first, middle});
}

void updateTechnologist(Connection &db, const QString &id, const QString &last, const QString &first, const QString &middle)
{
    db.execute(QStringLiteral("update pacs..tblTechnologist set name_last= ?, name_first= ?, name_middle= ? where technologist_id = ?"),
               {last, first, middle, id});
}

bool hospitalDoctorExists(Connection &db, const QString &doctorId)
{
    return !db.query(QStringLiteral("select * from build_file..tbcoDoctor where doctorid=? "), {doctorId}).isEmpty();
}

void addHospitalDoctor(Connection &db, const QString &doctorId, const QString &last, const QString &first,
                       const QString &middle)
{
    db.execute(QStringLiteral("INSERT INTO build_file..tbcoDoctor(doctorid,lastname,firstname,middlename) VALUES(?,?,?,?)"),
               {doctorId, last, first, middle});
}

std::optional<QString> doctorName(Connection &db, const QString &doctorId, bool radiologistOnly)
{
    RecordSet rs = db.query(QStringLiteral("SELECT name_first,name_middle,name_last FROM pacs..tblDoctor WHERE doctor_id=?")
                                + (radiologistOnly ? QStringLiteral(" AND radiologist='Y'") : QString()),
                            {doctorId});
    if (rs.isEmpty())
        return std::nullopt;
    return fullName(rs);
}

} // namespace StaffStore

namespace ExamStore {

ListQuery examSearch(const QString &modality, const QString &text)
{
    ListQuery q{QStringLiteral("SELECT exam_id, exam_name, modality_code FROM pacs..tblExam WHERE modality_code=? "), {modality}};
    if (!text.isEmpty()) {
        q.sql += QStringLiteral("AND exam_name LIKE ? ESCAPE '!' ");
        q.params << likeLiteral(text) + QLatin1Char('%');
    }
    q.sql += QStringLiteral("ORDER BY exam_name, exam_id");
    return q;
}

void addExam(Connection &db, const QString &id, const QString &name, const QString &modality)
{
    db.execute(QStringLiteral("Insert into PACS.dbo.tblExam(exam_id,exam_name,modality_code) values(?,?,?)"), {id, name, modality});
}

bool examExists(Connection &db, const QString &id)
{
    return !db.query(QStringLiteral("select * from  PACS.dbo.tblExam where exam_id=?"), {id}).isEmpty();
}

void updateExam(Connection &db, const QString &id, const QString &name, const QString &modality)
{
    db.execute(QStringLiteral("update PACS.dbo.tblExam set exam_name=?,modality_code=?  where exam_id = ?  "), {name, modality, id});
}

void deleteExam(Connection &db, const QString &id, const QString &modality)
{
    db.execute(QStringLiteral("delete from PACS.dbo.tblExam where exam_id=? and modality_code = ?"), {id, modality});
}

std::optional<QString> examName(Connection &db, const QString &examId)
{
    RecordSet rs = db.query(QStringLiteral("SELECT exam_name FROM pacs.dbo.tblExam WHERE exam_id=?"), {examId});
    if (rs.isEmpty())
        return std::nullopt;
    return rs.text(QStringLiteral("exam_name"));
}

ListQuery codedSearch(bool pacsExamCodes, const QString &modality, const QString &text, const QString &radiologistId)
{
    ListQuery q;
    if (pacsExamCodes) {
        q.sql = QStringLiteral("SELECT EC.examcode_id, EC.exam_id, EX.exam_name, (D.name_last + ', ' + D.name_first + ' ' + D.name_middle) as rad_name, examcode "
                               "FROM pacs.dbo.tblExam EX INNER JOIN (pacs.dbo.tblExamCode EC LEFT OUTER JOIN pacs.dbo.tblDoctor D ON EC.radiologist_id=D.doctor_id)ON EC.exam_id=EX.exam_id "
                               "WHERE modality_code=? ");
        q.params << modality;
    } else {
        q.sql = QStringLiteral("SELECT EC.examcode_id, EC.exam_id, EX.exam_name, (D.name_last + ', ' + D.name_first + ' ' + D.name_middle) as rad_name "
                               "FROM build_file.dbo.tbcoxrayExam EX INNER JOIN (pacs.dbo.tblExamCode EC LEFT OUTER JOIN pacs.dbo.tblDoctor D ON EC.radiologist_id=D.doctor_id)ON EC.exam_id=EX.exam_id ");
    }
    if (!text.isEmpty()) {
        q.sql += QStringLiteral(" and EX.exam_name LIKE ? ESCAPE '!' ");
        q.params << likeLiteral(text) + QLatin1Char('%');
    }
    if (!radiologistId.isEmpty()) {
        q.sql += QStringLiteral(" AND EC.radiologist_id=? ");
        q.params << radiologistId;
    }
    q.sql += QStringLiteral("ORDER BY exam_name, name_last, name_first, name_middle, EC.examcode_id");
    return q;
}

QString examCodeText(Connection &db, const QString &examCodeId)
{
    RecordSet rs = db.query(QStringLiteral(" SELECT  examcode  FROM pacs.dbo.tblExamCode  WHERE examcode_id = ?"), {examCodeId});
    return rs.isEmpty() ? QString() : rs.text(QStringLiteral("Examcode"));
}

void deleteExamCode(Connection &db, const QString &examCodeId)
{
    db.execute(QStringLiteral("DELETE FROM pacs.dbo.tblExamCode WHERE examcode_id=?"), {examCodeId});
}

void addExamCode(Connection &db, const QString &examId, const QString &text, const QString &radiologistId, const QString &userId)
{
    if (radiologistId.isEmpty())
        db.execute(QStringLiteral("INSERT INTO pacs.dbo.tblExamCode(exam_id,examcode,by_created) VALUES(?,?,?)"), {examId, text, userId});
    else
        db.execute(QStringLiteral("INSERT INTO PACS.dbo.tblExamCode(exam_id,examcode,radiologist_id,by_created) VALUES(?,?,?,?)"),
                   {examId, text, radiologistId, userId});
}

std::optional<ExamCode> loadExamCode(Connection &db, const QString &examCodeId)
{
    RecordSet rs = db.query(QStringLiteral("SELECT exam_id,examcode,radiologist_id FROM PACS.dbo.tblExamCode WHERE examcode_id=?"), {examCodeId});
    if (rs.isEmpty())
        return std::nullopt;
    return ExamCode{rs.text(QStringLiteral("exam_id")), rs.text(QStringLiteral("examcode")), rs.text(QStringLiteral("radiologist_id"))};
}

void updateExamCode(Connection &db, const QString &examCodeId, const QString &text, const QString &userId)
{
    db.execute(QStringLiteral("UPDATE PACS.dbo.tblExamCode SET examcode=?,by_updated=?,date_updated=? WHERE examcode_id=?"),
               {text, userId, today(), examCodeId});
}

} // namespace ExamStore

} // namespace orv
