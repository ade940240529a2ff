#include "scene/gui/scenerenderer.h"

#include "scene/raymarch.h"
#include "scene/volume.h"

#include <QOpenGLShaderProgram>

#include <algorithm>
#include <cmath>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace vexa::gui {

using namespace vexa::scene;

namespace {

constexpr const char* kVertexShader = R"(#version 330 core
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec4 aColour;
layout(location = 3) in vec2 aTexCoord;
uniform mat4 uModelView;
uniform mat4 uProjection;
uniform mat3 uNormalMatrix;
out vec3 vPosition;
out vec3 vNormal;
out vec4 vColour;
out vec2 vTexCoord;
void main()
{
    vec4 p = uModelView * vec4(aPosition, 1.0);
    vPosition = p.xyz;
    vNormal = uNormalMatrix * aNormal;
    vColour = aColour;
    vTexCoord = aTexCoord;
    gl_Position = uProjection * p;
}
)";

// A headlight at the eye; faces are lit on both sides because meshes from files and
// plug-ins come in either orientation.
constexpr const char* kFragmentShader = R"(#version 330 core
in vec3 vPosition;
in vec3 vNormal;
in vec4 vColour;
in vec2 vTexCoord;
uniform vec4 uDiffuse;
uniform vec4 uAmbient;
uniform vec4 uEmissive;
uniform vec4 uSpecular;
uniform float uPower;
uniform float uOpacity;
uniform bool uVertexColours;
uniform bool uTextured;
uniform bool uLit;
uniform bool uSelected;
uniform sampler2D uTexture;
out vec4 fragColour;
void main()
{
    vec4 base = uVertexColours ? vColour : uDiffuse;
    vec4 ambient = uVertexColours ? vColour : uAmbient;
    if (uTextured) {
        base = texture(uTexture, vTexCoord);
        ambient = base;
    }
    vec3 colour = base.rgb;
    if (uLit) {
        vec3 n = normalize(vNormal);
        vec3 l = normalize(-vPosition);
        float facing = abs(dot(n, l));
        vec3 r = reflect(-l, dot(n, l) < 0.0 ? -n : n);
        float shine = uPower > 0.0 ? pow(max(dot(r, l), 0.0), uPower) : 0.0;
        colour = 0.25 * ambient.rgb + 0.75 * facing * base.rgb + shine * uSpecular.rgb
            + uEmissive.rgb;
    }
    if (uSelected)
        colour = mix(colour, vec3(1.0, 0.85, 0.1), 0.4);
    fragColour = vec4(clamp(colour, 0.0, 1.0), base.a * uOpacity);
}
)";

// Volumes: the box is drawn by its back faces and each fragment marches the ray from
// the eye through the box in voxel coordinates (so a thin axis takes as few steps as it
// has voxels), front to back, until it leaves the box, reaches the opaque scene drawn
// before it (its depth buffer, copied) or is nearly opaque. Bricks the brick grid marks
// empty are crossed in one jump. The output is premultiplied.
constexpr const char* kVolumeVertexShader = R"(#version 330 core
layout(location = 0) in vec3 aPosition;
uniform mat4 uModelView;
uniform mat4 uProjection;
uniform vec3 uBoxMin;
uniform vec3 uBoxSize;
out vec3 vTex;
void main()
{
    vTex = (aPosition - uBoxMin) / uBoxSize;
    gl_Position = uProjection * (uModelView * vec4(aPosition, 1.0));
}
)";

