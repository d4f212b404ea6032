#pragma once

#include "report/reportfigure.h"

#include <QString>
#include <QVector>

struct ReportData;

// A report as one XHTML document, which QXmlStreamReader and browsers both read: the
// verdict and the board's facts, the checks, the protection flags, the cell health,
// the plots and the events, in that order.
//
// For a browser it is self-contained: its style sheet holds the A4 pages (CSS @page),
// the plots are inline SVG, and nothing needs a script. For the PDF, Qt's rich text
// lays out the same document, with each plot an <img src="figure:N"/> that the PDF
// writer plays back as vectors.
enum class HtmlFlavour { Browser, RichText };

// The number of events the report lists; the rest are counted.
constexpr int ReportEventRows = 500;

QString reportHtml(const ReportData &data, const QVector<ReportFigure> &figures,
                   HtmlFlavour flavour);

// "figure:2" names figures[2] in the RichText flavour.
QString figureSource(int index);
int figureIndex(const QString &source); // -1 for any other name

// A figure as an SVG element, without an XML declaration, to go inline into XHTML.
QString figureSvg(const ReportFigure &figure);
