#include "obj_reader.h"

#include "file_bytes.h"
#include "frag_mesh.h"
#include "large_arrays.h"
#include "mesh_texture.h"
#include "mtl_reader.h"
#include "text_fields.h"

#include <algorithm>
#include <charconv>
#include <future>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace {

using text_fields::afterEnding;
using text_fields::colorByte;
using text_fields::findLineEnd;
using text_fields::isBlank;
using text_fields::parseReal;
using text_fields::quoted;
using text_fields::Tokens;

// A reason to refuse the file, found while parsing: before, the line number, after.
struct Problem {
    std::uint64_t line = 0; // counted from 1 within the part of the file that found it; 0 for none
    QString before, after;
};

// A usemtl line: the material of the faces after it.
struct MaterialSwitch {
    std::size_t face; // the faces of the part before it
    std::string name;
};

// The items one part adds to a file-wide array: written into the part's own slice of it, and past
// the slice into a vector of the part's own (the slices of faces hold one triangle per face line:
// a polygon's fan outgrows it).
template <typename T> class PartArray {
public:
    void attach(T* slice, std::size_t capacity) {
        slice_ = slice;
        capacity_ = capacity;
    }
    void push_back(const T& item) {
        if (size_ < capacity_)
            slice_[size_] = item;
        else
            overflow_.push_back(item);
        ++size_;
    }
    void reserve(std::size_t n) {
        if (n > capacity_)
            overflow_.reserve(n - capacity_);
    }
    std::size_t size() const { return size_; }
    // Whether the items fill the slice exactly, where the file-wide array holds them already.
    bool fillsSlice() const { return size_ == capacity_; }
    void copyTo(T* out) const {
        std::copy(slice_, slice_ + std::min(size_, capacity_), out);
        std::copy(overflow_.begin(), overflow_.end(), out + std::min(size_, capacity_));
    }

private:
    T* slice_ = nullptr;
    std::size_t capacity_ = 0, size_ = 0;
    std::vector<T> overflow_;
};

// What one part of the file holds.
struct ObjPart {
    PartArray<Point3d> vertices;
    std::vector<Color4b> colors;
    bool everyVertexColored = true;
    PartArray<FragMesh::Face> faces;
    // Only in a file with texture coordinates: the vt lines, and per triangle corner the file's
    // texture coordinate (counted from 0) or NoTextureCoord.
    PartArray<Eigen::Vector2f> texCoords;
    PartArray<std::uint32_t> cornerTexCoords;
    bool anyCornerTextured = false;
    std::vector<MaterialSwitch> materialSwitches;
    std::uint64_t lines = 0;        // physical lines begun in the part
    std::optional<Problem> problem; // the first one in the part
};

// What the first pass finds in one part.
struct PartCount {
    std::size_t vertices = 0, texCoords = 0, faces = 0;
    std::vector<std::string> libraries; // what follows mtllib, in order
    std::vector<std::string> materials; // the names of usemtl lines, each once, in order
};

// The lines of [b, e) in order, each without its ending. A line whose last character is a
// backslash goes on after a blank on the next line; on the last line of the file it goes on with
// nothing.
class Lines {
public:
    Lines(const char* b, const char* e) : p_(b), e_(e) {}

    // False at the end; spanned is the number of physical lines the line is made of.
    bool next(std::string_view& line, std::uint64_t& spanned) {
        if (p_ >= e_)
            return false;
        line = physicalLine();
        spanned = 1;
        if (line.empty() || line.back() != '\\')
            return true;
        joined_.assign(line.data(), line.size() - 1);
        while (p_ < e_) {
            ++spanned;
            const std::string_view more = physicalLine();
            joined_ += ' ';
            const bool goesOn = !more.empty() && more.back() == '\\';
            joined_.append(more.data(), more.size() - (goesOn ? 1 : 0));
            if (!goesOn)
                break;
        }
        line = joined_;
        return true;
    }

private:
    std::string_view physicalLine() {
        const char* end = findLineEnd(p_, e_);
        const std::string_view line(p_, std::size_t(end - p_));
        p_ = end < e_ ? afterEnding(end, e_) : e_;
        return line;
    }