// Compiled twice, after "#define FLOAT_VOLUME 0" or 1: a per-sample branch on the
// volume's format costs the software rasterisers (where the frame time matters most)
// as much as the arithmetic it selects. The march steps one voxel (still frames) or
// two (while turning); the texture position moves by a constant step, recomputed only
// where a brick jump breaks the sequence.
constexpr const char* kVolumeFragmentShader = R"(
in vec3 vTex;
uniform vec3 uEye;
uniform vec3 uVoxels;
uniform sampler3D uVolume;
uniform sampler2D uTransfer;
uniform sampler3D uBricks;
uniform ivec3 uBrickCount;
uniform float uBrickSide;
uniform bool uSkip;
uniform float uLow;
uniform float uInvRange;
uniform float uStep;
uniform int uMaxSteps;
uniform float uOpacity;
uniform bool uDepthClip;
uniform sampler2D uDepth;
uniform mat4 uClipToVoxel;
uniform vec4 uViewport;
out vec4 fragColour;
void main()
{
    vec3 dir = vTex * uVoxels - uEye;
    float len = length(dir);
    if (len <= 0.0)
        discard;
    dir /= len;
    vec3 safe = mix(dir, vec3(1e-9), lessThan(abs(dir), vec3(1e-9)));
    vec3 inv = 1.0 / safe;
    vec3 t0 = -uEye * inv;
    vec3 t1 = (uVoxels - uEye) * inv;
    vec3 tMin = min(t0, t1);
    vec3 tMax = max(t0, t1);
    float tNear = max(max(max(tMin.x, tMin.y), tMin.z), 0.0);
    float tFar = min(min(tMax.x, tMax.y), tMax.z);
    if (uDepthClip) {
        float d = texelFetch(uDepth, ivec2(gl_FragCoord.xy), 0).r;
        if (d < 1.0) {
            vec3 ndc = vec3((gl_FragCoord.xy - uViewport.xy) / uViewport.zw * 2.0 - 1.0,
                d * 2.0 - 1.0);
            vec4 q = uClipToVoxel * vec4(ndc, 1.0);
            tFar = min(tFar, dot(q.xyz / q.w - uEye, dir));
        }
    }
    vec3 exitSide = mix(vec3(0.0), vec3(uBrickSide), greaterThan(safe, vec3(0.0)));
    vec3 scale = 1.0 / uVoxels;
    vec3 eyeTex = uEye * scale;
    vec3 dirTex = dir * scale;
    vec3 stepTex = dirTex * uStep;
    // Alpha is the opacity of one voxel's thickness; two voxels let through its square.
    bool twoVoxels = uStep > 1.5;
    vec4 sum = vec4(0.0);
    float first = tNear + 0.5 * uStep;
    float t = first;
    int i = 0;
    // Brick by brick: the grid is read once per brick and the samples inside run
    // without it. Every pass samples or moves on at least one step.
    while (i < uMaxSteps && t < tFar && sum.a <= 0.99) {
        float end = tFar;
        if (uSkip) {
            vec3 p = uEye + dir * t;
            ivec3 b = clamp(ivec3(floor(p / uBrickSide)), ivec3(0), uBrickCount - 1);
            vec3 tx = (vec3(b) * uBrickSide + exitSide - uEye) * inv;
            float leave = min(min(tx.x, tx.y), tx.z);
            if (texelFetch(uBricks, b, 0).r < 0.5) {
                // On to the first sample past the brick, on the same grid of samples.
                t = max(t + uStep, first + ceil((leave - first) / uStep) * uStep);
                ++i;
                continue;
            }
            end = min(end, leave);
        }
        vec3 p = eyeTex + dirTex * t;
        do {
#if FLOAT_VOLUME
            float u = clamp((textureLod(uVolume, p, 0.0).r - uLow) * uInvRange, 0.0, 1.0);
            vec4 s = textureLod(uTransfer, vec2(u * (255.0 / 256.0) + 0.5 / 256.0, 0.5), 0.0);
#else
            vec4 s = textureLod(uVolume, p, 0.0);
#endif
            float c = 1.0 - s.a * uOpacity;
            float w = (1.0 - sum.a) * (1.0 - (twoVoxels ? c * c : c));
            sum += w * vec4(s.rgb, 1.0);
            p += stepTex;
            t += uStep;
            ++i;
        } while (t < end && i < uMaxSteps && sum.a <= 0.99);
    }
    fragColour = sum;
}
)";

// A picture marched on the processor, laid over the pixels of its rectangle: uRect
// holds the rectangle's corners in device coordinates, uOrigin its lower-left pixel in
// the framebuffer. The picture is premultiplied, like the shaders' march.
constexpr const char* kImageVertexShader = R"(#version 330 core
uniform vec4 uRect;
void main()
{
    vec2 corner = vec2(float(gl_VertexID & 1), float(gl_VertexID >> 1));
    gl_Position = vec4(mix(uRect.xy, uRect.zw, corner), 0.0, 1.0);
}
)";
constexpr const char* kImageFragmentShader = R"(#version 330 core
uniform sampler2D uImage;
uniform ivec2 uOrigin;
out vec4 fragColour;
void main()
{
    fragColour = texelFetch(uImage, ivec2(gl_FragCoord.xy) - uOrigin, 0);
}
)";

// Software rasterisers run a fragment shader's march several times slower than the
// processor marcher does the same march.
bool softwareRasteriser(const char* renderer)
{
    if (!renderer)
        return false;
    const std::string name(renderer);
    for (const char* soft : { "llvmpipe", "softpipe", "SwiftShader" })
        if (name.find(soft) != std::string::npos)
            return true;
    return false;
}

void toFloats(const Mat4& m, float out[16])
{
    for (int i = 0; i < 16; ++i)
        out[i] = float(m[std::size_t(i)]);
}

// Inverse transpose of the upper 3x3, column-major; identity when singular.
void normalMatrix(const Mat4& modelView, float out[9])
{
    const auto inv = inverse(modelView);
    for (int col = 0; col < 3; ++col)
        for (int row = 0; row < 3; ++row)
            out[col * 3 + row]
                = inv ? float((*inv)[std::size_t(row * 4 + col)]) : (row == col ? 1.f : 0.f);
}

void setColour(QOpenGLShaderProgram& program, const char* name, const Colour& c)
{
    program.setUniformValue(name, float(c.r), float(c.g), float(c.b), float(c.a));
}

} // namespace

struct SceneRenderer::GpuObject {
    GLuint vao = 0;
    GLuint vertices = 0; // position and normal, interleaved
    GLuint colours = 0;
    GLuint texCoords = 0;
    GLuint indices = 0;
    GLuint texture = 0;
    GLuint volume = 0; // 3D texture
    GLuint transfer = 0; // 256 x 1 table of a float volume
    GLuint bricks = 0; // occupancy of the volume's bricks, 0 when none
    int brickCount[3] = {};
    // Marched on the processor: no 3D texture, the volume laid out for it instead.
    bool marchedOnProcessor = false;
    std::shared_ptr<const MarchVolume> marched;
    GLsizei indexCount = 0;
    // A partitioned mesh has its indices leaf after leaf: the range of each leaf, and
    // the tree they were made from (drawn whole when the mesh holds another).
    const MeshBlock* blocks = nullptr;
    std::unordered_map<const MeshBlock*, std::pair<GLsizei, GLsizei>> leafRanges;
    std::uint64_t geometryRevision = 0;
    std::uint64_t textureRevision = 0;
    bool hasColours = false;
    bool hasTexCoords = false;
    bool seen = false;
};

