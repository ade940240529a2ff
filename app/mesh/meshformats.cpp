#include "mesh/meshformats.h"

#include "mesh/randomcolour.h"

#include "atomicsave.hpp"
#include "vexa_guard.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexa::mesh {

namespace {

thread_local std::string tError;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i]))
            != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Whitespace-separated reading of a text held in memory, the way scanf reads: any
// run of blanks and line breaks separates two items. Optionally '#' starts a comment
// that runs to the end of its line.
class Scanner {
public:
    explicit Scanner(std::string_view text, bool hashComments = false)
        : text_(text)
        , comments_(hashComments)
    {
    }

    void skipBlanks()
    {
        while (pos_ < text_.size()) {
            if (isBlank(text_[pos_]))
                ++pos_;
            else if (comments_ && text_[pos_] == '#')
                skipLine();
            else
                break;
        }
    }
    bool atEnd()
    {
        skipBlanks();
        return pos_ >= text_.size();
    }
    size_t remaining() const { return text_.size() - pos_; }
    size_t position() const { return pos_; }
    void seek(size_t pos) { pos_ = std::min(pos, text_.size()); }

    std::string_view word()
    {
        skipBlanks();
        size_t start = pos_;
        while (pos_ < text_.size() && !isBlank(text_[pos_]) && !(comments_ && text_[pos_] == '#'))
            ++pos_;
        return text_.substr(start, pos_ - start);
    }
    std::string_view peekWord()
    {
        size_t saved = pos_;
        std::string_view w = word();
        pos_ = saved;
        return w;
    }
    void skipLine()
    {
        size_t end = text_.find('\n', pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
    }

    bool readInt(int64_t& value)
    {
        skipBlanks();
        size_t start = pos_;
        if (start < text_.size() && text_[start] == '+')
            ++start;
        auto [end, ec] = std::from_chars(text_.data() + start, text_.data() + text_.size(), value);
        if (ec != std::errc())
            return false;
        pos_ = size_t(end - text_.data());
        return true;
    }
    // A finite number; "nan", "inf" and out-of-range values are refused.
    bool readReal(double& value)
    {
        skipBlanks();
        size_t start = pos_;
        if (start < text_.size() && text_[start] == '+')
            ++start;
        auto [end, ec] = std::from_chars(
            text_.data() + start, text_.data() + text_.size(), value, std::chars_format::general);
        if (ec != std::errc() || !std::isfinite(value) || !std::isfinite(float(value)))
            return false;
        pos_ = size_t(end - text_.data());
        return true;
    }
    // Literal text after any blanks, where a blank in the pattern matches any run
    // of blanks (also none), as in a scanf format.
    bool match(std::string_view pattern)
    {
        skipBlanks();
        for (char c : pattern) {
            if (isBlank(c)) {
                skipBlanks();
                continue;
            }
            if (pos_ >= text_.size() || text_[pos_] != c)
                return false;
            ++pos_;
        }
        return true;
    }

private:
    std::string_view text_;
    bool comments_;
    size_t pos_ = 0;
};

bool fail(std::string* error, std::string message)
{
    if (error)
        *error = std::move(message);
    return false;
}

// A count read from a file is believed only when the bytes that remain could hold
// that many items of at least minBytes each; nothing is allocated before this check.
bool plausibleCount(int64_t count, int64_t minBytes, size_t remaining)
{
    return count >= 0 && count <= TRIMESH_MAX_COUNT && count * minBytes <= int64_t(remaining) + 1;
}

TriMesh* buildMesh(const std::vector<float>& points, const std::vector<int32_t>& triangles)
{
    TriMesh* mesh = allocateTriMesh(int64_t(points.size() / 3), int64_t(triangles.size() / 3));
    if (!mesh)
        return nullptr;
    if (!points.empty())
        std::memcpy(mesh->points, points.data(), points.size() * sizeof(float));
    if (!triangles.empty())
        std::memcpy(mesh->triangles, triangles.data(), triangles.size() * sizeof(int32_t));
    return mesh;
}

uint32_t readU32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

float readF32(const unsigned char* p)
{
    uint32_t bits = readU32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void putU32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(char((v >> (8 * i)) & 0xff));
}

void putF32(std::string& out, float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    putU32(out, bits);
}

// printf "%d" and "%f" without the process locale (a French locale would write
// decimal commas that no reader accepts).
void putInt(std::string& out, int64_t v)
{
    char buffer[24];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    out.append(buffer, end);
}

void putFixed(std::string& out, double v)
{
    char buffer[400];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, 6);
    if (ec != std::errc())
        out += "0.000000";
    else
        out.append(buffer, end);
}