    const char* p_;
    const char* e_;
    std::string joined_;
};

// The first position after from where a line begins that does not continue the line before, or e.
// from may fall inside a line or between the two characters of a "\r\n".
const char* nextLineStart(const char* b, const char* e, const char* from) {
    for (const char* p = from; p < e;) {
        const char* end = findLineEnd(p, e);
        if (end == e)
            return e;
        const char* ending = *end == '\n' && end > b && end[-1] == '\r' ? end - 1 : end;
        const char* after = afterEnding(ending, e);
        if (ending == b || ending[-1] != '\\')
            return after;
        p = after;
    }
    return e;
}

// What a line declares: only vertices, texture coordinates, faces and materials are read; normals,
// groups, comments and the rest are skipped. A keyword with nothing after it declares nothing.
enum class LineKind { Vertex, TexCoord, Face, UseMaterial, MaterialLibrary, Other };

// The kind of line, and in rest what follows its keyword.
LineKind kindOf(std::string_view line, std::string_view& rest) {
    std::size_t i = 0;
    while (i < line.size() && isBlank(line[i]))
        ++i;
    std::size_t end = i;
    while (end < line.size() && !isBlank(line[end]))
        ++end;
    if (end == line.size())
        return LineKind::Other;
    rest = line.substr(end + 1);
    const std::string_view keyword = line.substr(i, end - i);
    if (keyword.size() == 1)
        return keyword[0] == 'v' ? LineKind::Vertex : keyword[0] == 'f' ? LineKind::Face : LineKind::Other;
    if (keyword == "vt")
        return LineKind::TexCoord;
    if (keyword == "usemtl")
        return LineKind::UseMaterial;
    if (keyword == "mtllib")
        return LineKind::MaterialLibrary;
    return LineKind::Other;
}

// A name after a keyword (usemtl, mtllib): the rest of the line without the blanks around it.
std::string_view nameIn(std::string_view rest) {
    std::size_t b = 0, e = rest.size();
    while (b < e && isBlank(rest[b]))
        ++b;
    while (e > b && isBlank(rest[e - 1]))
        --e;
    return rest.substr(b, e - b);
}

// The first pass over [b, e), which begins at the start of a line: its vertex and texture
// coordinate lines counted, its material libraries and materials named.
PartCount countPart(const char* b, const char* e) {
    Lines lines(b, e);
    std::string_view line, rest;
    std::uint64_t spanned = 0;
    PartCount count;
    std::unordered_set<std::string> named;
    while (lines.next(line, spanned)) {
        switch (kindOf(line, rest)) {
        case LineKind::Vertex:
            ++count.vertices;
            break;
        case LineKind::TexCoord:
            ++count.texCoords;
            break;
        case LineKind::Face:
            ++count.faces;
            break;
        case LineKind::UseMaterial:
            if (const std::string_view name = nameIn(rest); named.emplace(name).second)
                count.materials.emplace_back(name);
            break;
        case LineKind::MaterialLibrary:
            count.libraries.emplace_back(nameIn(rest));
            break;
        default:
            break;
        }
    }
    return count;
}

// Where a part begins in the file: the vertices and texture coordinates before it, and how many the
// file and the part have.
struct PartPlace {
    std::size_t verticesBefore = 0, fileVertices = 0, vertexLines = 0;
    std::size_t texCoordsBefore = 0, fileTexCoords = 0, texCoordLines = 0;
    std::size_t faceLinesBefore = 0, faceLines = 0; // a triangle each, as a rule
};

// One index of a face corner at [p, e), up to a "/" or the end: an optional sign and digits, as
// parseIndex reads them. After it, or null when there is none.
const char* readIndex(const char* p, const char* e, std::int64_t& out) {
    const char* digits = p < e && *p == '+' ? p + 1 : p;
    const auto [end, ec] = std::from_chars(digits, e, out);
    return ec == std::errc() && end != digits ? end : nullptr;
}

