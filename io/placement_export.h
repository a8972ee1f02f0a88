#pragma once
// Exports that leave the project file alone: the placement of every fragment as an ALN file, and
// one group (or fragment) as a piece of project file that "Import" can merge elsewhere.

#include <QDir>
#include <QString>
#include <QTextStream>

class Fragment;
class GeometrObj;
class TotalGraph;

// File name, "#", then the four rows of the fragment's matrix, each number followed by a space.
void writeAlnEntry(QTextStream& out, const Fragment& f);
// The fragment count, the entries (top-level objects in id order, the fragments of each in
// placement-export order), then "0" without a line break.
void writeAln(QTextStream& out, const TotalGraph& graph);
bool exportAlnFile(const QString& path, const TotalGraph& graph, QString& error);

// "<Graph><Fragments>", the object's element written as top level, "</Fragments></Graph>", for a
// file in folder. The object's parent id is the same afterwards.
QByteArray groupFileText(GeometrObj& o, const QDir& folder = QDir());
bool exportGroupFile(const QString& path, GeometrObj& o, QString& error);
