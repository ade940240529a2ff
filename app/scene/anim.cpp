#include "scene/anim.h"

#include "log/logmodel.h"
#include "mesh/meshapi.h"
#include "mesh/primitives.h"
#include "params/paramapi.h"
#include "quill.h"
#include "scene/animgeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace vexa::scene {

namespace {

struct DocDeleter {
    void operator()(QuillNode* doc) const { quillDestroy(doc); }
};
using DocPtr = std::unique_ptr<QuillNode, DocDeleter>;
struct ArrayDeleter {
    void operator()(void* array) const { quillRelease(array); }
};
template <typename T> using QuillArray = std::unique_ptr<T*, ArrayDeleter>;

struct Mesh3dDeleter {
    void operator()(Mesh3d* mesh) const { vexaMesh3dFree(mesh); }
};

// Nesting allowed through STEP, SCRIPT and POLYLINE files: a file including itself,
// or a document nested deeply enough to exhaust the stack, stops there.
constexpr int kMaxDepth = 64;
// Documents a playback may include in all: a file naming itself twice would otherwise
// double the work at every level.
constexpr std::size_t kMaxIncludes = 1000;

std::vector<QuillNode*> children(QuillNode* node, const char* name = nullptr)
{
    int count = 0;
    QuillArray<QuillNode> found(
        name ? quillNodeFindNodes(node, name, 0, &count) : quillNodeGetNodes(node, &count));
    std::vector<QuillNode*> out;
    if (found)
        out.assign(found.get(), found.get() + count);
    return out;
}

std::vector<QuillItem*> items(QuillNode* node, const char* name = nullptr)
{
    int count = 0;
    QuillArray<QuillItem> found(
        name ? quillNodeFindItems(node, name, 0, &count) : quillNodeGetItems(node, &count));
    std::vector<QuillItem*> out;
    if (found)
        out.assign(found.get(), found.get() + count);
    return out;
}

bool hasItem(QuillNode* node, const char* name)
{
    return !items(node, name).empty();
}

bool isNamed(QuillNode* node, const char* name)
{
    const char* own = quillNodeGetName(node);
    return own && std::strcmp(own, name) == 0;
}

std::optional<double> real(QuillNode* node, const char* name)
{
    double value = 0;
    if (quillGetRealItem(node, name, &value))
        return value;
    return std::nullopt;
}

std::optional<long> integer(QuillNode* node, const char* name)
{
    long value = 0;
    if (quillGetIntItem(node, name, &value))
        return value;
    return std::nullopt;
}

double realOr(QuillNode* node, const char* name, double fallback)
{
    return real(node, name).value_or(fallback);
}

long integerOr(QuillNode* node, const char* name, long fallback)
{
    return integer(node, name).value_or(fallback);
}

// All the named reals, or nothing when one is missing.
template <std::size_t N>
std::optional<std::array<double, N>> reals(QuillNode* node, const char* const (&names)[N])
{
    std::array<double, N> out {};
    for (std::size_t i = 0; i < N; ++i) {
        auto value = real(node, names[i]);
        if (!value)
            return std::nullopt;
        out[i] = *value;
    }
    return out;
}

// A file name of the document at documentPath, joined to its folder.
std::string joinPath(const std::string& documentPath, const char* name)
{
    return (std::filesystem::path(documentPath).parent_path() / name).generic_string();
}

TriMeshPtr fromMesh3d(Mesh3d* made)
{
    std::unique_ptr<Mesh3d, Mesh3dDeleter> owned(made);
    TriMeshPtr mesh(owned ? mesh::mesh3dToTriMesh(owned.get()) : nullptr);
    if (mesh)
        triMeshComputeBox(mesh.get());
    return mesh;
}

void logProblem(const std::string& text)
{
    log::logPost(("Animation : " + text).c_str());
}

// Rotation of every point, right-handed about the axis through the origin.
void rotateMesh(TriMesh* mesh, Vec3 axis, double angle)
{
    const Mat4 r = rotation(axis, angle);
    const double m[9] = { r[0], r[1], r[2], r[4], r[5], r[6], r[8], r[9], r[10] };
    triMeshTransform(mesh, m);
}

TriMeshPtr tube(const std::vector<mesh::Vec3>& points, double radius, int precision)
{
    if (points.size() < 3)
        return nullptr;
    return TriMeshPtr(mesh::makeTube(points.data(), int(points.size()), radius, precision));
}

std::vector<mesh::Vec3> linePoints(QuillNode* line)
{
    std::vector<mesh::Vec3> points;
    for (QuillNode* pt : children(line, "PT")) {
        // Stored as single precision, as the tube's points are.
        points.push_back({ double(float(realOr(pt, "X", 0))), double(float(realOr(pt, "Y", 0))),
            double(float(realOr(pt, "Z", 0))) });
    }
    return points;
}

class Player {
public:
    explicit Player(AnimTarget& target)
        : target_(target)
    {
    }