// One corner of a face as written: "v", "v/vt", "v/vt/vn" or "v//vn", read left to right with the
// text of v and vt kept for messages (vt empty when absent).
struct CornerText {
    std::string_view vertex, texCoord;
    std::int64_t v = 0, vt = 0;
};

bool readCorner(std::string_view tok, CornerText& c) {
    const char* p = tok.data();
    const char* e = p + tok.size();
    const char* end = readIndex(p, e, c.v);
    if (!end)
        return false;
    c.vertex = std::string_view(p, std::size_t(end - p));
    c.texCoord = {};
    if (end == e)
        return true;
    if (*end != '/')
        return false;
    p = end + 1;
    if (p < e && *p != '/') {
        if (!(end = readIndex(p, e, c.vt)))
            return false;
        c.texCoord = std::string_view(p, std::size_t(end - p));
        if (end == e)
            return true;
        if (*end != '/')
            return false;
        p = end;
    }
    if (p == e) // "v/"
        return false;
    std::int64_t normal = 0;
    end = readIndex(p + 1, e, normal);
    return end == e;
}

// A corner resolved: the vertex and the texture coordinate, counted from 0.
struct Corner {
    std::uint32_t vertex = 0;
    std::uint32_t texCoord = NoTextureCoord;
};

// Parses one part of the file, knowing how many vertices and texture coordinates the file has in
// all and before the part, so that every face index is resolved and checked on its own line.
class PartParser {
public:
    PartParser(ObjPart& out, const PartPlace& place) : out_(out), place_(place) {}

    // Parses [b, e), which begins at the start of a line and ends after a line ending that does
    // not continue the line (or at the end of the file).
    void parse(const char* b, const char* e) {
        Lines lines(b, e);
        std::string_view line, rest;
        std::uint64_t spanned = 0;
        while (!out_.problem && lines.next(line, spanned)) {
            const std::uint64_t lineNumber = out_.lines + 1;
            out_.lines += spanned;
            switch (kindOf(line, rest)) {
            case LineKind::Vertex:
                parseVertex(rest, lineNumber);
                break;
            case LineKind::Face:
                parseFace(rest, lineNumber);
                break;
            case LineKind::TexCoord:
                parseTexCoord(rest, lineNumber);
                break;
            case LineKind::UseMaterial:
                if (textured())
                    out_.materialSwitches.push_back({out_.faces.size(), std::string(nameIn(rest))});
                break;
            default:
                break;
            }
        }
    }

private:
    // Texture coordinates are kept only when the file has some; a file without vt lines is read
    // as before they were read at all, whatever its corners name.
    bool textured() const { return place_.fileTexCoords > 0; }

    void fail(std::uint64_t line, const QString& after) {
        out_.problem =
            Problem{line, QStringLiteral("the file cannot be parsed (line "), after + QLatin1Char(')')};
    }

    // what and whats: the item in the singular and the plural.
    void outOfRange(std::uint64_t line, const char* what, const char* whats, std::string_view written,
                    std::size_t count) {
        out_.problem =
            Problem{line, QStringLiteral("line "),
                    QStringLiteral(": a face refers to %1 %2, which is out of range (the file has %3 "
                                   "%4, counted from 1)")
                        .arg(QLatin1String(what), quoted(written))
                        .arg(count)
                        .arg(QLatin1String(whats))};
    }

    void parseVertex(std::string_view rest, std::uint64_t lineNumber) {
        Tokens tokens(rest);
        double x[6];
        int n = 0;
        std::string_view tok;
        while (n < 6 && tokens.next(tok) && parseReal(tok, x[n]))
            ++n;
        if (n < 3) {
            fail(lineNumber, QStringLiteral(": a vertex needs three coordinates"));
            return;
        }
        out_.vertices.push_back(Point3d(x[0], x[1], x[2]));
        // Colours follow the position as three numbers in 0..1; a fourth number alone is a weight.
        if (n == 6 && out_.everyVertexColored)
            out_.colors.push_back(Color4b{colorByte(x[3]), colorByte(x[4]), colorByte(x[5]), 255});
        else
            out_.everyVertexColored = false;
    }

