#include "off_reader.h"

#include "file_bytes.h"
#include "frag_mesh.h"
#include "large_arrays.h"
#include "text_fields.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

namespace {

using text_fields::parseIndex;
using text_fields::parseReal;
using text_fields::quoted;
using text_fields::Tokens;

// Thrown inside the reader and turned into the error message at the top.
struct OffError {
    QString message;
};

[[noreturn]] void fail(QString message) {
    throw OffError{std::move(message)};
}

// Every vertex and face takes a line of at least one character and its ending: counts beyond that
// are refused before anything is reserved for them (and a short line is then found on its own).
constexpr std::uint64_t shortestLine = 2;
constexpr std::uint64_t maxElements = std::numeric_limits<std::uint32_t>::max();

// The lines that say something, without their comments, and their numbers (counted from 1).
class Lines {
public:
    Lines(const char* b, const char* e) : p_(b), e_(e) {}

    // False at the end of the file.
    bool next(std::string_view& line) {
        while (p_ < e_) {
            const char* end = text_fields::findLineEnd(p_, e_);
            line = std::string_view(p_, std::size_t(end - p_));
            line = line.substr(0, line.find('#'));
            p_ = end < e_ ? text_fields::afterEnding(end, e_) : e_;
            ++number_;
            std::string_view tok;
            if (Tokens(line).next(tok))
                return true;
        }
        return false;
    }

    std::uint64_t number() const { return number_; }
    std::size_t bytesLeft() const { return std::size_t(e_ - p_); }

private:
    const char* p_;
    const char* e_;
    std::uint64_t number_ = 0;
};

struct Header {
    bool colors = false;  // COFF
    bool normals = false; // NOFF
    std::uint64_t vertices = 0, faces = 0;
};

// A vertex's colour as the file writes it, before the file's scale is known.
struct WrittenColor {
    std::array<double, 4> c{};
    bool alpha = false;
};

// What the components of all colours were written as.
struct ColorScale {
    bool anyReal = false; // written with a decimal point or an exponent
    double largest = 0.0;

    void add(std::string_view tok, double v) {
        anyReal = anyReal || tok.find_first_of(".eE") != std::string_view::npos;
        largest = std::max(largest, v);
    }
    bool unit() const { return anyReal || largest <= 1.0; }
};

class OffParser {
public:
    OffParser(const char* b, const char* e, FragMesh& mesh) : lines_(b, e), mesh_(mesh) {}

    void parse() {
        const Header h = header();
        readVertices(h);
        readFaces(h);
    }

private:
    [[noreturn]] void failOnLine(const QString& what) const {
        fail(QStringLiteral("line %1: %2").arg(lines_.number()).arg(what));
    }

    [[noreturn]] void notANumber(std::string_view tok) const {
        failOnLine(QStringLiteral("\"%1\" is not a number").arg(quoted(tok)));
    }

    // The keyword and the counts.
    Header header() {
        std::string_view line;
        if (!lines_.next(line))
            fail(QStringLiteral("not an OFF file (it holds nothing but blanks and comments)"));
        Tokens tokens(line);
        std::string_view word;
        tokens.next(word);
        Header h;
        std::int64_t number = 0;
        if (parseIndex(word, number)) {
            tokens = Tokens(line); // the counts alone, without a keyword
        } else {
            readKeyword(word, h);
            std::string_view after;
            if (Tokens(tokens).next(after) && after == "BINARY")
                fail(QStringLiteral("binary OFF files are not read (only the text form)"));
            if (!Tokens(tokens).next(after)) { // the counts on a line of their own
                if (!lines_.next(line))
                    fail(QStringLiteral("the file ends before the counts of vertices and faces"));
                tokens = Tokens(line);
            }
        }
        readCounts(tokens, h);
        return h;
    }

