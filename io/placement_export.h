#pragma once
// Exports that leave the project file alone: the placement of every fragment as an ALN file, and
// one group (or fragment) as a piece of project file that "Import" can merge elsewhere.

#include <QDir>
#include <QString>
#include <QTextStream>

class Fragment;
class GeometrObj;
class TotalGraph;

// The mesh path of f as an ALN file in folder names it: relative to folder (the bare file name when
// the mesh lies beside the file), so that other programs find the mesh from the file's folder.
QString alnMeshPath(const Fragment& f, const QDir& folder);
// Mesh path, "#", then the four rows of the fragment's matrix, each number followed by a space.
void writeAlnEntry(QTextStream& out, const Fragment& f, const QDir& folder);
// The fragment count, the entries (top-level objects in id order, the fragments of each in
// placement-export order), then "0" without a line break, for a file in folder.
void writeAln(QTextStream& out, const TotalGraph& graph, const QDir& folder);
bool exportAlnFile(const QString& path, const TotalGraph& graph, QString& error);

// "<Graph><Fragments>", the object's element written as top level, "</Fragments></Graph>", for a
// file in folder. The object's parent id is the same afterwards.
QByteArray groupFileText(GeometrObj& o, const QDir& folder = QDir());
bool exportGroupFile(const QString& path, GeometrObj& o, QString& error);