    // "vt u [v [w]]": v is 0 when absent, w is not used.
    void parseTexCoord(std::string_view rest, std::uint64_t lineNumber) {
        Tokens tokens(rest);
        double uv[2] = {0.0, 0.0};
        int n = 0;
        std::string_view tok;
        while (n < 2 && tokens.next(tok) && parseReal(tok, uv[n]))
            ++n;
        if (n == 0) {
            fail(lineNumber, QStringLiteral(": a texture coordinate needs a number"));
            return;
        }
        out_.texCoords.push_back(Eigen::Vector2f(float(uv[0]), float(uv[1])));
    }

    // The index counted from 0 that a face index names: positive ones count from the file's first
    // item, negative ones back from the latest (seen is the number of items up to this line).
    static std::int64_t fromWritten(std::int64_t written, std::size_t seen) {
        // Both sides stay far from the limits of 64 bits: the counts fit in 32 bits.
        return written > 0 ? written - 1 : std::int64_t(seen) + written;
    }

    // The vertex and texture coordinate a corner names. False, with the problem, when there is no
    // such vertex or texture coordinate or the corner cannot be read.
    bool resolveCorner(std::string_view tok, std::uint64_t lineNumber, Corner& corner) {
        CornerText text;
        if (!readCorner(tok, text)) {
            fail(lineNumber,
                 QStringLiteral(": \"") + quoted(tok) + QStringLiteral("\" is not a face corner"));
            return false;
        }
        if (text.v == 0) {
            fail(lineNumber, QStringLiteral(": a face refers to vertex 0 (vertices count from 1)"));
            return false;
        }
        const std::int64_t index = fromWritten(text.v, place_.verticesBefore + out_.vertices.size());
        if (index < 0 || std::uint64_t(index) >= place_.fileVertices) {
            outOfRange(lineNumber, "vertex", "vertices", text.vertex, place_.fileVertices);
            return false;
        }
        corner.vertex = std::uint32_t(index);
        corner.texCoord = NoTextureCoord;
        if (text.texCoord.empty() || !textured())
            return true;
        if (text.vt == 0) {
            fail(
                lineNumber,
                QStringLiteral(": a face refers to texture coordinate 0 (texture coordinates count from 1)"));
            return false;
        }
        const std::int64_t t = fromWritten(text.vt, place_.texCoordsBefore + out_.texCoords.size());
        if (t < 0 || std::uint64_t(t) >= place_.fileTexCoords) {
            outOfRange(lineNumber, "texture coordinate", "texture coordinates", text.texCoord,
                       place_.fileTexCoords);
            return false;
        }
        corner.texCoord = std::uint32_t(t);
        return true;
    }

    // Calls fn(corner) for each corner of the face in order; false, with the problem, at the first
    // corner that cannot be read or names nothing.
    template <typename Fn> bool forEachCorner(std::string_view rest, std::uint64_t lineNumber, Fn&& fn) {
        Tokens tokens(rest);
        std::string_view tok;
        while (tokens.next(tok)) {
            Corner corner;
            if (!resolveCorner(tok, lineNumber, corner))
                return false;
            fn(corner);
        }
        return true;
    }

    void addTriangle(const Corner& a, const Corner& b, const Corner& c) {
        out_.faces.push_back({a.vertex, b.vertex, c.vertex});
        if (!textured())
            return;
        out_.cornerTexCoords.push_back(a.texCoord);
        out_.cornerTexCoords.push_back(b.texCoord);
        out_.cornerTexCoords.push_back(c.texCoord);
        out_.anyCornerTextured = out_.anyCornerTextured || a.texCoord != NoTextureCoord ||
                                 b.texCoord != NoTextureCoord || c.texCoord != NoTextureCoord;
    }

