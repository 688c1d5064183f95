#pragma once

#include "outside/report/Report.h"

#include <QString>

#include <optional>

class QWidget;

namespace orv {

class OpenTransaction;

// The result report of an exam: the report file in the program's folder, its formulas filled
// from the open transaction (the patient as shown, the exam, the doctors and the interpretation).
// One filling serves the print and the archive.
namespace ResultReport {

// The report file, in the program's folder.
QString path();
// Throws orv::Error when the report file or a formula cannot be read.
Report fill(const OpenTransaction &exam);
// Logs the report on with the login's server and credentials; throws orv::Error when refused.
void logOn(Report &report);
// Stores the report in the archive in the background (ResultArchive) when the ReportToArchive
// setting is on: `report` as filled for printing, else the open transaction's filled now. A
// report file that cannot be read or archive settings that cannot be used are shown over
// `parent`; the interpretation stays saved either way.
void archive(QWidget *parent, std::optional<Report> report = std::nullopt);

} // namespace ResultReport

} // namespace orv
