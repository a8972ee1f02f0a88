#pragma once

#include <QCoreApplication>

class ListPanelContainer;
class QAction;
class QGridLayout;
class QMainWindow;
class QMenu;
class QMenuBar;
class QStatusBar;
class QToolBar;
class QUndoStack;
class QWidget;
class SolvedContainer;
class WAContainer;

// The main window's widgets, built by setupUi. The pointers are not owned: every widget is a
// child of the window.
struct MainWindowUi {
    QAction* loadproj = nullptr;
    QAction* saveproj = nullptr;
    QAction* exit = nullptr;
    QAction* newproj = nullptr;
    QAction* importproj = nullptr;
    QAction* exportaln = nullptr;
    QAction* saveprojas = nullptr; // "Save Project…": always asks for the file
    QMenu* menuRecent = nullptr;   // "Open Recent", filled as it opens
    QWidget* centralWidget = nullptr;
    QGridLayout* gridLayout = nullptr;
    ListPanelContainer* listPans = nullptr;
    SolvedContainer* solvedGlarea = nullptr;
    WAContainer* wacont = nullptr;
    QMenuBar* menuBar = nullptr;
    QMenu* menuFile = nullptr;
    QMenu* menuEdit = nullptr; // built by the window with its undo stack
    QMenu* menuView = nullptr;
    QAction* markExact = nullptr; // checkable, one of the two
    QAction* markPeeling = nullptr;
    QAction* showMatches = nullptr;  // checkable: the last Refine's matched samples
    QAction* showTextures = nullptr; // checkable: textures or colours
    QMenu* menuTools = nullptr;
    QAction* solveAction = nullptr;
    QAction* refineAction = nullptr;
    QMenu* menuHelp = nullptr;
    QAction* keysHelp = nullptr;
    QAction* about = nullptr;
    QAction* undo = nullptr;
    QAction* redo = nullptr;
    QToolBar* mainToolBar = nullptr;
    QStatusBar* statusBar = nullptr;

    void setupUi(QMainWindow* window);
    void retranslateUi(QMainWindow* window);
    // "Edit" after "File": Undo and Redo, named after the step they take and enabled while there is
    // one. Their triggers are the window's to connect.
    void buildEditMenu(QUndoStack& stack);
    // "View" after "Edit": how the interpenetration marks are found, the matches of Refine.
    void buildViewMenu();
    // "Tools": Solve and Refine.
    void buildToolsMenu();
    // "Help", last: the keys and the mouse, and what Ostrakit is and runs on.
    void buildHelpMenu();
};