    // Adds the face's triangle fan. A long face is checked whole first, so that a bad corner at its
    // end costs no triangles, and its triangles are then reserved at once.
    void parseFace(std::string_view rest, std::uint64_t lineNumber) {
        constexpr std::size_t longFace = 4096; // bytes
        std::size_t corners = 0;
        if (rest.size() > longFace) {
            if (!forEachCorner(rest, lineNumber, [&](const Corner&) { ++corners; }))
                return;
            if (corners >= 3) {
                out_.faces.reserve(out_.faces.size() + corners - 2);
                if (textured())
                    out_.cornerTexCoords.reserve(out_.cornerTexCoords.size() + 3 * (corners - 2));
            }
            corners = 0;
        }
        Corner first, previous;
        const bool read = forEachCorner(rest, lineNumber, [&](const Corner& c) {
            if (corners == 0)
                first = c;
            else if (corners >= 2)
                addTriangle(first, previous, c);
            previous = c;
            ++corners;
        });
        if (read && corners < 3)
            out_.problem =
                Problem{lineNumber, QStringLiteral("line "),
                        QStringLiteral(": a face has %1 vertices (a face needs at least 3)").arg(corners)};
    }

    ObjPart& out_;
    const PartPlace place_;
};

// Runs fn(k) for every part k in [0, parts) on as many threads as there are cores.
template <typename Fn> void forEachPart(std::size_t parts, Fn&& fn) {
    large_arrays::forParts(parts, large_arrays::partsFor(parts, 1),
                           [&fn](unsigned, std::size_t begin, std::size_t end) {
                               for (std::size_t k = begin; k < end; ++k)
                                   fn(k);
                           });
}

QString noMemory() {
    return QStringLiteral("not enough memory to read the mesh");
}

// The file cut into parts at line starts: parts + 1 positions from b to e.
std::vector<const char*> cutIntoParts(const char* b, const char* e, const ObjReadOptions& options) {
    const std::size_t size = std::size_t(e - b);
    const std::size_t minPart = std::max<std::size_t>(options.minPartBytes, 1);
    const unsigned parts = options.maxParts
                               ? unsigned(std::clamp<std::size_t>(size / minPart, 1, options.maxParts))
                               : large_arrays::partsFor(size, minPart);
    std::vector<const char*> cuts{b};
    for (unsigned k = 1; k < parts; ++k)
        cuts.push_back(std::max(cuts.back(), nextLineStart(b, e, b + size * k / parts)));
    cuts.push_back(e);
    return cuts;
}

// The first problem in the file, with its line number counted from the file's start.
std::optional<QString> firstProblem(const std::vector<ObjPart>& parts) {
    std::uint64_t linesBefore = 0;
    for (const ObjPart& part : parts) {
        if (const std::optional<Problem>& p = part.problem)
            return p->line ? p->before + QString::number(linesBefore + p->line) + p->after : p->before;
        linesBefore += part.lines;
    }
    return std::nullopt;
}

// The faces before each part, and in all; a problem when there are none or too many.
QString countFaces(const std::vector<ObjPart>& parts, std::vector<std::size_t>& faceBase, std::size_t& nf) {
    nf = 0;
    for (const ObjPart& part : parts) {
        faceBase.push_back(nf);
        nf += part.faces.size();
    }
    if (nf == 0)
        return QStringLiteral("the file contains no faces");
    if (nf > std::numeric_limits<std::uint32_t>::max())
        return QStringLiteral("the file has too many faces");
    return {};
}

// The file-wide arrays the parts write into, each into its own slices.
struct FileArrays {
    std::vector<Point3d> vertices;
    std::vector<FragMesh::Face> faces; // room for a triangle per face line
    std::vector<Eigen::Vector2f> texCoords;
    std::vector<std::uint32_t> cornerTexCoords; // 3 per face
};