    static void readKeyword(std::string_view word, Header& h) {
        if (word == "OFF" || word == "COFF" || word == "NOFF" || word == "CNOFF") {
            h.colors = word.front() == 'C';
            h.normals = word.find('N') != std::string_view::npos;
            return;
        }
        if (word.size() > 3 && word.substr(word.size() - 3) == "OFF")
            fail(QStringLiteral("the OFF variant \"%1\" is not read (only OFF, COFF, NOFF and CNOFF)")
                     .arg(quoted(word)));
        fail(QStringLiteral("not an OFF file (it does not start with \"OFF\")"));
    }

    void readCounts(Tokens tokens, Header& h) {
        std::int64_t counts[3] = {0, 0, 0};
        int n = 0;
        std::string_view tok;
        while (tokens.next(tok)) {
            if (n == 3)
                failOnLine(QStringLiteral("the counts line has more than three numbers"));
            if (!parseIndex(tok, counts[n]))
                failOnLine(QStringLiteral("\"%1\" is not a count").arg(quoted(tok)));
            if (counts[n] < 0)
                failOnLine(QStringLiteral("a negative count (%1)").arg(counts[n]));
            ++n;
        }
        if (n < 2)
            failOnLine(QStringLiteral("the counts of vertices and faces are missing"));
        h.vertices = std::uint64_t(counts[0]);
        h.faces = std::uint64_t(counts[1]);
        const std::uint64_t room = lines_.bytesLeft() + 1; // the last line needs no line ending
        if (h.vertices > room / shortestLine || h.faces > room / shortestLine ||
            (h.vertices + h.faces) * shortestLine > room)
            fail(QStringLiteral("the header declares %1 vertices and %2 faces, more than the remaining %3 "
                                "bytes of the file can hold")
                     .arg(h.vertices)
                     .arg(h.faces)
                     .arg(lines_.bytesLeft()));
        if (h.vertices > maxElements || h.faces > maxElements)
            fail(QStringLiteral("the file has too many vertices or faces"));
    }

    // Reads every number of the line into values (at most its size) and returns how many there are.
    template <std::size_t N>
    std::size_t numbers(std::string_view line, std::array<double, N>& values,
                        std::array<std::string_view, N>& written) const {
        Tokens tokens(line);
        std::string_view tok;
        std::size_t n = 0;
        while (tokens.next(tok)) {
            double v = 0.0;
            if (!parseReal(tok, v))
                notANumber(tok);
            if (n < N) {
                values[n] = v;
                written[n] = tok;
            }
            ++n;
        }
        return n;
    }

