#pragma once

#include "judge/judge.h"
#include "protocol/cellbalance.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPalette>
#include <QStringList>
#include <QVector>
#include <array>

class QTextBrowser;
class QTimer;
struct Telemetry;

QT_BEGIN_NAMESPACE
namespace Ui {
class Widget;
}
QT_END_NAMESPACE

// What the value fields say about their values beyond the digits: grey while the
// values are not live (the link is closed, or no good frame for StaleAfterMs),
// and, when the cells drift apart by BalanceMarkMillivolts or more, the lowest
// cell blue and the highest red. Every cell field's tooltip tells the lowest, the
// highest and the spread. Those are the digits' colours; the background is the
// alarms': light red behind each value whose alarm is raised now.
class ValueFieldMarks : public QObject
{
    Q_OBJECT

public:
    // Stale when the judge finds the link stale.
    static constexpr int StaleAfterMs = int(Judge::StaleAfterMs);
    static constexpr int BalanceMarkMillivolts = 10;

    ValueFieldMarks(Ui::Widget &ui, QObject *parent = nullptr);

    static QColor staleColour();
    static QColor lowestColour();
    static QColor highestColour();

    // A good frame has just been shown.
    void frameShown(const Telemetry &telemetry);
    void linkClosed();
    // The fields were emptied: no balance is shown any more.
    void cleared();
    // The raising events of the alarms raised now: their fields get the background; a
    // spread's are the lowest and the highest cell shown.
    void showAlarms(const QVector<JudgeEvent> &raised);

    bool isStale() const { return stale; }
    CellBalance balance() const { return shownBalance; }
    // "Lowest: Cell3 3601 mV", "Highest: ...", "Spread: 13 mV", one per line; the
    // cell fields' tooltip.
    QString balanceText() const;
    // A line each cell's tooltip adds below the balance, by cell from the first; an
    // empty one adds nothing.
    void setCellNotes(const QStringList &notes) { cellNotes = notes; }

signals:
    // The values have just gone grey, or black again.
    void staleChanged(bool stale);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Mark { Normal, Stale, Lowest, Highest };

    void staleTimeout();
    void setStale(bool isStale);
    void mark(int field, Mark mark);
    void paint(int field);
    bool isAlarmed(int field) const;
    Mark cellMark(int cell) const;

    Ui::Widget &ui;
    QVector<QTextBrowser *> fields; // the 15 cells first
    QVector<Mark> marks;
    QVector<bool> alarmed; // by the raised alarms' own fields
    bool spreadRaised = false;
    // By mark, without and with the alarm background.
    std::array<std::array<QPalette, 2>, 4> palettes;
    QVector<int> painted; // the palette each field has now, as mark * 2 + alarmed
    QTimer *staleTimer;
    QElapsedTimer sinceLastFrame;
    bool stale = true;
    CellBalance shownBalance;
    QStringList cellNotes;
};
