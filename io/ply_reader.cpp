#include "ply_reader.h"

#include "file_bytes.h"
#include "frag_mesh.h"
#include "large_arrays.h"
#include "mesh_texture.h"
#include "text_fields.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <future>
#include <limits>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace {

// Thrown inside the reader and turned into the error message at the top.
struct PlyError {
    std::string message;
};

[[noreturn]] void fail(std::string message) {
    throw PlyError{std::move(message)};
}

enum class Scalar : std::uint8_t { Int8, UInt8, Int16, UInt16, Int32, UInt32, Float32, Float64 };
enum class Format { Ascii, BinaryLittleEndian, BinaryBigEndian };

bool scalarFromName(std::string_view s, Scalar& t) {
    static const struct {
        std::string_view name;
        Scalar type;
    } names[] = {{"char", Scalar::Int8},      {"int8", Scalar::Int8},       {"uchar", Scalar::UInt8},
                 {"uint8", Scalar::UInt8},    {"short", Scalar::Int16},     {"int16", Scalar::Int16},
                 {"ushort", Scalar::UInt16},  {"uint16", Scalar::UInt16},   {"int", Scalar::Int32},
                 {"int32", Scalar::Int32},    {"uint", Scalar::UInt32},     {"uint32", Scalar::UInt32},
                 {"float", Scalar::Float32},  {"float32", Scalar::Float32}, {"double", Scalar::Float64},
                 {"float64", Scalar::Float64}};
    for (const auto& n : names) {
        if (n.name == s) {
            t = n.type;
            return true;
        }
    }
    return false;
}

std::size_t scalarSize(Scalar t) {
    switch (t) {
    case Scalar::Int8:
    case Scalar::UInt8:
        return 1;
    case Scalar::Int16:
    case Scalar::UInt16:
        return 2;
    case Scalar::Int32:
    case Scalar::UInt32:
    case Scalar::Float32:
        return 4;
    case Scalar::Float64:
        return 8;
    }
    return 1;
}

bool isFloating(Scalar t) {
    return t == Scalar::Float32 || t == Scalar::Float64;
}

struct Property {
    std::string name;
    Scalar type = Scalar::UInt8;      // the value type; the item type of a list
    Scalar countType = Scalar::UInt8; // lists only
    bool isList = false;
};

struct Element {
    std::string name;
    std::uint64_t count = 0;
    std::vector<Property> properties;

    bool hasLists() const {
        return std::any_of(properties.begin(), properties.end(), [](const Property& p) { return p.isList; });
    }
    // Bytes of a binary record with every list empty.
    std::size_t minBinaryRecordSize() const {
        std::size_t n = 0;
        for (const Property& p : properties)
            n += scalarSize(p.isList ? p.countType : p.type);
        return n;
    }
    int find(std::string_view propertyName) const {
        for (std::size_t i = 0; i < properties.size(); ++i)
            if (properties[i].name == propertyName)
                return static_cast<int>(i);
        return -1;
    }
};

struct Header {
    Format format = Format::Ascii;
    std::vector<Element> elements;
    std::size_t bodyOffset = 0;
    std::vector<std::string> textureFiles; // "comment TextureFile name", in order

    // The first element of that name, or null.
    const Element* find(std::string_view name) const {
        for (const Element& e : elements)
            if (e.name == name)
                return &e;
        return nullptr;
    }
};

std::string quote(std::string_view s) {
    constexpr std::size_t maxShown = 40;
    std::string r = "'";
    r += s.size() > maxShown ? std::string(s.substr(0, maxShown)) + "..." : std::string(s);
    r += "'";
    return r;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The image a "comment TextureFile name" line names (the name may contain blanks), given the line
// and its words; empty for any other comment.
std::string textureFileOf(std::string_view line, const std::vector<std::string_view>& w) {
    if (w.size() < 3 || w[0] != "comment" || !equalsIgnoringCase(w[1], "TextureFile"))
        return {};
    return std::string(trimmed(line.substr(std::size_t(w[1].data() + w[1].size() - line.data()))));
}

std::vector<std::string_view> splitWords(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isSpace(line[i]))
            ++i;
        const std::size_t b = i;
        while (i < line.size() && !isSpace(line[i]))
            ++i;
        if (i > b)
            words.push_back(line.substr(b, i - b));
    }
    return words;
}