std::optional<std::string> readWholeFile(const char* path, std::string& error)
{
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::string("\"") + path + "\" ne peut pas être ouvert";
        return std::nullopt;
    }
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = std::string("\"") + path + "\" n'est pas un fichier ordinaire";
        return std::nullopt;
    }
    std::string bytes;
    bytes.resize(size_t(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t got = ::pread(fd, bytes.data() + done, bytes.size() - done, off_t(done));
        if (got <= 0)
            break;
        done += size_t(got);
    }
    ::close(fd);
    bytes.resize(done);
    return bytes;
}

bool writeWholeFile(const char* path, const std::string& bytes)
{
    if (!path || !*path || bytes.empty())
        return false;
    return atomicsave::saveBytes(path, bytes.data(), bytes.size());
}

std::string_view firstLine(std::string_view bytes)
{
    // The header line is read as fgets does with a 256-byte buffer.
    size_t end = bytes.find('\n');
    size_t length = end == std::string_view::npos ? bytes.size() : end + 1;
    return bytes.substr(0, std::min<size_t>(length, 255));
}

bool isStandardHeader(std::string_view line)
{
    return line == "Data3D_V1.0\n" || line == "Data3D_V1.0\r\n";
}

bool readTriangleIndex(Scanner& s, int64_t nbPoints, int32_t& index)
{
    int64_t v;
    if (!s.readInt(v) || v < 0 || v >= nbPoints)
        return false;
    index = int32_t(v);
    return true;
}

} // namespace

const std::string& lastMeshError()
{
    return tError;
}

TriMesh* parseMeshStandard(std::string_view bytes, MeshColour* colour, std::string* error)
{
    std::string_view line = firstLine(bytes);
    if (line.find("GOCAD") != std::string_view::npos)
        return fail(error, "les fichiers GOCAD ne sont pas lus"), nullptr;
    Scanner s(bytes);
    if (isStandardHeader(line))
        s.seek(line.size());

    int64_t rgb[3];
    if (!s.match("rouge :") || !s.readInt(rgb[0]) || !s.match("vert :") || !s.readInt(rgb[1])
        || !s.match("bleu :") || !s.readInt(rgb[2]))
        return fail(error, "lignes de couleur absentes"), nullptr;
    int64_t nbp;
    if (!s.match("nbp :") || !s.readInt(nbp))
        return fail(error, "nombre de points absent"), nullptr;
    // "0:0 0 0" is the shortest point.
    if (!plausibleCount(nbp, 8, s.remaining()))
        return fail(error, "nombre de points incompatible avec la taille du fichier"), nullptr;
    std::vector<float> points;
    points.reserve(size_t(nbp) * 3);
    for (int64_t i = 0; i < nbp; ++i) {
        int64_t ignored;
        double x, y, z;
        if (!s.readInt(ignored) || !s.match(":") || !s.readReal(x) || !s.readReal(y)
            || !s.readReal(z))
            return fail(error, "point " + std::to_string(i) + " absent ou non fini"), nullptr;
        points.insert(points.end(), { float(x), float(y), float(z) });
    }
    int64_t nbf;
    if (!s.match("nbf :") || !s.readInt(nbf))
        return fail(error, "nombre de triangles absent"), nullptr;
    if (!plausibleCount(nbf, 6, s.remaining()))
        return fail(error, "nombre de triangles incompatible avec la taille du fichier"), nullptr;
    std::vector<int32_t> triangles(static_cast<size_t>(nbf) * 3);
    for (int32_t& index : triangles)
        if (!readTriangleIndex(s, nbp, index))
            return fail(error, "indice de triangle absent ou hors limites"), nullptr;
    TriMesh* mesh = buildMesh(points, triangles);
    if (mesh && colour) {
        colour->r = double(rgb[0]) / 255.0;
        colour->g = double(rgb[1]) / 255.0;
        colour->b = double(rgb[2]) / 255.0;
    }
    return mesh;
}

