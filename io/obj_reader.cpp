#include "obj_reader.h"

#include "frag_mesh.h"
#include "large_arrays.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// A reason to refuse the file, found while parsing: before, the line number, after.
struct Problem {
    std::uint64_t line = 0; // counted from 1 within the part of the file that found it; 0 for none
    QString before, after;
};

// What one part of the file holds. Indices written as negative numbers are kept relative to the
// vertices of the part (possibly below zero) until the parts are joined; relative marks them.
struct ObjPart {
    std::vector<Point3d> vertices;
    std::vector<Color4b> colors;
    bool everyVertexColored = true;
    std::vector<FragMesh::Face> faces;
    std::vector<std::uint64_t> relative; // one bit per face corner
    std::uint64_t lines = 0;             // physical lines begun in the part
    std::optional<Problem> problem;      // the first one in the part
};

inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::uint8_t colorByte(double v) {
    const double s = v * 255.0;
    if (!(s > 0.0))
        return 0;
    if (s >= 255.0)
        return 255;
    return static_cast<std::uint8_t>(std::lround(s));
}

// A decimal number exactly as strtod reads it (correctly rounded), but only when the whole token
// is the number.
bool parseReal(std::string_view tok, double& out) {
    const char* b = tok.data();
    const char* e = b + tok.size();
    if (b != e && *b == '+')
        ++b;
    if (b == e)
        return false;
    const auto [ptr, ec] = std::from_chars(b, e, out);
    if (ptr != e)
        return false;
    if (ec == std::errc())
        return true;
    if (ec != std::errc::result_out_of_range || tok.size() > 1000)
        return false;
    // Beyond the range of doubles: the infinity or the zero that strtod gives.
    const std::string copy(tok);
    out = std::strtod(copy.c_str(), nullptr);
    return true;
}

bool parseIndex(std::string_view tok, std::int64_t& out) {
    const char* b = tok.data();
    const char* e = b + tok.size();
    if (b != e && *b == '+')
        ++b;
    const auto [ptr, ec] = std::from_chars(b, e, out);
    return b != e && ptr == e && ec == std::errc();
}

// Splits a line into blank-separated tokens, one at a time; a "#" token ends the line.
class Tokens {
public:
    explicit Tokens(std::string_view line) : rest_(line) {}
    bool next(std::string_view& tok) {
        std::size_t i = 0;
        while (i < rest_.size() && isBlank(rest_[i]))
            ++i;
        if (i == rest_.size() || rest_[i] == '#')
            return false;
        std::size_t j = i;
        while (j < rest_.size() && !isBlank(rest_[j]))
            ++j;
        tok = rest_.substr(i, j - i);
        rest_ = rest_.substr(j);
        return true;
    }

private:
    std::string_view rest_;
};

class PartParser {
public:
    explicit PartParser(ObjPart& out) : out_(out) {}

    // Parses [b, e), which begins at the start of a line and ends after a line ending that does
    // not continue the line (or at the end of the file).
    void parse(const char* b, const char* e) {
        std::string joined;
        const char* p = b;
        while (p < e && !out_.problem) {
            const std::uint64_t lineNumber = ++out_.lines;
            const char* next = nullptr;
            std::string_view line = physicalLine(p, e, next);
            // A backslash at the end continues the line on the next one.
            if (!line.empty() && line.back() == '\\' && next < e) {
                joined.assign(line.data(), line.size() - 1);
                while (next < e) {
                    ++out_.lines;
                    const std::string_view more = physicalLine(next, e, next);
                    joined += ' ';
                    if (more.empty() || more.back() != '\\') {
                        joined.append(more.data(), more.size());
                        break;
                    }
                    joined.append(more.data(), more.size() - 1);
                }
                line = joined;
            }
            parseLine(line, lineNumber);
            p = next;
        }
    }

private:
    // The line starting at p without its ending ("\n", "\r\n" or a lone "\r"); next is set after
    // the ending.
    static std::string_view physicalLine(const char* p, const char* e, const char*& next) {
        const auto* nl = static_cast<const char*>(std::memchr(p, '\n', std::size_t(e - p)));
        const char* end = nl ? nl : e;
        next = nl ? nl + 1 : e;
        if (const auto* cr = static_cast<const char*>(std::memchr(p, '\r', std::size_t(end - p)))) {
            if (cr + 1 != end || !nl)
                next = cr + 1; // a lone "\r" ends the line
            end = cr;
        }
        return {p, std::size_t(end - p)};
    }