SceneRenderer::SceneRenderer() = default;

SceneRenderer::~SceneRenderer()
{
    if (!initialized())
        return;
    for (auto& [id, gpu] : objects_)
        release(*gpu);
    glDeleteBuffers(1, &boxVbo_);
    glDeleteVertexArrays(1, &boxVao_);
    glDeleteTextures(1, &depthTexture_);
    glDeleteTextures(1, &imageTexture_);
    glDeleteVertexArrays(1, &imageVao_);
    releaseReduced();
}

bool SceneRenderer::initialize()
{
    initializeOpenGLFunctions();
    auto program = std::make_unique<QOpenGLShaderProgram>();
    if (!program->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader)
        || !program->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader)
        || !program->link())
        return false;
    program_ = std::move(program);
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize_);
    glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &max3dTextureSize_);
    // Without ray-marching the rest of the scene still draws; volumes show nothing.
    for (int floats = 0; floats < 2; ++floats) {
        const QByteArray fragment = QByteArray("#version 330 core\n#define FLOAT_VOLUME ")
            + QByteArray::number(floats) + kVolumeFragmentShader;
        auto volumes = std::make_unique<QOpenGLShaderProgram>();
        if (volumes->addShaderFromSourceCode(QOpenGLShader::Vertex, kVolumeVertexShader)
            && volumes->addShaderFromSourceCode(QOpenGLShader::Fragment, fragment)
            && volumes->link())
            volumePrograms_[floats] = std::move(volumes);
    }
    auto image = std::make_unique<QOpenGLShaderProgram>();
    if (image->addShaderFromSourceCode(QOpenGLShader::Vertex, kImageVertexShader)
        && image->addShaderFromSourceCode(QOpenGLShader::Fragment, kImageFragmentShader)
        && image->link()) {
        imageProgram_ = std::move(image);
        glGenVertexArrays(1, &imageVao_);
        glGenTextures(1, &imageTexture_);
        glBindTexture(GL_TEXTURE_2D, imageTexture_);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    marchOnProcessor_ = imageProgram_
        && softwareRasteriser(reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    glGenVertexArrays(1, &boxVao_);
    glGenBuffers(1, &boxVbo_);
    return true;
}

void SceneRenderer::setMarchOnProcessor(bool processor)
{
    marchOnProcessor_ = processor && (!initialized() || imageProgram_);
}

void SceneRenderer::release(GpuObject& gpu)
{
    const GLuint buffers[] = { gpu.vertices, gpu.colours, gpu.texCoords, gpu.indices };
    glDeleteBuffers(4, buffers);
    glDeleteVertexArrays(1, &gpu.vao);
    const GLuint textures[] = { gpu.texture, gpu.volume, gpu.transfer, gpu.bricks };
    glDeleteTextures(4, textures);
    gpu = GpuObject {};
}

void SceneRenderer::upload(const SceneObject& object, GpuObject& gpu)
{
    const TriMesh* mesh = object.mesh.get();
    const std::size_t points = mesh ? std::size_t(std::max(mesh->nbPoints, 0)) : 0;
    std::vector<float> vertices(points * 6, 0.f);
    std::vector<char> finite(points, 0);
    for (std::size_t i = 0; i < points; ++i) {
        const float* p = mesh->points + i * 3;
        finite[i] = std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
        if (finite[i])
            std::copy(p, p + 3, vertices.begin() + std::ptrdiff_t(i * 6));
    }
    // Triangles with a corner that is not finite are left out: they are drawn as
    // nothing instead of as stray spikes (or whatever the rasteriser makes of NaN).
    std::vector<std::uint32_t> indices;
    gpu.leafRanges.clear();
    gpu.blocks = nullptr;
    // A partitioned mesh goes leaf after leaf so that the visible leaves are drawn by
    // ranges; otherwise in the mesh's order.
    std::vector<const MeshBlock*> leaves;
    if (mesh && mesh->triangles && mesh->blocks) {
        partitionLeaves(mesh->blocks, leaves);
        gpu.blocks = mesh->blocks;
    }
    if (mesh && mesh->triangles && leaves.empty())
        leaves.push_back(nullptr);
    for (const MeshBlock* leaf : leaves) {
        const std::int32_t* triangles = leaf ? leaf->triangles : mesh->triangles;
        const std::int32_t count = leaf ? leaf->nbTriangles : mesh->nbTriangles;
        if (!triangles)
            continue;
        const GLsizei firstIndex = GLsizei(indices.size());
        indices.reserve(indices.size() + std::size_t(count) * 3);
        for (std::int32_t t = 0; t < count; ++t) {
            const std::int32_t* tri = triangles + std::size_t(t) * 3;
            bool usable = true;
            for (int k = 0; k < 3; ++k)
                usable = usable && tri[k] >= 0 && std::size_t(tri[k]) < points
                    && finite[std::size_t(tri[k])];
            if (!usable)
                continue;
            const float* a = &vertices[std::size_t(tri[0]) * 6];
            const float* b = &vertices[std::size_t(tri[1]) * 6];
            const float* c = &vertices[std::size_t(tri[2]) * 6];
            const Vec3 n = cross(Vec3 { b[0] - a[0], b[1] - a[1], b[2] - a[2] },
                Vec3 { c[0] - a[0], c[1] - a[1], c[2] - a[2] });
            for (int k = 0; k < 3; ++k) {
                float* normal = &vertices[std::size_t(tri[k]) * 6 + 3];
                normal[0] += float(n.x);
                normal[1] += float(n.y);
                normal[2] += float(n.z);
                indices.push_back(std::uint32_t(tri[k]));
            }
        }
        if (leaf)
            gpu.leafRanges[leaf] = { firstIndex, GLsizei(indices.size()) - firstIndex };
    }
    for (std::size_t i = 0; i < points; ++i) {
        float* normal = &vertices[i * 6 + 3];
        const Vec3 n = normalised({ normal[0], normal[1], normal[2] });
        const bool usable = isFinite(n) && length(n) > 0;
        normal[0] = usable ? float(n.x) : 0.f;
        normal[1] = usable ? float(n.y) : 0.f;
        normal[2] = usable ? float(n.z) : 1.f;
    }

    if (!gpu.vao) {
        glGenVertexArrays(1, &gpu.vao);
        glGenBuffers(1, &gpu.vertices);
        glGenBuffers(1, &gpu.colours);
        glGenBuffers(1, &gpu.texCoords);
        glGenBuffers(1, &gpu.indices);
    }
    glBindVertexArray(gpu.vao);
    glBindBuffer(GL_ARRAY_BUFFER, gpu.vertices);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertices.size() * sizeof(float)), vertices.data(),
        GL_STATIC_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 6 * sizeof(float), nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, 6 * sizeof(float),
        reinterpret_cast<const void*>(3 * sizeof(float)));

    gpu.hasColours = points > 0 && object.vertexColours.size() == points * 4;
    if (gpu.hasColours) {
        glBindBuffer(GL_ARRAY_BUFFER, gpu.colours);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(object.vertexColours.size()),
            object.vertexColours.data(), GL_STATIC_DRAW);
        glEnableVertexAttribArray(2);
        glVertexAttribPointer(2, 4, GL_UNSIGNED_BYTE, GL_TRUE, 4, nullptr);
    } else {
        glDisableVertexAttribArray(2);
    }
    gpu.hasTexCoords = points > 0 && object.texCoords.size() == points * 2;
    if (gpu.hasTexCoords) {
        glBindBuffer(GL_ARRAY_BUFFER, gpu.texCoords);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(object.texCoords.size() * sizeof(float)),
            object.texCoords.data(), GL_STATIC_DRAW);
        glEnableVertexAttribArray(3);
        glVertexAttribPointer(3, 2, GL_FLOAT, GL_FALSE, 2 * sizeof(float), nullptr);
    } else {
        glDisableVertexAttribArray(3);
    }
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, gpu.indices);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(indices.size() * sizeof(std::uint32_t)),
        indices.data(), GL_STATIC_DRAW);
    gpu.indexCount = GLsizei(indices.size());
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    gpu.geometryRevision = object.geometryRevision;
}

