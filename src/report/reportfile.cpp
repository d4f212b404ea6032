#include "report/reportfile.h"

#include "report/reportdata.h"
#include "report/reporthtml.h"
#include "report/reportpdf.h"

#include <QBuffer>
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
    // The whole report is made in memory first (a few hundred kilobytes): the PDF
    // writer does not tell a short write, and a write of the whole does.
    QByteArray bytes;
    if (format == Format::Pdf) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!writeReportPdf(data, figures, &buffer)) {
            *error = tr("cannot make the PDF of %1").arg(file.fileName());
            file.cancelWriting();
            return false;
        }
    } else {
        bytes = reportHtml(data, figures, HtmlFlavour::Browser).toUtf8();
    }
    // A disk that fills up takes part of a write without a word, and refuses the next
    // with its reason. A write that failed makes the commit fail too, which removes the
    // temporary file.
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 taken = file.write(bytes.constData() + written, bytes.size() - written);
        if (taken <= 0)
            break;
        written += taken;
    }
    if (written == bytes.size() && file.commit())
        return true;
    *error = tr("writing %1 failed: %2").arg(file.fileName(), file.errorString());
    file.cancelWriting();
    return false;
}