    void readVertices(const Header& h) {
        large_arrays::assignFresh(mesh_.vertices, h.vertices, Point3d(Point3d::Zero()));
        // A plain OFF file is coloured until a vertex without 3 or 4 extra numbers shows otherwise.
        bool colored = h.vertices > 0;
        std::vector<WrittenColor> colors;
        ColorScale scale;
        const std::size_t position = h.normals ? 6 : 3; // numbers before the colour
        std::string_view line;
        for (std::uint64_t i = 0; i < h.vertices; ++i) {
            if (!lines_.next(line))
                fail(QStringLiteral("the file ends after %1 of its %2 vertices (is it cut short?)")
                         .arg(i)
                         .arg(h.vertices));
            std::array<double, 10> v{};
            std::array<std::string_view, 10> written{};
            const std::size_t n = numbers(line, v, written);
            if (n < position)
                failOnLine(QStringLiteral("a vertex needs %1 numbers, this one has %2").arg(position).arg(n));
            if (!std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2]))
                failOnLine(QStringLiteral("a coordinate is not a finite number"));
            mesh_.vertices[i] = Point3d(v[0], v[1], v[2]);
            const std::size_t components = n - position;
            const bool hasColor = components == 3 || components == 4;
            if (h.colors && !hasColor)
                failOnLine(QStringLiteral("a COFF vertex needs 3 or 4 colour components after its "
                                          "coordinates, this one has %1")
                               .arg(components));
            if (!colored)
                continue;
            if (!hasColor) {
                colored = false;
                std::vector<WrittenColor>().swap(colors);
                continue;
            }
            if (colors.empty())
                colors.reserve(h.vertices);
            WrittenColor c;
            for (std::size_t k = 0; k < components; ++k) {
                c.c[k] = v[position + k];
                scale.add(written[position + k], c.c[k]);
            }
            c.alpha = components == 4;
            colors.push_back(c);
        }
        if (colored)
            setColors(colors, scale);
    }

    void setColors(const std::vector<WrittenColor>& colors, const ColorScale& scale) {
        const double range = scale.unit() ? 1.0 : 255.0;
        auto byte = [range](double v) { return text_fields::colorByte(v / range); };
        large_arrays::assignFresh(mesh_.fileColors, colors.size(), Color4b{});
        for (std::size_t i = 0; i < colors.size(); ++i) {
            const WrittenColor& w = colors[i];
            mesh_.fileColors[i] =
                Color4b{byte(w.c[0]), byte(w.c[1]), byte(w.c[2]), w.alpha ? byte(w.c[3]) : std::uint8_t(255)};
        }
        mesh_.hasVertexColors = true;
    }

    std::uint32_t vertexNumber(std::string_view tok, std::uint64_t vertices) const {
        std::int64_t v = 0;
        if (!parseIndex(tok, v))
            failOnLine(QStringLiteral("\"%1\" is not a vertex number").arg(quoted(tok)));
        if (v < 0 || std::uint64_t(v) >= vertices)
            failOnLine(QStringLiteral("a face refers to vertex %1, which is out of range (the file has %2 "
                                      "vertices, counted from 0)")
                           .arg(v)
                           .arg(vertices));
        return std::uint32_t(v);
    }

    // One face line: its triangle fan.
    void readFace(std::string_view line, std::uint64_t vertices) {
        Tokens tokens(line);
        std::string_view tok;
        tokens.next(tok);
        std::int64_t n = 0;
        if (!parseIndex(tok, n))
            failOnLine(QStringLiteral("\"%1\" is not a number of vertices").arg(quoted(tok)));
        if (n < 3)
            failOnLine(QStringLiteral("a face has %1 vertices (a face needs at least 3)").arg(n));
        std::uint32_t first = 0, previous = 0;
        for (std::int64_t k = 0; k < n; ++k) {
            if (!tokens.next(tok))
                failOnLine(QStringLiteral("a face of %1 vertices lists only %2").arg(n).arg(k));
            const std::uint32_t v = vertexNumber(tok, vertices);
            if (k == 0)
                first = v;
            else if (k >= 2)
                mesh_.faces.push_back({first, previous, v});
            previous = v;
        }
        if (mesh_.faces.size() > maxElements)
            fail(QStringLiteral("the file has too many faces"));
    }

    void readFaces(const Header& h) {
        if (h.faces == 0)
            fail(QStringLiteral("the file contains no faces"));
        mesh_.faces.reserve(h.faces);
        std::string_view line;
        for (std::uint64_t i = 0; i < h.faces; ++i) {
            if (!lines_.next(line))
                fail(QStringLiteral("the file ends after %1 of its %2 faces (is it cut short?)")
                         .arg(i)
                         .arg(h.faces));
            readFace(line, h.vertices);
        }
        if (mesh_.faces.capacity() != mesh_.faces.size())
            mesh_.faces.shrink_to_fit();
    }

    Lines lines_;
    FragMesh& mesh_;
};

} // namespace

bool readOff(const QString& path, FragMesh& mesh, QString& error) {
    return readMeshBytes(path, mesh, error, FileBytes::Access::Map, [&](const char* data, std::size_t size) {
        try {
            if (size == 0)
                fail(QStringLiteral("the file is empty"));
            OffParser(data, data + size, mesh).parse();
        } catch (const OffError& e) {
            return e.message;
        }
        return QString();
    });
}
