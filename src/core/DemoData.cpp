#include "Database.h"

#include "outside/dicom/Toolkit.h"

#include <QDate>

namespace orv {

namespace {
struct Person
{
    const char *last, *first, *middle, *birth, *sex;
};

// Plausible, invented people of a mixed department.
const Person people[] = {
    {"SANTOS", "MARIA", "LOPEZ", "03/14/1958", "F"},   {"REYES", "JOSE", "GARCIA", "11/02/1971", "M"},
    {"O'BRIEN", "SEAN", "PATRICK", "07/22/1984", "M"}, {"MULLER", "ANNA", "KATHARINA", "01/30/1966", "F"},
    {"NAKAMURA", "KENJI", "", "09/09/1949", "M"},      {"DELA CRUZ", "ROSARIO", "MENDOZA", "05/17/1990", "F"},
    {"JOHNSON", "EMILY", "ROSE", "12/01/2001", "F"},   {"NGUYEN", "THANH", "VAN", "04/25/1977", "M"},
    {"RAMOS", "CARMELA", "DIAZ", "08/08/1962", "F"},   {"SMITH", "JOHN", "ALAN", "02/11/1955", "M"},
    {"FERNANDEZ", "LUIS", "ANTONIO", "06/30/1988", "M"}, {"KOWALSKI", "EWA", "MARIA", "10/19/1973", "F"},
    {"AQUINO", "BENIGNO", "CRUZ", "03/03/1969", "M"},  {"TAN", "MEI LING", "", "12/24/1995", "F"},
    {"BROWN", "MICHAEL", "JAMES", "01/05/1980", "M"},  {"GARCIA", "LUCIA", "", "09/15/2010", "F"},
    {"WILLIAMS", "SARAH", "JANE", "11/11/1947", "F"},   {"MENDOZA", "PEDRO", "SANTOS", "07/07/1959", "M"},
    {"LEE", "MIN-JUN", "", "05/05/1992", "M"},         {"BAUTISTA", "GRACE", "VILLANUEVA", "02/28/1985", "F"},
    {"ROSSI", "MARCO", "", "08/19/1970", "M"},         {"DUBOIS", "CLAIRE", "MARIE", "04/01/1964", "F"},
    {"CASTRO", "ANTONIO", "REYES", "10/10/1952", "M"}, {"VILLANUEVA", "ISABEL", "TORRES", "06/06/1998", "F"},
    {"PATEL", "RAJ", "KUMAR", "03/21/1975", "M"},      {"TORRES", "ELENA", "", "12/12/1983", "F"},
    {"MARTIN", "PAUL", "", "01/17/1961", "M"},          {"FLORES", "JASMINE", "ANN", "09/29/2005", "F"},
    {"HERNANDEZ", "CARLOS", "", "11/23/1968", "M"},    {"PASCUAL", "TERESA", "LIM", "07/14/1979", "F"},
};

struct Doctor
{
    const char *id, *last, *first, *middle, *userid, *radiologist;
};
const Doctor doctors[] = {
    {"1001", "VALDEZ", "RICARDO", "M", "", "Y"},   {"1002", "LIM", "CATHERINE", "S", "", "Y"},
    {"1003", "OKAFOR", "NNAMDI", "", "", "Y"},     {"1004", "GONZAGA", "PAOLO", "R", "", "N"},
    {"1005", "SORIANO", "BEATRIZ", "L", "", "N"},  {"1006", "HARTMANN", "KLAUS", "", "", "N"},
    {"1007", "ABELLA", "MIGUEL", "T", "", "N"},    {"1008", "YAP", "DIANA", "C", "", "N"},
};

struct Exam
{
    const char *id, *name, *modality;
};
const Exam exams[] = {
    {"US01", "ABDOMEN, WHOLE", "US"},       {"US02", "KUB", "US"},
    {"US03", "PELVIC, TRANSABDOMINAL", "US"}, {"US04", "THYROID", "US"},
    {"US05", "BREAST, BOTH", "US"},         {"US06", "OBSTETRIC, 2ND-3RD TRIMESTER", "US"},
    {"US07", "HEPATOBILIARY TREE", "US"},   {"US08", "SCROTUM", "US"},
    {"CR01", "CHEST PA", "CR"},             {"CR02", "CHEST PA AND LATERAL", "CR"},
    {"CR03", "LUMBOSACRAL SPINE AP/LAT", "CR"}, {"CT01", "CT BRAIN, PLAIN", "CT"},
    {"CT02", "CT ABDOMEN, WITH CONTRAST", "CT"}, {"MR01", "MRI BRAIN", "MR"},
    {"ES01", "UPPER GI ENDOSCOPY", "ES"},   {"ES02", "COLONOSCOPY", "ES"},
};
} // namespace

bool seedDemoData(Connection &db)
{
    if (!db.query(QStringLiteral("SELECT TOP 1 HospNum FROM Patient_Data.dbo.tbMaster WHERE HospNum = ?"),
                  {QStringLiteral("D0000001")}).isEmpty())
        return false;

    const QDate today = QDate::currentDate();
    const QString now = today.toString(QStringLiteral("MM/dd/yyyy"));
    int n = 0;
    for (const Person &p : people) {
        ++n;
        const QString hosp = QStringLiteral("D%1").arg(n, 7, 10, QLatin1Char('0'));
        db.execute(QStringLiteral("INSERT INTO Patient_Data.dbo.tbMaster(HospNum, IdNum, LastName, FirstName, MiddleName, "
                                  "BirthDate, sex) VALUES(?, ?, ?, ?, ?, ?, ?)"),
                   {hosp, QStringLiteral("ID-%1").arg(n, 5, 10, QLatin1Char('0')), QString::fromUtf8(p.last),
                    QString::fromUtf8(p.first), QString::fromUtf8(p.middle), QString::fromLatin1(p.birth),
                    QString::fromLatin1(p.sex)});
        const QString admitted = today.addDays(-(n % 9)).toString(QStringLiteral("MM/dd/yyyy"));
        if (n % 3 == 0)
            db.execute(QStringLiteral("INSERT INTO Patient_Data.dbo.tbPatient(HospNum, AdmDate, RoomID, DcrDate) VALUES(?, ?, ?, ?)"),
                       {hosp, admitted, QStringLiteral("%1-%2").arg(200 + n % 5).arg(n % 4 + 1), QVariant()});
        else
            db.execute(QStringLiteral("INSERT INTO Patient_Data.dbo.tbOutPatient(HospNum, AdmDate, BillingDate) VALUES(?, ?, ?)"),
                       {hosp, admitted, n % 5 == 0 ? QVariant(now) : QVariant()});
        db.execute(QStringLiteral("INSERT INTO pacs..tblPatient(patient_id, name_last, name_first, name_middle, date_birth, "
                                  "sex_type, by_created, by_updated, date_updated) VALUES(?, ?, ?, ?, ?, ?, ?, ?, getdate())"),
                   {n, QString::fromUtf8(p.last), QString::fromUtf8(p.first), QString::fromUtf8(p.middle),
                    QString::fromLatin1(p.birth), QString::fromLatin1(p.sex), QStringLiteral("DEMO"), QStringLiteral("DEMO")});
    }
    for (const Doctor &d : doctors) {
        db.execute(QStringLiteral("INSERT INTO build_file..tbcoDoctor(DoctorID, LastName, FirstName, MiddleName, userid, Status, "
                                  "Radiologist) VALUES(?, ?, ?, ?, ?, 'A', ?)"),
                   {QString::fromLatin1(d.id), QString::fromLatin1(d.last), QString::fromLatin1(d.first),
                    QString::fromLatin1(d.middle), QString::fromLatin1(d.userid), QString::fromLatin1(d.radiologist)});
        db.execute(QStringLiteral("INSERT INTO pacs..tblDoctor(doctor_id, name_last, name_first, name_middle, radiologist) "
                                  "VALUES(?, ?, ?, ?, ?)"),
                   {QString::fromLatin1(d.id), QString::fromLatin1(d.last), QString::fromLatin1(d.first),
                    QString::fromLatin1(d.middle), QString::fromLatin1(d.radiologist)});
    }
    for (const Exam &e : exams) {
        db.execute(QStringLiteral("INSERT INTO pacs..tblExam(exam_id, exam_name, modality_code) VALUES(?, ?, ?)"),
                   {QString::fromLatin1(e.id), QString::fromLatin1(e.name), QString::fromLatin1(e.modality)});
        if (QByteArray(e.modality) == "CR" || QByteArray(e.modality) == "CT")
            db.execute(QStringLiteral("INSERT INTO build_file..tbcoxrayExam(exam_id, exam_name) VALUES(?, ?)"),
                       {QString::fromLatin1(e.id), QString::fromLatin1(e.name)});
    }
    const char *techs[][4] = {{"T01", "MANALO", "JOY", "B"}, {"T02", "SISON", "MARK", "D"},
                              {"T03", "PEREZ", "ALMA", ""}, {"T04", "WEBER", "JONAS", ""}};
    // Technologists under whole-number ids beside those under the login codes above.
    const char *numberedTechs[][4] = {{"1101", "CRUZ", "ANGELA", "M"}, {"1102", "DIZON", "RAFAEL", "P"},
                                      {"1103", "O'NEIL", "PATRICK", "J"}};
    for (const auto &t : numberedTechs)
        db.execute(QStringLiteral("INSERT INTO pacs..tblTechnologist(technologist_id, name_last, name_first, name_middle) "
                                  "VALUES(?, ?, ?, ?)"),
                   {QString::fromLatin1(t[0]), QString::fromLatin1(t[1]), QString::fromLatin1(t[2]), QString::fromLatin1(t[3])});
    for (const auto &t : techs)
        db.execute(QStringLiteral("INSERT INTO pacs..tblTechnologist(technologist_id, name_last, name_first, name_middle) "
                                  "VALUES(?, ?, ?, ?)"),
                   {QString::fromLatin1(t[0]), QString::fromLatin1(t[1]), QString::fromLatin1(t[2]), QString::fromLatin1(t[3])});
    const char *codes[][3] = {
        {"US01", "1001", "The liver is normal in size with homogeneous echopattern. No focal lesion. The gallbladder, "
                         "pancreas, spleen and both kidneys are unremarkable.\nIMPRESSION: Normal whole abdominal ultrasound."},
        {"US02", "", "Both kidneys are normal in size and echogenicity with no hydronephrosis or calculi. The urinary "
                     "bladder is well distended with smooth walls.\nIMPRESSION: Normal KUB ultrasound."},
        {"US04", "1002", "Both thyroid lobes are normal in size and echotexture. No nodule is seen.\n"
                         "IMPRESSION: Normal thyroid ultrasound."},
        {"CR01", "", "The lungs are clear. The heart is not enlarged. The diaphragm and sulci are intact.\n"
                     "IMPRESSION: Normal chest."},
    };
    for (const auto &c : codes)
        db.execute(QStringLiteral("INSERT INTO pacs..tblExamCode(exam_id, examcode, radiologist_id, by_created, by_updated, "
                                  "date_updated) VALUES(?, ?, ?, 'DEMO', 'DEMO', getdate())"),
                   {QString::fromLatin1(c[0]), QString::fromLatin1(c[2]), QString::fromLatin1(c[1])});
    // A few dozen exams of the last days, some interpreted, numbered from the shared counter.
    const char *modalities[] = {"US", "US", "US", "CR", "US", "ES", "US", "CT"};
    const char *examOf[] = {"US01", "US02", "US04", "CR01", "US06", "ES01", "US05", "CT01"};
    int number = 0;
    for (int i = 0; i < 36; ++i) {
        ++number;
        const int patientNo = (i * 7) % int(std::size(people)) + 1;
        const int k = i % int(std::size(modalities));
        const QString date = today.addDays(-(i % 6)).toString(QStringLiteral("MM/dd/yyyy"));
        db.execute(QStringLiteral("INSERT INTO pacs..tblTransaction(trans_no,patient_id,hospnum,RevenueID,file_no,exam_id,refdoc_id,"
                                  "radiologist_id,technologist_id,by_trans,date_trans,StudyUID) "
                                  "VALUES(?,?,?,?,?,?,?,?,?,?,Convert(varchar(10),?,101),?)"),
                   {QString::number(number), QString::number(patientNo), QString::number(patientNo),
                    QString::fromLatin1(modalities[k]), QStringLiteral("F-%1").arg(1000 + i), QString::fromLatin1(examOf[k]),
                    QString::fromLatin1(doctors[3 + i % 5].id), QString::fromLatin1(doctors[i % 3].id),
                    QString::fromLatin1(techs[i % 4][0]), QString::fromLatin1(techs[i % 4][0]), date, dicom::newUid()});
        if (i % 3 == 0)
            db.execute(QStringLiteral("UPDATE pacs..tblTransaction SET interpretation = ?, by_interpret = ?, date_interpret = getdate() "
                                      "WHERE trans_no = ?"),
                       {QStringLiteral("No significant abnormality."), QString::fromLatin1(doctors[i % 3].id), QString::number(number)});
    }
    db.execute(QStringLiteral("INSERT INTO pacs..tblTransNo(trans_no) VALUES(?)"), {number});
    return true;
}

} // namespace orv