Header parseHeader(const char* data, std::size_t size) {
    if (size < 3 || std::memcmp(data, "ply", 3) != 0 || (size > 3 && data[3] != '\n' && data[3] != '\r'))
        fail("not a PLY file (it does not start with \"ply\")");
    Header h;
    bool hasFormat = false;
    std::size_t pos = 0;
    bool first = true;
    for (;;) {
        const void* nl = std::memchr(data + pos, '\n', size - pos);
        if (!nl)
            fail("the header has no end_header line (the file is truncated or not a PLY file)");
        const std::size_t lineEnd = static_cast<const char*>(nl) - data;
        std::string_view line(data + pos, lineEnd - pos);
        pos = lineEnd + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (first) { // the "ply" line
            first = false;
            if (line != "ply")
                fail("not a PLY file (it does not start with \"ply\")");
            continue;
        }
        const std::vector<std::string_view> w = splitWords(line);
        if (w.empty())
            continue;
        if (w[0] == "end_header") {
            h.bodyOffset = pos;
            break;
        }
        if (w[0] == "comment" || w[0] == "obj_info") {
            if (std::string image = textureFileOf(line, w); !image.empty())
                h.textureFiles.push_back(std::move(image));
            continue;
        }
        if (w[0] == "format") {
            if (w.size() < 2)
                fail("malformed format line");
            if (w[1] == "ascii")
                h.format = Format::Ascii;
            else if (w[1] == "binary_little_endian")
                h.format = Format::BinaryLittleEndian;
            else if (w[1] == "binary_big_endian")
                h.format = Format::BinaryBigEndian;
            else
                fail("unknown format " + quote(w[1]));
            hasFormat = true;
        } else if (w[0] == "element") {
            if (w.size() != 3)
                fail("malformed element line " + quote(line));
            Element e;
            e.name = std::string(w[1]);
            const char* b = w[2].data();
            const auto [ptr, ec] = std::from_chars(b, b + w[2].size(), e.count);
            if (ec != std::errc() || ptr != b + w[2].size())
                fail("invalid count " + quote(w[2]) + " for element " + quote(w[1]));
            h.elements.push_back(std::move(e));
        } else if (w[0] == "property") {
            if (h.elements.empty())
                fail("property line before any element line");
            Property p;
            if (w.size() >= 2 && w[1] == "list") {
                if (w.size() != 5)
                    fail("malformed property line " + quote(line));
                if (!scalarFromName(w[2], p.countType))
                    fail("unknown property type " + quote(w[2]));
                if (!scalarFromName(w[3], p.type))
                    fail("unknown property type " + quote(w[3]));
                p.isList = true;
                p.name = std::string(w[4]);
            } else {
                if (w.size() != 3)
                    fail("malformed property line " + quote(line));
                if (!scalarFromName(w[1], p.type))
                    fail("unknown property type " + quote(w[1]));
                p.name = std::string(w[2]);
            }
            h.elements.back().properties.push_back(std::move(p));
        } else {
            fail("unexpected header line " + quote(line) + " (is the end_header line missing?)");
        }
    }
    if (!hasFormat)
        fail("the header has no format line");
    return h;
}

// ---------------------------------------------------------------------------------------------
// Values

std::uint8_t colorFromInteger(std::int64_t v) {
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 255));
}

// An integral real number as an integer; false for fractions, NaN and huge values.
bool realToInteger(double d, std::int64_t& out) {
    if (!(std::fabs(d) < 9.0e18) || d != std::floor(d))
        return false;
    out = static_cast<std::int64_t>(d);
    return true;
}

template <typename T> inline T loadRaw(const unsigned char* p, bool swap) {
    T v;
    if (!swap) {
        std::memcpy(&v, p, sizeof(T));
    } else {
        unsigned char b[sizeof(T)];
        for (std::size_t i = 0; i < sizeof(T); ++i)
            b[i] = p[sizeof(T) - 1 - i];
        std::memcpy(&v, b, sizeof(T));
    }
    return v;
}

inline double loadReal(const unsigned char* p, Scalar t, bool swap) {
    switch (t) {
    case Scalar::Int8:
        return static_cast<std::int8_t>(p[0]);
    case Scalar::UInt8:
        return p[0];
    case Scalar::Int16:
        return loadRaw<std::int16_t>(p, swap);
    case Scalar::UInt16:
        return loadRaw<std::uint16_t>(p, swap);
    case Scalar::Int32:
        return loadRaw<std::int32_t>(p, swap);
    case Scalar::UInt32:
        return loadRaw<std::uint32_t>(p, swap);
    case Scalar::Float32:
        return loadRaw<float>(p, swap);
    case Scalar::Float64:
        return loadRaw<double>(p, swap);
    }
    return 0.0;
}

// False when a floating-point value is not integral.
inline bool loadInteger(const unsigned char* p, Scalar t, bool swap, std::int64_t& out) {
    switch (t) {
    case Scalar::Int8:
        out = static_cast<std::int8_t>(p[0]);
        return true;
    case Scalar::UInt8:
        out = p[0];
        return true;
    case Scalar::Int16:
        out = loadRaw<std::int16_t>(p, swap);
        return true;
    case Scalar::UInt16:
        out = loadRaw<std::uint16_t>(p, swap);
        return true;
    case Scalar::Int32:
        out = loadRaw<std::int32_t>(p, swap);
        return true;
    case Scalar::UInt32:
        out = loadRaw<std::uint32_t>(p, swap);
        return true;
    case Scalar::Float32:
        return realToInteger(loadRaw<float>(p, swap), out);
    case Scalar::Float64:
        return realToInteger(loadRaw<double>(p, swap), out);
    }
    return false;
}

inline std::uint8_t loadColor(const unsigned char* p, Scalar t, bool swap) {
    if (t == Scalar::UInt8)
        return p[0];
    if (isFloating(t))
        return text_fields::colorByte(loadReal(p, t, swap));
    std::int64_t v = 0;
    loadInteger(p, t, swap, v);
    return colorFromInteger(v);
}

bool parseReal(std::string_view tok, double& out) {
    const char* b = tok.data();
    const char* e = b + tok.size();
    if (b != e && *b == '+')
        ++b;
    const auto [ptr, ec] = std::from_chars(b, e, out);
    return ec == std::errc() && ptr == e && b != e;
}

bool parseInteger(std::string_view tok, std::int64_t& out) {
    if (text_fields::parseIndex(tok, out))
        return true;
    double d = 0.0; // some writers print integers as reals ("3.0")
    return parseReal(tok, d) && realToInteger(d, out);
}

// ---------------------------------------------------------------------------------------------
// Body

// What a vertex property is used for.
enum class Role : std::uint8_t { None, X, Y, Z, Red, Green, Blue, Alpha, U, V };