// The arrays sized from the first pass, and each part given its slices of them.
FileArrays allocateArrays(const std::vector<PartPlace>& places, std::vector<ObjPart>& parts) {
    const PartPlace& last = places.back();
    const std::size_t faceLines = last.faceLinesBefore + last.faceLines;
    const bool textured = last.fileTexCoords > 0;
    FileArrays a;
    large_arrays::assignFresh(a.vertices, last.fileVertices, Point3d(Point3d::Zero()));
    large_arrays::assignFresh(a.faces, faceLines, FragMesh::Face{});
    if (textured) {
        large_arrays::assignFresh(a.texCoords, last.fileTexCoords, Eigen::Vector2f(Eigen::Vector2f::Zero()));
        large_arrays::assignFresh(a.cornerTexCoords, 3 * faceLines, NoTextureCoord);
    }
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const PartPlace& p = places[k];
        parts[k].vertices.attach(a.vertices.data() + p.verticesBefore, p.vertexLines);
        parts[k].faces.attach(a.faces.data() + p.faceLinesBefore, p.faceLines);
        if (textured) {
            parts[k].texCoords.attach(a.texCoords.data() + p.texCoordsBefore, p.texCoordLines);
            parts[k].cornerTexCoords.attach(a.cornerTexCoords.data() + 3 * p.faceLinesBefore,
                                            3 * p.faceLines);
        }
    }
    return a;
}

// Makes all hold every part's items of piece, in order. It does already when each part filled its
// slice exactly (every face a triangle); else they are copied into a new array.
template <typename T>
void gather(std::vector<T>& all, std::vector<ObjPart>& parts, PartArray<T> ObjPart::*piece, const T& fill) {
    std::vector<std::size_t> base;
    std::size_t total = 0;
    bool filled = true;
    for (const ObjPart& part : parts) {
        base.push_back(total);
        total += (part.*piece).size();
        filled = filled && (part.*piece).fillsSlice();
    }
    if (!filled) {
        std::vector<T> fresh;
        large_arrays::assignFresh(fresh, total, fill);
        forEachPart(parts.size(), [&](std::size_t k) { (parts[k].*piece).copyTo(fresh.data() + base[k]); });
        all.swap(fresh);
    }
    for (ObjPart& part : parts)
        part.*piece = {};
}

// Moves the vertices, colours and faces into mesh.
void joinGeometry(std::vector<ObjPart>& parts, const std::vector<PartPlace>& places, FileArrays& arrays,
                  FragMesh& mesh) {
    gather(arrays.vertices, parts, &ObjPart::vertices, Point3d(Point3d::Zero()));
    gather(arrays.faces, parts, &ObjPart::faces, FragMesh::Face{});
    mesh.vertices = std::move(arrays.vertices);
    mesh.faces = std::move(arrays.faces);
    const bool colored =
        std::all_of(parts.begin(), parts.end(), [](const ObjPart& part) { return part.everyVertexColored; });
    if (colored) {
        large_arrays::assignFresh(mesh.fileColors, mesh.vertices.size(), Color4b{});
        forEachPart(parts.size(), [&](std::size_t k) {
            std::copy(parts[k].colors.begin(), parts[k].colors.end(),
                      mesh.fileColors.begin() + std::ptrdiff_t(places[k].verticesBefore));
        });
    }
    for (ObjPart& part : parts)
        part.colors = {};
    mesh.hasVertexColors = colored;
}

// The materials the file names, from the first pass: its mtllib lines and its usemtl names, each
// once, in file order.
struct NamedMaterials {
    QStringList libraries;
    QStringList used;
    std::unordered_map<std::string, std::uint16_t> index; // of each name in used
};

NamedMaterials namedMaterials(const std::vector<PartCount>& counts) {
    NamedMaterials named;
    for (const PartCount& count : counts) {
        for (const std::string& library : count.libraries)
            named.libraries << QString::fromStdString(library);
        for (const std::string& name : count.materials)
            if (named.index.try_emplace(name, std::uint16_t(named.used.size())).second)
                named.used << QString::fromStdString(name);
    }
    return named;
}

// At most this many materials fit the faces' material numbers, one of them for faces before any
// usemtl line.
constexpr std::size_t MaxNamedMaterials = std::numeric_limits<std::uint16_t>::max();

// The texture of the joined parts, before its corners are welded and its images attached.
struct ObjTexture {
    std::vector<Eigen::Vector2f> texCoords;     // the vt lines
    std::vector<std::uint32_t> cornerTexCoords; // 3 per face: a vt, or NoTextureCoord
    std::vector<std::uint16_t> faceMaterials;   // empty when every face has material 0
    bool unnamedMaterial = false;               // faces come before the first usemtl: material 0 has no name
};