void SceneRenderer::uploadVolume(const SceneObject& object, GpuObject& gpu)
{
    const GLuint textures[] = { gpu.volume, gpu.transfer, gpu.bricks };
    glDeleteTextures(3, textures);
    gpu.volume = gpu.transfer = gpu.bricks = 0;
    gpu.marchedOnProcessor = marchOnProcessor_;
    gpu.marched.reset();
    const Volume* volume = object.volume.get();
    if (volume && marchOnProcessor_) {
        gpu.marched = marchVolumeOf(*volume); // null (nothing drawn) when memory runs short
        return;
    }
    if (!volume || volume->nx > max3dTextureSize_ || volume->ny > max3dTextureSize_
        || volume->nz > max3dTextureSize_ || !volume->samplesMatchSides())
        return;
    const bool floats = volume->format == VOLUME_R32F;
    // Earlier errors are cleared so the check below sees this upload's alone (a lost
    // context may repeat its error: the loop is bounded).
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) { }
    glGenTextures(1, &gpu.volume);
    glBindTexture(GL_TEXTURE_3D, gpu.volume);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (floats)
        glTexImage3D(GL_TEXTURE_3D, 0, GL_R32F, volume->nx, volume->ny, volume->nz, 0, GL_RED,
            GL_FLOAT, volume->values.data());
    else
        glTexImage3D(GL_TEXTURE_3D, 0, GL_RGBA8, volume->nx, volume->ny, volume->nz, 0, GL_RGBA,
            GL_UNSIGNED_BYTE, volume->rgba.data());
    // Out of GPU memory the volume is left out rather than drawn from garbage.
    if (glGetError() != GL_NO_ERROR) {
        glDeleteTextures(1, &gpu.volume);
        gpu.volume = 0;
        glBindTexture(GL_TEXTURE_3D, 0);
        return;
    }
    for (GLenum wrap : { GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T, GL_TEXTURE_WRAP_R })
        glTexParameteri(GL_TEXTURE_3D, wrap, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glBindTexture(GL_TEXTURE_3D, 0);
    uploadBricks(*volume, gpu);
    if (!floats)
        return;
    glGenTextures(1, &gpu.transfer);
    glBindTexture(GL_TEXTURE_2D, gpu.transfer);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kTransferEntries, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE,
        volume->transfer.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void SceneRenderer::uploadBricks(const Volume& volume, GpuObject& gpu)
{
    BrickGrid grid;
    try {
        grid = volumeBricks(volume);
    } catch (const std::bad_alloc&) {
        return; // marched without skipping
    }
    if (grid.occupied.empty())
        return;
    for (std::uint8_t& b : grid.occupied)
        b = b ? 255 : 0;
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) { }
    glGenTextures(1, &gpu.bricks);
    glBindTexture(GL_TEXTURE_3D, gpu.bricks);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage3D(GL_TEXTURE_3D, 0, GL_R8, grid.bx, grid.by, grid.bz, 0, GL_RED, GL_UNSIGNED_BYTE,
        grid.occupied.data());
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAX_LEVEL, 0);
    glBindTexture(GL_TEXTURE_3D, 0);
    if (glGetError() != GL_NO_ERROR) {
        glDeleteTextures(1, &gpu.bricks);
        gpu.bricks = 0;
        return;
    }
    gpu.brickCount[0] = grid.bx;
    gpu.brickCount[1] = grid.by;
    gpu.brickCount[2] = grid.bz;
}