struct VertexLayout {
    int x = -1, y = -1, z = -1, r = -1, g = -1, b = -1, a = -1;
    int u = -1, v = -1; // texture coordinates
    bool hasColor() const { return r >= 0 && g >= 0 && b >= 0; }
    bool hasTexCoords() const { return u >= 0 && v >= 0; }
};

// The scalar properties that hold a vertex's texture coordinates, under the names writers give
// them; -1, -1 when there are none.
std::pair<int, int> vertexTexCoordProperties(const Element& e) {
    static const std::pair<const char*, const char*> names[] = {
        {"s", "t"}, {"u", "v"}, {"texture_u", "texture_v"}};
    for (const auto& [u, v] : names) {
        const int i = e.find(u), j = e.find(v);
        if (i >= 0 && j >= 0 && !e.properties[i].isList && !e.properties[j].isList)
            return {i, j};
    }
    return {-1, -1};
}

// The properties of a face record that are read.
struct FaceLayout {
    int indices = -1;
    int texcoord = -1;  // list of 2 numbers a corner
    int texnumber = -1; // which texture file
};

VertexLayout vertexLayout(const Element& e) {
    VertexLayout l;
    l.x = e.find("x");
    l.y = e.find("y");
    l.z = e.find("z");
    if (l.x < 0 || l.y < 0 || l.z < 0)
        fail("the vertex element has no x, y, z properties");
    for (int i : {l.x, l.y, l.z})
        if (e.properties[i].isList)
            fail("the vertex coordinate " + quote(e.properties[i].name) + " is a list");
    auto color = [&](const char* plain, const char* diffuse) {
        int i = e.find(plain);
        if (i < 0)
            i = e.find(diffuse);
        return i >= 0 && !e.properties[i].isList ? i : -1;
    };
    l.r = color("red", "diffuse_red");
    l.g = color("green", "diffuse_green");
    l.b = color("blue", "diffuse_blue");
    l.a = color("alpha", "diffuse_alpha");
    std::tie(l.u, l.v) = vertexTexCoordProperties(e);
    return l;
}

std::vector<Role> vertexRoles(const Element& e, const VertexLayout& l) {
    std::vector<Role> roles(e.properties.size(), Role::None);
    roles[l.x] = Role::X;
    roles[l.y] = Role::Y;
    roles[l.z] = Role::Z;
    if (l.hasColor()) {
        roles[l.r] = Role::Red;
        roles[l.g] = Role::Green;
        roles[l.b] = Role::Blue;
        if (l.a >= 0)
            roles[l.a] = Role::Alpha;
    }
    if (l.hasTexCoords()) {
        roles[l.u] = Role::U;
        roles[l.v] = Role::V;
    }
    return roles;
}

int faceIndexProperty(const Element& e) {
    int k = e.find("vertex_indices");
    if (k < 0)
        k = e.find("vertex_index");
    if (k < 0 || !e.properties[k].isList)
        fail("the face element has no vertex_indices list");
    return k;
}

FaceLayout faceLayout(const Element& e) {
    FaceLayout f;
    f.indices = faceIndexProperty(e);
    const int t = e.find("texcoord");
    f.texcoord = t >= 0 && e.properties[t].isList ? t : -1;
    const int n = e.find("texnumber");
    f.texnumber = n >= 0 && !e.properties[n].isList ? n : -1;
    return f;
}

// Whether the file has texture coordinates: per face corner (texcoord) or per vertex.
bool hasTexCoords(const Header& h) {
    const Element* face = h.find("face");
    const Element* vertex = h.find("vertex");
    const bool perCorner =
        face && face->find("texcoord") >= 0 && face->properties[face->find("texcoord")].isList;
    return perCorner || (vertex && vertexTexCoordProperties(*vertex).first >= 0);
}

// The texture read with the mesh: 3 coordinates per triangle, a material per triangle (empty when
// all are 0).
struct PlyTexture {
    std::vector<Eigen::Vector2f> cornerCoords;
    std::vector<std::uint16_t> faceMaterials;
};

// One material per TextureFile comment, or one without image when there is none.
std::vector<TextureMaterial> plyMaterials(const Header& h) {
    std::vector<TextureMaterial> materials;
    for (const std::string& image : h.textureFiles) {
        TextureMaterial m;
        m.imageName = QString::fromStdString(image);
        materials.push_back(std::move(m));
    }
    if (materials.empty())
        materials.emplace_back();
    return materials;
}

constexpr std::uint64_t maxElements = std::numeric_limits<std::uint32_t>::max();

class BodyReader {
public:
    BodyReader(const Header& h, const unsigned char* begin, const unsigned char* end, FragMesh& mesh)
        : header_(h), p_(begin), end_(end), mesh_(mesh), textured_(hasTexCoords(h)),
          materialCount_(std::max<std::size_t>(h.textureFiles.size(), 1)) {
        swap_ = (h.format == Format::BinaryLittleEndian) != (std::endian::native == std::endian::little);
    }

    // After read(): whether the faces have texture coordinates, and what they are.
    bool hasTexture() const { return textured_ && !mesh_.faces.empty(); }
    PlyTexture takeTexture() { return std::move(texture_); }

    void read() {
        bool haveVertices = false, haveFaces = false;
        for (const Element& e : header_.elements) {
            checkCount(e);
            if (!haveVertices && e.name == "vertex") {
                haveVertices = true;
                if (header_.format == Format::Ascii)
                    readAsciiVertices(e);
                else
                    readBinaryVertices(e);
            } else if (!haveFaces && e.name == "face") {
                haveFaces = true;
                if (header_.format == Format::Ascii)
                    readAsciiFaces(e);
                else
                    readBinaryFaces(e);
            } else if (header_.format == Format::Ascii) {
                skipAscii(e);
            } else {
                skipBinary(e);
            }
        }
        if (!haveVertices)
            fail("the file has no vertex element");
        if (mesh_.vertices.empty())
            fail("the file contains no vertices");
        checkIndices();
        if (hasTexture())
            finishTexture();
    }

private:
    std::size_t remaining() const { return static_cast<std::size_t>(end_ - p_); }

