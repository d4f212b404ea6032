#pragma once

#include "report/reportfigure.h"

#include <QString>
#include <QVector>

class QIODevice;
struct ReportData;

// Writes a report as a PDF to device: A4 pages with the title and the page number at
// the top of each, the text laid out by Qt's rich text from the report's XHTML (so
// that pdftotext gives the tables back), the plots as vectors. Needs no widget: safe
// on a worker thread.
bool writeReportPdf(const ReportData &data, const QVector<ReportFigure> &figures,
                    QIODevice *device);
