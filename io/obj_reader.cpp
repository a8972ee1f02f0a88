#include "obj_reader.h"

#include "file_bytes.h"
#include "frag_mesh.h"
#include "large_arrays.h"
#include "text_fields.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using text_fields::afterEnding;
using text_fields::colorByte;
using text_fields::findLineEnd;
using text_fields::isBlank;
using text_fields::parseIndex;
using text_fields::parseReal;
using text_fields::quoted;
using text_fields::Tokens;

// A reason to refuse the file, found while parsing: before, the line number, after.
struct Problem {
    std::uint64_t line = 0; // counted from 1 within the part of the file that found it; 0 for none
    QString before, after;
};

// What one part of the file holds.
struct ObjPart {
    std::vector<Point3d> vertices;
    std::vector<Color4b> colors;
    bool everyVertexColored = true;
    std::vector<FragMesh::Face> faces;
    std::uint64_t lines = 0;        // physical lines begun in the part
    std::optional<Problem> problem; // the first one in the part
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

// What a line declares: only vertices and faces are read; texture coordinates, normals, groups,
// comments and the rest are skipped.
enum class LineKind { Vertex, Face, Other };

// The kind of line, and in rest what follows its keyword.
LineKind kindOf(std::string_view line, std::string_view& rest) {
    std::size_t i = 0;
    while (i < line.size() && isBlank(line[i]))
        ++i;
    if (i + 1 >= line.size() || !isBlank(line[i + 1]))
        return LineKind::Other;
    rest = line.substr(i + 2);
    return line[i] == 'v' ? LineKind::Vertex : line[i] == 'f' ? LineKind::Face : LineKind::Other;
}

// The number of vertex lines in [b, e), which begins at the start of a line.
std::size_t countVertexLines(const char* b, const char* e) {
    Lines lines(b, e);
    std::string_view line, rest;
    std::uint64_t spanned = 0;
    std::size_t n = 0;
    while (lines.next(line, spanned))
        n += kindOf(line, rest) == LineKind::Vertex;
    return n;
}

// Parses one part of the file, knowing how many vertices the file has in all and before the part,
// so that every face index is resolved and checked on its own line.
class PartParser {
public:
    PartParser(ObjPart& out, std::size_t verticesBefore, std::size_t fileVertices, std::size_t vertexLines)
        : out_(out), verticesBefore_(verticesBefore), fileVertices_(fileVertices) {
        out_.vertices.reserve(vertexLines);
    }

    // Parses [b, e), which begins at the start of a line and ends after a line ending that does
    // not continue the line (or at the end of the file).
    void parse(const char* b, const char* e) {
        Lines lines(b, e);
        std::string_view line, rest;
        std::uint64_t spanned = 0;
        while (!out_.problem && lines.next(line, spanned)) {
            const std::uint64_t lineNumber = out_.lines + 1;
            out_.lines += spanned;
            const LineKind kind = kindOf(line, rest);
            if (kind == LineKind::Vertex)
                parseVertex(rest, lineNumber);
            else if (kind == LineKind::Face)
                parseFace(rest, lineNumber);
        }
    }

private:
    void fail(std::uint64_t line, const QString& after) {
        out_.problem =
            Problem{line, QStringLiteral("the file cannot be parsed (line "), after + QLatin1Char(')')};
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
        out_.vertices.emplace_back(x[0], x[1], x[2]);
        // Colours follow the position as three numbers in 0..1; a fourth number alone is a weight.
        if (n == 6 && out_.everyVertexColored)
            out_.colors.push_back(Color4b{colorByte(x[3]), colorByte(x[4]), colorByte(x[5]), 255});
        else
            out_.everyVertexColored = false;
    }

    // One corner of a face: "v", "v/vt", "v/vt/vn" or "v//vn"; only v is kept, and its text in
    // written.
    static bool parseCorner(std::string_view tok, std::string_view& written, std::int64_t& v) {
        const std::size_t slash = tok.find('/');
        written = tok.substr(0, slash);
        if (!parseIndex(written, v))
            return false;
        if (slash == std::string_view::npos)
            return true;
        std::string_view rest = tok.substr(slash + 1);
        const std::size_t second = rest.find('/');
        std::int64_t other = 0;
        const std::string_view vt = rest.substr(0, second);
        if (!vt.empty() && !parseIndex(vt, other))
            return false;
        if (second == std::string_view::npos)
            return !vt.empty();
        return parseIndex(rest.substr(second + 1), other);
    }

    // The vertex a corner names, counted from 0: positive indices count from the file's first
    // vertex, negative ones back from the latest vertex. False, with the problem, when there is no
    // such vertex or the corner cannot be read.
    bool resolveCorner(std::string_view tok, std::uint64_t lineNumber, std::uint32_t& vertex) {
        std::string_view written;
        std::int64_t v = 0;
        if (!parseCorner(tok, written, v)) {
            fail(lineNumber,
                 QStringLiteral(": \"") + quoted(tok) + QStringLiteral("\" is not a face corner"));
            return false;
        }
        if (v == 0) {
            fail(lineNumber, QStringLiteral(": a face refers to vertex 0 (vertices count from 1)"));
            return false;
        }
        // Both sides stay far from the limits of 64 bits: vertex counts fit in 32 bits.
        const std::int64_t index = v > 0 ? v - 1 : std::int64_t(verticesBefore_ + out_.vertices.size()) + v;
        if (index < 0 || std::uint64_t(index) >= fileVertices_) {
            out_.problem = Problem{lineNumber, QStringLiteral("line "),
                                   QStringLiteral(": a face refers to vertex %1, which is out of range (the "
                                                  "file has %2 vertices, counted from 1)")
                                       .arg(quoted(written))
                                       .arg(fileVertices_)};
            return false;
        }
        vertex = std::uint32_t(index);
        return true;
    }

