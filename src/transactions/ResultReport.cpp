#include "ResultReport.h"

#include "ResultArchive.h"

#include "core/CoreRoutines.h"
#include "core/SharedState.h"
#include "outside/Error.h"
#include "outside/Prompter.h"
#include "session/OpenTransaction.h"

#include <QCoreApplication>

namespace orv {

namespace ResultReport {

using F = OpenTransaction::Field;

QString path()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/ResultPrintSQL.rpt");
}

Report fill(const OpenTransaction &exam)
{
    Report report = Report::open(path());
    const auto v = [&exam](F field) { return formulaEscape(exam.value(field)); };
    const TransactionRecord record = exam.record();
    for (int i = 1; i <= report.formulaFieldCount(); ++i) {
        FormulaField &f = report.formulaField(i);
        if (f.name == QLatin1String("VarDeclaration")) {
            f.text = QStringLiteral("stringvar TransNumber := '") + v(F::TransNo) + QStringLiteral("';")
                + QStringLiteral(" stringvar PatName := '") + formulaEscape(record.shownPatientName()) + QStringLiteral("';")
                + QStringLiteral(" stringvar PatID := '") + formulaEscape(record.shownPatientId()) + QStringLiteral("' ;")
                + QStringLiteral(" stringvar PatGender := '") + v(F::Gender) + QStringLiteral("';")
                + QStringLiteral(" stringvar PatBdate := '") + formulaEscape(shownDate(record.birthDate)) + QStringLiteral("';")
                + QStringLiteral(" stringvar ExamType := '") + v(F::ExamType) + QStringLiteral("';")
                + QStringLiteral(" stringvar ExamName := '") + v(F::ExamName) + QStringLiteral("';")
                + QStringLiteral(" stringvar RefDoc :=  '") + v(F::DocName) + QStringLiteral("';")
                + QStringLiteral(" stringvar TransNo := '") + v(F::TransNo) + QStringLiteral("';")
                + QStringLiteral(" stringvar TransDate := '") + v(F::TransDate) + QStringLiteral("';")
                + QStringLiteral(" stringvar FileNo := '") + v(F::FileNo) + QStringLiteral("';")
                + QStringLiteral(" stringvar ResultDate  :='") + v(F::IntBy) + QStringLiteral("';")
                + QStringLiteral(" stringvar RadName  :='Dr. ") + v(F::RadName) + QStringLiteral("';")
                + QStringLiteral(" stringvar CompanyName  :=' ") + formulaEscape(state().CompanyName) + QStringLiteral("';");
        } else if (f.name == QLatin1String("Int")) {
            f.text = QLatin1Char('\'') + v(F::Interpret) + QLatin1Char('\'');
        }
    }
    report.variables(); // a formula that cannot be read stops here
    return report;
}

void logOn(Report &report)
{
    const LoginComponentType *login = state().LoginComponent.get();
    report.logOn(state().db().config(), login ? login->ServerName() : QString(), login ? login->UserID() : QString(),
                 login ? login->ServerPassword() : QString());
}

void archive(QWidget *parent, std::optional<Report> report)
{
    if (!reportsToArchive())
        return;
    try {
        ResultArchive::start(ResultArchiveRequest::fromState(report ? std::move(*report) : fill(openTransaction())));
    } catch (const Error &e) {
        msgBox(parent, QStringLiteral("The interpretation is saved, but its report cannot be stored in the archive: ") + e.description(),
               Prompter::Icon::Critical);
    }
}

} // namespace ResultReport

} // namespace orv