void SceneRenderer::uploadTexture(const SceneObject& object, GpuObject& gpu)
{
    gpu.textureRevision = object.textureRevision;
    if (object.type == OBJECT_VOLUME) {
        uploadVolume(object, gpu);
        return;
    }
    const Texture* texture = object.texture.get();
    // A picture beyond what this GL takes is drawn without it rather than failing the
    // whole frame.
    if (!texture || texture->width > maxTextureSize_ || texture->height > maxTextureSize_
        || texture->rgba.size() != std::size_t(texture->width) * std::size_t(texture->height) * 4) {
        if (gpu.texture)
            glDeleteTextures(1, &gpu.texture);
        gpu.texture = 0;
        return;
    }
    if (!gpu.texture)
        glGenTextures(1, &gpu.texture);
    glBindTexture(GL_TEXTURE_2D, gpu.texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, texture->width, texture->height, 0, GL_RGBA,
        GL_UNSIGNED_BYTE, texture->rgba.data());
    if (glGetError() != GL_NO_ERROR) {
        glDeleteTextures(1, &gpu.texture);
        gpu.texture = 0;
        return;
    }
    const GLint wrap = object.wrapping == WRAP_CLAMP ? GL_CLAMP_TO_EDGE
        : object.wrapping == WRAP_MIRROR             ? GL_MIRRORED_REPEAT
                                                     : GL_REPEAT;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
    // Nearest on magnification: a slice shows its samples, not a blur of them.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void SceneRenderer::drawObject(
    const Scene& scene, const SceneObject& object, const Mat4& view, bool selected)
{
    const auto it = objects_.find(object.id);
    if (it == objects_.end() || it->second->indexCount == 0)
        return;
    const GpuObject& gpu = *it->second;
    const Mat4 modelView = view * scene.modelMatrix(object);
    float m[16], n[9];
    toFloats(modelView, m);
    normalMatrix(modelView, n);
    glUniformMatrix4fv(program_->uniformLocation("uModelView"), 1, GL_FALSE, m);
    glUniformMatrix3fv(program_->uniformLocation("uNormalMatrix"), 1, GL_FALSE, n);
    const Material& material = object.material;
    setColour(*program_, "uDiffuse", material.diffuse);
    setColour(*program_, "uAmbient", material.ambient);
    setColour(*program_, "uEmissive", material.emissive);
    setColour(*program_, "uSpecular", material.specular);
    program_->setUniformValue("uPower", float(material.specularPower));
    program_->setUniformValue("uOpacity", float(1 - object.transparency));
    program_->setUniformValue("uVertexColours", gpu.hasColours);
    const bool textured = gpu.texture && gpu.hasTexCoords;
    program_->setUniformValue("uTextured", textured);
    program_->setUniformValue("uLit", object.type != OBJECT_SLICE);
    program_->setUniformValue("uSelected", selected);
    if (textured) {
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, gpu.texture);
        program_->setUniformValue("uTexture", 0);
    }
    glBindVertexArray(gpu.vao);
    if (gpu.blocks && object.mesh && object.mesh->blocks == gpu.blocks) {
        // Only the leaves whose bounding sphere meets the view; ranges that follow
        // each other in the buffer go in one call.
        std::vector<const MeshBlock*> visible;
        visibleBlocks(gpu.blocks, frustumOf(projection_ * modelView), visible);
        std::vector<std::pair<GLsizei, GLsizei>> ranges;
        for (const MeshBlock* leaf : visible) {
            const auto range = gpu.leafRanges.find(leaf);
            if (range == gpu.leafRanges.end() || range->second.second == 0)
                continue;
            if (!ranges.empty()
                && ranges.back().first + ranges.back().second == range->second.first)
                ranges.back().second += range->second.second;
            else
                ranges.push_back(range->second);
        }
        for (const auto& [first, count] : ranges)
            glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_INT,
                reinterpret_cast<const void*>(std::size_t(first) * sizeof(std::uint32_t)));
    } else {
        glDrawElements(GL_TRIANGLES, gpu.indexCount, GL_UNSIGNED_INT, nullptr);
    }
    glBindVertexArray(0);
    if (textured)
        glBindTexture(GL_TEXTURE_2D, 0);
}

