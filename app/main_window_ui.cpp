#include "main_window_ui.h"

#include "list_panel_container.h"
#include "solved_container.h"
#include "wa_container.h"

#include <QAction>
#include <QActionGroup>
#include <QGridLayout>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QUndoStack>

namespace {
QAction* makeAction(QMainWindow* window, const char* objectName) {
    auto* action = new QAction(window);
    action->setObjectName(QString::fromLatin1(objectName));
    return action;
}
} // namespace

void MainWindowUi::setupUi(QMainWindow* window) {
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(1200, 770);
    window->setMinimumSize(1000, 700);

    loadproj = makeAction(window, "loadproj");
    saveproj = makeAction(window, "saveproj");
    exit = makeAction(window, "exit");
    newproj = makeAction(window, "newproj");
    importproj = makeAction(window, "importproj");
    exportaln = makeAction(window, "exportaln");
    saveprojas = makeAction(window, "saveprojas");

    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));
    centralWidget->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    gridLayout = new QGridLayout(centralWidget);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setSpacing(1);
    gridLayout->setContentsMargins(1, 1, 1, 1);
    gridLayout->setSizeConstraint(QLayout::SetMinimumSize);

    listPans = new ListPanelContainer(centralWidget);
    listPans->setObjectName(QStringLiteral("listPans"));
    gridLayout->addWidget(listPans, 0, 0);
    wacont = new WAContainer(centralWidget);
    wacont->setObjectName(QStringLiteral("wacont"));
    gridLayout->addWidget(wacont, 0, 1);
    solvedGlarea = new SolvedContainer(centralWidget);
    solvedGlarea->setObjectName(QStringLiteral("solvedGlarea"));
    solvedGlarea->setMinimumSize(260, 0);
    gridLayout->addWidget(solvedGlarea, 0, 2);
    window->setCentralWidget(centralWidget);

    menuBar = new QMenuBar(window);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    menuBar->setGeometry(0, 0, 1200, 21);
    menuFile = new QMenu(menuBar);
    menuFile->setObjectName(QStringLiteral("menuFile"));
    window->setMenuBar(menuBar);
    mainToolBar = new QToolBar(window);
    mainToolBar->setObjectName(QStringLiteral("mainToolBar"));
    window->addToolBar(Qt::TopToolBarArea, mainToolBar);
    statusBar = new QStatusBar(window);
    statusBar->setObjectName(QStringLiteral("statusBar"));
    window->setStatusBar(statusBar);

    menuBar->addAction(menuFile->menuAction());
    menuFile->addAction(newproj);
    menuFile->addAction(loadproj);
    menuRecent = menuFile->addMenu(QString());
    menuRecent->setObjectName(QStringLiteral("menuRecent"));
    menuFile->addAction(importproj);
    menuFile->addAction(saveproj);
    menuFile->addAction(saveprojas);
    menuFile->addAction(exportaln);
    menuFile->addAction(exit);
    // The keys users of desktop programs expect on these entries.
    newproj->setShortcut(QKeySequence::New);
    loadproj->setShortcut(QKeySequence::Open);
    saveproj->setShortcut(QKeySequence::Save);
    saveprojas->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    importproj->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));

    retranslateUi(window);
    QMetaObject::connectSlotsByName(window);
}

void MainWindowUi::retranslateUi(QMainWindow* window) {
    auto tr = [](const char* text) { return QCoreApplication::translate("MainWindow", text); };
    window->setWindowTitle(tr("Ostrakit"));
    loadproj->setText(tr("Load"));
    saveproj->setText(tr("Save"));
    saveprojas->setText(tr("Save Project…"));
    menuRecent->setTitle(tr("Open Recent"));
    exit->setText(tr("Exit"));
    newproj->setText(tr("New"));
    importproj->setText(tr("Import"));
    exportaln->setText(tr("Export ALN"));
    menuFile->setTitle(tr("File"));
}

