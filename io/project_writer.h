#pragma once
// The project file: one line of XML, no declaration, UTF-8. Elements in a fixed order with the
// attribute spelling other tools and older files rely on; attribute text is escaped.

#include "project_reader.h"

#include <QDir>
#include <QString>
#include <QTextStream>

class Constraint;
class Fragment;
class GeometrObj;
class TotalGraph;

// The mesh path of f as a project file in folder writes it.
QString writtenMeshPath(const Fragment& f, const QDir& folder);
// "<Tag id="P:I" ><Transformation matr="m00 m01 ... m33 " />"
void writeHeader(QTextStream& out, GeometrObj& o, const QString& tag);
// "</Tag>"
void writeCloser(QTextStream& out, const QString& tag);
// A group element with all its descendants, or a fragment element. folder is where the file being
// written lies: mesh paths that the project keeps relative are written relative to it.
void writeXml(QTextStream& out, GeometrObj& o, const QDir& folder);
void writeXml(QTextStream& out, Constraint& c);
// "<Graph><Fragments>" top-level objects "</Fragments><Constraints>" constraints "</Constraints></Graph>"
void writeXml(QTextStream& out, const TotalGraph& graph, const QDir& folder);
// The whole file: "<Project>" graph "</Project>", for a file in folder (the working directory by
// default).
QByteArray projectFileText(const TotalGraph& graph, const QDir& folder = QDir());

// Every fragment's mesh of graph under the key the text written for folder gives it, for reading
// that text again without the files.
KeptMeshes keepMeshes(const TotalGraph& graph, const QDir& folder = QDir());

// Writes the project through a temporary file that replaces the old one only once every byte is on
// the disk, so a failure leaves the previous file intact. On failure sets error.
bool saveProjectFile(const QString& path, const TotalGraph& graph, QString& error);
