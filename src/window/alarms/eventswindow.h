#pragma once

#include <QFileDialog>
#include <QWidget>
#include <array>

class QLabel;
class QTableView;
class WindowJudge;

// Every event of the session in a table of its own, oldest first: local time (the date
// in its tooltip), port and what happened. The row of an alarm raised now is marked until it
// clears; the view follows new events while it is scrolled to the end. The events can be saved as
// JSON Lines, one event object per line, as keldro-cli writes them.
class EventsWindow : public QWidget
{
    Q_OBJECT

public:
    explicit EventsWindow(WindowJudge *judge, QWidget *parent = nullptr);

    // Options for the save dialog (tests ask for Qt's own dialog, which they can answer).
    void setFileDialogOptions(QFileDialog::Options options) { dialogOptions = options; }
    // Writes every event kept to path; false, with the reason in *error, when it cannot.
    bool saveJsonLines(const QString &path, QString *error) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void widenColumns(int firstRow, int lastRow);
    void fitColumns();
    void chooseSaveFile();
    void showLimits();

    WindowJudge *judge;
    QTableView *table;
    QLabel *limitsLine;
    QFileDialog::Options dialogOptions;
    bool followingNewest = true;
    // How wide the time and the port column would have to be for every row.
    std::array<int, 2> contentWidths{};
};
