#pragma once
// How long a user takes for a reassembly task: the space bar starts and stops a measurement, and
// the time goes into "logres.txt" as LaTeX table frames for the study's report.

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTextStream>
#include <memory>

class UserTimeLog {
public:
    static constexpr const char* DefaultFileName = "logres.txt";

    // Starts a measurement when none runs, else stops it. Returns true when it started one.
    bool toggle(const QString& fileName = QString::fromLatin1(DefaultFileName));
    bool isMeasuring() const { return measuring; }
    // Seconds of the last finished measurement.
    double lastSeconds() const { return seconds; }

private:
    void start(const QString& fileName);
    void stop();
    // Opens the file anew (emptied) and writes the head of the solver table. When the file cannot
    // be opened the measurement still runs, with nothing written.
    void openLog(const QString& fileName);
    void writeUserTime(const QString& text);

    std::unique_ptr<QFile> file;
    std::unique_ptr<QTextStream> stream;
    QElapsedTimer clock;
    bool measuring = false;
    double seconds = 0.0;
};

// Space starts and stops the measurement whichever widget of the window has the keyboard focus
// (push buttons would take it otherwise), except where a space is text: line edits, spin boxes,
// text editors. Only key presses into the given window count, and none while a dialog is open, so
// dialogs keep their Space.
class UserTimeKey : public QObject {
public:
    UserTimeKey(QWidget* window, UserTimeLog& log);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Whether a space pressed on target is meant for the window: no dialog or popup is open and no
    // text field has the focus.
    bool reachesWindow(const QWidget* target) const;

    QWidget* window; // not owned
    UserTimeLog& log;
};
