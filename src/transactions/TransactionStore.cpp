#include "TransactionStore.h"

namespace orv {

namespace {
// Where the list's patient columns come from: the joined patient `p` (register or hospital
// master), or the transaction's copies of them (PostgreSQL, schema 12). In the order of
// columns()'s sources.
enum class Names { Register, Master, RegisterCopies, MasterCopies };

// The columns, in the grid's order.
void columns(QString &q, Names names)
{
    struct Source
    {
        const char *last, *first, *middle, *birth, *sex;
    };
    static constexpr Source sources[] = {{"p.name_last", "p.name_first", "p.name_middle", "p.date_birth", "p.sex_type"},
                                         {"p.LastName", "p.FirstName", "p.MiddleName", "p.birthdate", "sex"},
                                         {"t.list_last", "t.list_first", "t.list_middle", "t.list_birth", "t.list_sex"},
                                         {"t.host_last", "t.host_first", "t.host_middle", "t.host_birth", "t.host_sex"}};
    const Source &s = sources[int(names)];
    q += QStringLiteral("SELECT trans_id as TransID,t.trans_no as TransNo,t.RevenueID as Modality,t.patient_id as RegNum,t.hospnum as HospNum,");
    q += QStringLiteral(" %1 as LastName,%2 as FirstName,%3 as MiddleName,convert(varchar(10), %4, 101) as BDate,%5 as SEX")
             .arg(QLatin1String(s.last), QLatin1String(s.first), QLatin1String(s.middle), QLatin1String(s.birth), QLatin1String(s.sex));
    q += QStringLiteral(" ,E.exam_name AS ExamName ,t.date_trans as TransDate ,t.File_No as FileNo ");
}

// The schema version whose online work fills the transactions' copies of their patients' columns.
constexpr int listCopiesVersion = 12;

Names joined(bool hosp)
{
    return hosp ? Names::Master : Names::Register;
}

// The transaction and its exam (without the FROM).
void withExam(QString &q)
{
    q += QStringLiteral(" pacs..tblTransaction t left outer join pacs..tblExam e ON e.exam_id = t.exam_id ");
}

// The transaction, its exam and its patient (without the FROM).
void joins(QString &q, bool hosp)
{
    withExam(q);
    q += hosp ? QStringLiteral(" INNER JOIN Patient_Data.dbo.tbmaster p ON p.hospnum = t.hospnum ")
              : QStringLiteral(" LEFT OUTER JOIN pacs..tblPatient p ON cast(p.patient_id as varchar) = cast(t.patient_id as varchar) ");
}

// The modality, or every modality.
void modality(Statement &s, const SearchFilter &f)
{
    if (!f.modality.isEmpty()) {
        s.sql += QStringLiteral(" WHERE t.RevenueID=? ");
        s.params << f.modality;
    } else {
        s.sql += QStringLiteral(" WHERE  1=1 ");
    }
}

// The name or number prefix.
void prefix(Statement &s, const SearchFilter &f, bool hosp)
{
    if (f.text.isEmpty())
        return;
    s.sql += hosp ? QStringLiteral("AND (LastName LIKE ? + '%' OR t.trans_no LIKE ? + '%') ")
                  : QStringLiteral("AND (p.name_last LIKE ? + '%' OR t.trans_no LIKE ? + '%') ");
    s.params << f.text << f.text;
}

// The exam date and pending interpretations.
void dateAndPending(Statement &s, const SearchFilter &f)
{
    if (f.dateSpecified) {
        s.sql += QStringLiteral("AND t.date_trans = convert(varchar(10), ?, 101)");
        s.params << f.date.toString(QStringLiteral("MM/dd/yyyy"));
    }
    if (f.pendingOnly)
        s.sql += QStringLiteral(" AND t.interpretation is null  ");
}

void order(Statement &s, bool hosp)
{
    s.sql += hosp ? QStringLiteral("ORDER BY p.LastName , p.FirstName, p.MiddleName,trans_id desc")
                  : QStringLiteral("ORDER BY name_last,name_first,name_middle,trans_no desc");
}
} // namespace

Statement listStatementFromPieces(const SearchFilter &f)
{
    const bool hosp = f.useHospPat == 1;
    Statement s;
    columns(s.sql, joined(hosp));
    s.sql += QStringLiteral(" FROM");
    joins(s.sql, hosp);
    modality(s, f);
    prefix(s, f, hosp);
    dateAndPending(s, f);
    order(s, hosp);
    return s;
}

Statement searchStatement(Backend backend, const SearchFilter &f)
{
    const bool hosp = f.useHospPat == 1;
    Statement s;
    columns(s.sql, joined(hosp));
    if (f.text.isEmpty() && hosp) {
        if (f.dateSpecified)
            return listStatementFromPieces(f); // the date's index finds the few rows
        // The hospital master's name index gives the order of the names (CROSS JOIN keeps it
        // the outer loop on SQLite): only the transactions of one name are sorted at a time.
        s.sql += QStringLiteral(" FROM Patient_Data.dbo.tbmaster p CROSS JOIN pacs..tblTransaction t "
                                "left outer join pacs..tblExam e ON e.exam_id = t.exam_id ");
        modality(s, f);
        s.sql += QStringLiteral("AND p.hospnum = t.hospnum ");
        dateAndPending(s, f);
        order(s, true);
        return s;
    }
    if (f.text.isEmpty()) {
        // The order comes from the transaction's copy of its patient's names (list_last,
        // list_first, list_middle, kept by the schema's triggers), which an index holds in list
        // order: the first screen is read without sorting every transaction.
        s.sql += QStringLiteral(" FROM");
        joins(s.sql, false);
        modality(s, f);
        dateAndPending(s, f);
        s.sql += QStringLiteral("ORDER BY t.list_last,t.list_first,t.list_middle,t.trans_no desc");
        return s;
    }
    // A prefix: the patterns are bound whole so that the database sees their fixed prefix; the
    // prefix condition itself still decides, and the few rows found are sorted.
    const QString pattern = f.text + QLatin1Char('%');
    if (backend == Backend::PostgreSQL) {
        // The rows found are read whole and then sorted (MATERIALIZED): planned for its first
        // rows, the cursor may otherwise walk the list's order index past every name, which
        // took two seconds on some fills of ten million transactions.
        // The transactions whose patient's last name starts with it, and apart from them those
        // whose number does, each read on its own: one OR over the two reads every row, or lets
        // some statistics plan so. The branches do not repeat the other's condition as an OR
        // either: the server would then estimate a row or two where there are thousands, and
        // look up each row's exam by reading the whole exam catalogue.
        // The name's transactions come from one range of the index of the transactions' copies
        // of their patients' columns, once the online work of the schema version that made the
        // copies has filled those of the older transactions; until then from the patients found
        // by name and their transactions. The server decides between the two once, before it
        // reads either.
        const QString name = hosp ? QStringLiteral("p.LastName") : QStringLiteral("p.name_last");
        const QString copied = QStringLiteral("EXISTS (SELECT 1 FROM pacs..tblSchemaOnline WHERE version = %1 AND done_at IS NOT NULL)")
                                   .arg(listCopiesVersion);
        Statement found;
        columns(found.sql, hosp ? Names::MasterCopies : Names::RegisterCopies);
        found.sql += QStringLiteral(" FROM");
        withExam(found.sql);
        modality(found, f);
        found.sql += QStringLiteral("AND %1 LIKE ? AND %2 ").arg(hosp ? QStringLiteral("t.host_last") : QStringLiteral("t.list_last"), copied);
        found.params << pattern;
        dateAndPending(found, f);
        for (const bool byNumber : {false, true}) {
            found.sql += QStringLiteral(" UNION ALL ");
            columns(found.sql, joined(hosp));
            found.sql += QStringLiteral(" FROM");
            joins(found.sql, hosp);
            modality(found, f);
            found.sql += byNumber ? QStringLiteral("AND t.trans_no LIKE ? AND (%1 LIKE ?) IS NOT TRUE ").arg(name)
                                  : QStringLiteral("AND %1 LIKE ? AND NOT %2 ").arg(name, copied);
            found.params << pattern;
            if (byNumber)
                found.params << pattern;
            dateAndPending(found, f);
        }
        s.sql = QStringLiteral("WITH found AS MATERIALIZED (") + found.sql + QStringLiteral(") SELECT * FROM found ORDER BY LastName, FirstName, MiddleName, ")
              + (hosp ? QStringLiteral("TransID desc") : QStringLiteral("TransNo desc"));
        s.params = found.params;
        return s;
    }
    // The transactions of the patients whose last name starts with it, and those whose
    // number does, each found on its own (one OR over both tables reads every row), drive
    // the read (CROSS JOIN keeps them first on SQLite).
    s.sql += hosp ? QStringLiteral(" FROM (SELECT ht.trans_id AS found_id FROM Patient_Data.dbo.tbmaster hp INNER JOIN pacs..tblTransaction ht "
                                   "ON ht.hospnum = hp.hospnum WHERE hp.LastName LIKE ? ")
                  : QStringLiteral(" FROM (SELECT pt.trans_id AS found_id FROM pacs..tblPatient pp INNER JOIN pacs..tblTransaction pt "
                                   "ON pt.patient_id = cast(pp.patient_id as varchar) WHERE pp.name_last LIKE ? ");
    s.sql += QStringLiteral("UNION SELECT nt.trans_id FROM pacs..tblTransaction nt WHERE nt.trans_no LIKE ?) k CROSS JOIN");
    s.params << pattern << pattern;
    joins(s.sql, hosp);
    modality(s, f);
    s.sql += QStringLiteral("AND t.trans_id = k.found_id ");
    prefix(s, f, hosp);
    dateAndPending(s, f);
    order(s, hosp);
    return s;
}

namespace TransactionStore {

QString NextTransNo(Connection &db)
{
    qint64 number = 0;
    db.runLocked(QStringLiteral("pacs..tblTransNo"), [&] {
        RecordSet rs = db.query(QStringLiteral("SELECT trans_no FROM pacs..tblTransNo"));
        if (rs.isEmpty()) {
            number = 1;
            db.execute(QStringLiteral("INSERT INTO pacs..tblTransNo(trans_no) VALUES(?)"), {number});
        } else {
            number = rs.value(QStringLiteral("trans_no")).toLongLong() + 1;
            db.execute(QStringLiteral("UPDATE pacs..tblTransNo SET trans_no=?"), {number});
        }
    });
    return QString::number(number);
}

namespace {
QString personName(const RecordSet &rs, const char *last, const char *first, const char *middle)
{
    return rs.text(QLatin1String(last)) + QStringLiteral(", ") + rs.text(QLatin1String(first)) + QLatin1Char(' ')
         + rs.text(QLatin1String(middle));
}
} // namespace

std::optional<QString> doctorName(Connection &db, const QString &doctorId)
{
    RecordSet rs = db.query(QStringLiteral("SELECT firstname,middlename,lastname FROM build_file..tbcoDoctor WHERE doctorid=?  "), {doctorId});
    if (rs.isEmpty())
        return std::nullopt;
    return personName(rs, "LastName", "FirstName", "MiddleName");
}

std::optional<QString> technologistName(Connection &db, const QString &technologistId)
{
    RecordSet rs = db.query(QStringLiteral("SELECT name_first,name_middle,name_last FROM pacs..tblTechnologist WHERE technologist_id=?"),
                            {technologistId});
    if (rs.isEmpty())
        return std::nullopt;
    return personName(rs, "Name_Last", "Name_First", "Name_Middle");
}

std::optional<QString> examName(Connection &db, const QString &examId)
{
    RecordSet rs = db.query(QStringLiteral("SELECT exam_name FROM pacs..tblExam WHERE exam_id=?"), {examId});
    if (rs.isEmpty())
        return std::nullopt;
    return rs.text(QStringLiteral("exam_name"));
}

std::optional<PatientFields> patient(Connection &db, const QString &key, int useHospPat)
{
    const bool hosp = useHospPat == 1;
    RecordSet rs = hosp ? db.query(QStringLiteral(" SELECT LastName ,  FirstName , MiddleName,BirthDate,sex  ") + QStringLiteral(" FROM ")
                                       + QStringLiteral(" Patient_Data.dbo.tbMaster   ") + QStringLiteral(" WHERE ")
                                       + QStringLiteral(" HospNum =  ? "),
                                   {key})
                        : db.query(QStringLiteral(" SELECT name_last ,  name_first , name_middle,date_birth,sex_type  ") + QStringLiteral(" FROM ")
                                       + QStringLiteral(" pacs..tblPatient   ") + QStringLiteral(" WHERE ")
                                       + QStringLiteral(" patient_id =  ? "),
                                   {key});
    if (rs.isEmpty())
        return std::nullopt;
    PatientFields p;
    p.first = rs.text(QLatin1String(hosp ? "FirstName" : "Name_First")).trimmed();
    p.middle = rs.text(QLatin1String(hosp ? "MiddleName" : "Name_Middle")).trimmed();
    p.last = rs.text(QLatin1String(hosp ? "LastName" : "Name_Last")).trimmed();
    p.gender = rs.text(QLatin1String(hosp ? "Sex" : "sex_type")).trimmed();
    p.birthDate = rs.text(QLatin1String(hosp ? "BirthDate" : "Date_Birth")).trimmed();
    return p;
}

QString userFullName(Connection &db, const QString &userCode)
{
    RecordSet rs = db.query(QStringLiteral("PACS..spPassword_UserName ?"), {userCode});
    return rs.isEmpty() ? QString() : rs.text(QStringLiteral("FullName")).trimmed();
}

RecordSet load(Connection &db, const QString &transNo)
{
    return db.query(QStringLiteral("SELECT * ") + QStringLiteral("FROM pacs..tblTransaction ") + QStringLiteral("WHERE trans_no=?"), {transNo});
}

void save(Connection &db, const OpenTransaction &t)
{
    using F = OpenTransaction;
    const QString no = t.value(F::TransNo);
    const bool exists = !db.query(QStringLiteral("SELECT 1 FROM pacs..tblTransaction WHERE trans_no=?"), {no}).isEmpty();
    const QVariantList values = {no, t.value(F::PatientID), t.value(F::HospNum), t.value(F::ExamType), t.value(F::FileNo),
                                 t.value(F::ExamId), t.value(F::DocID), t.value(F::RadId), t.value(F::TechID),
                                 t.value(F::UserId), t.value(F::TransDate), t.value(F::StudyUID)};
    if (!exists) {
        db.execute(QStringLiteral("INSERT INTO pacs..tblTransaction(trans_no,patient_id,hospnum,RevenueID,file_no,exam_id,refdoc_id,"
                                  "radiologist_id,technologist_id,by_trans,date_trans,StudyUID) VALUES(")
                       + QStringLiteral("?,?,?,?,?,?,?,?,?,?,Convert(varchar(10),?,101)") + QStringLiteral(",?") + QStringLiteral(")"),
                   values);
    } else {
        db.execute(QStringLiteral("update pacs.dbo.tblTransaction ") + QStringLiteral(" set trans_no = ?") + QStringLiteral(",patient_id = ?")
                       + QStringLiteral(",hospnum = ?") + QStringLiteral(",RevenueID = ?") + QStringLiteral(",file_no = ?")
                       + QStringLiteral(",exam_id = ?") + QStringLiteral(",refdoc_id = ?") + QStringLiteral(",radiologist_id = ?")
                       + QStringLiteral(",technologist_id = ?") + QStringLiteral(",by_trans = ?") + QStringLiteral(",date_trans = ?")
                       + QStringLiteral(",StudyUID = ?") + QStringLiteral(" where  trans_no =  ?"),
                   values + QVariantList{no});
    }
    // The worklist order the exam was taken from stays with it for objects stamped after a reopen.
    if (const ScheduledOrder &order = t.scheduledOrder(); !order.isEmpty() && order.accession == no)
        db.execute(QStringLiteral("UPDATE pacs..tblTransaction SET order_step_id=?,order_proc_id=?,order_proc_desc=?,order_study_uid=? "
                                  "WHERE trans_no=?"),
                   {order.scheduledStepId, order.requestedProcedureId, order.requestedProcedureDescription, order.studyUid, no});
    // The series the exam is in now is issued: a reopened exam goes on after it.
    const int series = numericValue(t.value(F::SeriesNum));
    db.execute(QStringLiteral("UPDATE pacs..tblTransaction SET series_num=? WHERE trans_no=? AND (series_num IS NULL OR series_num<?)"),
               {series, no, series});
}

int issueSeriesNumber(Connection &db, const QString &transNo, int atLeast)
{
    int issued = atLeast;
    db.runInTransaction(
        [&] {
            const int changed = db.execute(QStringLiteral("UPDATE pacs..tblTransaction SET series_num=CASE WHEN COALESCE(series_num,0)<? "
                                                          "THEN ? ELSE COALESCE(series_num,0)+1 END WHERE trans_no=?"),
                                           {atLeast, atLeast, transNo});
            if (changed == 0)
                return;
            RecordSet rs = db.query(QStringLiteral("SELECT series_num FROM pacs..tblTransaction WHERE trans_no=?"), {transNo});
            if (!rs.isEmpty())
                issued = rs.value(QStringLiteral("series_num")).toInt();
        },
        true);
    return issued;
}

bool saveInterpretation(Connection &db, const QString &transNo, const QString &interpretation, const QString &radiologistId,
                        const QString &userId, const QString &date)
{
    return db.execute(QStringLiteral("UPDATE pacs..tblTransaction SET interpretation=?,radiologist_id=?,by_interpret=?,date_interpret=? "
                              "WHERE trans_no=?"),
               {interpretation, radiologistId, userId, date, transNo})
         > 0;
}

} // namespace TransactionStore

} // namespace orv
