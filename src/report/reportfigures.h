#pragma once

#include "report/reportfigure.h"

#include <QVector>

struct ReportData;

// Draws a report's plots: the trends' three plots as the trends window shows them
// (every cell, current with SOC, temperatures; the limit lines and event marks) over
// the whole session, and the cells' resistance bars when the cell health has them.
// QCustomPlot is a widget: call on the application's thread.
QVector<ReportFigure> drawReportFigures(const ReportData &data);