TriMesh* parseMeshStlBinary(std::string_view bytes, std::string* error)
{
    if (bytes.size() < 84)
        return fail(error, "STL binaire plus court que son entête de 84 octets"), nullptr;
    auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const int64_t n = readU32(data + 80);
    // Extra bytes after the last triangle are tolerated; missing ones are not.
    if (84 + 50 * n > int64_t(bytes.size()))
        return fail(error, "STL binaire tronqué : " + std::to_string(n) + " triangles annoncés"),
               nullptr;
    if (n * 3 > TRIMESH_MAX_COUNT)
        return fail(error, "STL binaire trop grand"), nullptr;
    TriMesh* mesh = allocateTriMesh(n * 3, n);
    if (!mesh)
        return fail(error, "mémoire insuffisante"), nullptr;
    for (int64_t k = 0; k < n; ++k) {
        const unsigned char* v = data + 84 + 50 * k + 12;
        for (int c = 0; c < 9; ++c) {
            float f = readF32(v + 4 * c);
            if (!std::isfinite(f)) {
                triMeshFree(&mesh);
                return fail(error, "coordonnée non finie dans le STL binaire"), nullptr;
            }
            mesh->points[k * 9 + c] = f;
        }
        for (int c = 0; c < 3; ++c)
            mesh->triangles[k * 3 + c] = int32_t(k * 3 + c);
    }
    return mesh;
}

TriMesh* parseMeshStlAscii(std::string_view bytes, std::string* error)
{
    if (bytes.substr(0, 5) != "solid")
        return fail(error, "le STL ASCII ne commence pas par \"solid\""), nullptr;
    Scanner s(bytes);
    std::vector<float> points;
    // A file may hold several solids one after the other; all are read.
    while (equalsNoCase(s.peekWord(), "solid")) {
        s.word();
        s.skipLine(); // the solid's name, possibly empty or several words
        for (;;) {
            std::string_view w = s.word();
            if (equalsNoCase(w, "endsolid")) {
                s.skipLine();
                break;
            }
            if (!equalsNoCase(w, "facet"))
                return fail(error, "STL ASCII : \"facet\" ou \"endsolid\" attendu"), nullptr;
            if (!equalsNoCase(s.word(), "normal"))
                return fail(error, "STL ASCII : \"normal\" attendu"), nullptr;
            for (int c = 0; c < 3; ++c)
                if (s.word().empty())
                    return fail(error, "STL ASCII tronqué"), nullptr;
            if (!equalsNoCase(s.word(), "outer") || !equalsNoCase(s.word(), "loop"))
                return fail(error, "STL ASCII : \"outer loop\" attendu"), nullptr;
            for (int v = 0; v < 3; ++v) {
                double x, y, z;
                if (!equalsNoCase(s.word(), "vertex") || !s.readReal(x) || !s.readReal(y)
                    || !s.readReal(z))
                    return fail(error, "STL ASCII : sommet invalide ou absent"), nullptr;
                points.insert(points.end(), { float(x), float(y), float(z) });
            }
            if (!equalsNoCase(s.word(), "endloop") || !equalsNoCase(s.word(), "endfacet"))
                return fail(error, "STL ASCII : \"endloop endfacet\" attendu"), nullptr;
            if (points.size() / 3 > size_t(TRIMESH_MAX_COUNT))
                return fail(error, "STL ASCII trop grand"), nullptr;
        }
    }
    const int32_t nbPoints = int32_t(points.size() / 3);
    std::vector<int32_t> triangles(static_cast<size_t>(nbPoints));
    for (int32_t i = 0; i < nbPoints; ++i)
        triangles[size_t(i)] = i;
    TriMesh* mesh = buildMesh(points, triangles);
    if (!mesh)
        fail(error, "mémoire insuffisante");
    return mesh;
}