    int play(const std::string& path);

private:
    struct Sequence {
        QuillNode* node;
        std::size_t counter = 0;
        std::string docPath; // file names of its nodes are relative to that document
    };

    void interpret(QuillNode* node, const std::string& docPath, int depth);
    void frame(QuillNode* node, const std::string& docPath, int depth);
    void camera(QuillNode* node);
    void cameraMoves(QuillNode* node, double n);
    void object(QuillNode* node, const std::string& docPath, int depth);
    void polyline(QuillNode* node, const std::string& name, const std::string& docPath, int depth);
    std::shared_ptr<const Texture> texture(
        QuillNode* node, const std::string& docPath, bool fileForm = true);
    std::optional<AnimObject> blob(QuillNode* node, const std::string& docPath);
    std::optional<AnimObject> geometry(QuillNode* part, const std::string& docPath);
    void transform(QuillNode* node, TriMesh* mesh, bool active);
    QuillNode* include(const std::string& path, int depth);

    AnimTarget& target_;
    std::uint32_t viewMask_ = 1;
    std::vector<Sequence> sequences_;
    long drawBegin_ = -1, drawEnd_ = -1;
    long frames_ = 0;
    // Included documents live as long as the playback: their nodes may be sequences.
    std::vector<DocPtr> documents_;
};

QuillNode* Player::include(const std::string& path, int depth)
{
    if (depth >= kMaxDepth || documents_.size() >= kMaxIncludes) {
        logProblem(path + " : trop d'inclusions, ignoré");
        return nullptr;
    }
    DocPtr doc(quillRead(path.c_str(), 20));
    if (!doc) {
        logProblem(path + " : fichier illisible, ignoré");
        return nullptr;
    }
    documents_.push_back(std::move(doc));
    return documents_.back().get();
}

int Player::play(const std::string& path)
{
    DocPtr doc(quillRead(path.c_str(), 20));
    if (!doc || !isNamed(doc.get(), "ANIM"))
        return 0;
    QuillNode* root = doc.get();
    if (!target_.createView())
        return 1;
    target_.showReferenceBox(true);

    bool recording = false;
    if (auto play = children(root, "PLAY"); play.size() == 1) {
        const double frequency = realOr(play[0], "FREQUENCY", 10000.0);
        if (const char* file = quillGetTextItem(play[0], "FILENAME")) {
            target_.setFilm(joinPath(path, file), frequency);
            recording = true;
        }
    }
    bool raytracing = false;
    if (recording)
        target_.askRaytracing(raytracing);

    if (auto draw = children(root, "DRAW"); draw.size() == 1) {
        auto begin = integer(draw[0], "BEGIN"), end = integer(draw[0], "END");
        if (begin && end)
            drawBegin_ = *begin, drawEnd_ = *end;
        auto width = integer(draw[0], "WIDTH"), height = integer(draw[0], "HEIGHT");
        if (width && height && *width >= 1 && *height >= 1 && *width <= kMaxTextureSide
            && *height <= kMaxTextureSide)
            target_.resizeView(int(*width), int(*height));
    }
    if (auto reference = children(root, "REFERENCE"); reference.size() == 1) {
        static const char* const kSizes[] = { "WIDTH", "HEIGHT", "DEPTH" };
        if (auto size = reals(reference[0], kSizes)) {
            target_.setReferenceBox((*size)[0], (*size)[1], (*size)[2]);
            target_.refresh();
        }
        if (auto visible = integer(reference[0], "VISIBILITY"))
            target_.showReferenceBox(*visible != 0);
    }
    if (recording)
        target_.beginFilm(raytracing);
    for (QuillNode* add : children(root, "ADDVIEW")) {
        static const char* const kRect[] = { "X", "Y", "W", "H" };
        auto rect = reals(add, kRect);
        if (!rect)
            continue;
        const int index = target_.addSubView((*rect)[0], (*rect)[1], (*rect)[2], (*rect)[3]);
        if (index < 0)
            continue;
        const int previous = target_.currentSubView();
        target_.selectSubView(index);
        target_.refresh();
        target_.selectSubView(previous);
        target_.setSubViewVisible(index, integerOr(add, "VISIBILITY", 0) != 0);
    }
    for (QuillNode* node : children(root))
        interpret(node, path, 0);
    if (recording)
        target_.endFilm();
    return 1;
}

void Player::interpret(QuillNode* node, const std::string& docPath, int depth)
{
    if (depth >= kMaxDepth || target_.cancelled())
        return;
    const char* name = quillNodeGetName(node);
    if (!name)
        return;
    const std::string_view kind(name);
    if (kind == "FRAME") {
        frame(node, docPath, depth);
    } else if (kind == "VIEW") {
        auto set = integer(node, "SET");
        // Masks have 32 bits: sub-views past them cannot be addressed.
        if (!set || *set < 0 || *set > 31)
            return;
        target_.selectSubView(int(*set));
        viewMask_ = *set > 0 ? std::uint32_t(1) << *set : 1;
    } else if (kind == "CAMERA") {
        camera(node);
    } else if (kind == "OBJECT") {
        object(node, docPath, depth);
    } else if (kind == "SCRIPT") {
        for (QuillItem* item : items(node, "FILENAME")) {
            const char* value = quillItemGetValue(item);
            if (!value)
                continue;
            if (QuillNode* script = include(joinPath(docPath, value), depth))
                for (QuillNode* child : children(script))
                    interpret(child, docPath, depth + 1);
        }
    } else if (kind == "DELETE") {
        for (QuillItem* item : items(node, "NAME"))
            if (const char* value = quillItemGetValue(item))
                target_.deleteObjects(value);
    } else if (kind == "SEQUENCE") {
        sequences_.push_back({ node, 0, docPath });
    } else if (kind == "STEP") {
        for (QuillNode* child : children(node))
            interpret(child, docPath, depth + 1);
    }
}

void Player::frame(QuillNode* node, const std::string& docPath, int depth)
{
    const long count = integerOr(node, "NB", 1);
    for (long i = 0; i < count && !target_.cancelled(); ++i) {
        // What a frame holds happens in each of its images: camera-motion files
        // write one CAMERA move per FRAME.
        for (QuillNode* child : children(node))
            interpret(child, docPath, depth + 1);
        // Entries registered while this frame runs take part from the next one.
        const std::size_t registered = sequences_.size();
        for (std::size_t s = 0; s < registered; ++s) {
            QuillNode* entry = sequences_[s].node;
            const std::string entryPath = sequences_[s].docPath;
            if (hasItem(entry, "INCREMENTAL_ON")) {
                interpret(entry, entryPath, depth + 1);
                continue;
            }
            const auto steps = children(entry, "STEP");
            if (sequences_[s].counter < steps.size()) {
                // Counted first, so a step holding a FRAME does not replay itself.
                QuillNode* step = steps[sequences_[s].counter++];
                interpret(step, entryPath, depth + 1);
            }
        }
        ++frames_;
        if (drawBegin_ == -1 || drawEnd_ == -1 || (drawBegin_ <= frames_ && frames_ <= drawEnd_))
            target_.renderFrame();
    }
}

void Player::camera(QuillNode* node)
{
    auto incremental = integer(node, "INCREMENTAL");
    if (!incremental) {
        cameraMoves(node, 1);
        return;
    }
    if (!hasItem(node, "INCREMENTAL_ON")) {
        sequences_.push_back({ node, 0, {} });
        quillAddIntItem(node, "INCREMENTAL_ON", -1);
        return;
    }
    auto done = integer(node, "INCREMENTAL_ON");
    if (done && *incremental > 0 && *done + 1 < *incremental) {
        quillSetIntItem(node, "INCREMENTAL_ON", int(*done + 1));
        cameraMoves(node, double(*incremental));
    }
}

void Player::cameraMoves(QuillNode* node, double n)
{
    static const char* const kRotations[] = { "ROTATEX", "ROTATEY", "ROTATEZ" };
    static const char* const kWorld[] = { "TRANSLATEX", "TRANSLATEY", "TRANSLATEZ" };
    static const char* const kOwn[]
        = { "TRANSLATEX_LOCAL", "TRANSLATEY_LOCAL", "TRANSLATEZ_LOCAL" };
    for (QuillItem* item : items(node)) {
        const char* name = quillItemGetName(item);
        const char* text = quillItemGetValue(item);
        if (!name || !text)
            continue;
        const double value = std::atof(text);
        const Vec3 unit = target_.unitScale(); // fetched afresh: a move may change it
        const double units[3] = { unit.x, unit.y, unit.z };
        for (int axis = 0; axis < 3; ++axis) {
            if (std::strcmp(name, kRotations[axis]) == 0)
                target_.rotateCamera(axis, value / n);
            else if (std::strcmp(name, kWorld[axis]) == 0)
                target_.translateCameraWorld(axis, value / n * units[axis]);
            else if (std::strcmp(name, kOwn[axis]) == 0)
                target_.translateCameraOwn(axis, value / n * units[axis]);
        }
        if (std::strcmp(name, "ZOOM") == 0)
            target_.multiplyZoom(n == 1 ? value : std::exp(std::log(value) / n));
    }
}

std::shared_ptr<const Texture> Player::texture(
    QuillNode* node, const std::string& docPath, bool fileForm)
{
    std::string reason;
    std::shared_ptr<const Texture> made;
    const char* file = fileForm ? quillGetTextItem(node, "FILENAME") : nullptr;
    if (file) {
        made = animImageTexture(joinPath(docPath, file), reason);
    } else if (auto slice = children(node, "SLICE"); slice.size() == 1) {
        static const char* const kCommon[] = { "X1" };
        static const char* const kAlongY[] = { "Z1", "X2", "Z2", "Y", "DY" };
        static const char* const kAlongZ[] = { "Y1", "X2", "Y2", "Z", "DZ" };
        const char* sliceFile = quillGetTextItem(slice[0], "FILENAME");
        auto x1 = reals(slice[0], kCommon);
        std::optional<std::array<Vec3, 4>> corners;
        if (x1) {
            if (auto a = reals(slice[0], kAlongY)) {
                const double x = (*x1)[0], z1 = (*a)[0], x2 = (*a)[1], z2 = (*a)[2], y = (*a)[3],
                             dy = (*a)[4];
                corners = std::array<Vec3, 4> { Vec3 { x, y, z1 }, Vec3 { x2, y, z2 },
                    Vec3 { x2, y + dy, z2 }, Vec3 { x, y + dy, z1 } };
            } else if (auto b = reals(slice[0], kAlongZ)) {
                const double x = (*x1)[0], y1 = (*b)[0], x2 = (*b)[1], y2 = (*b)[2], z = (*b)[3],
                             dz = (*b)[4];
                corners = std::array<Vec3, 4> { Vec3 { x, y1, z }, Vec3 { x2, y2, z },
                    Vec3 { x2, y2, z + dz }, Vec3 { x, y1, z + dz } };
            }
        }
        if (sliceFile && corners)
            made = animSliceTexture(joinPath(docPath, sliceFile), *corners, reason);
        else
            reason = "coupe de texture incomplète";
    } else if (auto front = children(node, "FRONT"); front.size() == 1) {
        static const char* const kRect[] = { "X1", "Y1", "X2", "Y2", "NO" };
        const char* frontFile = quillGetTextItem(front[0], "FILENAME");
        auto rect = reals(front[0], kRect);
        if (frontFile && rect)
            made = animFrontTexture(joinPath(docPath, frontFile), (*rect)[0], (*rect)[1],
                (*rect)[2], (*rect)[3], (*rect)[4], reason);
        else
            reason = "rectangle de texture incomplet";
    } else {
        return nullptr;
    }
    if (!made)
        logProblem("texture ignorée, " + reason);
    return made;
}

std::optional<AnimObject> Player::blob(QuillNode* node, const std::string& docPath)
{
    AnimObject made;
    if (auto files = items(node, "FILENAME"); files.size() == 1 && quillItemGetValue(files[0])) {
        const std::string path = joinPath(docPath, quillItemGetValue(files[0]));
        made.mesh = fromMesh3d(vexaMesh3dReadFromFile(path.c_str()));
        if (!made.mesh)
            logProblem(path + " : maillage illisible");
    }
    const bool meshFromFile = made.mesh != nullptr;
    if (!made.mesh) {
        auto vertices = children(node, "VERTICES"), triangles = children(node, "TRIANGLES");
        if (vertices.empty() || triangles.empty())
            return std::nullopt;
        std::vector<float> points;
        for (QuillNode* pt : children(vertices[0], "PT"))
            for (const char* axis : { "X", "Y", "Z" })
                points.push_back(float(realOr(pt, axis, 0)));
        std::vector<std::int32_t> indices;
        for (QuillNode* triangle : children(triangles[0], "INDEXES"))
            for (const char* corner : { "INDEX1", "INDEX2", "INDEX3" }) {
                const long index = integerOr(triangle, corner, -1);
                indices.push_back(
                    index < 0 || index > TRIMESH_MAX_COUNT ? -1 : std::int32_t(index));
            }
        if (points.empty() || indices.empty()) {
            logProblem("maillage BLOB vide, ignoré");
            return std::nullopt;
        }
        auto* p = static_cast<float*>(std::malloc(points.size() * sizeof(float)));
        auto* t = static_cast<std::int32_t*>(std::malloc(indices.size() * sizeof(std::int32_t)));
        if (p && t) {
            std::memcpy(p, points.data(), points.size() * sizeof(float));
            std::memcpy(t, indices.data(), indices.size() * sizeof(std::int32_t));
            // Refuses indices outside the points; the arrays stay ours then.
            made.mesh.reset(triMeshCreate(
                p, std::int32_t(points.size() / 3), t, std::int32_t(indices.size() / 3)));
        }
        if (!made.mesh) {
            std::free(p);
            std::free(t);
            logProblem("maillage BLOB invalide, ignoré");
            return std::nullopt;
        }
    }
    // A BLOB whose FILENAME was its mesh file does not read that file again as a picture.
    auto textures = children(node, "TEXTURE");
    made.texture = textures.size() == 1 ? texture(textures[0], docPath)
                                        : texture(node, docPath, !meshFromFile);
    if (auto mapping = children(node, "UV_MAPPING"); !mapping.empty()) {
        for (QuillNode* uv : children(mapping[0], "UV")) {
            made.texCoords.push_back(float(realOr(uv, "U", 0)));
            made.texCoords.push_back(float(realOr(uv, "V", 0)));
        }
        if (made.texCoords.size() != std::size_t(made.mesh->nbPoints) * 2) {
            logProblem("UV_MAPPING ne compte pas un point par sommet, ignoré");
            made.texCoords.clear();
        }
    }
    if (made.texture && made.texCoords.empty())
        made.texCoords = animPlanarMapping(*made.mesh);
    return made;
}

std::optional<AnimObject> Player::geometry(QuillNode* part, const std::string& docPath)
{
    const std::string_view kind(quillNodeGetName(part));
    AnimObject made;
    static const std::vector<float> kQuadUv = { 0, 0, 1, 0, 1, 1, 0, 1 };
    auto imageTexture = [&](QuillNode* node) {
        const char* file = quillGetTextItem(node, "FILENAME");
        if (!file)
            return;
        std::string reason;
        made.texture = animImageTexture(joinPath(docPath, file), reason);
        if (made.texture)
            made.texCoords = kQuadUv;
        else
            logProblem("texture ignorée, " + reason);
    };
    if (kind == "FRONT" || kind == "RIGHT" || kind == "TOP") {
        static const char* const kRect[] = { "X1", "Y1", "X2", "Y2", "NO" };
        auto r = reals(part, kRect);
        if (!r)
            return std::nullopt;
        const auto [x1, y1, x2, y2, no] = *r;
        std::array<Vec3, 4> c;
        const double a[4][2] = { { x1, y1 }, { x2, y1 }, { x2, y2 }, { x1, y2 } };
        for (int i = 0; i < 4; ++i) {
            if (kind == "FRONT")
                c[i] = { a[i][0], a[i][1], no };
            else if (kind == "RIGHT")
                c[i] = { no, a[i][1], a[i][0] };
            else
                c[i] = { a[i][0], no, a[i][1] };
        }
        made.mesh = animQuad(c);
        imageTexture(part);
    } else if (kind == "SECTION") {
        static const char* const kCorners[]
            = { "X1", "Y1", "Z1", "X2", "Y2", "Z2", "X3", "Y3", "Z3", "X4", "Y4", "Z4" };
        auto v = reals(part, kCorners);
        if (!v)
            return std::nullopt;
        std::array<Vec3, 4> c;
        for (int i = 0; i < 4; ++i)
            c[i] = { (*v)[3 * i], (*v)[3 * i + 1], (*v)[3 * i + 2] };
        made.mesh = animQuad(c);
        imageTexture(part);
    } else if (kind == "SLICE") {
        static const char* const kAlongY[] = { "X1", "Z1", "X2", "Z2", "Y", "DY" };
        static const char* const kAlongZ[] = { "X1", "Y1", "X2", "Y2", "Z", "DZ" };
        std::array<Vec3, 4> c;
        if (auto a = reals(part, kAlongY)) {
            const auto [x1, z1, x2, z2, y, dy] = *a;
            c = { Vec3 { x1, y, z1 }, Vec3 { x2, y, z2 }, Vec3 { x2, y + dy, z2 },
                Vec3 { x1, y + dy, z1 } };
        } else if (auto b = reals(part, kAlongZ)) {
            const auto [x1, y1, x2, y2, z, dz] = *b;
            c = { Vec3 { x1, y1, z }, Vec3 { x2, y2, z }, Vec3 { x2, y2, z + dz },
                Vec3 { x1, y1, z + dz } };
        } else {
            return std::nullopt;
        }
        made.mesh = animQuad(c);
        if (const char* file = quillGetTextItem(part, "FILENAME")) {
            std::string reason;
            made.texture = animSliceTexture(joinPath(docPath, file), c, reason);
            if (made.texture)
                made.texCoords = kQuadUv;
            else
                logProblem("texture ignorée, " + reason);
        }
    } else if (kind == "SURFACE") {
        const char* file = quillGetTextItem(part, "FILENAME");
        if (!file)
            return std::nullopt;
        std::vector<double> values;
        int w = 0, h = 0;
        std::string reason;
        if (!animReadImage(joinPath(docPath, file), values, w, h, reason)) {
            logProblem(reason + ", surface ignorée");
            return std::nullopt;
        }
        auto textures = children(part, "TEXTURE");
        if (!textures.empty())
            made.texture = texture(textures[0], docPath);
        const long step = integerOr(part, "STEP", 1);
        made.mesh = animHeightField(values, w, h, step < 1 || step > (1 << 20) ? 0 : int(step),
            int(integerOr(part, "TYPE", 0)), made.texture ? &made.texCoords : nullptr);
    } else if (kind == "CUBE") {
        made.mesh.reset(mesh::makeCube());
    } else if (kind == "SPHERE") {
        const long n = integerOr(part, "PRECISION", 10);
        made.mesh.reset(n >= 3 && n <= 4096 ? mesh::makeSphere(int(n)) : nullptr);
    } else if (kind == "CONE") {
        made.mesh = fromMesh3d(vexaMesh3dCone(10));
    } else if (kind == "CYLINDER") {
        const long n = integerOr(part, "PRECISION", 10);
        made.mesh
            = fromMesh3d(n >= 3 && n <= 65536 ? vexaMesh3dCylinder(std::int32_t(n)) : nullptr);
        if (!made.mesh)
            return std::nullopt;
        if (auto radius = real(part, "RADIUS"))
            triMeshScale(made.mesh.get(), 1, *radius, *radius);
        static const char* const kEnds[] = { "X1", "Y1", "Z1", "X2", "Y2", "Z2" };
        if (auto e = reals(part, kEnds)) {
            const Vec3 a { (*e)[0], (*e)[1], (*e)[2] }, b { (*e)[3], (*e)[4], (*e)[5] };
            const Vec3 d = b - a;
            const double len = length(d);
            if (len > 0 && std::isfinite(len)) {
                triMeshScale(made.mesh.get(), len, 1, 1);
                const Vec3 u = d * (1 / len);
                const Vec3 axis = cross({ 1, 0, 0 }, u);
                const double angle = std::acos(std::clamp(u.x, -1.0, 1.0));
                rotateMesh(made.mesh.get(), length(axis) > 1e-12 ? axis : Vec3 { 0, 1, 0 }, angle);
            }
            const Vec3 mid = (a + b) * 0.5;
            triMeshTranslate(made.mesh.get(), mid.x, mid.y, mid.z);
        }
    } else if (kind == "ARROW") {
        static const char* const kArrow[] = { "X1", "Y1", "Z1", "X2", "Y2", "Z2", "RADIUS" };
        auto v = reals(part, kArrow);
        auto precision = integer(part, "PRECISION");
        if (!v || !precision)
            return std::nullopt;
        const double from[3] = { (*v)[0], (*v)[1], (*v)[2] }, to[3] = { (*v)[3], (*v)[4], (*v)[5] };
        const long n = std::clamp(*precision, 4L, 65536L);
        made.mesh = fromMesh3d(vexaMesh3dArrow(from, to, (*v)[6], std::int32_t(n)));
    } else if (kind == "ARROWS") {
        // An object without geometry: what its ELEMENT children should show is open.
        if (!real(part, "RADIUS") || !integer(part, "PRECISION")
            || children(part, "ELEMENT").empty())
            return std::nullopt;
        return made;
    } else if (kind == "LINE") {
        const long n = integerOr(part, "PRECISION", 16);
        made.mesh = tube(
            linePoints(part), realOr(part, "RADIUS", 1.0), n >= 3 && n <= 65536 ? int(n) : 0);
    } else if (kind == "BLOB") {
        return blob(part, docPath);
    } else {
        return std::nullopt;
    }
    if (!made.mesh)
        return std::nullopt;
    triMeshComputeBox(made.mesh.get());
    return made;
}

void Player::transform(QuillNode* node, TriMesh* mesh, bool active)
{
    static const char* const kMoves[] = { "TRANSLATEX", "TRANSLATEY", "TRANSLATEZ", "ROTATEX",
        "ROTATEY", "ROTATEZ", "SCALEX", "SCALEY", "SCALEZ" };
    auto apply = [mesh](int move, double value) {
        const int axis = move % 3;
        double v[3] = { 0, 0, 0 };
        v[axis] = 1;
        if (move < 3) {
            v[axis] = value;
            triMeshTranslate(mesh, v[0], v[1], v[2]);
        } else if (move < 6) {
            triMeshRotate(mesh, v[0], v[1], v[2], value);
        } else {
            double s[3] = { 1, 1, 1 };
            s[axis] = value;
            triMeshScale(mesh, s[0], s[1], s[2]);
        }
    };
    auto incrementals = children(node, "INCREMENTAL");
    if (incrementals.empty()) {
        for (QuillItem* item : items(node)) {
            const char* name = quillItemGetName(item);
            const char* text = quillItemGetValue(item);
            for (int move = 0; move < 9 && name && text; ++move)
                if (std::strcmp(name, kMoves[move]) == 0)
                    apply(move, std::atof(text));
        }
        return;
    }
    if (!active)
        return;
    for (QuillNode* inc : incrementals) {
        const long k = integerOr(inc, "INCREMENTAL_ON", 0), nb = integerOr(inc, "NB", 0);
        if (k >= nb)
            continue;
        for (QuillNode* child : children(inc)) {
            for (int move = 0; move < 9; ++move) {
                if (!isNamed(child, kMoves[move]))
                    continue;
                auto begin = real(child, "BEGIN"), end = real(child, "END");
                if (!begin || !end)
                    continue;
                // A single step stands at BEGIN.
                apply(
                    move, nb > 1 ? *begin + double(k) * (*end - *begin) / double(nb - 1) : *begin);
            }
        }
        quillSetIntItem(inc, "INCREMENTAL_ON", int(k + 1));
    }
}

void Player::object(QuillNode* node, const std::string& docPath, int depth)
{
    const char* givenName = quillGetTextItem(node, "NAME");
    const std::string name = givenName ? givenName : "";

    bool incremental = false, active = false;
    for (QuillNode* t : children(node, "TRANSFORM")) {
        for (QuillNode* inc : children(t, "INCREMENTAL")) {
            incremental = true;
            if (!hasItem(inc, "INCREMENTAL_ON")) {
                quillAddIntItem(inc, "INCREMENTAL_ON", 0);
                active = true;
            } else if (integerOr(inc, "INCREMENTAL_ON", 0) < integerOr(inc, "NB", 0)) {
                active = true;
            }
        }
    }
    if (incremental) {
        if (!hasItem(node, "INCREMENTAL_ON")) {
            sequences_.push_back({ node, 0, docPath });
            quillAddIntItem(node, "INCREMENTAL_ON", 0);
        } else if (active) {
            target_.deleteObjects(name); // rebuilt below in its new placement
        }
    }
    if (incremental && !active)
        return;

    std::optional<AnimObject> current;
    for (QuillNode* part : children(node)) {
        const char* partName = quillNodeGetName(part);
        if (!partName)
            continue;
        const std::string_view kind(partName);
        if (kind == "TRANSFORM") {
            if (current && current->mesh)
                transform(part, current->mesh.get(), active);
        } else if (kind == "COLOR") {
            static const char* const kRgb[] = { "R", "G", "B" };
            auto rgb = reals(part, kRgb);
            if (current && rgb) {
                current->colour = Colour { (*rgb)[0], (*rgb)[1], (*rgb)[2], 1 };
                if (auto alpha = real(part, "A"))
                    current->alpha = *alpha;
            }
        } else if (kind == "POLYLINE") {
            polyline(part, name, docPath, depth);
        } else if (kind == "SCRIPT") {
            for (QuillItem* item : items(part, "FILENAME")) {
                const char* value = quillItemGetValue(item);
                if (!value)
                    continue;
                const std::string path = joinPath(docPath, value);
                if (QuillNode* script = include(path, depth))
                    interpret(script, path, depth + 1);
            }
        } else if (auto made = geometry(part, docPath)) {
            current = std::move(made);
        }
    }
    if (!current)
        return;
    if (current->mesh)
        triMeshComputeBox(current->mesh.get());
    current->name = name;
    target_.addObject(std::move(*current), viewMask_);
}

void Player::polyline(
    QuillNode* node, const std::string& name, const std::string& docPath, int depth)
{
    if (auto files = items(node, "FILENAME"); files.size() == 1) {
        if (const char* value = quillItemGetValue(files[0])) {
            const std::string path = joinPath(docPath, value);
            if (QuillNode* included = include(path, depth))
                polyline(included, name, path, depth + 1);
        }
        return;
    }
    const double radius = realOr(node, "RADIUS", 1.0);
    const auto lines = children(node, "LINE");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        AnimObject made;
        made.mesh = tube(linePoints(lines[i]), radius, 16);
        if (!made.mesh)
            continue;
        triMeshComputeBox(made.mesh.get());
        if (!name.empty())
            made.name = name + std::to_string(i);
        // A single line takes the first hue rather than dividing by zero.
        const double hue = lines.size() > 1 ? double(i) / double(lines.size() - 1) * 239 : 0;
        made.colour = animHslColour(hue, 239, 170);
        target_.addObject(std::move(made), viewMask_);
    }
}

} // namespace

bool isAnimationFile(const std::string& path)
{
    DocPtr doc(quillRead(path.c_str(), 10));
    return doc && isNamed(doc.get(), "ANIM");
}

int playAnimation(const std::string& path, AnimTarget& target)
{
    Player player(target);
    return player.play(path);
}

} // namespace vexa::scene
