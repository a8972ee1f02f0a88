#include "help_dialogs.h"

#include "trackball.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QMessageBox>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QRegularExpression>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
QString keyText(const QKeySequence& key) {
    return key.toString(QKeySequence::NativeText);
}

// A menu entry's text as a sentence: no mnemonic marks.
QString plainText(QString text) {
    return text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
}

QString motionText(Trackball::Mode mode) {
    switch (mode) {
    case Trackball::Mode::Rotate:
        return QObject::tr("Turn the view about its centre");
    case Trackball::Mode::Pan:
        return QObject::tr("Move the view sideways");
    case Trackball::Mode::Scale:
        return QObject::tr("Zoom in or out");
    case Trackball::Mode::AxisMove:
        return QObject::tr("Move the view towards you or away");
    case Trackball::Mode::None:
        break;
    }
    return {};
}

void addRows(QTableWidget& table, const QString& heading, const QList<HelpRow>& rows) {
    int row = table.rowCount();
    table.setRowCount(row + 1 + int(rows.size()));
    auto* title = new QTableWidgetItem(heading);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    table.setItem(row, 0, title);
    table.setSpan(row, 0, 1, 2);
    for (const HelpRow& r : rows) {
        ++row;
        table.setItem(row, 0, new QTableWidgetItem(r.keys));
        table.setItem(row, 1, new QTableWidgetItem(r.what));
    }
}
} // namespace

QList<HelpRow> keyboardRows(const QWidget& window, const QList<HelpRow>& extra) {
    QList<HelpRow> rows;
    for (const QAction* action : window.findChildren<QAction*>())
        for (const QKeySequence& key : action->shortcuts())
            rows.push_back({keyText(key), plainText(action->text())});
    for (const QShortcut* shortcut : window.findChildren<QShortcut*>())
        rows.push_back({keyText(shortcut->key()), shortcut->whatsThis()});
    return rows + extra;
}

QList<HelpRow> mouseRows() {
    struct Button {
        int code;
        const char* name;
    };
    struct Modifier {
        int code;
        QKeySequence key;
    };
    const Button buttons[] = {{Trackball::Left, QT_TR_NOOP("left drag")},
                              {Trackball::Middle, QT_TR_NOOP("middle drag")},
                              {Trackball::Right, QT_TR_NOOP("right drag")},
                              {Trackball::Wheel, QT_TR_NOOP("wheel")}};
    const Modifier modifiers[] = {{0, QKeySequence()},
                                  {Trackball::Shift, QKeySequence(Qt::SHIFT)},
                                  {Trackball::Control, QKeySequence(Qt::CTRL)},
                                  {Trackball::Alt, QKeySequence(Qt::ALT)}};
    QList<HelpRow> rows;
    for (const Button& b : buttons)
        for (const Modifier& m : modifiers)
            if (const Trackball::Mode mode = Trackball::modeFor(b.code | m.code);
                mode != Trackball::Mode::None)
                rows.push_back({keyText(m.key) + QObject::tr(b.name), motionText(mode)});
    rows.push_back(
        {QObject::tr("left click"), QObject::tr("While a constraint is added: pick its point there")});
    return rows;
}

void showKeyboardAndMouse(QWidget* window, const QList<HelpRow>& extra) {
    QDialog dialog(window);
    dialog.setObjectName(QStringLiteral("keyboardAndMouse"));
    dialog.setWindowTitle(QObject::tr("Keyboard and mouse"));
    auto* table = new QTableWidget(0, 2, &dialog);
    table->setObjectName(QStringLiteral("keys"));
    table->setHorizontalHeaderLabels({QObject::tr("Keys or mouse"), QObject::tr("What it does")});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->horizontalHeader()->setStretchLastSection(true);
    addRows(*table, QObject::tr("Keyboard"), keyboardRows(*window, extra));
    addRows(*table, QObject::tr("Mouse, in the 3D views"), mouseRows());
    table->resizeColumnToContents(0);
    table->setWordWrap(false);
    table->resizeRowsToContents();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(table);
    layout->addWidget(buttons);
    dialog.resize(600, 640);
    dialog.exec();
}

QString aboutText(QOpenGLWidget& view) {
    QString renderer = QObject::tr("not known (no view drawn yet)"), version = renderer;
    view.makeCurrent();
    if (QOpenGLContext* context = view.context(); context && context->isValid()) {
        QOpenGLFunctions* gl = context->functions();
        renderer = QString::fromLatin1(reinterpret_cast<const char*>(gl->glGetString(GL_RENDERER)));
        version = QString::fromLatin1(reinterpret_cast<const char*>(gl->glGetString(GL_VERSION)));
    }
    view.doneCurrent();
    return QObject::tr("<h3>Ostrakit %1</h3>"
                       "<p>Virtual reassembly of broken objects from 3D-scanned fragments.</p>"
                       "<p>Qt %2 (built with %3)<br>OpenGL renderer: %4<br>OpenGL version: %5</p>")
        .arg(QStringLiteral(OSTRAKIT_VERSION), QString::fromLatin1(qVersion()),
             QStringLiteral(QT_VERSION_STR), renderer.toHtmlEscaped(), version.toHtmlEscaped());
}

void showAbout(QWidget* window, QOpenGLWidget& view) {
    QMessageBox::about(window, QObject::tr("About Ostrakit"), aboutText(view));
}