void SceneRenderer::drawVolume(
    const Scene& scene, const SceneObject& object, const Mat4& view, const float projection[16])
{
    const auto it = objects_.find(object.id);
    if (it == objects_.end() || (!it->second->volume && !it->second->marched) || !object.volume
        || object.volumeBox.empty() || it->second->indexCount == 0)
        return;
    const GpuObject& gpu = *it->second;
    const Volume& volume = *object.volume;
    const bool floats = volume.format == VOLUME_R32F;
    // A float volume whose table did not load is not drawn from its raw values.
    if (!gpu.marchedOnProcessor && (!volumePrograms_[floats] || (floats && !gpu.transfer)))
        return;
    const Mat4 modelView = view * scene.modelMatrix(object);
    const Box& box = object.volumeBox;
    const Vec3 size = box.max - box.min;
    std::optional<MarchFrame> frame
        = marchFrameOf(volume, box, projection_, modelView, viewport_[2], viewport_[3]);
    if (!frame)
        return;
    const Vec3 eye = frame->eye;
    const double diagonal = std::sqrt(double(volume.nx) * volume.nx + double(volume.ny) * volume.ny
        + double(volume.nz) * volume.nz);
    // One voxel per step; two while the view moves (the shader knows only these).
    const float step = interactive_ ? 2.0f : 1.0f;
    if (gpu.marchedOnProcessor) {
        frame->depth = depthCopied_ ? depthPixels_.data() : nullptr;
        frame->step = step;
        frame->opacity = object.opacity();
        drawMarchedVolume(*gpu.marched, *frame);
        return;
    }

    QOpenGLShaderProgram& p = *volumePrograms_[floats];
    p.bind();
    float m[16];
    toFloats(modelView, m);
    glUniformMatrix4fv(p.uniformLocation("uModelView"), 1, GL_FALSE, m);
    glUniformMatrix4fv(p.uniformLocation("uProjection"), 1, GL_FALSE, projection);
    toFloats(frame->clipToVoxel, m);
    glUniformMatrix4fv(p.uniformLocation("uClipToVoxel"), 1, GL_FALSE, m);
    p.setUniformValue("uBoxMin", float(box.min.x), float(box.min.y), float(box.min.z));
    p.setUniformValue("uBoxSize", float(size.x), float(size.y), float(size.z));
    p.setUniformValue("uEye", float(eye.x), float(eye.y), float(eye.z));
    p.setUniformValue("uVoxels", float(volume.nx), float(volume.ny), float(volume.nz));
    p.setUniformValue("uLow", float(volume.low));
    // A single-valued range still divides by something.
    p.setUniformValue(
        "uInvRange", float(1 / (volume.high > volume.low ? volume.high - volume.low : 1)));
    p.setUniformValue("uStep", step);
    // Enough steps for the box's diagonal, however many are skipped.
    p.setUniformValue("uMaxSteps", int(std::ceil(diagonal / step)) + 2);
    p.setUniformValue("uOpacity", float(object.opacity()));
    p.setUniformValue("uSkip", gpu.bricks != 0);
    glUniform3i(
        p.uniformLocation("uBrickCount"), gpu.brickCount[0], gpu.brickCount[1], gpu.brickCount[2]);
    p.setUniformValue("uBrickSide", float(kBrickSide));
    p.setUniformValue("uDepthClip", depthCopied_);
    p.setUniformValue("uViewport", float(viewport_[0]), float(viewport_[1]), float(viewport_[2]),
        float(viewport_[3]));
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_3D, gpu.volume);
    p.setUniformValue("uVolume", 0);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, gpu.transfer);
    p.setUniformValue("uTransfer", 1);
    glActiveTexture(GL_TEXTURE2);
    glBindTexture(GL_TEXTURE_3D, gpu.bricks);
    p.setUniformValue("uBricks", 2);
    glActiveTexture(GL_TEXTURE3);
    glBindTexture(GL_TEXTURE_2D, depthCopied_ ? depthTexture_ : 0);
    p.setUniformValue("uDepth", 3);
    glActiveTexture(GL_TEXTURE0);

    // Back faces only: each pixel of the box marches once, also from inside it. With
    // the scene's depth at hand the rays stop at it themselves, so the box is not
    // depth-tested: its back faces behind an opaque object would drop the whole ray,
    // also the part in front of the object.
    if (depthCopied_)
        glDisable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_FRONT);
    glBlendFuncSeparate(GL_ONE, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glBindVertexArray(gpu.vao);
    glDrawElements(GL_TRIANGLES, gpu.indexCount, GL_UNSIGNED_INT, nullptr);
    glBindVertexArray(0);
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
    for (GLenum unit : { GL_TEXTURE3, GL_TEXTURE1 }) {
        glActiveTexture(unit);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    glActiveTexture(GL_TEXTURE2);
    glBindTexture(GL_TEXTURE_3D, 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_3D, 0);
}

void SceneRenderer::drawMarchedVolume(const MarchVolume& volume, const MarchFrame& frame)
{
    const PixelRect rect = marchedRect(volume, frame);
    if (rect.empty() || !imageProgram_)
        return;
    marchedPixels_.resize(std::size_t(rect.width) * std::size_t(rect.height) * 4);
    marchVolume(volume, frame, rect, marchedPixels_.data());
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, imageTexture_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, rect.width, rect.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
        marchedPixels_.data());
    imageProgram_->bind();
    imageProgram_->setUniformValue("uImage", 0);
    imageProgram_->setUniformValue("uRect", float(rect.x) / frame.width * 2 - 1,
        float(rect.y) / frame.height * 2 - 1, float(rect.x + rect.width) / frame.width * 2 - 1,
        float(rect.y + rect.height) / frame.height * 2 - 1);
    glUniform2i(
        imageProgram_->uniformLocation("uOrigin"), viewport_[0] + rect.x, viewport_[1] + rect.y);
    // The rays stopped at the opaque scene themselves.
    glDisable(GL_DEPTH_TEST);
    glBlendFuncSeparate(GL_ONE, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glBindVertexArray(imageVao_);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glBindVertexArray(0);
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_DEPTH_TEST);
    glBindTexture(GL_TEXTURE_2D, 0);
}

