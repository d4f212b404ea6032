#pragma once

#include "report/reportfigure.h"

#include <QSaveFile>
#include <QString>
#include <QVector>
#include <optional>

struct ReportData;

// A report's file, PDF or HTML by its extension. It is written under a temporary name
// beside the final one and renamed when complete, so that a station or a browser never
// finds half a report under the name it looks for; a report that cannot be written
// whole (a full disk) leaves no file behind.
class ReportFile
{
public:
    enum class Format { Pdf, Html };
    // .pdf; .html, .htm, .xhtml; nothing else.
    static std::optional<Format> formatFor(const QString &path);

    explicit ReportFile(const QString &path);

    // Opens the temporary file: a folder that cannot be written fails here, before
    // any work, with the system's reason in *error.
    bool open(QString *error);
    // Writes the report and gives it its name.
    bool write(const ReportData &data, const QVector<ReportFigure> &figures, QString *error);
    QString path() const { return file.fileName(); }

private:
    QSaveFile file;
    Format format;
};
