#include "recent_projects.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QSettings>
#include <algorithm>

namespace {
const QString ListKey = QStringLiteral("recentProjects");
}

RecentProjects::RecentProjects(QMenu& shown) : QObject(&shown), menu(shown) {
    menu.setToolTipsVisible(true);
    connect(&menu, &QMenu::aboutToShow, this, &RecentProjects::fillMenu);
}

QStringList RecentProjects::paths() const {
    return QSettings().value(ListKey).toStringList();
}

void RecentProjects::store(const QStringList& list) {
    QSettings settings;
    settings.setValue(ListKey, list.mid(0, Limit));
}

void RecentProjects::add(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList list = paths();
    list.removeAll(absolute);
    list.prepend(absolute);
    store(list);
}

void RecentProjects::clear() {
    store({});
}

void RecentProjects::fillMenu() {
    QStringList list = paths();
    list.erase(
        std::remove_if(list.begin(), list.end(), [](const QString& p) { return !QFileInfo(p).isFile(); }),
        list.end());
    if (list != paths())
        store(list);
    menu.clear();
    for (int i = 0; i < list.size(); ++i) {
        const QString path = list[i];
        // A number to choose it by key, the file's name, and where it lies.
        QAction* entry = menu.addAction(tr("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()));
        entry->setToolTip(QDir::toNativeSeparators(path));
        entry->setStatusTip(QDir::toNativeSeparators(path));
        connect(entry, &QAction::triggered, this, [this, path] { emit chosen(path); });
    }
    if (list.isEmpty())
        menu.addAction(tr("No recent projects"))->setEnabled(false);
    menu.addSeparator();
    QAction* clearing = menu.addAction(tr("Clear"));
    clearing->setEnabled(!list.isEmpty());
    connect(clearing, &QAction::triggered, this, &RecentProjects::clear);
}