// Reads the depth of the sub-view's viewport into depthPixels_, rows from the bottom;
// false when it cannot be read.
bool SceneRenderer::readDepth()
{
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) { }
    depthPixels_.resize(std::size_t(viewport_[2]) * std::size_t(viewport_[3]));
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(viewport_[0], viewport_[1], viewport_[2], viewport_[3], GL_DEPTH_COMPONENT,
        GL_FLOAT, depthPixels_.data());
    return glGetError() == GL_NO_ERROR;
}

// Copies the depth of the sub-view's viewport into depthTexture_ (the size of the
// framebuffer); false when the framebuffer's depth cannot be copied.
bool SceneRenderer::copyDepth(int width, int height)
{
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) { }
    if (!depthTexture_)
        glGenTextures(1, &depthTexture_);
    glBindTexture(GL_TEXTURE_2D, depthTexture_);
    if (depthSize_[0] != width || depthSize_[1] != height) {
        // The framebuffers drawn into hold depth and stencil together; a copy takes a
        // texture of the same kind.
        glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH24_STENCIL8, width, height, 0, GL_DEPTH_STENCIL,
            GL_UNSIGNED_INT_24_8, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE, GL_NONE);
        depthSize_[0] = width;
        depthSize_[1] = height;
    }
    glCopyTexSubImage2D(GL_TEXTURE_2D, 0, viewport_[0], viewport_[1], viewport_[0], viewport_[1],
        viewport_[2], viewport_[3]);
    glBindTexture(GL_TEXTURE_2D, 0);
    if (glGetError() == GL_NO_ERROR)
        return true;
    depthSize_[0] = depthSize_[1] = 0; // allocated again next time
    return false;
}

void SceneRenderer::drawReferenceBox(const Scene& scene, const Mat4& view)
{
    const Vec3 s = scene.referenceBox();
    const float w = float(s.x), h = float(s.y), d = float(s.z);
    const float corners[8][3] = { { 0, 0, 0 }, { w, 0, 0 }, { w, h, 0 }, { 0, h, 0 }, { 0, 0, d },
        { w, 0, d }, { w, h, d }, { 0, h, d } };
    const int edges[12][2] = { { 0, 1 }, { 1, 2 }, { 2, 3 }, { 3, 0 }, { 4, 5 }, { 5, 6 }, { 6, 7 },
        { 7, 4 }, { 0, 4 }, { 1, 5 }, { 2, 6 }, { 3, 7 } };
    float lines[24 * 3];
    for (int e = 0; e < 12; ++e)
        for (int k = 0; k < 2; ++k)
            std::copy(corners[edges[e][k]], corners[edges[e][k]] + 3, lines + (e * 2 + k) * 3);
    glBindVertexArray(boxVao_);
    glBindBuffer(GL_ARRAY_BUFFER, boxVbo_);
    glBufferData(GL_ARRAY_BUFFER, sizeof lines, lines, GL_DYNAMIC_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 3 * sizeof(float), nullptr);
    float m[16];
    toFloats(view * scaling(scene.unitScale()), m);
    glUniformMatrix4fv(program_->uniformLocation("uModelView"), 1, GL_FALSE, m);
    const QColor c = referenceBoxColour();
    program_->setUniformValue(
        "uDiffuse", float(c.redF()), float(c.greenF()), float(c.blueF()), 1.f);
    program_->setUniformValue("uOpacity", 1.f);
    program_->setUniformValue("uVertexColours", false);
    program_->setUniformValue("uTextured", false);
    program_->setUniformValue("uLit", false);
    program_->setUniformValue("uSelected", false);
    glDrawArrays(GL_LINES, 0, 24);
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void SceneRenderer::render(const Scene& scene, int width, int height)
{
    // While the view moves, volumes are marched for a quarter of the pixels and the
    // frame is stretched; meshes alone are fast enough at full size.
    if (interactive_ && initialized() && width >= 2 && height >= 2 && showsVolume(scene)) {
        const int w = (width + 1) / 2, h = (height + 1) / 2;
        GLint target = 0;
        glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &target);
        if (reducedFramebuffer(w, h)) {
            glBindFramebuffer(GL_FRAMEBUFFER, reducedFbo_);
            renderFrame(scene, w, h);
            glBindFramebuffer(GL_READ_FRAMEBUFFER, reducedFbo_);
            glBindFramebuffer(GL_DRAW_FRAMEBUFFER, GLuint(target));
            glDisable(GL_SCISSOR_TEST);
            glViewport(0, 0, width, height);
            glBlitFramebuffer(0, 0, w, h, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_LINEAR);
            glBindFramebuffer(GL_FRAMEBUFFER, GLuint(target));
            return;
        }
        glBindFramebuffer(GL_FRAMEBUFFER, GLuint(target));
    }
    renderFrame(scene, width, height);
}

bool SceneRenderer::showsVolume(const Scene& scene) const
{
    std::lock_guard lock(scene.mutex());
    for (const auto& object : scene.objectsLocked())
        if (object->type == OBJECT_VOLUME && object->volume)
            return true;
    return false;
}