    [[noreturn]] void truncated(const Element& e) const {
        fail("the file is truncated (element " + quote(e.name) + " ends early)");
    }

    // Refuses counts the rest of the file cannot hold, before anything is reserved.
    void checkCount(const Element& e) const {
        if (e.properties.empty() || e.count == 0)
            return;
        const std::size_t rest = remaining();
        std::uint64_t capacity = 0;
        if (header_.format == Format::Ascii) {
            // Every value is at least one character and a separator (the last one in the file
            // needs no separator).
            capacity = (rest + 1) / (2 * e.properties.size());
        } else {
            capacity = rest / e.minBinaryRecordSize();
        }
        if (e.count > capacity)
            fail("element " + quote(e.name) + " declares " + std::to_string(e.count) +
                 " entries, more than the remaining " + std::to_string(rest) + " bytes of the file can hold");
        if ((e.name == "vertex" || e.name == "face") && e.count > maxElements)
            fail("element " + quote(e.name) + " has too many entries (" + std::to_string(e.count) + ")");
    }

    void trackIndex(std::int64_t v) {
        if (v < 0 || v > static_cast<std::int64_t>(maxElements))
            fail("vertex index " + std::to_string(v) + " is out of range");
        maxIndex_ = std::max(maxIndex_, static_cast<std::uint32_t>(v));
    }

    void checkIndices() const {
        if (mesh_.faces.empty() || maxIndex_ < mesh_.vertices.size())
            return;
        const std::size_t nv = mesh_.vertices.size();
        for (const auto& t : mesh_.faces)
            for (std::uint32_t v : t)
                if (v >= nv) {
                    // A negative 32-bit index taken over by the fast path shows as a huge value.
                    const std::int64_t shown =
                        faceIndexSigned_ ? std::int64_t{static_cast<std::int32_t>(v)} : std::int64_t{v};
                    fail("vertex index " + std::to_string(shown) + " is out of range (the file has " +
                         std::to_string(nv) + " vertices)");
                }
    }

    // Binary -------------------------------------------------------------------------------

    // Reads a list count at q (bounds already checked for the count itself).
    std::int64_t listCount(const unsigned char* q, const Property& prop, const Element& e) const {
        std::int64_t n = 0;
        if (!loadInteger(q, prop.countType, swap_, n) || n < 0)
            fail("invalid list length in element " + quote(e.name));
        return n;
    }

    // Advances over one property of a binary record of e, checking it against the end of the file.
    const unsigned char* skipBinaryProperty(const unsigned char* q, const Property& prop,
                                            const Element& e) const {
        if (!prop.isList) {
            const std::size_t s = scalarSize(prop.type);
            if (static_cast<std::size_t>(end_ - q) < s)
                truncated(e);
            return q + s;
        }
        const std::size_t cs = scalarSize(prop.countType);
        if (static_cast<std::size_t>(end_ - q) < cs)
            truncated(e);
        const auto n = static_cast<std::uint64_t>(listCount(q, prop, e));
        q += cs;
        const std::size_t s = scalarSize(prop.type);
        if (n > static_cast<std::size_t>(end_ - q) / s)
            truncated(e);
        return q + n * s;
    }

    const unsigned char* skipBinaryRecord(const unsigned char* q, const Element& e) const {
        for (const Property& prop : e.properties)
            q = skipBinaryProperty(q, prop, e);
        return q;
    }

    void skipBinary(const Element& e) {
        if (e.properties.empty())
            return;
        if (!e.hasLists()) {
            const std::size_t size = e.minBinaryRecordSize();
            if (e.count > remaining() / size)
                truncated(e);
            p_ += e.count * size;
            return;
        }
        for (std::uint64_t i = 0; i < e.count; ++i)
            p_ = skipBinaryRecord(p_, e);
    }

