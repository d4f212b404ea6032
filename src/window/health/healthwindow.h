#pragma once

#include "judge/cellhealth.h"

#include <QPair>
#include <QVector>
#include <QWidget>
#include <optional>
#include <vector>

class HealthPlot;
class QComboBox;
class QLabel;
class QTableWidget;

// Which cell is weak: a window of its own with the cells' resistances as bars, then a
// table of every cell (resistance and its spread, steps, sag, verdict), the pack's
// line and the weakest cell's sentence. It shows one source at a time, chosen in its
// source box: the live board, or one of the recordings opened in a trends window. The
// numbers are rounded as keldro-cli health rounds them in JSON, so that the window and
// the command line read alike.
class HealthWindow : public QWidget
{
    Q_OBJECT

public:
    explicit HealthWindow(QWidget *parent = nullptr);

    // The live board's estimate, and the port it comes from.
    void showLive(const QString &port, const CellHealth &health);
    // A recording becomes a source and the one shown; until its estimates come, the
    // window says that it is being read. Adding one again shows it again.
    void addRecording(const QString &path);
    // Its estimates, one per board, named as keldro-cli health names them
    // ("night.csv#ttyUSB1" where the recording holds several boards).
    void showRecording(const QString &path, const QVector<QPair<QString, CellHealth>> &boards);
    void recordingFailed(const QString &path, const QString &reason);

    // Shows the first board of the recording (empty: the live board) if it is a source.
    void choose(const QString &path);
    // The recording shown, empty for the live board.
    QString shownRecording() const;
    const CellHealth *shownHealth() const;

private:
    struct Source
    {
        QString path; // the recording, empty for the live board
        std::optional<CellHealth> health;
        QString status; // what is shown instead of the frames' span
    };

    int indexOf(const QString &path) const;
    void setEntry(int index, const std::optional<CellHealth> &health, const QString &status);
    void showChosen();
    void fillTable(const CellHealth *health);

    std::vector<Source> sources; // in the source box's order
    QComboBox *sourceBox;
    QLabel *status;
    HealthPlot *plot;
    QTableWidget *table;
    QLabel *pack;
    QLabel *weakest;
};