void MainWindowUi::buildEditMenu(QUndoStack& stack) {
    menuEdit = new QMenu(QCoreApplication::translate("MainWindow", "Edit"), menuBar);
    menuEdit->setObjectName(QStringLiteral("menuEdit"));
    menuBar->addMenu(menuEdit);
    const auto add = [&](const char* verb) {
        const QString text = QCoreApplication::translate("MainWindow", verb);
        QAction* action = menuEdit->addAction(text);
        action->setEnabled(false);
        return std::pair{action, [action, text](const QString& step) {
                             action->setText(step.isEmpty() ? text : text + QLatin1Char(' ') + step);
                         }};
    };
    const auto [undoAction, nameUndo] = add("Undo");
    const auto [redoAction, nameRedo] = add("Redo");
    undo = undoAction;
    redo = redoAction;
    undo->setShortcuts(QKeySequence::Undo);
    redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    QObject::connect(&stack, &QUndoStack::undoTextChanged, undo, nameUndo);
    QObject::connect(&stack, &QUndoStack::redoTextChanged, redo, nameRedo);
    QObject::connect(&stack, &QUndoStack::canUndoChanged, undo, &QAction::setEnabled);
    QObject::connect(&stack, &QUndoStack::canRedoChanged, redo, &QAction::setEnabled);
}

void MainWindowUi::buildViewMenu() {
    menuView = new QMenu(QCoreApplication::translate("MainWindow", "View"), menuBar);
    menuView->setObjectName(QStringLiteral("menuView"));
    menuBar->addMenu(menuView);
    auto* methods = new QActionGroup(menuView);
    const auto add = [&](const char* text, const char* tip) {
        QAction* action = menuView->addAction(QCoreApplication::translate("MainWindow", text));
        action->setStatusTip(QCoreApplication::translate("MainWindow", tip));
        action->setCheckable(true);
        methods->addAction(action);
        return action;
    };
    markExact =
        add("Interpenetration: exact",
            "Mark the faces whose centres lie inside another fragment, computed exactly in the background");
    markPeeling =
        add("Interpenetration: GPU passes",
            "Mark the faces found inside another fragment by depth-peeling passes on the graphics card");
    markExact->setChecked(true);
    menuView->addSeparator();
    showMatches = menuView->addAction(QCoreApplication::translate("MainWindow", "Show Refine Matches"));
    showMatches->setStatusTip(QCoreApplication::translate(
        "MainWindow",
        "Dots where Refine found the surfaces to meet, green where they meet, red where they are apart"));
    showMatches->setCheckable(true);
    showTextures = menuView->addAction(QCoreApplication::translate("MainWindow", "Show Textures"));
    showTextures->setStatusTip(QCoreApplication::translate(
        "MainWindow", "Textured fragments in their images; off, in their fragment's or group's colour"));
    showTextures->setCheckable(true);
    showTextures->setChecked(true);
}

void MainWindowUi::buildToolsMenu() {
    menuTools = new QMenu(QCoreApplication::translate("MainWindow", "Tools"), menuBar);
    menuTools->setObjectName(QStringLiteral("menuTools"));
    menuBar->addMenu(menuTools);
    solveAction = menuTools->addAction(QCoreApplication::translate("MainWindow", "Solve"));
    refineAction = menuTools->addAction(QCoreApplication::translate("MainWindow", "Refine"));
    refineAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    refineAction->setStatusTip(QCoreApplication::translate(
        "MainWindow",
        "Fit the fracture surfaces of every pair of joined pieces onto each other, all pieces at once"));
}

void MainWindowUi::buildHelpMenu() {
    menuHelp = new QMenu(QCoreApplication::translate("MainWindow", "Help"), menuBar);
    menuHelp->setObjectName(QStringLiteral("menuHelp"));
    menuBar->addMenu(menuHelp);
    keysHelp = menuHelp->addAction(QCoreApplication::translate("MainWindow", "Keyboard and mouse"));
    keysHelp->setShortcut(QKeySequence::HelpContents);
    about = menuHelp->addAction(QCoreApplication::translate("MainWindow", "About Ostrakit"));
    about->setMenuRole(QAction::AboutRole);
}
