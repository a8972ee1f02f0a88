#include "mtl_reader.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <unordered_map>

namespace {

// Larger libraries are refused: a real one holds a few lines per material.
constexpr qint64 MaxMtlBytes = qint64(64) << 20;

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// A line cut into blank-separated words, keeping where each begins, so that the rest of the line
// after any word can be taken whole (file names may contain blanks).
class Words {
public:
    explicit Words(const QString& line) : line_(line) {}

    // The next word, or an empty string at the end of the line.
    QString next() {
        while (at_ < line_.size() && isBlank(line_[at_]))
            ++at_;
        const qsizetype begin = at_;
        while (at_ < line_.size() && !isBlank(line_[at_]))
            ++at_;
        return line_.mid(begin, at_ - begin);
    }
    // The next word without taking it.
    QString peek() const {
        Words copy = *this;
        return copy.next();
    }
    QString rest() const { return line_.mid(at_).trimmed(); }

private:
    QString line_;
    qsizetype at_ = 0;
};

bool isNumber(const QString& word) {
    bool ok = false;
    word.toDouble(&ok);
    return ok;
}

// How many values follow a map option at most, and whether they are numbers (-o, -s, -t take one
// to three numbers, -mm one or two) or one word (-bm 0.5, -clamp on, -imfchan l, ...).
struct MapOption {
    const char* name;
    int values;
    bool numbers;
};

constexpr MapOption MapOptions[] = {{"-o", 3, true},       {"-s", 3, true},        {"-t", 3, true},
                                    {"-mm", 2, true},      {"-bm", 1, false},      {"-blendu", 1, false},
                                    {"-blendv", 1, false}, {"-boost", 1, false},   {"-cc", 1, false},
                                    {"-clamp", 1, false},  {"-imfchan", 1, false}, {"-texres", 1, false},
                                    {"-type", 1, false}};

// Takes the values of the option just taken from words (an unknown option has none).
void skipOptionValues(const QString& option, Words& words) {
    for (const MapOption& o : MapOptions) {
        if (option.compare(QLatin1String(o.name), Qt::CaseInsensitive) != 0)
            continue;
        for (int i = 0; i < o.values && !words.peek().isEmpty(); ++i) {
            if (o.numbers && !isNumber(words.peek()))
                break;
            words.next();
        }
        return;
    }
}

// The file name of a map line, after its keyword: the options skipped, the rest of the line.
QString mapFileName(Words& words) {
    while (words.peek().startsWith(QLatin1Char('-')))
        skipOptionValues(words.next(), words);
    return words.rest();
}

void readMtlLine(const QString& line, std::vector<MtlMaterial>& materials) {
    Words words(line);
    const QString keyword = words.next();
    if (keyword.compare(QLatin1String("newmtl"), Qt::CaseInsensitive) == 0)
        materials.push_back(MtlMaterial{words.rest(), {}});
    else if (keyword.compare(QLatin1String("map_Kd"), Qt::CaseInsensitive) == 0 && !materials.empty())
        materials.back().image = mapFileName(words);
}

QString objName(const QString& objPath) {
    return QFileInfo(objPath).fileName();
}

// One library named by the OBJ file: its materials, or why it was not read.
struct Library {
    QString name;
    std::vector<MtlMaterial> materials;
    QString problem;
};

// The library names of one mtllib line (see objTextureMaterials).
QStringList libraryNames(const QString& objPath, const QString& line) {
    const QString whole = line.trimmed();
    const QString path = fileBesideMesh(objPath, whole);
    if (whole.isEmpty() || (!path.isEmpty() && QFileInfo(path).isFile()))
        return {whole};
    return whole.split(QRegularExpression(QStringLiteral("[ \t]+")), Qt::SkipEmptyParts);
}

Library readLibrary(const QString& objPath, const QString& name) {
    Library library{name, {}, {}};
    const QString path = fileBesideMesh(objPath, name);
    if (path.isEmpty())
        library.problem =
            QStringLiteral("%1: the material library %2 lies outside the mesh's folder; it was not read")
                .arg(objName(objPath), name);
    else if (!readMtl(path, library.materials, library.problem))
        library.problem = QStringLiteral("%1: %2").arg(objName(objPath), library.problem);
    return library;
}

// Each library's name, and the libraries that were read, in the order the OBJ file names them; each
// library is read once however often it is named.
std::vector<Library> readLibraries(const QString& objPath, const QStringList& libraryLines) {
    std::vector<Library> libraries;
    QStringList seen;
    for (const QString& line : libraryLines)
        for (const QString& name : libraryNames(objPath, line))
            if (!seen.contains(name)) {
                seen << name;
                libraries.push_back(readLibrary(objPath, name));
            }
    return libraries;
}

// Per material name, the image of the first library that defines it.
std::unordered_map<QString, QString> imagesByMaterial(const std::vector<Library>& libraries) {
    std::unordered_map<QString, QString> images;
    for (const Library& library : libraries)
        for (const MtlMaterial& m : library.materials)
            images.try_emplace(m.name, m.image);
    return images;
}

// Why a material named by a usemtl line is not found.
class NotFound {
public:
    NotFound(const QString& objPath, const std::vector<Library>& libraries) : obj_(objName(objPath)) {
        QStringList names;
        for (const Library& library : libraries) {
            if (libraryProblem_.isEmpty())
                libraryProblem_ = library.problem;
            names << library.name;
        }
        libraryNames_ = names.join(QStringLiteral(", "));
    }

    QString reason(const QString& material) const {
        if (!libraryProblem_.isEmpty())
            return libraryProblem_; // most likely defined in the library that could not be read
        if (libraryNames_.isEmpty())
            return QStringLiteral("%1: the material %2 is not defined (the file names no material library)")
                .arg(obj_, material);
        return QStringLiteral("%1: the material %2 is not in %3").arg(obj_, material, libraryNames_);
    }

private:
    QString obj_, libraryProblem_, libraryNames_;
};

} // namespace

bool readMtl(const QString& path, std::vector<MtlMaterial>& materials, QString& problem) {
    materials.clear();
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    if (!QFileInfo(path).isFile()) {
        problem = QStringLiteral("%1: no such material library").arg(name);
        return false;
    }
    if (file.size() > MaxMtlBytes) {
        problem = QStringLiteral("%1: the material library is larger than %2 MB; it was not read")
                      .arg(name)
                      .arg(MaxMtlBytes >> 20);
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        problem =
            QStringLiteral("%1: the material library cannot be opened (%2)").arg(name, file.errorString());
        return false;
    }
    const QString text = QString::fromUtf8(file.readAll());
    for (const QString& line : text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n"))))
        readMtlLine(line, materials);
    return true;
}

std::vector<TextureMaterial> objTextureMaterials(const QString& objPath, const QStringList& libraryLines,
                                                 const QStringList& used) {
    const std::vector<Library> libraries = readLibraries(objPath, libraryLines);
    const std::unordered_map<QString, QString> images = imagesByMaterial(libraries);
    const NotFound notFound(objPath, libraries);
    std::vector<TextureMaterial> materials;
    materials.reserve(std::size_t(used.size()));
    for (const QString& name : used) {
        TextureMaterial material;
        material.name = name;
        if (const auto found = images.find(name); found != images.end())
            material.imageName = found->second;
        else
            material.problem = notFound.reason(name);
        materials.push_back(std::move(material));
    }
    return materials;
}