TriMesh* parseMeshStl(std::string_view bytes, std::string* error)
{
    if (bytes.substr(0, 5) == "solid") {
        // Many binary files begin their free-form header with "solid": a size that
        // matches the triangle count exactly marks them as binary.
        if (bytes.size() >= 84) {
            int64_t n = readU32(reinterpret_cast<const unsigned char*>(bytes.data()) + 80);
            if (84 + 50 * n == int64_t(bytes.size()))
                return parseMeshStlBinary(bytes, error);
        }
        std::string asciiError;
        if (TriMesh* mesh = parseMeshStlAscii(bytes, &asciiError))
            return mesh;
        std::string binaryError;
        if (TriMesh* mesh = parseMeshStlBinary(bytes, &binaryError))
            return mesh;
        return fail(error, asciiError + "; as binary: " + binaryError), nullptr;
    }
    return parseMeshStlBinary(bytes, error);
}

TriMesh* parseMeshOff(std::string_view bytes, std::string* error)
{
    Scanner s(bytes, true);
    s.skipBlanks();
    if (!s.match("OFF"))
        return fail(error, "entête OFF absent"), nullptr;
    int64_t nv, nf, ne;
    if (!s.readInt(nv) || !s.readInt(nf) || !s.readInt(ne))
        return fail(error, "nombres OFF absents"), nullptr;
    if (!plausibleCount(nv, 6, s.remaining()) || !plausibleCount(nf, 8, s.remaining()))
        return fail(error, "nombres OFF incompatibles avec la taille du fichier"), nullptr;
    std::vector<float> points;
    points.reserve(size_t(nv) * 3);
    for (int64_t i = 0; i < nv * 3; ++i) {
        double v;
        if (!s.readReal(v))
            return fail(error, "point OFF " + std::to_string(i / 3) + " absent ou non fini"),
                   nullptr;
        points.push_back(float(v));
    }
    std::vector<int32_t> triangles;
    triangles.reserve(size_t(nf) * 3);
    std::vector<int32_t> face;
    for (int64_t f = 0; f < nf; ++f) {
        int64_t n;
        if (!s.readInt(n) || n < 3 || !plausibleCount(n, 2, s.remaining()))
            return fail(error, "face OFF " + std::to_string(f) + " : nombre de sommets invalide"),
                   nullptr;
        face.resize(size_t(n));
        for (int64_t k = 0; k < n; ++k)
            if (!readTriangleIndex(s, nv, face[size_t(k)]))
                return fail(error,
                           "OFF face " + std::to_string(f) + ": index missing or out of range"),
                       nullptr;
        // Whatever follows the indices on the line (a face colour) is not ours.
        s.skipLine();
        if (triangles.size() / 3 + size_t(n - 2) > size_t(TRIMESH_MAX_COUNT))
            return fail(error, "OFF trop grand"), nullptr;
        for (int64_t k = 1; k + 1 < n; ++k)
            triangles.insert(triangles.end(), { face[0], face[size_t(k)], face[size_t(k + 1)] });
    }
    TriMesh* mesh = buildMesh(points, triangles);
    if (!mesh)
        fail(error, "mémoire insuffisante");
    return mesh;
}