bool SceneRenderer::reducedFramebuffer(int width, int height)
{
    if (reducedFbo_ && reducedSize_[0] == width && reducedSize_[1] == height)
        return true;
    releaseReduced();
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) { }
    glGenFramebuffers(1, &reducedFbo_);
    glGenRenderbuffers(2, reducedBuffers_);
    glBindRenderbuffer(GL_RENDERBUFFER, reducedBuffers_[0]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, reducedBuffers_[1]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, reducedFbo_);
    glFramebufferRenderbuffer(
        GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, reducedBuffers_[0]);
    glFramebufferRenderbuffer(
        GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, reducedBuffers_[1]);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE
        && glGetError() == GL_NO_ERROR;
    if (!complete) {
        releaseReduced();
        return false;
    }
    reducedSize_[0] = width;
    reducedSize_[1] = height;
    return true;
}

void SceneRenderer::releaseReduced()
{
    if (reducedFbo_)
        glDeleteFramebuffers(1, &reducedFbo_);
    glDeleteRenderbuffers(2, reducedBuffers_);
    reducedFbo_ = 0;
    reducedBuffers_[0] = reducedBuffers_[1] = 0;
    reducedSize_[0] = reducedSize_[1] = 0;
}

void SceneRenderer::renderFrame(const Scene& scene, int width, int height)
{
    const QColor bg = background();
    glClearColor(float(bg.redF()), float(bg.greenF()), float(bg.blueF()), 1.f);
    glDisable(GL_SCISSOR_TEST);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (!initialized() || width <= 0 || height <= 0)
        return;

    std::lock_guard lock(scene.mutex());
    const auto& objects = scene.objectsLocked();
    for (auto& [id, gpu] : objects_)
        gpu->seen = false;
    for (const auto& object : objects) {
        auto& slot = objects_[object->id];
        if (!slot)
            slot = std::make_unique<GpuObject>();
        if (slot->geometryRevision != object->geometryRevision)
            upload(*object, *slot);
        if (slot->textureRevision != object->textureRevision
            || (object->type == OBJECT_VOLUME && slot->marchedOnProcessor != marchOnProcessor_))
            uploadTexture(*object, *slot);
        slot->seen = true;
    }
    for (auto it = objects_.begin(); it != objects_.end();) {
        if (it->second->seen) {
            ++it;
            continue;
        }
        release(*it->second);
        it = objects_.erase(it);
    }

    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glDisable(GL_CULL_FACE);
    glEnable(GL_SCISSOR_TEST);
    program_->bind();
    const std::uint32_t selected = scene.selectedObject();
    for (int index = 0; index < scene.subViewCount(); ++index) {
        if (!scene.subView(index).visible)
            continue;
        const auto [vx, vy, vw, vh] = scene.viewport(index, width, height);
        // Sub-view rectangles are given from the top; GL counts rows from the bottom.
        glViewport(vx, height - vy - vh, vw, vh);
        glScissor(vx, height - vy - vh, vw, vh);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        const Mat4 view = scene.viewMatrix(index);
        projection_ = scene.projectionMatrix(index, vw, vh);
        viewport_ = { vx, height - vy - vh, vw, vh };
        float p[16];
        toFloats(projection_, p);
        glUniformMatrix4fv(program_->uniformLocation("uProjection"), 1, GL_FALSE, p);

        const std::uint32_t bit = index < 32 ? 1u << index : 0;
        std::vector<std::pair<double, const SceneObject*>> transparent;
        glDepthMask(GL_TRUE);
        glDisable(GL_BLEND);
        bool opaqueDrawn = scene.referenceBoxShown();
        for (const auto& object : objects) {
            if (!(object->viewMask & bit) || !object->mesh)
                continue;
            const double opacity = object->opacity();
            if (opacity <= 0)
                continue;
            // Volumes are see-through by nature: they blend with the transparent ones.
            if (opacity < 1 || object->type == OBJECT_VOLUME) {
                const Sphere s
                    = boundingSphere(transformBox(scene.modelMatrix(*object), object->meshBounds));
                transparent.emplace_back(transformPoint(view, s.centre).z, object.get());
                continue;
            }
            drawObject(scene, *object, view, object->id == selected);
            opaqueDrawn = true;
        }
        if (scene.referenceBoxShown())
            drawReferenceBox(scene, view);
        // Farthest first (most negative view-space z), without writing depth, so that
        // what lies behind a transparent object has been drawn before it is blended.
        std::stable_sort(transparent.begin(), transparent.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
        // Volumes stop their rays at what is drawn so far: the opaque objects. With
        // none, the depth is the far plane everywhere and need not be read.
        depthCopied_ = false;
        for (const auto& entry : transparent)
            if (opaqueDrawn && entry.second->type == OBJECT_VOLUME) {
                depthCopied_ = marchOnProcessor_ ? readDepth() : copyDepth(width, height);
                break;
            }
        glEnable(GL_BLEND);
        // The frame stays opaque: blending the alpha channel like the colours would
        // leave holes that image conversion and window composition then show through.
        glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        glDepthMask(GL_FALSE);
        for (const auto& [depth, object] : transparent) {
            if (object->type != OBJECT_VOLUME) {
                drawObject(scene, *object, view, object->id == selected);
                continue;
            }
            drawVolume(scene, *object, view, p);
            program_->bind();
        }
        glDepthMask(GL_TRUE);
        glDisable(GL_BLEND);
    }
    program_->release();
    glDisable(GL_SCISSOR_TEST);
}

} // namespace vexa::gui