// Per face, the material of the latest usemtl line before it; faces before the first one have
// material 0 without name, and the named materials follow it.
std::vector<std::uint16_t> faceMaterials(const std::vector<ObjPart>& parts,
                                         const std::vector<std::size_t>& faceBase, std::size_t nf,
                                         const NamedMaterials& named, bool& unnamedMaterial) {
    const auto withSwitches = std::find_if(
        parts.begin(), parts.end(), [](const ObjPart& part) { return !part.materialSwitches.empty(); });
    unnamedMaterial =
        withSwitches == parts.end() ||
        faceBase[std::size_t(withSwitches - parts.begin())] + withSwitches->materialSwitches[0].face > 0;
    const std::uint16_t first = unnamedMaterial ? 1 : 0;
    // The faces from each switch on, up to the next one.
    struct Run {
        std::size_t from;
        std::uint16_t material;
    };
    std::vector<Run> runs{{0, 0}};
    for (std::size_t k = 0; k < parts.size(); ++k)
        for (const MaterialSwitch& s : parts[k].materialSwitches)
            runs.push_back({faceBase[k] + s.face, std::uint16_t(first + named.index.at(s.name))});
    runs.push_back({nf, 0});
    std::vector<std::uint16_t> materials;
    for (std::size_t r = 0; r + 1 < runs.size(); ++r) {
        if (runs[r].material == 0 || runs[r].from == runs[r + 1].from)
            continue;
        if (materials.empty())
            materials.assign(nf, 0); // only when a face has a material other than 0
        std::fill(materials.begin() + std::ptrdiff_t(runs[r].from),
                  materials.begin() + std::ptrdiff_t(runs[r + 1].from), runs[r].material);
    }
    return materials;
}

ObjTexture joinTexture(std::vector<ObjPart>& parts, FileArrays& arrays,
                       const std::vector<std::size_t>& faceBase, std::size_t nf,
                       const NamedMaterials& named) {
    ObjTexture texture;
    texture.faceMaterials = faceMaterials(parts, faceBase, nf, named, texture.unnamedMaterial);
    gather(arrays.texCoords, parts, &ObjPart::texCoords, Eigen::Vector2f(Eigen::Vector2f::Zero()));
    gather(arrays.cornerTexCoords, parts, &ObjPart::cornerTexCoords, NoTextureCoord);
    texture.texCoords = std::move(arrays.texCoords);
    texture.cornerTexCoords = std::move(arrays.cornerTexCoords);
    return texture;
}

// mesh.texture from the joined texture and the materials, once the images are read (welding the
// corners meanwhile).
void attachObjTexture(FragMesh& mesh, ObjTexture texture,
                      std::future<std::vector<TextureMaterial>>& materials) {
    MeshTexture welded = weldIndexedTextureCorners(mesh, texture.texCoords, texture.cornerTexCoords,
                                                   std::move(texture.faceMaterials));
    texture.texCoords = {};
    texture.cornerTexCoords = {};
    std::vector<TextureMaterial> found = materials.get();
    if (texture.unnamedMaterial)
        found.insert(found.begin(), TextureMaterial{});
    attachFoundTexture(mesh, std::move(welded), std::move(found));
}

// The parts' places in the file, from what the first pass counted; a problem when the file has no
// vertex or too many.
QString placeParts(const std::vector<PartCount>& counts, std::vector<PartPlace>& places) {
    places.resize(counts.size());
    std::size_t vertices = 0, texCoords = 0, faceLines = 0;
    for (std::size_t k = 0; k < counts.size(); ++k) {
        places[k].verticesBefore = vertices;
        places[k].vertexLines = counts[k].vertices;
        places[k].texCoordsBefore = texCoords;
        places[k].texCoordLines = counts[k].texCoords;
        places[k].faceLinesBefore = faceLines;
        places[k].faceLines = counts[k].faces;
        faceLines += counts[k].faces;
        vertices += counts[k].vertices;
        texCoords += counts[k].texCoords;
    }
    for (PartPlace& place : places) {
        place.fileVertices = vertices;
        place.fileTexCoords = texCoords;
    }
    if (vertices == 0)
        return QStringLiteral("the file contains no vertices (is it an OBJ file?)");
    if (vertices > std::numeric_limits<std::uint32_t>::max())
        return QStringLiteral("the file has too many vertices");
    if (texCoords >= NoTextureCoord)
        return QStringLiteral("the file has too many texture coordinates");
    return {};
}