TriMesh* parseMeshVtk(std::string_view bytes, std::string* error)
{
    if (bytes.size() < 5 || bytes[0] != '#' || bytes.substr(2, 3) != "vtk")
        return fail(error, "signature VTK absente"), nullptr;
    Scanner s(bytes);
    s.skipLine(); // version line
    s.skipLine(); // title
    if (!equalsNoCase(s.word(), "ASCII"))
        return fail(error, "seuls les fichiers VTK ASCII sont lus"), nullptr;
    if (!equalsNoCase(s.word(), "DATASET") || !equalsNoCase(s.word(), "POLYDATA"))
        return fail(error, "le jeu de données VTK n'est pas POLYDATA"), nullptr;

    std::vector<float> points;
    int64_t nbPoints = -1;
    std::vector<int32_t> triangles;
    std::vector<int32_t> cell;
    for (;;) {
        std::string_view key = s.word();
        if (key.empty())
            break;
        if (equalsNoCase(key, "POINTS")) {
            if (nbPoints >= 0)
                return fail(error, "VTK : POINTS donné deux fois"), nullptr;
            if (!s.readInt(nbPoints) || !plausibleCount(nbPoints, 6, s.remaining()))
                return fail(error, "VTK : nombre de points invalide"), nullptr;
            s.word(); // data type: every ASCII type reads as numbers
            points.reserve(size_t(nbPoints) * 3);
            for (int64_t i = 0; i < nbPoints * 3; ++i) {
                double v;
                if (!s.readReal(v))
                    return fail(error, "VTK : point absent ou non fini"), nullptr;
                points.push_back(float(v));
            }
            continue;
        }
        const bool polygons = equalsNoCase(key, "POLYGONS");
        const bool strips = equalsNoCase(key, "TRIANGLE_STRIPS");
        const bool other = equalsNoCase(key, "LINES") || equalsNoCase(key, "VERTICES");
        if (!polygons && !strips && !other)
            break; // attributes (POINT_DATA, CELL_DATA, ...) follow the geometry
        int64_t m, size;
        if (!s.readInt(m) || !s.readInt(size) || !plausibleCount(size, 2, s.remaining()) || m < 0
            || m > size)
            return fail(error, "VTK : nombres de cellules invalides"), nullptr;
        if (!other && nbPoints < 0)
            return fail(error, "VTK : cellules avant POINTS"), nullptr;
        int64_t used = 0;
        for (int64_t c = 0; c < m; ++c) {
            int64_t n;
            if (!s.readInt(n) || n < 0 || used + 1 + n > size)
                return fail(error, "VTK : taille de cellule invalide"), nullptr;
            used += 1 + n;
            cell.resize(size_t(n));
            for (int64_t k = 0; k < n; ++k) {
                if (other) {
                    int64_t ignored;
                    if (!s.readInt(ignored))
                        return fail(error, "VTK : cellule tronquée"), nullptr;
                } else if (!readTriangleIndex(s, nbPoints, cell[size_t(k)])) {
                    return fail(error, "VTK : indice absent ou hors limites"), nullptr;
                }
            }
            if (other)
                continue;
            if (n < 3)
                return fail(error, "VTK : polygone de moins de 3 points"), nullptr;
            if (triangles.size() / 3 + size_t(n - 2) > size_t(TRIMESH_MAX_COUNT))
                return fail(error, "VTK trop grand"), nullptr;
            if (polygons && n == 4) {
                triangles.insert(triangles.end(), { cell[0], cell[1], cell[2] });
                triangles.insert(triangles.end(), { cell[2], cell[3], cell[0] });
            } else if (polygons) {
                for (int64_t k = 1; k + 1 < n; ++k)
                    triangles.insert(
                        triangles.end(), { cell[0], cell[size_t(k)], cell[size_t(k + 1)] });
            } else {
                // Every other triangle of a strip runs the other way round.
                for (int64_t k = 0; k + 2 < n; ++k) {
                    int32_t a = cell[size_t(k)], b = cell[size_t(k + 1)], c2 = cell[size_t(k + 2)];
                    if (k % 2)
                        std::swap(a, b);
                    triangles.insert(triangles.end(), { a, b, c2 });
                }
            }
        }
        if (used != size)
            return fail(error, "VTK : taille de la liste de cellules incompatible avec son entête"),
                   nullptr;
    }
    if (nbPoints < 0)
        return fail(error, "VTK : pas de POINTS"), nullptr;
    if (triangles.empty())
        return fail(error, "VTK : aucun polygone (pas une surface)"), nullptr;
    TriMesh* mesh = buildMesh(points, triangles);
    if (!mesh)
        fail(error, "mémoire insuffisante");
    return mesh;
}

