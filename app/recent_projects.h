#pragma once
// The projects opened or saved last, newest first, kept between runs in the user's settings. The
// "Open Recent" menu is filled from them each time it opens: a project whose file has gone since
// is dropped from the list then, so the menu never offers a file that cannot be opened.

#include <QObject>
#include <QStringList>

class QMenu;

class RecentProjects : public QObject {
    Q_OBJECT
public:
    static constexpr int Limit = 10;

    // Fills menu each time it is about to show.
    explicit RecentProjects(QMenu& menu);

    // The kept list, newest first, files that have gone included.
    QStringList paths() const;
    // path was opened or saved: it goes first.
    void add(const QString& path);
    void clear();

signals:
    // The user chose path in the menu.
    void chosen(const QString& path);

private:
    void store(const QStringList& list);
    void fillMenu();

    QMenu& menu;
};
