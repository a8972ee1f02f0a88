#include "save_file_dialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

namespace {
// The first suffix the filter names: "xml" for "xml (*.xml)"; empty when it names none.
QString filterSuffix(const QString& filter) {
    static const QRegularExpression pattern(QStringLiteral(R"(\*\.([^\s;()*]+))"));
    return pattern.match(filter).captured(1);
}

// path, with that suffix appended when its file name has none: the rule of the dialog's default suffix.
QString withFilterSuffix(const QString& path, const QString& filter) {
    const QString suffix = filterSuffix(filter);
    if (suffix.isEmpty() || QFileInfo(path).fileName().contains(QLatin1Char('.')))
        return path;
    return path + QLatin1Char('.') + suffix;
}
} // namespace

QString askSaveFileName(QWidget* parent, const QString& caption, const QString& start,
                        const QString& filters) {
    QFileDialog dialog(parent, caption, start, filters);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // A proposed file keeps its kind: the filter of its suffix is the one selected.
    if (const QString proposed = QFileInfo(start).suffix(); !proposed.isEmpty())
        for (const QString& filter : dialog.nameFilters())
            if (filterSuffix(filter) == proposed)
                dialog.selectNameFilter(filter);
    // The dialog appends the default suffix itself, so that it asks before replacing the file that
    // will really be written.
    dialog.setDefaultSuffix(filterSuffix(dialog.selectedNameFilter()));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& filter) { dialog.setDefaultSuffix(filterSuffix(filter)); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    // The same rule again: a system dialog may leave the suffix to us.
    return withFilterSuffix(dialog.selectedFiles().front(), dialog.selectedNameFilter());
}
