#pragma once
// The project file: one line of XML, no declaration, UTF-8. Elements in a fixed order with the
// attribute spelling other tools and older files rely on; attribute text is escaped.

#include <QString>
#include <QTextStream>

class Constraint;
class GeometrObj;
class TotalGraph;

// "<Tag id="P:I" ><Transformation matr="m00 m01 ... m33 " />"
void writeHeader(QTextStream& out, GeometrObj& o, const QString& tag);
// "</Tag>"
void writeCloser(QTextStream& out, const QString& tag);
// A group element with all its descendants, or a fragment element.
void writeXml(QTextStream& out, GeometrObj& o);
void writeXml(QTextStream& out, Constraint& c);
// "<Graph><Fragments>" top-level objects "</Fragments><Constraints>" constraints "</Constraints></Graph>"
void writeXml(QTextStream& out, const TotalGraph& graph);
// The whole file: "<Project>" graph "</Project>".
QByteArray projectFileText(const TotalGraph& graph);

// Writes data to path through a temporary file that replaces the old one only once everything
// was written, so a failure leaves the previous file intact. On failure sets error.
bool writeFileAtomically(const QString& path, const QByteArray& data, QString& error);
bool saveProjectFile(const QString& path, const TotalGraph& graph, QString& error);
