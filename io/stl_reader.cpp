#include "stl_reader.h"

#include "file_bytes.h"
#include "frag_mesh.h"
#include "text_fields.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

namespace {

// Thrown inside the reader and turned into the error message at the top.
struct StlError {
    QString message;
};

[[noreturn]] void fail(QString message) {
    throw StlError{std::move(message)};
}

constexpr std::size_t headerBytes = 84; // 80 free bytes, then the facet count
constexpr std::size_t facetBytes = 50;  // normal, three corners, two attribute bytes
constexpr std::size_t firstCornerOffset = 12;
// Every corner can be a vertex of its own, and vertex numbers have 32 bits.
constexpr std::uint64_t maxFacets = std::numeric_limits<std::uint32_t>::max() / 3;

std::uint32_t declaredFacets(const char* data) {
    static_assert(std::endian::native == std::endian::little, "binary STL is little endian");
    std::uint32_t n = 0;
    std::memcpy(&n, data + 80, 4);
    return n;
}

std::uint64_t binaryBytes(std::uint64_t facets) {
    return headerBytes + facetBytes * facets;
}

bool isBinary(const char* data, std::size_t size) {
    return size >= headerBytes && binaryBytes(declaredFacets(data)) == size;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// tok is the keyword, in any letter case.
bool is(std::string_view tok, std::string_view keyword) {
    if (tok.size() != keyword.size())
        return false;
    for (std::size_t i = 0; i < tok.size(); ++i)
        if (lower(tok[i]) != keyword[i])
            return false;
    return true;
}

bool startsWithSolid(const char* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size && isSpace(data[i]))
        ++i;
    constexpr std::string_view solid = "solid";
    return size - i >= solid.size() && is(std::string_view(data + i, solid.size()), solid) &&
           (size - i == solid.size() || isSpace(data[i + solid.size()]));
}

// Binary STL holds zero bytes and other control characters almost at once (in its facet count, in
// small floats); ASCII STL none.
bool beginsAsText(const char* data, std::size_t size) {
    const std::size_t n = std::min<std::size_t>(size, 1024);
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if ((c < 0x20 && !isSpace(char(c))) || c == 0x7f)
            return false;
    }
    return true;
}

QString neitherBinaryNorAscii(const char* data, std::size_t size) {
    const QString notAscii =
        startsWithSolid(data, size)
            ? QStringLiteral("it starts with \"solid\" but holds bytes that are not text")
            : QStringLiteral("it does not start with \"solid\"");
    if (size < headerBytes)
        return QStringLiteral("not an STL file: %1 bytes are too few for binary STL (84 at least), and it "
                              "is not ASCII STL (%2)")
            .arg(size)
            .arg(notAscii);
    const std::uint32_t n = declaredFacets(data);
    return QStringLiteral("not an STL file: as binary STL its header declares %1 facets, which take %2 "
                          "bytes, but the file has %3 (is it cut short?), and it is not ASCII STL (%4)")
        .arg(n)
        .arg(binaryBytes(n))
        .arg(size)
        .arg(notAscii);
}

void checkFacetCount(std::uint64_t facets) {
    if (facets == 0)
        fail(QStringLiteral("the file contains no facets"));
    if (facets > maxFacets)
        fail(QStringLiteral("the file has too many facets (%1)").arg(facets));
}

void readBinary(const char* data, const MergeParts& parts, FragMesh& mesh) {
    const std::uint32_t n = declaredFacets(data);
    checkFacetCount(n);
    const auto* first = reinterpret_cast<const unsigned char*>(data + headerBytes + firstCornerOffset);
    const std::size_t read = mergeCorners(first, facetBytes, n, mesh, parts);
    if (read != n)
        fail(QStringLiteral("facet %1 (counted from 1) has a coordinate that is not a finite number")
                 .arg(read + 1));
}

// ASCII STL, token by token, keeping the line number for messages.
class AsciiStl {
public:
    AsciiStl(const char* b, const char* e) : p_(b), e_(e) {}

    // The corners of every facet, nine floats each.
    std::vector<std::array<float, 9>> parse() {
        std::string_view tok;
        if (!next(tok) || !is(tok, "solid"))
            fail(QStringLiteral("not an STL file (it does not start with \"solid\")"));
        skipRestOfLine();
        for (;;) {
            if (!next(tok))
                fail(QStringLiteral("the file ends without \"endsolid\" (is it cut short?)"));
            if (is(tok, "facet")) {
                parseFacet();
            } else if (is(tok, "endsolid")) {
                skipRestOfLine();
                if (!next(tok))
                    break;
                if (!is(tok, "solid"))
                    unexpected(tok, "\"solid\" or the end of the file");
                skipRestOfLine();
            } else {
                unexpected(tok, "\"facet\" or \"endsolid\"");
            }
        }
        return std::move(facets_);
    }

private:
    // The next token, counting the lines on the way; false at the end of the file.
    bool next(std::string_view& tok) {
        while (p_ < e_ && isSpace(*p_)) {
            if (*p_ == '\n' || (*p_ == '\r' && (p_ + 1 == e_ || p_[1] != '\n')))
                ++line_;
            ++p_;
        }
        if (p_ == e_)
            return false;
        const char* b = p_;
        while (p_ < e_ && !isSpace(*p_))
            ++p_;
        tok = std::string_view(b, std::size_t(p_ - b));
        return true;
    }

