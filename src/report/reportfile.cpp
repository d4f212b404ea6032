#include "report/reportfile.h"

#include "report/reportdata.h"
#include "report/reporthtml.h"
#include "report/reportpdf.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ReportFile", text);
}

} // namespace

std::optional<ReportFile::Format> ReportFile::formatFor(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("pdf"))
        return Format::Pdf;
    if (suffix == QLatin1String("html") || suffix == QLatin1String("htm") ||
        suffix == QLatin1String("xhtml"))
        return Format::Html;
    return std::nullopt;
}

ReportFile::ReportFile(const QString &path)
    : file(path), format(formatFor(path).value_or(Format::Pdf))
{}

bool ReportFile::open(QString *error)
{
    if (file.open(QIODevice::WriteOnly))
        return true;
    *error = tr("cannot write %1: %2").arg(file.fileName(), file.errorString());
    return false;
}

bool ReportFile::write(const ReportData &data, const QVector<ReportFigure> &figures, QString *error)
{
    bool written = false;
    if (format == Format::Pdf) {
        written = writeReportPdf(data, figures, &file);
    } else {
        const QByteArray html = reportHtml(data, figures, HtmlFlavour::Browser).toUtf8();
        written = file.write(html) == html.size();
    }
    // A write that failed makes the commit fail too, which removes the temporary file.
    if (written && file.commit())
        return true;
    *error = tr("writing %1 failed: %2").arg(file.fileName(), file.errorString());
    file.cancelWriting();
    return false;
}