TriMesh* readMeshFile(const char* path, MeshColour* colour)
{
    tError.clear();
    if (!path) {
        tError = "aucun nom de fichier";
        return nullptr;
    }
    return guarded([&]() -> TriMesh* {
        std::string name(path);
        std::string_view ext
            = name.size() > 4 ? std::string_view(name).substr(name.size() - 4) : std::string_view();
        std::string error;
        std::optional<std::string> bytes = readWholeFile(path, error);
        if (!bytes) {
            tError = error;
            return nullptr;
        }
        TriMesh* mesh = nullptr;
        if (ext == ".stl") {
            mesh = parseMeshStl(*bytes, &error);
        } else if (ext == ".off" || ext == ".vtk") {
            double rgb[3];
            randomColour(2, rgb);
            if (colour)
                *colour = { rgb[0], rgb[1], rgb[2] };
            mesh = ext == ".off" ? parseMeshOff(*bytes, &error) : parseMeshVtk(*bytes, &error);
        } else {
            mesh = parseMeshStandard(*bytes, colour, &error);
        }
        if (!mesh)
            tError = "\"" + name + "\" : " + error;
        return mesh;
    });
}

bool readMeshColour(const char* path, MeshColour* colour)
{
    if (colour)
        *colour = {};
    if (!path || !colour)
        return false;
    return guarded([&] {
        // Only the header and the three colour lines are needed.
        std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), std::fclose);
        if (!file)
            return false;
        char head[1024];
        size_t got = std::fread(head, 1, sizeof head, file.get());
        std::string_view bytes(head, got);
        std::string_view line = firstLine(bytes);
        if (line.find("GOCAD") != std::string_view::npos || !isStandardHeader(line))
            return false;
        Scanner s(bytes);
        s.seek(line.size());
        int64_t rgb[3];
        if (!s.match("rouge :") || !s.readInt(rgb[0]) || !s.match("vert :") || !s.readInt(rgb[1])
            || !s.match("bleu :") || !s.readInt(rgb[2]))
            return false;
        *colour = { double(rgb[0]) / 255.0, double(rgb[1]) / 255.0, double(rgb[2]) / 255.0 };
        return true;
    });
}

namespace {

int colourByte(double c)
{
    double v = std::floor(c * 255.0 + 0.5);
    if (!(v >= 0.0))
        return 0;
    return v > 255.0 ? 255 : int(v);
}

bool writable(const TriMesh* mesh)
{
    return mesh && hasValidIndices(*mesh);
}

} // namespace

std::string formatMeshStandard(const TriMesh& mesh, double r, double g, double b)
{
    std::string out;
    if (!hasValidIndices(mesh))
        return out;
    out += "Data3D_V1.0\nrouge : ";
    putInt(out, colourByte(r));
    out += "\nvert : ";
    putInt(out, colourByte(g));
    out += "\nbleu : ";
    putInt(out, colourByte(b));
    out += "\nnbp : ";
    putInt(out, mesh.nbPoints);
    out += "\n";
    for (int64_t i = 0; i < mesh.nbPoints; ++i) {
        putInt(out, i);
        out += " : ";
        for (int c = 0; c < 3; ++c) {
            putFixed(out, mesh.points[i * 3 + c]);
            out += c < 2 ? " " : "\n";
        }
    }
    out += "nbf : ";
    putInt(out, mesh.nbTriangles);
    out += " \n";
    for (int64_t t = 0; t < mesh.nbTriangles; ++t)
        for (int c = 0; c < 3; ++c) {
            putInt(out, mesh.triangles[t * 3 + c]);
            out += c < 2 ? " " : "\n";
        }
    return out;
}

std::string formatMeshStlBinary(const TriMesh& mesh)
{
    std::string out;
    if (!hasValidIndices(mesh))
        return out;
    out.reserve(84 + size_t(mesh.nbTriangles) * 50);
    out.append(80, '\0');
    putU32(out, uint32_t(mesh.nbTriangles));
    for (int64_t t = 0; t < mesh.nbTriangles; ++t) {
        out.append(12, '\0');
        for (int c = 0; c < 3; ++c) {
            const float* p = mesh.points + int64_t(mesh.triangles[t * 3 + c]) * 3;
            putF32(out, p[0]);
            putF32(out, p[1]);
            putF32(out, p[2]);
        }
        out.append(2, '\0');
    }
    return out;
}