    void readBinaryVertices(const Element& e) {
        const VertexLayout l = vertexLayout(e);
        const std::size_t n = e.count;
        const bool color = l.hasColor();
        large_arrays::assignFresh(mesh_.vertices, n, Point3d(Point3d::Zero()));
        if (color) {
            large_arrays::assignFresh(mesh_.fileColors, n, Color4b{});
            mesh_.hasVertexColors = true;
        }
        if (l.hasTexCoords())
            large_arrays::assignFresh(vertexUv_, n, Eigen::Vector2f(Eigen::Vector2f::Zero()));
        if (e.hasLists()) {
            readBinaryVerticesVariable(e, l);
            return;
        }
        const std::size_t size = e.minBinaryRecordSize();
        if (n > remaining() / size)
            truncated(e);
        std::vector<std::size_t> offset(e.properties.size() + 1, 0);
        for (std::size_t i = 0; i < e.properties.size(); ++i)
            offset[i + 1] = offset[i] + scalarSize(e.properties[i].type);
        const auto& props = e.properties;
        const std::size_t ox = offset[l.x], oy = offset[l.y], oz = offset[l.z];
        const bool floatXyz = props[l.x].type == Scalar::Float32 && props[l.y].type == Scalar::Float32 &&
                              props[l.z].type == Scalar::Float32;
        const bool byteColor =
            !color || (props[l.r].type == Scalar::UInt8 && props[l.g].type == Scalar::UInt8 &&
                       props[l.b].type == Scalar::UInt8 && (l.a < 0 || props[l.a].type == Scalar::UInt8));
        const unsigned char* base = p_;
        Point3d* out = mesh_.vertices.data();
        if (!swap_ && floatXyz && byteColor) {
            // The common layout: float coordinates and byte colours in the machine's byte order.
            for (std::size_t i = 0; i < n; ++i) {
                const unsigned char* rec = base + i * size;
                float c[3];
                std::memcpy(&c[0], rec + ox, 4);
                std::memcpy(&c[1], rec + oy, 4);
                std::memcpy(&c[2], rec + oz, 4);
                out[i] = Point3d(c[0], c[1], c[2]);
            }
            if (color) {
                const std::size_t orr = offset[l.r], og = offset[l.g], ob = offset[l.b];
                const std::size_t oa = l.a >= 0 ? offset[l.a] : 0;
                const bool alpha = l.a >= 0;
                Color4b* col = mesh_.fileColors.data();
                for (std::size_t i = 0; i < n; ++i) {
                    const unsigned char* rec = base + i * size;
                    col[i] = Color4b{rec[orr], rec[og], rec[ob], alpha ? rec[oa] : std::uint8_t{255}};
                }
            }
        } else {
            const Scalar tx = props[l.x].type, ty = props[l.y].type, tz = props[l.z].type;
            for (std::size_t i = 0; i < n; ++i) {
                const unsigned char* rec = base + i * size;
                out[i] = Point3d(loadReal(rec + ox, tx, swap_), loadReal(rec + oy, ty, swap_),
                                 loadReal(rec + oz, tz, swap_));
            }
            if (color) {
                Color4b* col = mesh_.fileColors.data();
                for (std::size_t i = 0; i < n; ++i) {
                    const unsigned char* rec = base + i * size;
                    col[i].r = loadColor(rec + offset[l.r], props[l.r].type, swap_);
                    col[i].g = loadColor(rec + offset[l.g], props[l.g].type, swap_);
                    col[i].b = loadColor(rec + offset[l.b], props[l.b].type, swap_);
                    col[i].a = l.a >= 0 ? loadColor(rec + offset[l.a], props[l.a].type, swap_) : 255;
                }
            }
        }
        if (l.hasTexCoords())
            for (std::size_t i = 0; i < n; ++i) {
                const unsigned char* rec = base + i * size;
                vertexUv_[i] = Eigen::Vector2f(float(loadReal(rec + offset[l.u], props[l.u].type, swap_)),
                                               float(loadReal(rec + offset[l.v], props[l.v].type, swap_)));
            }
        p_ += n * size;
    }

    // Vertex records with list properties: walked one property at a time.
    void readBinaryVerticesVariable(const Element& e, const VertexLayout& l) {
        const std::vector<Role> roles = vertexRoles(e, l);
        for (std::size_t i = 0; i < e.count; ++i) {
            Point3d& pos = mesh_.vertices[i];
            Color4b c;
            Eigen::Vector2f uv = Eigen::Vector2f::Zero();
            for (std::size_t j = 0; j < e.properties.size(); ++j) {
                const Property& prop = e.properties[j];
                if (prop.isList) {
                    p_ = skipBinaryProperty(p_, prop, e);
                    continue;
                }
                const std::size_t s = scalarSize(prop.type);
                if (remaining() < s)
                    truncated(e);
                switch (roles[j]) {
                case Role::X:
                    pos.x() = loadReal(p_, prop.type, swap_);
                    break;
                case Role::Y:
                    pos.y() = loadReal(p_, prop.type, swap_);
                    break;
                case Role::Z:
                    pos.z() = loadReal(p_, prop.type, swap_);
                    break;
                case Role::Red:
                    c.r = loadColor(p_, prop.type, swap_);
                    break;
                case Role::Green:
                    c.g = loadColor(p_, prop.type, swap_);
                    break;
                case Role::Blue:
                    c.b = loadColor(p_, prop.type, swap_);
                    break;
                case Role::Alpha:
                    c.a = loadColor(p_, prop.type, swap_);
                    break;
                case Role::U:
                    uv.x() = float(loadReal(p_, prop.type, swap_));
                    break;
                case Role::V:
                    uv.y() = float(loadReal(p_, prop.type, swap_));
                    break;
                case Role::None:
                    break;
                }
                p_ += s;
            }
            if (l.hasColor())
                mesh_.fileColors[i] = c;
            if (l.hasTexCoords())
                vertexUv_[i] = uv;
        }
    }

    void readBinaryFaces(const Element& e) {
        const FaceLayout layout = faceLayout(e);
        const Property& list = e.properties[layout.indices];
        faceIndexSigned_ = list.type == Scalar::Int32;
        const bool fast = !swap_ && e.properties.size() == 1 && list.countType == Scalar::UInt8 &&
                          (list.type == Scalar::Int32 || list.type == Scalar::UInt32);
        if (fast)
            readBinaryFacesFast(e);
        else
            readBinaryFacesGeneric(e, layout);
    }

    [[noreturn]] void tooFewIndices(std::uint64_t face, std::int64_t n) const {
        fail("face " + std::to_string(face) + " has " + std::to_string(n) +
             " vertex indices (a face needs at least 3)");
    }

