#include "mesh_formats.h"

#include "frag_mesh.h"

#include <QFileInfo>

#include <algorithm>
#include <mutex>

namespace {
std::mutex registryMutex;
std::vector<MeshFormat> registry; // guarded by registryMutex

QString suffixOf(const QString& path) {
    return QFileInfo(path).fileName().split(QLatin1Char('.')).last().toLower();
}

// ".ply", ".ply and .obj", ".ply, .obj and .stl".
QString spokenList(const QStringList& suffixes) {
    QStringList dotted;
    for (const QString& s : suffixes)
        dotted << QLatin1Char('.') + s;
    if (dotted.size() < 2)
        return dotted.join(QString());
    const QString last = dotted.takeLast();
    return dotted.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

QString unknownFormatMessage(const QString& path) {
    const QString file = QFileInfo(path).fileName();
    const QStringList suffixes = meshSuffixes();
    if (suffixes.isEmpty())
        return QStringLiteral("%1: no mesh reader is installed").arg(file);
    return QStringLiteral("%1: unknown mesh format; Ostrakit reads %2").arg(file, spokenList(suffixes));
}

QString dialogFilter(const QString& name, const QStringList& suffixes) {
    QStringList patterns;
    for (const QString& s : suffixes)
        patterns << QStringLiteral("*.") + s;
    return QStringLiteral("%1 (%2)").arg(name, patterns.join(QLatin1Char(' ')));
}
} // namespace

void registerMeshFormat(MeshFormat format) {
    format.suffix = format.suffix.toLower();
    std::lock_guard lock(registryMutex);
    const auto same = std::find_if(registry.begin(), registry.end(),
                                   [&](const MeshFormat& f) { return f.suffix == format.suffix; });
    if (same != registry.end())
        *same = std::move(format);
    else
        registry.push_back(std::move(format));
}

std::vector<MeshFormat> meshFormats() {
    std::lock_guard lock(registryMutex);
    return registry;
}

std::optional<MeshFormat> meshFormatFor(const QString& path) {
    const QString suffix = suffixOf(path);
    std::lock_guard lock(registryMutex);
    for (const MeshFormat& f : registry)
        if (f.suffix == suffix)
            return f;
    return std::nullopt;
}

QStringList meshSuffixes() {
    QStringList suffixes;
    for (const MeshFormat& f : meshFormats())
        suffixes << f.suffix;
    return suffixes;
}

QString meshFileDialogFilter() {
    QStringList filters{dialogFilter(QStringLiteral("All meshes"), meshSuffixes())};
    for (const MeshFormat& f : meshFormats())
        filters << dialogFilter(f.name, {f.suffix});
    return filters.join(QStringLiteral(";;"));
}

bool readMeshFile(const QString& path, FragMesh& mesh, QString& error) {
    const std::optional<MeshFormat> format = meshFormatFor(path);
    if (!format) {
        mesh.clear();
        error = unknownFormatMessage(path);
        return false;
    }
    return format->read(path, mesh, error);
}