    // Calls fn(vertex) for each corner of the face in order; false, with the problem, at the first
    // corner that cannot be read or names no vertex.
    template <typename Fn> bool forEachCorner(std::string_view rest, std::uint64_t lineNumber, Fn&& fn) {
        Tokens tokens(rest);
        std::string_view tok;
        while (tokens.next(tok)) {
            std::uint32_t v = 0;
            if (!resolveCorner(tok, lineNumber, v))
                return false;
            fn(v);
        }
        return true;
    }

    // Adds the face's triangle fan. A long face is checked whole first, so that a bad corner at its
    // end costs no triangles, and its triangles are then reserved at once.
    void parseFace(std::string_view rest, std::uint64_t lineNumber) {
        constexpr std::size_t longFace = 4096; // bytes
        std::size_t corners = 0;
        if (rest.size() > longFace) {
            if (!forEachCorner(rest, lineNumber, [&](std::uint32_t) { ++corners; }))
                return;
            if (corners >= 3)
                out_.faces.reserve(out_.faces.size() + corners - 2);
            corners = 0;
        }
        std::uint32_t first = 0, previous = 0;
        const bool read = forEachCorner(rest, lineNumber, [&](std::uint32_t v) {
            if (corners == 0)
                first = v;
            else if (corners >= 2)
                out_.faces.push_back({first, previous, v});
            previous = v;
            ++corners;
        });
        if (read && corners < 3)
            out_.problem =
                Problem{lineNumber, QStringLiteral("line "),
                        QStringLiteral(": a face has %1 vertices (a face needs at least 3)").arg(corners)};
    }

    ObjPart& out_;
    const std::size_t verticesBefore_;
    const std::size_t fileVertices_;
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

// Moves the parts into mesh; returns an empty string on success, else the problem.
QString joinParts(std::vector<ObjPart>& parts, const std::vector<std::size_t>& vertexBase, std::size_t nv,
                  FragMesh& mesh) {
    if (std::optional<QString> problem = firstProblem(parts))
        return *problem;
    std::size_t nf = 0;
    bool colored = true;
    std::vector<std::size_t> faceBase;
    for (const ObjPart& part : parts) {
        faceBase.push_back(nf);
        nf += part.faces.size();
        colored = colored && part.everyVertexColored;
    }
    if (nf == 0)
        return QStringLiteral("the file contains no faces");
    if (nf > std::numeric_limits<std::uint32_t>::max())
        return QStringLiteral("the file has too many faces");

    large_arrays::assignFresh(mesh.vertices, nv, Point3d(Point3d::Zero()));
    large_arrays::assignFresh(mesh.faces, nf, FragMesh::Face{});
    if (colored)
        large_arrays::assignFresh(mesh.fileColors, nv, Color4b{});
    forEachPart(parts.size(), [&](std::size_t k) {
        ObjPart& part = parts[k];
        std::copy(part.vertices.begin(), part.vertices.end(),
                  mesh.vertices.begin() + std::ptrdiff_t(vertexBase[k]));
        std::copy(part.faces.begin(), part.faces.end(), mesh.faces.begin() + std::ptrdiff_t(faceBase[k]));
        if (colored)
            std::copy(part.colors.begin(), part.colors.end(),
                      mesh.fileColors.begin() + std::ptrdiff_t(vertexBase[k]));
        part = ObjPart();
    });
    mesh.hasVertexColors = colored;
    return {};
}

// Parses [b, e) on all cores in two passes over its parts: the first counts the vertices, so that
// a file without any is refused at once and the second resolves and checks every face index on its
// own line.
QString parseFile(const char* b, const char* e, const ObjReadOptions& options, FragMesh& mesh) {
    const std::vector<const char*> cuts = cutIntoParts(b, e, options);
    const std::size_t parts = cuts.size() - 1;
    std::vector<std::size_t> vertexLines(parts);
    std::vector<char> outOfMemory(parts, 0);
    forEachPart(parts, [&](std::size_t k) {
        try {
            vertexLines[k] = countVertexLines(cuts[k], cuts[k + 1]);
        } catch (const std::bad_alloc&) {
            outOfMemory[k] = 1;
        }
    });
    if (std::find(outOfMemory.begin(), outOfMemory.end(), 1) != outOfMemory.end())
        return noMemory();
    std::vector<std::size_t> verticesBefore(parts, 0);
    for (std::size_t k = 1; k < parts; ++k)
        verticesBefore[k] = verticesBefore[k - 1] + vertexLines[k - 1];
    const std::size_t nv = verticesBefore.back() + vertexLines.back();
    if (nv == 0)
        return QStringLiteral("the file contains no vertices (is it an OBJ file?)");
    if (nv > std::numeric_limits<std::uint32_t>::max())
        return QStringLiteral("the file has too many vertices");

    std::vector<ObjPart> out(parts);
    forEachPart(parts, [&](std::size_t k) {
        try {
            PartParser(out[k], verticesBefore[k], nv, vertexLines[k]).parse(cuts[k], cuts[k + 1]);
        } catch (const std::bad_alloc&) {
            out[k].problem = Problem{0, noMemory(), {}};
        }
    });
    return joinParts(out, verticesBefore, nv, mesh);
}

} // namespace

bool readObj(const QString& path, FragMesh& mesh, QString& error, const ObjReadOptions& options) {
    return readMeshBytes(path, mesh, error, FileBytes::Access::Map, [&](const char* data, std::size_t size) {
        return parseFile(data, data + size, options, mesh);
    });
}