    // Faces stored only as `list uchar int` (or uint) in the machine's byte order. A first pass
    // checks the record lengths and counts the triangles, so the face array is sized exactly.
    void readBinaryFacesFast(const Element& e) {
        const unsigned char* q = p_;
        std::uint64_t triangles = 0;
        for (std::uint64_t i = 0; i < e.count; ++i) {
            if (q == end_)
                truncated(e);
            const unsigned n = q[0];
            if (n < 3)
                tooFewIndices(i, n);
            if (static_cast<std::size_t>(end_ - q - 1) < 4u * n)
                truncated(e);
            triangles += n - 2;
            q += 1 + 4u * n;
        }
        if (triangles > maxElements)
            fail("the file has too many faces");
        large_arrays::assignFresh(mesh_.faces, triangles, FragMesh::Face{});
        FragMesh::Face* out = mesh_.faces.data();
        std::uint32_t maxIndex = 0;
        q = p_;
        for (std::uint64_t i = 0; i < e.count; ++i) {
            const unsigned n = q[0];
            std::uint32_t v[3];
            std::memcpy(v, q + 1, 12);
            maxIndex = std::max({maxIndex, v[0], v[1], v[2]});
            *out++ = {v[0], v[1], v[2]};
            for (unsigned j = 3; j < n; ++j) {
                std::uint32_t w;
                std::memcpy(&w, q + 1 + 4 * j, 4);
                maxIndex = std::max(maxIndex, w);
                *out++ = {v[0], v[2], w};
                v[2] = w;
            }
            q += 1 + 4u * n;
        }
        maxIndex_ = std::max(maxIndex_, maxIndex);
        p_ = q;
    }

    // Where the lists of one binary face record lie.
    struct BinaryFace {
        const unsigned char* indices = nullptr;
        std::int64_t corners = 0;
        const unsigned char* texcoords = nullptr;
        std::int64_t texcoordCount = -1; // -1 without a texcoord list
        std::int64_t texnumber = 0;
        const unsigned char* end = nullptr;
    };

    // The record at q, checked against the end of the file.
    BinaryFace scanBinaryFace(const unsigned char* q, const Element& e, const FaceLayout& layout) const {
        BinaryFace face;
        for (std::size_t j = 0; j < e.properties.size(); ++j) {
            const Property& prop = e.properties[j];
            const unsigned char* next = skipBinaryProperty(q, prop, e);
            const int property = static_cast<int>(j);
            if (property == layout.indices) {
                face.corners = listCount(q, prop, e);
                face.indices = q + scalarSize(prop.countType);
            } else if (property == layout.texcoord) {
                face.texcoordCount = listCount(q, prop, e);
                face.texcoords = q + scalarSize(prop.countType);
            } else if (property == layout.texnumber && !loadInteger(q, prop.type, swap_, face.texnumber)) {
                fail("a texnumber is not an integer");
            }
            q = next;
        }
        face.end = q;
        return face;
    }

    // Two passes: the first checks every record and counts the triangles, so that the arrays are
    // sized exactly; the second reads the records (each known to be complete).
    void readBinaryFacesGeneric(const Element& e, const FaceLayout& layout) {
        const Property& list = e.properties[layout.indices];
        const Property* texcoords = layout.texcoord >= 0 ? &e.properties[layout.texcoord] : nullptr;
        const unsigned char* q = p_;
        std::uint64_t triangles = 0;
        for (std::uint64_t i = 0; i < e.count; ++i) {
            const BinaryFace face = scanBinaryFace(q, e, layout);
            checkFace(i, face.corners, face.texcoordCount, face.texnumber, layout);
            triangles += std::uint64_t(face.corners) - 2;
            q = face.end;
        }
        if (triangles > maxElements)
            fail("the file has too many faces");
        reserveFaces(triangles, layout);
        q = p_;
        for (std::uint64_t i = 0; i < e.count; ++i) {
            const BinaryFace face = scanBinaryFace(q, e, layout);
            corners_.clear();
            for (std::int64_t m = 0; m < face.corners; ++m) {
                std::int64_t idx = 0;
                if (!loadInteger(face.indices + m * scalarSize(list.type), list.type, swap_, idx))
                    fail("a vertex index is not an integer");
                trackIndex(idx);
                corners_.push_back(static_cast<std::uint32_t>(idx));
            }
            uvs_.clear();
            for (std::int64_t m = 0; texcoords && m < face.texcoordCount; m += 2) {
                const std::size_t size = scalarSize(texcoords->type);
                uvs_.emplace_back(float(loadReal(face.texcoords + m * size, texcoords->type, swap_)),
                                  float(loadReal(face.texcoords + (m + 1) * size, texcoords->type, swap_)));
            }
            addFace(face.texnumber, layout);
            q = face.end;
        }
        p_ = q;
    }

    // Texture --------------------------------------------------------------------------------

    // Refuses a face with fewer than three corners, with a texcoord list that is not two numbers a
    // corner (texcoordCount -1 without a list) or with a texnumber naming no texture file.
    void checkFace(std::uint64_t face, std::int64_t corners, std::int64_t texcoordCount,
                   std::int64_t texnumber, const FaceLayout& layout) const {
        if (corners < 3)
            tooFewIndices(face, corners);
        if (layout.texcoord >= 0 && texcoordCount != 2 * corners)
            fail("face " + std::to_string(face) + " has " + std::to_string(texcoordCount) +
                 " texture coordinate numbers for " + std::to_string(corners) + " corners (two a corner)");
        if (textured_ && layout.texnumber >= 0 &&
            (texnumber < 0 || std::uint64_t(texnumber) >= materialCount_))
            fail("face " + std::to_string(face) + " has texnumber " + std::to_string(texnumber) +
                 ", but the file names " + std::to_string(header_.textureFiles.size()) +
                 " texture files (comment TextureFile)");
    }

