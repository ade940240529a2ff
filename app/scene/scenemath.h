// Geometry shared by the scene, the renderer and picking: vectors, 4x4 matrices in
// OpenGL's column-major order (element 12..14 is the translation), rays, boxes and
// spheres. Everything is double precision; the renderer narrows to float at upload.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

struct TriMesh;
struct MeshBlock;

namespace vexa::scene {

struct Vec3 {
    double x = 0, y = 0, z = 0;
};

inline Vec3 operator+(Vec3 a, Vec3 b)
{
    return { a.x + b.x, a.y + b.y, a.z + b.z };
}
inline Vec3 operator-(Vec3 a, Vec3 b)
{
    return { a.x - b.x, a.y - b.y, a.z - b.z };
}
inline Vec3 operator*(Vec3 a, double s)
{
    return { a.x * s, a.y * s, a.z * s };
}
inline double dot(Vec3 a, Vec3 b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 cross(Vec3 a, Vec3 b)
{
    return { a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x };
}
double length(Vec3 a);
// a / |a|, or a unchanged when it is zero.
Vec3 normalised(Vec3 a);
bool isFinite(Vec3 a);

// Column-major: m[col * 4 + row]. The same array read row-major with row vectors is
// the placement layout of exchanged meshes, so such a matrix is used as it is.
using Mat4 = std::array<double, 16>;

Mat4 identity();
Mat4 operator*(const Mat4& a, const Mat4& b);
Mat4 translation(Vec3 t);
Mat4 scaling(Vec3 s);
// Right-handed rotation (counter-clockwise seen from the tip of the axis).
Mat4 rotation(Vec3 axis, double angle);
// The rotation meshes use for their own rotate operation: the transpose of the
// right-handed one, so that turning an object and turning its mesh agree.
Mat4 meshRotation(Vec3 axis, double angle);
// Inverse of a general matrix; nullopt when it is singular.
std::optional<Mat4> inverse(const Mat4& m);
Vec3 transformPoint(const Mat4& m, Vec3 p); // with the perspective divide
Vec3 transformDirection(const Mat4& m, Vec3 d);

// View matrix of a camera at eye looking at target (OpenGL: the eye looks down -z).
Mat4 lookAt(Vec3 eye, Vec3 target, Vec3 up);
// OpenGL perspective projection; fovY in radians.
Mat4 perspective(double fovY, double aspect, double zNear, double zFar);

struct Ray {
    Vec3 origin;
    Vec3 direction; // not necessarily unit
};

// Ray through the pixel (px, py) of a width x height viewport (origin top-left,
// pixel centres at + 0.5), for the given projection x view matrix.
std::optional<Ray> rayFromScreen(const Mat4& projView, double px, double py, int width, int height);
// Where a world point lands in the viewport (top-left origin); nullopt behind the eye.
std::optional<Vec3> projectToScreen(const Mat4& projView, Vec3 p, int width, int height);

// Ray parameter t >= 0 of the hit with triangle (a, b, c), both faces; nullopt when
// missed, parallel or any coordinate is not finite.
std::optional<double> rayTriangle(const Ray& ray, Vec3 a, Vec3 b, Vec3 c);

struct Box {
    Vec3 min { 1, 1, 1 };
    Vec3 max { -1, -1, -1 }; // empty until something is added
    bool empty() const { return min.x > max.x; }
    void add(Vec3 p);
    void add(const Box& b);
    Vec3 centre() const { return (min + max) * 0.5; }
};

struct Sphere {
    Vec3 centre;
    double radius = 0;
};

// Box of the finite vertices of a mesh (vertices with a NaN or infinite coordinate are
// left out); empty for a null mesh.
Box meshBox(const TriMesh* mesh);
// Box of the eight corners of b through m.
Box transformBox(const Mat4& m, const Box& b);
Sphere boundingSphere(const Box& b);

// Nearest hit of the ray with the mesh under the model matrix: the ray parameter, or
// nullopt. Triangles with a non-finite corner are never hit.
std::optional<double> rayMesh(const Ray& worldRay, const Mat4& model, const TriMesh* mesh);

// The view frustum of a clip-from-object matrix (projection x view x model) as six
// planes in object coordinates: p is inside plane (a, b, c, d) when
// a px + b py + c pz + d >= 0, with (a, b, c) of unit length. A plane that cannot be
// normalised (degenerate matrix) is left out, so it culls nothing.
struct Frustum {
    std::array<std::array<double, 4>, 6> planes {};
    std::array<bool, 6> used {};
};
Frustum frustumOf(const Mat4& clipFromObject);

enum class SphereSide { Outside, Crossing, Inside };
// Where a sphere lies against the frustum; a sphere that is not finite is Crossing
// (drawn rather than lost).
SphereSide classifySphere(const Frustum& frustum, Vec3 centre, double radius);

// Appends the leaves of a mesh's block partition that may be seen, in the tree's
// depth-first order (children by octant), without recursion (partitions have no depth
// limit). A block whose bounding sphere lies outside the frustum is skipped with all
// below it; below a block wholly inside, and below the partition's visibility test
// level (depth > level; 0 tests nothing), every leaf goes without further tests.
void visibleBlocks(
    const MeshBlock* root, const Frustum& frustum, std::vector<const MeshBlock*>& leaves);
// Every leaf of the partition in that same order.
void partitionLeaves(const MeshBlock* root, std::vector<const MeshBlock*>& leaves);

} // namespace vexa::scene
