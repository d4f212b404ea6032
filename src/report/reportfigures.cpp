#include "report/reportfigures.h"

#include "judge/cellhealth.h"
#include "plot/customplot.h"
#include "plot/trendsannotations.h"
#include "plot/trendsplot.h"
#include "plot/trendstore.h"
#include "report/reportdata.h"

#include <QJsonArray>
#include <algorithm>

namespace {

// The plots are laid out for the width of an A4 page's text at screen resolution, so
// that their lines and letters keep the proportions the trends window has.
constexpr int FigureWidth = 760;
constexpr int TrendsHeight = 640;
constexpr int BarsHeight = 260;

const QColor BarColour(0x1f, 0x77, 0xb4);
const QColor HighColour(0xe0, 0x7b, 0x00);
const QColor WeakestColour(0xd0, 0x00, 0x00);

QFont printFont()
{
    QFont font(QStringLiteral("DejaVu Sans"), 7);
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

// Printed pages read smaller type than a screen: every axis, legend and label of the
// plot gets the report's. Legend entries and labels take it when they are made.
void usePrintFonts(QCustomPlot *plot)
{
    const QFont font = printFont();
    for (int i = 0; i < plot->itemCount(); ++i)
        if (auto *label = qobject_cast<QCPItemText *>(plot->item(i)))
            label->setFont(font);
    for (QCPAxisRect *rect : plot->axisRects())
        for (QCPAxis *axis : rect->axes()) {
            axis->setTickLabelFont(font);
            axis->setLabelFont(font);
        }
    for (QCPLayoutElement *element : plot->plotLayout()->elements(true))
        if (auto *legend = qobject_cast<QCPLegend *>(element))
            legend->setFont(font);
}

ReportFigure picture(QCustomPlot *plot, int height, const QString &caption)
{
    ReportFigure figure;
    figure.caption = caption;
    figure.size = QSize(FigureWidth, height);
    plot->resize(figure.size);
    // A replot lays the plot out for its size after the trends plot has filled its
    // graphs for the width its cells' plot had: the second fills them for this one.
    plot->replot();
    plot->replot();
    QCPPainter painter(&figure.picture);
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    plot->toPainter(&painter, figure.size.width(), figure.size.height());
    painter.end();
    return figure;
}

ReportFigure trendsFigure(const ReportData &data)
{
    TrendsPlot plot;
    usePrintFonts(&plot);
    plot.setStore(data.store.get());
    TrendsAnnotations annotations(&plot, plot.cellRect(), plot.currentRect(),
                                  plot.temperatureRect());
    if (data.judged) {
        annotations.setLimits(data.limits);
        usePrintFonts(&plot);
    }
    annotations.addEvents(data.events);
    // A report goes to people in other time zones: its times are UTC throughout.
    if (auto ticker = qSharedPointerCast<QCPAxisTickerDateTime>(plot.timeAxis()->ticker()))
        ticker->setDateTimeSpec(Qt::UTC);
    plot.temperatureRect()->axis(QCPAxis::atBottom)->setLabel(QObject::tr("Time (UTC)"));
    double from = double(data.session.firstMs()) / 1000.0;
    double to = double(data.session.lastMs()) / 1000.0;
    if (to - from < 1) {
        from -= 0.5;
        to += 0.5;
    }
    plot.setTimeRange(QCPRange(from, to));
    return picture(&plot, TrendsHeight,
                   QObject::tr("Every cell, the current with the state of charge, and the "
                               "temperatures, with the limits (dashed) and the events (red: an "
                               "alarm raised, green: cleared, grey: other)."));
}

// A bar per cell of its resistance, the interquartile range as error bars, the
// weakest cell's bar red, other cells of high resistance orange, and a dashed line at
// the cells' median.
ReportFigure resistanceFigure(const QJsonObject &health)
{
    const QJsonArray cells = health.value(QStringLiteral("cells")).toArray();
    const int weakest =
        health.value(QStringLiteral("weakest")).toObject().value(QStringLiteral("cell")).toInt();
    QCustomPlot plot;
    plot.setAutoAddPlottableToLegend(false);
    QCPAxis *cellAxis = plot.xAxis;
    QCPAxis *valueAxis = plot.yAxis;
    auto *bars = new QCPBars(cellAxis, valueAxis);
    auto *highBars = new QCPBars(cellAxis, valueAxis);
    auto *weakestBar = new QCPBars(cellAxis, valueAxis);
    auto *centres = new QCPGraph(cellAxis, valueAxis);
    centres->setLineStyle(QCPGraph::lsNone);
    auto *spread = new QCPErrorBars(cellAxis, valueAxis);
    spread->setDataPlottable(centres);
    for (QCPBars *b : {bars, highBars, weakestBar}) {
        b->setWidth(0.6);
        b->setPen(Qt::NoPen);
    }
    bars->setBrush(BarColour);
    highBars->setBrush(HighColour);
    weakestBar->setBrush(WeakestColour);
    spread->setPen(QPen(QColor(0x30, 0x30, 0x30), 1));

    QVector<double> values;
    double top = 0;
    for (const QJsonValue &value : cells) {
        const QJsonObject cell = value.toObject();
        const QJsonValue resistance = cell.value(QStringLiteral("resistance_mOhm"));
        if (!resistance.isDouble())
            continue;
        const int number = cell.value(QStringLiteral("cell")).toInt();
        const double r = resistance.toDouble();
        const double iqr = cell.value(QStringLiteral("resistance_iqr_mOhm")).toDouble();
        const bool high = cell.value(QStringLiteral("verdict")).toString() ==
                          QLatin1String(healthVerdictName(HealthVerdict::HighResistance));
        (number == weakest ? weakestBar : high ? highBars : bars)->addData(number, r);
        centres->addData(number, r);
        spread->addData(iqr / 2);
        values << r;
        top = std::max(top, r + iqr / 2);
    }
    if (!values.isEmpty()) {
        std::sort(values.begin(), values.end());
        const int n = values.size();
        const double median =
            n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
        auto *line = new QCPItemStraightLine(&plot);
        line->setPen(QPen(QColor(0x60, 0x60, 0x60), 1, Qt::DashLine));
        line->point1->setCoords(0, median);
        line->point2->setCoords(1, median);
    }
    QSharedPointer<QCPAxisTickerFixed> ticker(new QCPAxisTickerFixed);
    ticker->setTickStep(1);
    cellAxis->setTicker(ticker);
    cellAxis->setRange(0.3, std::max(1, int(cells.size())) + 0.7);
    cellAxis->setLabel(QObject::tr("Cell"));
    cellAxis->grid()->setVisible(false);
    valueAxis->setRange(0, top > 0 ? top * 1.15 : 1);
    valueAxis->setLabel(QObject::tr("Resistance (mΩ)"));
    usePrintFonts(&plot);
    return picture(&plot, BarsHeight,
                   QObject::tr("Each cell's resistance: the median over the current steps, the "
                               "interquartile range as error bars, the weakest cell red, other "
                               "cells of high resistance orange; the dashed line is the cells' "
                               "median."));
}

} // namespace

QVector<ReportFigure> drawReportFigures(const ReportData &data)
{
    QVector<ReportFigure> figures;
    if (data.store && !data.store->isEmpty())
        figures << trendsFigure(data);
    if (!data.health.isEmpty())
        figures << resistanceFigure(data.health);
    return figures;
}