    void reserveFaces(std::uint64_t triangles, const FaceLayout& layout) {
        mesh_.faces.reserve(triangles);
        if (textured_ && layout.texcoord >= 0)
            texture_.cornerCoords.reserve(3 * triangles);
        if (textured_ && layout.texnumber >= 0)
            texture_.faceMaterials.reserve(triangles);
    }

    // The triangle fan of the face in corners_ (and uvs_, one per corner, with a texcoord list).
    void addFace(std::int64_t texnumber, const FaceLayout& layout) {
        const bool coords = textured_ && layout.texcoord >= 0;
        const bool materials = textured_ && layout.texnumber >= 0;
        for (std::size_t m = 2; m < corners_.size(); ++m) {
            mesh_.faces.push_back({corners_[0], corners_[m - 1], corners_[m]});
            if (coords)
                texture_.cornerCoords.insert(texture_.cornerCoords.end(), {uvs_[0], uvs_[m - 1], uvs_[m]});
            if (materials)
                texture_.faceMaterials.push_back(static_cast<std::uint16_t>(texnumber));
        }
    }

    // The corner coordinates from the vertices' when the faces have none; every face material 0
    // stands for none.
    void finishTexture() {
        if (texture_.cornerCoords.empty()) {
            const std::vector<Eigen::Vector2f>& uv = vertexUv_;
            large_arrays::assignFresh(texture_.cornerCoords, 3 * mesh_.faces.size(),
                                      Eigen::Vector2f(Eigen::Vector2f::Zero()));
            for (std::size_t f = 0; f < mesh_.faces.size(); ++f)
                for (int c = 0; c < 3; ++c)
                    texture_.cornerCoords[3 * f + std::size_t(c)] = uv[mesh_.faces[f][c]];
        }
        std::vector<std::uint16_t>& materials = texture_.faceMaterials;
        if (std::all_of(materials.begin(), materials.end(), [](std::uint16_t m) { return m == 0; }))
            materials = {};
    }

    // ASCII --------------------------------------------------------------------------------

    std::string_view token(const Element& e) {
        const char* c = reinterpret_cast<const char*>(p_);
        const char* end = reinterpret_cast<const char*>(end_);
        while (c != end && isSpace(*c))
            ++c;
        if (c == end)
            truncated(e);
        const char* b = c;
        while (c != end && !isSpace(*c))
            ++c;
        p_ = reinterpret_cast<const unsigned char*>(c);
        return std::string_view(b, static_cast<std::size_t>(c - b));
    }

    [[noreturn]] void badNumber(std::string_view tok, const Element& e) const {
        fail("invalid number " + quote(tok) + " in element " + quote(e.name));
    }

    double asciiReal(const Element& e) {
        const std::string_view tok = token(e);
        double v = 0.0;
        if (!parseReal(tok, v))
            badNumber(tok, e);
        return v;
    }

    std::int64_t asciiInteger(const Element& e) {
        const std::string_view tok = token(e);
        std::int64_t v = 0;
        if (!parseInteger(tok, v))
            badNumber(tok, e);
        return v;
    }

    // Reads (and checks) one value of the given type; integers come back as reals.
    double asciiValue(Scalar t, const Element& e) {
        return isFloating(t) ? asciiReal(e) : static_cast<double>(asciiInteger(e));
    }

    std::uint8_t asciiColor(Scalar t, const Element& e) {
        if (isFloating(t))
            return text_fields::colorByte(asciiReal(e));
        return colorFromInteger(asciiInteger(e));
    }

    void skipAsciiList(const Property& prop, const Element& e) {
        const std::int64_t n = asciiInteger(e);
        if (n < 0)
            fail("invalid list length in element " + quote(e.name));
        for (std::int64_t j = 0; j < n; ++j)
            asciiValue(prop.type, e);
    }

    void skipAscii(const Element& e) {
        if (e.properties.empty())
            return;
        for (std::uint64_t i = 0; i < e.count; ++i)
            for (const Property& prop : e.properties) {
                if (prop.isList)
                    skipAsciiList(prop, e);
                else
                    asciiValue(prop.type, e);
            }
    }

    void readAsciiVertices(const Element& e) {
        const VertexLayout l = vertexLayout(e);
        const std::vector<Role> roles = vertexRoles(e, l);
        large_arrays::assignFresh(mesh_.vertices, e.count, Point3d(Point3d::Zero()));
        if (l.hasColor()) {
            large_arrays::assignFresh(mesh_.fileColors, e.count, Color4b{});
            mesh_.hasVertexColors = true;
        }
        if (l.hasTexCoords())
            large_arrays::assignFresh(vertexUv_, e.count, Eigen::Vector2f(Eigen::Vector2f::Zero()));
        for (std::uint64_t i = 0; i < e.count; ++i) {
            Point3d& pos = mesh_.vertices[i];
            Color4b c;
            Eigen::Vector2f uv = Eigen::Vector2f::Zero();
            for (std::size_t j = 0; j < e.properties.size(); ++j) {
                const Property& prop = e.properties[j];
                if (prop.isList) {
                    skipAsciiList(prop, e);
                    continue;
                }
                switch (roles[j]) {
                case Role::X:
                    pos.x() = asciiValue(prop.type, e);
                    break;
                case Role::Y:
                    pos.y() = asciiValue(prop.type, e);
                    break;
                case Role::Z:
                    pos.z() = asciiValue(prop.type, e);
                    break;
                case Role::Red:
                    c.r = asciiColor(prop.type, e);
                    break;
                case Role::Green:
                    c.g = asciiColor(prop.type, e);
                    break;
                case Role::Blue:
                    c.b = asciiColor(prop.type, e);
                    break;
                case Role::Alpha:
                    c.a = asciiColor(prop.type, e);
                    break;
                case Role::U:
                    uv.x() = float(asciiValue(prop.type, e));
                    break;
                case Role::V:
                    uv.y() = float(asciiValue(prop.type, e));
                    break;
                case Role::None:
                    asciiValue(prop.type, e);
                    break;
                }
            }
            if (l.hasColor())
                mesh_.fileColors[i] = c;
            if (l.hasTexCoords())
                vertexUv_[i] = uv;
        }
    }

