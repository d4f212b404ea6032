#include "report/reportpdf.h"

#include "report/reportdata.h"
#include "report/reporthtml.h"
#include "report/reporttext.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>
#include <QTextObjectInterface>
#include <keldro_version.h>

namespace {

// The page in CSS pixels (96 per inch), as the HTML report's: the plots, drawn for a
// screen, keep their proportions. Margins as the HTML's @page.
constexpr int Resolution = 96;
constexpr qreal MillimetresToPixels = Resolution / 25.4;
const QMarginsF PageMargins(14 * MillimetresToPixels, 20 * MillimetresToPixels,
                            14 * MillimetresToPixels, 16 * MillimetresToPixels);

// Plays a figure back where the rich text puts its <img>, scaled to the width of the
// page's text.
class FigureObject : public QObject, public QTextObjectInterface
{
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)

public:
    FigureObject(const QVector<ReportFigure> &figures, qreal width) : figures(figures), width(width)
    {}

    QSizeF intrinsicSize(QTextDocument *, int, const QTextFormat &format) override
    {
        const ReportFigure *figure = figureOf(format);
        if (!figure)
            return QSizeF();
        return QSizeF(width, width * figure->size.height() / figure->size.width());
    }

    void drawObject(QPainter *painter, const QRectF &rect, QTextDocument *, int,
                    const QTextFormat &format) override
    {
        const ReportFigure *figure = figureOf(format);
        // A plot sets clip rectangles of its own, which replace the page's: a figure
        // that is not on the page drawn now must not be played at all.
        if (!figure || (painter->hasClipping() &&
                        !painter->clipBoundingRect().adjusted(-1, -1, 1, 1).contains(rect)))
            return;
        // QPicture plays back scaled from its resolution to the device's.
        const qreal played = figure->size.width() * qreal(painter->device()->logicalDpiX()) /
                             figure->picture.logicalDpiX();
        painter->save();
        painter->translate(rect.topLeft());
        painter->scale(rect.width() / played, rect.width() / played);
        painter->drawPicture(0, 0, figure->picture);
        painter->restore();
    }

private:
    const ReportFigure *figureOf(const QTextFormat &format) const
    {
        const int index = figureIndex(format.toImageFormat().name());
        return index >= 0 && index < figures.size() ? &figures.at(index) : nullptr;
    }

    const QVector<ReportFigure> &figures;
    qreal width;
};

void drawPageFrame(QPainter *painter, const QRectF &page, const QString &title, int number,
                   int count)
{
    painter->save();
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(7.5);
    font.setStyleStrategy(QFont::PreferNoShaping);
    painter->setFont(font);
    painter->setPen(QColor(0x44, 0x44, 0x44));
    const QFontMetricsF metrics(font, painter->device());
    const qreal top = PageMargins.top() - 2.2 * metrics.height();
    const QString pageText = QStringLiteral("page %1 of %2").arg(number).arg(count);
    const qreal pageWidth = metrics.horizontalAdvance(pageText);
    const QRectF line(PageMargins.left(), top,
                      page.width() - PageMargins.left() - PageMargins.right(), metrics.height());
    painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                      metrics.elidedText(title, Qt::ElideRight, line.width() - pageWidth - 20));
    painter->drawText(line, Qt::AlignRight | Qt::AlignVCenter, pageText);
    painter->setPen(QPen(QColor(0x88, 0x88, 0x88), 0.5));
    painter->drawLine(QPointF(line.left(), line.bottom() + 3),
                      QPointF(line.right(), line.bottom() + 3));
    painter->restore();
}

} // namespace

bool writeReportPdf(const ReportData &data, const QVector<ReportFigure> &figures, QIODevice *device)
{
    QPdfWriter writer(device);
    writer.setResolution(Resolution);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setTitle(data.title);
    writer.setCreator(QStringLiteral("keldro %1").arg(QStringLiteral(KELDRO_VERSION)));
    const QRectF page = writer.pageLayout().fullRectPixels(Resolution);
    const QRectF body = page.marginsRemoved(PageMargins);

    QTextDocument document;
    document.setUseDesignMetrics(true);
    document.documentLayout()->setPaintDevice(&writer);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(8.5);
    // Without ligatures: "firmware" stays five letters that pdftotext and a search find.
    font.setStyleStrategy(QFont::PreferNoShaping);
    document.setDefaultFont(font);
    document.setDocumentMargin(0);
    FigureObject figureObject(figures, body.width());
    document.documentLayout()->registerHandler(QTextFormat::ImageObject, &figureObject);
    document.setHtml(reportHtml(data, figures, HtmlFlavour::RichText));
    document.setPageSize(body.size());

    QPainter painter;
    if (!painter.begin(&writer))
        return false;
    const int pages = document.pageCount();
    for (int i = 0; i < pages; ++i) {
        if (i > 0 && !writer.newPage())
            return false;
        drawPageFrame(&painter, page, data.title, i + 1, pages);
        painter.save();
        const QRectF shown(0, i * body.height(), body.width(), body.height());
        painter.translate(body.left(), body.top() - shown.top());
        painter.setClipRect(shown);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = shown;
        document.documentLayout()->draw(&painter, context);
        painter.restore();
    }
    return painter.end();
}

#include "reportpdf.moc"