    void fail(std::uint64_t line, const QString& after) {
        out_.problem =
            Problem{line, QStringLiteral("the file cannot be parsed (line "), after + QLatin1Char(')')};
    }

    void parseLine(std::string_view line, std::uint64_t lineNumber) {
        std::size_t i = 0;
        while (i < line.size() && isBlank(line[i]))
            ++i;
        if (i + 1 >= line.size() || !isBlank(line[i + 1]))
            return; // not a "v" or "f" line: texture coordinates, normals, groups, comments, ...
        if (line[i] == 'v')
            parseVertex(line.substr(i + 2), lineNumber);
        else if (line[i] == 'f')
            parseFace(line.substr(i + 2), lineNumber);
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

    // One corner of a face: "v", "v/vt", "v/vt/vn" or "v//vn"; only v is kept.
    bool parseCorner(std::string_view tok, std::int64_t& v) {
        const std::size_t slash = tok.find('/');
        if (!parseIndex(tok.substr(0, slash), v))
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

    void parseFace(std::string_view rest, std::uint64_t lineNumber) {
        Tokens tokens(rest);
        corners_.clear();
        std::string_view tok;
        while (tokens.next(tok)) {
            std::int64_t v = 0;
            if (!parseCorner(tok, v)) {
                const qsizetype shown = qsizetype(std::min<std::size_t>(tok.size(), 40));
                fail(lineNumber, QStringLiteral(": \"") + QString::fromUtf8(tok.data(), shown) +
                                     QStringLiteral("\" is not a face corner"));
                return;
            }
            if (v == 0) {
                fail(lineNumber, QStringLiteral(": a face refers to vertex 0 (vertices count from 1)"));
                return;
            }
            corners_.push_back(v);
        }
        if (corners_.size() < 3) {
            out_.problem = Problem{
                lineNumber, QStringLiteral("line "),
                QStringLiteral(": a face has %1 vertices (a face needs at least 3)").arg(corners_.size())};
            return;
        }
        std::uint32_t stored[3];
        bool relative[3];
        auto store = [&](int slot, std::int64_t v) {
            // Positive indices count from the file's first vertex. Negative ones count back from
            // the latest vertex and stay relative to this part's first vertex (possibly below it)
            // until the parts are joined. Anything beyond 32 bits is out of range either way.
            relative[slot] = v < 0;
            if (v > 0) {
                stored[slot] =
                    std::uint32_t(std::min<std::int64_t>(v - 1, std::numeric_limits<std::uint32_t>::max()));
                return;
            }
            const std::int64_t back = std::int64_t(out_.vertices.size()) + v;
            stored[slot] = std::uint32_t(std::int32_t(std::clamp<std::int64_t>(
                back, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max())));
        };
        store(0, corners_[0]);
        for (std::size_t j = 2; j < corners_.size(); ++j) {
            store(1, corners_[j - 1]);
            store(2, corners_[j]);
            const std::size_t face = out_.faces.size();
            out_.faces.push_back({stored[0], stored[1], stored[2]});
            for (int k = 0; k < 3; ++k)
                if (relative[k])
                    markRelative(face * 3 + std::size_t(k));
        }
    }

    void markRelative(std::size_t corner) {
        auto& bits = out_.relative;
        if (bits.size() <= corner / 64)
            bits.resize(corner / 64 + 1 + bits.size() / 2, 0);
        bits[corner / 64] |= std::uint64_t(1) << (corner % 64);
    }

    ObjPart& out_;
    std::vector<std::int64_t> corners_;
};

// The first position at or after from where a line begins that does not continue the line before.
const char* nextLineStart(const char* b, const char* e, const char* from) {
    for (const char* p = from; p < e;) {
        const auto* nl = static_cast<const char*>(std::memchr(p, '\n', std::size_t(e - p)));
        if (!nl)
            return e;
        const char* q = nl;
        if (q > b && q[-1] == '\r')
            --q;
        if (q == b || q[-1] != '\\')
            return nl + 1;
        p = nl + 1;
    }
    return e;
}

// Parses the file in parts split at line starts, one part per core.
std::vector<ObjPart> parseParts(const char* b, const char* e) {
    const std::size_t size = std::size_t(e - b);
    const unsigned parts = large_arrays::partsFor(size, std::size_t(4) << 20);
    std::vector<const char*> starts{b};
    for (unsigned k = 1; k < parts; ++k)
        starts.push_back(std::max(starts.back(), nextLineStart(b, e, b + size * k / parts)));
    starts.push_back(e);
    std::vector<ObjPart> out(parts);
    large_arrays::forParts(parts, parts, [&](unsigned, std::size_t k, std::size_t) {
        try {
            PartParser(out[k]).parse(starts[k], starts[k + 1]);
        } catch (const std::bad_alloc&) {
            out[k].problem = Problem{0, QStringLiteral("not enough memory to read the mesh"), {}};
        }
    });
    return out;
}

inline bool isRelative(const ObjPart& part, std::size_t corner) {
    const std::size_t word = corner / 64;
    return word < part.relative.size() && (part.relative[word] >> (corner % 64) & 1u);
}

QString outOfRange(std::int64_t index, std::size_t nv) {
    return QStringLiteral(
               "a face refers to vertex %1, which is out of range (the file has %2 vertices, counted "
               "from 1)")
        .arg(index + 1)
        .arg(nv);
}

// Joins the parts into mesh; returns an empty string on success, else the problem.
QString joinParts(std::vector<ObjPart>& parts, FragMesh& mesh) {
    std::uint64_t linesBefore = 0;
    for (const ObjPart& part : parts) {
        if (const std::optional<Problem>& p = part.problem)
            return p->line ? p->before + QString::number(linesBefore + p->line) + p->after : p->before;
        linesBefore += part.lines;
    }
    std::size_t nv = 0, nf = 0;
    bool colored = true;
    std::vector<std::size_t> vertexBase, faceBase;
    for (const ObjPart& part : parts) {
        vertexBase.push_back(nv);
        faceBase.push_back(nf);
        nv += part.vertices.size();
        nf += part.faces.size();
        colored = colored && part.everyVertexColored;
    }
    if (nv == 0)
        return QStringLiteral("the file contains no vertices (is it an OBJ file?)");
    if (nv > std::numeric_limits<std::uint32_t>::max())
        return QStringLiteral("the file has too many vertices");
    if (nf == 0)
        return QStringLiteral("the file contains no faces");
    if (nf > std::numeric_limits<std::uint32_t>::max())
        return QStringLiteral("the file has too many faces");

    // Resolve relative indices and check every index, before anything large is allocated.
    std::vector<std::optional<std::int64_t>> firstBad(parts.size());
    large_arrays::forParts(parts.size(), unsigned(parts.size()), [&](unsigned, std::size_t k, std::size_t) {
        ObjPart& part = parts[k];
        for (std::size_t f = 0; f < part.faces.size(); ++f)
            for (std::size_t c = 0; c < 3; ++c) {
                std::uint32_t& v = part.faces[f][c];
                std::int64_t index = v;
                if (isRelative(part, f * 3 + c))
                    index = std::int64_t(vertexBase[k]) + std::int32_t(v);
                if (index < 0 || std::uint64_t(index) >= nv) {
                    firstBad[k] = index;
                    return;
                }
                v = std::uint32_t(index);
            }
    });
    for (const std::optional<std::int64_t>& bad : firstBad)
        if (bad)
            return outOfRange(*bad, nv);

    large_arrays::assignFresh(mesh.vertices, nv, Point3d(Point3d::Zero()));
    large_arrays::assignFresh(mesh.faces, nf, FragMesh::Face{});
    if (colored)
        large_arrays::assignFresh(mesh.fileColors, nv, Color4b{});
    large_arrays::forParts(parts.size(), unsigned(parts.size()), [&](unsigned, std::size_t k, std::size_t) {
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

QString readInto(const QString& path, FragMesh& mesh) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("the file cannot be opened");
    QByteArray copy; // where the file cannot be mapped
    const char* data = nullptr;
    qint64 size = file.size();
    if (size > 0)
        data = reinterpret_cast<const char*>(file.map(0, size));
    if (!data) {
        copy = file.readAll();
        data = copy.constData();
        size = copy.size();
    }
    std::vector<ObjPart> parts = parseParts(data, data + size);
    return joinParts(parts, mesh);
}

} // namespace

bool readObj(const QString& path, FragMesh& mesh, QString& error) {
    mesh.clear();
    const QString name = QFileInfo(path).fileName();
    QString problem;
    if (!QFileInfo::exists(path)) {
        problem = QStringLiteral("the file does not exist");
    } else {
        try {
            problem = readInto(path, mesh);
        } catch (const std::bad_alloc&) {
            problem = QStringLiteral("not enough memory to read the mesh");
        }
    }
    if (!problem.isEmpty()) {
        mesh.clear();
        error = QStringLiteral("%1: %2").arg(name.isEmpty() ? path : name, problem);
        return false;
    }
    mesh.changes = FragMesh::Positions | FragMesh::Colors | FragMesh::Marks | FragMesh::Topology;
    return true;
}