    void readAsciiFaces(const Element& e) {
        const FaceLayout layout = faceLayout(e);
        reserveFaces(e.count, layout);
        for (std::uint64_t i = 0; i < e.count; ++i) {
            corners_.clear();
            uvs_.clear();
            std::int64_t texcoordCount = -1, texnumber = 0;
            for (std::size_t j = 0; j < e.properties.size(); ++j) {
                const Property& prop = e.properties[j];
                const int property = static_cast<int>(j);
                if (property == layout.indices)
                    readAsciiCorners(i, e);
                else if (property == layout.texcoord)
                    texcoordCount = readAsciiTexcoords(prop, e);
                else if (property == layout.texnumber)
                    texnumber = asciiInteger(e);
                else if (prop.isList)
                    skipAsciiList(prop, e);
                else
                    asciiValue(prop.type, e);
            }
            checkFace(i, std::int64_t(corners_.size()), texcoordCount, texnumber, layout);
            addFace(texnumber, layout);
            if (mesh_.faces.size() > maxElements)
                fail("the file has too many faces");
        }
        mesh_.faces.shrink_to_fit();
        texture_.cornerCoords.shrink_to_fit();
        texture_.faceMaterials.shrink_to_fit();
    }

    void readAsciiCorners(std::uint64_t face, const Element& e) {
        const std::int64_t n = asciiInteger(e);
        if (n < 3)
            tooFewIndices(face, n);
        for (std::int64_t m = 0; m < n; ++m) {
            const std::int64_t idx = asciiInteger(e);
            trackIndex(idx);
            corners_.push_back(static_cast<std::uint32_t>(idx));
        }
    }

    // Reads a texcoord list into uvs_ (a last odd number is read and dropped); returns its length.
    std::int64_t readAsciiTexcoords(const Property& prop, const Element& e) {
        const std::int64_t n = asciiInteger(e);
        if (n < 0)
            fail("invalid list length in element " + quote(e.name));
        double pair[2] = {0.0, 0.0};
        for (std::int64_t m = 0; m < n; ++m) {
            pair[m % 2] = asciiValue(prop.type, e);
            if (m % 2 == 1)
                uvs_.emplace_back(float(pair[0]), float(pair[1]));
        }
        return n;
    }

    const Header& header_;
    const unsigned char* p_;
    const unsigned char* end_;
    FragMesh& mesh_;
    bool swap_ = false;
    bool faceIndexSigned_ = false;
    std::uint32_t maxIndex_ = 0;
    const bool textured_;                   // the file has texture coordinates (hasTexCoords)
    const std::size_t materialCount_;       // one per TextureFile comment, at least one
    std::vector<Eigen::Vector2f> vertexUv_; // per vertex, when the vertices have texture coordinates
    PlyTexture texture_;
    // The face being read.
    std::vector<std::uint32_t> corners_;
    std::vector<Eigen::Vector2f> uvs_;
};

// The texture files that fit the faces' material numbers.
constexpr std::size_t MaxTextureFiles = std::size_t(std::numeric_limits<std::uint16_t>::max()) + 1;

// The file's materials with their images, found and decoded on a thread of their own.
std::future<std::vector<TextureMaterial>> findMaterials(const QString& path, const Header& header) {
    return std::async(std::launch::async | std::launch::deferred,
                      [path, materials = plyMaterials(header)]() mutable {
                          findTextureImages(path, materials);
                          return std::move(materials);
                      });
}

} // namespace

bool readPly(const QString& path, FragMesh& mesh, QString& error) {
    mesh.clear();
    auto refuse = [&](const QString& message) {
        mesh.clear();
        error = fileProblem(path, message);
        return false;
    };
    FileBytes file;
    if (QString problem = file.open(path); !problem.isEmpty())
        return refuse(problem);
    if (file.size() == 0)
        return refuse(QStringLiteral("the file is empty"));
    const auto* data = reinterpret_cast<const unsigned char*>(file.data());
    try {
        const Header header = parseHeader(file.data(), file.size());
        if (header.textureFiles.size() > MaxTextureFiles)
            fail("the file names more than " + std::to_string(MaxTextureFiles) + " texture files");
        // The images are decoded while the body is read.
        std::future<std::vector<TextureMaterial>> materials;
        if (hasTexCoords(header))
            materials = findMaterials(path, header);
        BodyReader body(header, data + header.bodyOffset, data + file.size(), mesh);
        body.read();
        if (body.hasTexture()) {
            PlyTexture texture = body.takeTexture();
            attachFoundTexture(mesh, texture.cornerCoords, std::move(texture.faceMaterials), materials.get());
        }
    } catch (const PlyError& e) {
        return refuse(QString::fromStdString(e.message));
    } catch (const std::bad_alloc&) {
        return refuse(QStringLiteral("not enough memory to read the mesh"));
    }
    mesh.changes = FragMesh::Positions | FragMesh::Colors | FragMesh::Marks | FragMesh::Topology;
    return true;
}