    std::string_view expect(const char* what) {
        std::string_view tok;
        if (!next(tok))
            fail(QStringLiteral("the file ends inside facet %1, where %2 was expected (is it cut short?)")
                     .arg(facetNumber_)
                     .arg(QLatin1String(what)));
        return tok;
    }

    void expectKeyword(std::string_view keyword, const char* what) {
        const std::string_view tok = expect(what);
        if (!is(tok, keyword))
            unexpected(tok, what);
    }

    [[noreturn]] void unexpected(std::string_view tok, const char* what) const {
        fail(QStringLiteral("line %1: \"%2\" where %3 was expected")
                 .arg(line_)
                 .arg(text_fields::quoted(tok), QLatin1String(what)));
    }

    // Names and comments after "solid" and "endsolid" run to the end of their line.
    void skipRestOfLine() {
        while (p_ < e_ && *p_ != '\n' && *p_ != '\r')
            ++p_;
    }

    float coordinate() {
        const std::string_view tok = expect("a coordinate");
        float v = 0;
        if (!text_fields::parseFloat(tok, v))
            fail(QStringLiteral("line %1: \"%2\" is not a number").arg(line_).arg(text_fields::quoted(tok)));
        if (!std::isfinite(v))
            fail(QStringLiteral("line %1: a coordinate of facet %2 is not a finite number")
                     .arg(line_)
                     .arg(facetNumber_));
        return v;
    }

    // After "facet": the normal (not read), the loop of exactly three vertices, "endfacet".
    void parseFacet() {
        ++facetNumber_;
        const std::uint64_t facetLine = line_;
        std::string_view tok = expect("\"normal\" or \"outer\"");
        if (is(tok, "normal")) {
            for (int k = 0; k < 3; ++k)
                expect("a normal component");
            tok = expect("\"outer\"");
        }
        if (!is(tok, "outer"))
            unexpected(tok, "\"outer\"");
        expectKeyword("loop", "\"loop\"");
        std::array<float, 9> corners{};
        std::uint64_t count = 0;
        for (;;) {
            tok = expect("\"vertex\" or \"endloop\"");
            if (is(tok, "endloop"))
                break;
            if (!is(tok, "vertex"))
                unexpected(tok, "\"vertex\" or \"endloop\"");
            for (int k = 0; k < 3; ++k) {
                const float v = coordinate();
                if (count < 3)
                    corners[std::size_t(3 * count + k)] = v;
            }
            ++count;
        }
        if (count != 3)
            fail(QStringLiteral("line %1: facet %2 has %3 vertices (a facet has 3)")
                     .arg(facetLine)
                     .arg(facetNumber_)
                     .arg(count));
        expectKeyword("endfacet", "\"endfacet\"");
        facets_.push_back(corners);
    }

    const char* p_;
    const char* e_;
    std::uint64_t line_ = 1;
    std::uint64_t facetNumber_ = 0; // counted from 1
    std::vector<std::array<float, 9>> facets_;
};

void readAscii(const char* data, std::size_t size, const MergeParts& parts, FragMesh& mesh) {
    const std::vector<std::array<float, 9>> facets = AsciiStl(data, data + size).parse();
    checkFacetCount(facets.size());
    // Every coordinate was checked while parsing.
    mergeCorners(reinterpret_cast<const unsigned char*>(facets.data()), sizeof(facets[0]), facets.size(),
                 mesh, parts);
}

void readBytes(const char* data, std::size_t size, const MergeParts& parts, FragMesh& mesh) {
    if (size == 0)
        fail(QStringLiteral("the file is empty"));
    if (isBinary(data, size))
        readBinary(data, parts, mesh);
    else if (startsWithSolid(data, size) && beginsAsText(data, size))
        readAscii(data, size, parts, mesh);
    else
        fail(neitherBinaryNorAscii(data, size));
}

} // namespace

bool readStl(const QString& path, FragMesh& mesh, QString& error, const MergeParts& parts) {
    return readMeshBytes(path, mesh, error, FileBytes::Access::Copy, [&](const char* data, std::size_t size) {
        try {
            readBytes(data, size, parts, mesh);
        } catch (const StlError& e) {
            return e.message;
        }
        return QString();
    });
}