// The first pass on all cores.
QString countParts(const std::vector<const char*>& cuts, std::vector<PartCount>& counts) {
    const std::size_t parts = cuts.size() - 1;
    counts.resize(parts);
    std::vector<char> outOfMemory(parts, 0);
    forEachPart(parts, [&](std::size_t k) {
        try {
            counts[k] = countPart(cuts[k], cuts[k + 1]);
        } catch (const std::bad_alloc&) {
            outOfMemory[k] = 1;
        }
    });
    if (std::find(outOfMemory.begin(), outOfMemory.end(), 1) != outOfMemory.end())
        return noMemory();
    return {};
}

// The materials the file names with their images, found and decoded on a thread of their own
// while the file is parsed.
std::future<std::vector<TextureMaterial>> findMaterials(const QString& path, const NamedMaterials& named) {
    return std::async(std::launch::async | std::launch::deferred,
                      [path, libraries = named.libraries, used = named.used] {
                          std::vector<TextureMaterial> materials = objTextureMaterials(path, libraries, used);
                          findTextureImages(path, materials);
                          return materials;
                      });
}

// Parses [b, e) on all cores in two passes over its parts: the first counts the vertices and
// texture coordinates, so that a file without vertices is refused at once and the second resolves
// and checks every face index on its own line. The first also finds the materials, whose images
// are read during the second.
QString parseFile(const QString& path, const char* b, const char* e, const ObjReadOptions& options,
                  FragMesh& mesh) {
    const std::vector<const char*> cuts = cutIntoParts(b, e, options);
    std::vector<PartCount> counts;
    std::vector<PartPlace> places;
    if (QString problem = countParts(cuts, counts); !problem.isEmpty())
        return problem;
    if (QString problem = placeParts(counts, places); !problem.isEmpty())
        return problem;
    const bool textured = places.front().fileTexCoords > 0;
    const NamedMaterials named = textured ? namedMaterials(counts) : NamedMaterials();
    if (std::size_t(named.used.size()) > MaxNamedMaterials)
        return QStringLiteral("the file names more than %1 materials").arg(MaxNamedMaterials);
    std::future<std::vector<TextureMaterial>> materials;
    if (textured)
        materials = findMaterials(path, named);

    std::vector<ObjPart> out(cuts.size() - 1);
    FileArrays arrays = allocateArrays(places, out);
    forEachPart(out.size(), [&](std::size_t k) {
        try {
            PartParser(out[k], places[k]).parse(cuts[k], cuts[k + 1]);
        } catch (const std::bad_alloc&) {
            out[k].problem = Problem{0, noMemory(), {}};
        }
    });
    if (std::optional<QString> problem = firstProblem(out))
        return *problem;
    std::vector<std::size_t> faceBase;
    std::size_t nf = 0;
    if (QString problem = countFaces(out, faceBase, nf); !problem.isEmpty())
        return problem;
    const bool hasTexture =
        std::any_of(out.begin(), out.end(), [](const ObjPart& part) { return part.anyCornerTextured; });
    ObjTexture texture;
    if (hasTexture)
        texture = joinTexture(out, arrays, faceBase, nf, named);
    joinGeometry(out, places, arrays, mesh);
    if (hasTexture)
        attachObjTexture(mesh, std::move(texture), materials);
    return {};
}

} // namespace

bool readObj(const QString& path, FragMesh& mesh, QString& error, const ObjReadOptions& options) {
    return readMeshBytes(path, mesh, error, FileBytes::Access::Map, [&](const char* data, std::size_t size) {
        return parseFile(path, data, data + size, options, mesh);
    });
}