std::string formatMeshOff(const TriMesh& mesh)
{
    std::string out;
    if (!hasValidIndices(mesh))
        return out;
    out += "OFF\n";
    putInt(out, mesh.nbPoints);
    out += " ";
    putInt(out, mesh.nbTriangles);
    out += " 0\n";
    for (int64_t i = 0; i < int64_t(mesh.nbPoints) * 3; ++i) {
        putFixed(out, mesh.points[i]);
        out += i % 3 < 2 ? " " : "\n";
    }
    for (int64_t t = 0; t < mesh.nbTriangles; ++t) {
        out += "3";
        for (int c = 0; c < 3; ++c) {
            out += " ";
            putInt(out, mesh.triangles[t * 3 + c]);
        }
        out += "\n";
    }
    return out;
}

std::string formatMeshPointsNormals(const TriMesh& mesh)
{
    std::string out;
    if (!hasValidIndices(mesh))
        return out;
    out += "POINTS_NORMALS ";
    putInt(out, mesh.nbTriangles);
    out += "\n";
    for (int64_t t = 0; t < mesh.nbTriangles; ++t) {
        const float* p[3];
        for (int c = 0; c < 3; ++c)
            p[c] = mesh.points + int64_t(mesh.triangles[t * 3 + c]) * 3;
        double e1[3], e2[3], values[6];
        for (int k = 0; k < 3; ++k) {
            values[k] = (double(p[0][k]) + p[1][k] + p[2][k]) / 3.0;
            e1[k] = double(p[1][k]) - p[0][k];
            e2[k] = double(p[2][k]) - p[0][k];
        }
        double n[3] = { e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
            e1[0] * e2[1] - e1[1] * e2[0] };
        double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (int k = 0; k < 3; ++k)
            values[3 + k] = length > 0.0 ? n[k] / length : n[k];
        for (int k = 0; k < 6; ++k) {
            putFixed(out, values[k]);
            out += k < 5 ? " " : "\n";
        }
    }
    return out;
}

bool writeMeshStandard(const char* path, const TriMesh* mesh, double r, double g, double b)
{
    return writable(mesh)
        && guarded([&] { return writeWholeFile(path, formatMeshStandard(*mesh, r, g, b)); });
}

bool writeMeshStlBinary(const char* path, const TriMesh* mesh)
{
    return writable(mesh)
        && guarded([&] { return writeWholeFile(path, formatMeshStlBinary(*mesh)); });
}

bool writeMeshOff(const char* path, const TriMesh* mesh)
{
    return writable(mesh) && guarded([&] { return writeWholeFile(path, formatMeshOff(*mesh)); });
}

bool writeMeshPointsNormals(const char* path, const TriMesh* mesh)
{
    return writable(mesh)
        && guarded([&] { return writeWholeFile(path, formatMeshPointsNormals(*mesh)); });
}

namespace {

std::atomic<MeshSaveFormat> gLastSaveFormat { MeshSaveFormat::Standard };

} // namespace

MeshSaveFormat lastMeshSaveFormat()
{
    return gLastSaveFormat.load();
}

void setLastMeshSaveFormat(MeshSaveFormat format)
{
    gLastSaveFormat.store(format);
}

bool writeMeshAs(
    MeshSaveFormat format, const char* path, const TriMesh* mesh, double r, double g, double b)
{
    switch (format) {
    case MeshSaveFormat::Standard:
        return writeMeshStandard(path, mesh, r, g, b);
    case MeshSaveFormat::StlBinary:
        return writeMeshStlBinary(path, mesh);
    case MeshSaveFormat::Off:
        return writeMeshOff(path, mesh);
    case MeshSaveFormat::PointsNormals:
        return writeMeshPointsNormals(path, mesh);
    }
    return false;
}

} // namespace vexa::mesh
