#pragma once

#include <QPicture>
#include <QSize>
#include <QString>

// One plot of a report, drawn once as vectors and played back into the PDF's pages or
// an SVG image of the HTML: drawing needs the thread of the widgets, playing back does
// not.
struct ReportFigure
{
    QString caption;
    QPicture picture;
    QSize size; // in the picture's own pixels (QPicture::logicalDpiX)
};
