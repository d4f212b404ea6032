#include "report/reporthtml.h"

#include "judge/cellhealthestimator.h"
#include "judge/checkrow.h"
#include "plot/trendstore.h"
#include "protocol/displaytext.h"
#include "record/recordformat.h"
#include "report/reportdata.h"
#include "report/reporttext.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QJsonArray>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgGenerator>
#include <keldro_version.h>

using namespace ReportText;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ReportHtml", text);
}

// The browser's pages: A4 with the title at the top and the page number at the bottom
// of each; on screen, a sheet as wide as the page's text.
const char BrowserStyle[] = R"(
@page { size: A4; margin: 20mm 14mm 16mm 14mm;
  @top-left { content: "%1"; font: 8pt "DejaVu Sans", sans-serif; color: #444; }
  @bottom-right { content: "page " counter(page) " of " counter(pages); font: 8pt "DejaVu Sans", sans-serif; color: #444; } }
html { background: #e8e8e8; }
body { font-family: "DejaVu Sans", Verdana, sans-serif; font-size: 9pt; color: #111; background: #fff;
  max-width: 182mm; margin: 0 auto; padding: 10mm 12mm; }
@media print { html { background: none; } body { max-width: none; margin: 0; padding: 0; } }
h1 { font-size: 15pt; margin: 0 0 4pt 0; }
h2 { font-size: 11.5pt; margin: 14pt 0 4pt 0; border-bottom: 0.5pt solid #888; page-break-after: avoid; }
table { border-collapse: collapse; }
table.rows { width: 100%; }
table.rows th, table.rows td { border: 0.5pt solid #bbb; padding: 1.5pt 4pt; text-align: left; vertical-align: top; }
table.rows th { background: #eee; }
thead { display: table-header-group; }
tr { page-break-inside: avoid; }
table.facts td { padding: 0.5pt 8pt 0.5pt 0; vertical-align: top; }
td.label { color: #555; white-space: nowrap; }
td.verdict { font-size: 38pt; font-weight: bold; padding-right: 14pt; vertical-align: top; white-space: nowrap; }
.pass { color: #1a7f37; } .fail { color: #c62828; } .error { color: #b25e00; } .notjudged { color: #666; }
td.fail, td.error { font-weight: bold; }
td.time { white-space: nowrap; }
p.notice { border: 1pt solid #c62828; color: #c62828; padding: 4pt; }
div.figure { page-break-inside: avoid; margin: 8pt 0; }
div.figure svg { width: 100%; height: auto; }
p.caption { font-size: 8pt; color: #444; margin-top: 2pt; }
)";

// What Qt's rich text reads of the same: no pages (the PDF writer makes them), no
// shorthand it does not know.
const char RichTextStyle[] = R"(
h1 { font-size: 15pt; margin-bottom: 4px; }
h2 { font-size: 11.5pt; margin-top: 18px; margin-bottom: 6px; }
th { background-color: #eeeeee; text-align: left; }
td.label { color: #555555; padding-right: 10px; }
td.verdict { font-size: 38pt; font-weight: bold; white-space: nowrap; }
.pass { color: #1a7f37; } .fail { color: #c62828; } .error { color: #b25e00; } .notjudged { color: #666666; }
td.fail, td.error { font-weight: bold; }
td.time { white-space: nowrap; }
p.notice { color: #c62828; font-weight: bold; }
p.caption { font-size: 8pt; color: #444444; }
)";

class Writer
{
public:
    Writer(const ReportData &data, const QVector<ReportFigure> &figures, HtmlFlavour flavour)
        : data(data), figures(figures), flavour(flavour)
    {}

    QString write();

private:
    void summary();
    void facts();
    void checks();
    void flags();
    void health();
    void plots();
    void events();

    void fact(const QString &label, const QString &value);
    void tableStart(const QStringList &headings);
    // classes: the cells' CSS classes, by column; fewer than cells leaves the rest without.
    void row(const QStringList &cells, const QStringList &classes = QStringList());
    void tableEnd() { html += QStringLiteral("</tbody></table>\n"); }
    void paragraph(const QString &text, const QString &cssClass = QString());
    void heading(const QString &text) { html += QStringLiteral("<h2>%1</h2>\n").arg(xml(text)); }
    // The plots start a page of their own, so that their heading stays with them.
    void headingOnNewPage(const QString &text)
    {
        html += QStringLiteral("<h2 style=\"page-break-before: always\">%1</h2>\n").arg(xml(text));
    }

    const ReportData &data;
    const QVector<ReportFigure> &figures;
    HtmlFlavour flavour;
    QString html;
};

QString verdictClass(ReportData::Verdict verdict)
{
    switch (verdict) {
    case ReportData::Verdict::Pass:
        return QStringLiteral("pass");
    case ReportData::Verdict::Fail:
        return QStringLiteral("fail");
    case ReportData::Verdict::Error:
        return QStringLiteral("error");
    case ReportData::Verdict::NotJudged:
        break;
    }
    return QStringLiteral("notjudged");
}

// A CSS string: the title in the pages' margin.
QString cssString(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    quoted.replace(QLatin1Char('<'), QStringLiteral("\\3c "));
    quoted.replace(QLatin1Char('&'), QStringLiteral("\\26 "));
    for (QChar &c : quoted)
        if (c.unicode() < 0x20)
            c = QLatin1Char(' ');
    return quoted;
}

QString optionalNumber(const QJsonValue &value, int decimals, const QString &unit = QString())
{
    if (!value.isDouble())
        return QStringLiteral("–");
    return decimal(value.toDouble(), decimals) +
           (unit.isEmpty() ? QString() : QLatin1Char(' ') + unit);
}

QString Writer::write()
{
    html += QStringLiteral("<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" "
                           "lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n<title>%1</title>\n"
                           "<style>")
                .arg(xml(data.title));
    // A browser reads a style sheet as raw text, an XML parser decodes it: with no < and
    // no & in it, both read the same.
    html += flavour == HtmlFlavour::Browser
                ? QString::fromUtf8(BrowserStyle).arg(cssString(data.title))
                : QString::fromUtf8(RichTextStyle);
    html += QStringLiteral("</style>\n</head>\n<body>\n");
    summary();
    checks();
    flags();
    health();
    plots();
    events();
    html += QStringLiteral("</body>\n</html>\n");
    return html;
}

void Writer::summary()
{
    const ReportData::Verdict verdict = data.verdict();
    html += QStringLiteral("<table class=\"summary\" width=\"100%\" cellspacing=\"0\" "
                           "cellpadding=\"0\"><tr>\n<td class=\"verdict %1\">%2</td>\n<td>\n"
                           "<h1>%3</h1>\n")
                .arg(verdictClass(verdict), verdictWord(verdict), xml(data.title));
    facts();
    html += QStringLiteral("</td></tr></table>\n");
    if (!data.notice.isEmpty())
        paragraph(data.notice, QStringLiteral("notice"));
}

void Writer::facts()
{
    const BoardSession &session = data.session;
    const Telemetry &board = session.newest();
    html += QStringLiteral("<table class=\"facts\" cellspacing=\"0\" cellpadding=\"1\">\n");
    fact(tr("Board"), tr("%1, firmware %2")
                          .arg(DisplayText::model(board.model),
                               DisplayText::version(board.versionMajor, board.versionMinor)));
    fact(tr("Cells"),
         tr("%1 of type %2").arg(board.cellCount).arg(DisplayText::cellType(board.cellType)));
    fact(tr("Manufactured"), DisplayText::manufactureDate(board.manufactureDate));
    fact(tr("Cycles"), session.firstCycleCount() == board.cycleCount
                           ? QString::number(board.cycleCount)
                           : tr("%1 (%2 at the first frame)")
                                 .arg(board.cycleCount)
                                 .arg(session.firstCycleCount()));
    QString port = session.port();
    if (!data.otherPorts.isEmpty())
        port +=
            tr(" (the recording also holds %1)").arg(data.otherPorts.join(QStringLiteral(", ")));
    fact(tr("Port"), port);
    fact(tr("Source"), data.source);
    fact(tr("First frame"),
         tr("%1 (local %2)").arg(utcTime(session.firstMs()), localTime(session.firstMs())));
    fact(tr("Last frame"),
         tr("%1 (local %2)").arg(utcTime(session.lastMs()), localTime(session.lastMs())));
    fact(tr("Frames"), tr("%1 over %2; %3 gaps of more than %4 s (longest pause %5)")
                           .arg(session.frames())
                           .arg(duration(session.lastMs() - session.firstMs()))
                           .arg(session.gaps())
                           .arg(BoardSession::GapMs / 1000)
                           .arg(duration(session.longestPauseMs())));
    fact(tr("Limits"), data.judged ? data.limitsFile : tr("none: not judged"));
    fact(tr("Events"), data.eventsFrom.isEmpty() ? tr("judged from the frames")
                                                 : tr("from %1").arg(data.eventsFrom));
    fact(tr("Report"),
         tr("made %1 by keldro %2").arg(utcTime(data.madeMs), QStringLiteral(KELDRO_VERSION)));
    html += QStringLiteral("</table>\n");
}

void Writer::fact(const QString &label, const QString &value)
{
    html += QStringLiteral("<tr><td class=\"label\">%1</td><td>%2</td></tr>\n")
                .arg(xml(label), xml(value));
}

void Writer::tableStart(const QStringList &headings)
{
    html += QStringLiteral("<table class=\"rows\" width=\"100%\" border=\"1\" cellspacing=\"0\" "
                           "cellpadding=\"2\">\n<thead><tr>");
    for (const QString &heading : headings)
        html += QStringLiteral("<th>%1</th>").arg(xml(heading));
    html += QStringLiteral("</tr></thead>\n<tbody>\n");
}

void Writer::row(const QStringList &cells, const QStringList &classes)
{
    html += QStringLiteral("<tr>");
    for (int i = 0; i < cells.size(); ++i) {
        const QString cssClass = classes.value(i);
        html += cssClass.isEmpty()
                    ? QStringLiteral("<td>%1</td>").arg(xml(cells.at(i)))
                    : QStringLiteral("<td class=\"%1\">%2</td>").arg(cssClass, xml(cells.at(i)));
    }
    html += QStringLiteral("</tr>\n");
}

void Writer::paragraph(const QString &text, const QString &cssClass)
{
    html += cssClass.isEmpty()
                ? QStringLiteral("<p>%1</p>\n").arg(xml(text))
                : QStringLiteral("<p class=\"%1\">%2</p>\n").arg(cssClass, xml(text));
}

void Writer::checks()
{
    heading(tr("Checks"));
    if (!data.judged) {
        paragraph(tr("Not judged: no limits were given. keldro-cli report --limits FILE judges "
                     "the recording against a limits file."));
        return;
    }
    paragraph(tr("Against %1, as keldro-cli check --recording judges. A check fails when its "
                 "alarm was raised, even if it cleared later; n/a when no frame carried its "
                 "value.")
                  .arg(data.limitsFile));
    tableStart({tr("Check"), tr("Limit"), tr("Worst"), tr("At"), tr("Raised"),
                tr("First raised (UTC)"), tr("Result")});
    QStringList notJudged;
    for (const CheckRow &check : data.checks) {
        const QString result = QLatin1String(checkResultWord(check.result));
        row({check.name, check.limit, check.worst, check.at, QString::number(check.raised),
             check.firstRaised ? utcTimeMs(check.firstRaised->timeMs) : QStringLiteral("-"),
             result},
            {QString(), QString(), QString(), QString(), QString(), QStringLiteral("time"),
             check.result == CheckResult::NotApplicable ? QString() : result.toLower()});
        if (!check.reason.isEmpty())
            notJudged << QStringLiteral("%1 %2: %3.").arg(check.name, result, check.reason);
    }
    tableEnd();
    for (const QString &text : qAsConst(notJudged))
        paragraph(text);
}

void Writer::flags()
{
    heading(tr("Protection flags"));
    const BoardSession &session = data.session;
    if (!session.carriesFlags()) {
        paragraph(tr("The board's frames (layout 1) carry no protection flags."));
        return;
    }
    QVector<int> seen;
    for (int bit = 0; bit < ProtectionFlagCount; ++bit)
        if (session.flag(bit).timesRaised > 0)
            seen << bit;
    if (seen.isEmpty()) {
        paragraph(tr("No protection flag was raised."));
        return;
    }
    tableStart({tr("Flag"), tr("First raised (UTC)"), tr("Times"), tr("Raised for"),
                tr("At the end"), tr("Fails a check")});
    for (const int bit : qAsConst(seen)) {
        const BoardSession::FlagHistory &history = session.flag(bit);
        row({QLatin1String(RecordColumns::Names[RecordColumns::FirstProtectionFlag + bit]),
             utcTimeMs(history.firstRaisedMs), QString::number(history.timesRaised),
             duration(history.raisedMs), history.raisedAtEnd ? tr("raised") : tr("cleared"),
             data.limits.failsOn(bit) ? tr("yes") : tr("no")},
            {QString(), QStringLiteral("time")});
    }
    tableEnd();
}

void Writer::health()
{
    heading(tr("Cell health"));
    paragraph(tr("Each cell's resistance from the steps of the current (the median over "
                 "the steps of %1 or more, and their interquartile range), its sag against "
                 "the others as the pack empties, and the charge counted, as keldro-cli "
                 "health finds them.")
                  .arg(QStringLiteral("%1 A").arg(CellHealthEstimator::DefaultMinStepMilliamps /
                                                  1000.0)));
    tableStart({tr("Cell"), tr("Resistance (mΩ)"), tr("IQR (mΩ)"), tr("Steps"), tr("Sag (mV)"),
                tr("Verdict")});
    const QJsonArray cells = data.health.value(QStringLiteral("cells")).toArray();
    for (const QJsonValue &value : cells) {
        const QJsonObject cell = value.toObject();
        const QString verdict = cell.value(QStringLiteral("verdict")).toString();
        row({QString::number(cell.value(QStringLiteral("cell")).toInt()),
             optionalNumber(cell.value(QStringLiteral("resistance_mOhm")), 2),
             optionalNumber(cell.value(QStringLiteral("resistance_iqr_mOhm")), 2),
             QString::number(cell.value(QStringLiteral("steps")).toInt()),
             optionalNumber(cell.value(QStringLiteral("sag_mV")), 1), verdict},
            {QString(), QString(), QString(), QString(), QString(),
             verdict == QLatin1String("ok") || verdict == QLatin1String("unknown")
                 ? QString()
                 : QStringLiteral("fail")});
    }
    tableEnd();
    const QJsonObject pack = data.health.value(QStringLiteral("pack")).toObject();
    auto value = [&pack](const char *key, int decimals, const char *unit) {
        return optionalNumber(pack.value(QLatin1String(key)), decimals, QString::fromUtf8(unit));
    };
    paragraph(tr("Pack: resistance %1; charged %2 (%3), discharged %4 (%5); capacity %6, as the "
                 "SOC went from %7 to %8 %; %9 gaps of more than 10 s not counted.")
                  .arg(value("resistance_mOhm", 1, "mΩ"), value("charged_Ah", 2, "Ah"),
                       value("charged_Wh", 1, "Wh"), value("discharged_Ah", 2, "Ah"),
                       value("discharged_Wh", 1, "Wh"), value("capacity_Ah", 1, "Ah"),
                       value("soc_from", 0, ""), value("soc_to", 0, ""), value("gaps", 0, "")));
    for (const QString &note : data.healthNotes)
        paragraph(note);
    const QJsonValue weakest = data.health.value(QStringLiteral("weakest"));
    if (weakest.isObject())
        paragraph(tr("Weakest: %1").arg(weakest.toObject().value(QStringLiteral("why")).toString()),
                  QStringLiteral("notice"));
    else
        paragraph(tr("No cell stands out as weak."));
}

void Writer::plots()
{
    headingOnNewPage(tr("Plots"));
    if (figures.isEmpty())
        paragraph(tr("No plots: there are no frames to draw."));
    for (int i = 0; i < figures.size(); ++i) {
        const ReportFigure &figure = figures.at(i);
        html += QStringLiteral("<div class=\"figure\">\n");
        if (flavour == HtmlFlavour::Browser)
            html += figureSvg(figure);
        else
            html +=
                QStringLiteral("<p><img src=\"%1\" width=\"%2\" height=\"%3\" alt=\"%4\"/></p>\n")
                    .arg(figureSource(i))
                    .arg(figure.size.width())
                    .arg(figure.size.height())
                    .arg(xml(figure.caption));
        paragraph(figure.caption, QStringLiteral("caption"));
        html += QStringLiteral("</div>\n");
    }
}

void Writer::events()
{
    heading(tr("Events"));
    if (data.events.isEmpty()) {
        paragraph(tr("No events."));
        return;
    }
    tableStart({tr("Time (UTC)"), tr("Kind"), tr("Name"), tr("State"), tr("Text")});
    const int shown = std::min<int>(ReportEventRows, data.events.size());
    for (int i = 0; i < shown; ++i) {
        const JudgeEvent &event = data.events.at(i);
        row({utcTimeMs(event.timeMs), QLatin1String(eventKindName(event.kind)), event.name,
             QLatin1String(eventStateName(event.state)), event.text},
            {QStringLiteral("time"), QString(), QString(), QString(),
             event.isAlarm && event.state == EventState::Raised ? QStringLiteral("fail")
                                                                : QString()});
    }
    tableEnd();
    if (data.events.size() > shown)
        paragraph(tr("and %1 more").arg(data.events.size() - shown));
}

} // namespace

QString reportHtml(const ReportData &data, const QVector<ReportFigure> &figures,
                   HtmlFlavour flavour)
{
    return Writer(data, figures, flavour).write();
}

QString figureSource(int index)
{
    return QStringLiteral("figure:%1").arg(index);
}

int figureIndex(const QString &source)
{
    if (!source.startsWith(QLatin1String("figure:")))
        return -1;
    bool ok = false;
    const int index = source.mid(7).toInt(&ok);
    return ok ? index : -1;
}

QString figureSvg(const ReportFigure &figure)
{
    QBuffer buffer;
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    // At the picture's own resolution it plays back at its own size.
    svg.setResolution(figure.picture.logicalDpiX());
    svg.setSize(figure.size);
    svg.setViewBox(QRect(QPoint(0, 0), figure.size));
    svg.setTitle(figure.caption);
    svg.setDescription(QStringLiteral("keldro %1").arg(QStringLiteral(KELDRO_VERSION)));
    QPainter painter(&svg);
    painter.drawPicture(0, 0, figure.picture);
    painter.end();
    QString text = QString::fromUtf8(buffer.data());
    // Inline, the element goes without the XML declaration, and takes the width of the
    // page with the height its view box gives.
    text.remove(QRegularExpression(QStringLiteral("^<\\?xml[^>]*\\?>\\s*")));
    text.replace(QRegularExpression(QStringLiteral("^<svg width=\"[^\"]*\" height=\"[^\"]*\"")),
                 QStringLiteral("<svg"));
    return text;
}
