#include "scene/gui/scenerenderer.h"

#include "scene/volume.h"

#include <QOpenGLShaderProgram>

#include <algorithm>
#include <cmath>
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
// the eye through the box in texture coordinates, front to back, half a voxel per
// step, until it leaves the box or is nearly opaque. The output is premultiplied.
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

constexpr const char* kVolumeFragmentShader = R"(#version 330 core
in vec3 vTex;
uniform vec3 uEye;
uniform sampler3D uVolume;
uniform sampler2D uTransfer;
uniform bool uFloat;
uniform float uLow;
uniform float uHigh;
uniform float uStep;
uniform int uMaxSteps;
uniform float uOpacity;
out vec4 fragColour;
void main()
{
    vec3 dir = vTex - uEye;
    float len = length(dir);
    if (len <= 0.0)
        discard;
    dir /= len;
    vec3 safe = mix(dir, vec3(1e-9), lessThan(abs(dir), vec3(1e-9)));
    vec3 t0 = (vec3(0.0) - uEye) / safe;
    vec3 t1 = (vec3(1.0) - uEye) / safe;
    vec3 tMin = min(t0, t1);
    vec3 tMax = max(t0, t1);
    float tNear = max(max(max(tMin.x, tMin.y), tMin.z), 0.0);
    float tFar = min(min(tMax.x, tMax.y), tMax.z);
    vec4 sum = vec4(0.0);
    float t = tNear + 0.5 * uStep;
    for (int i = 0; i < uMaxSteps && t < tFar; ++i, t += uStep) {
        vec3 p = uEye + dir * t;
        vec4 s;
        if (uFloat) {
            float u = clamp((texture(uVolume, p).r - uLow) / (uHigh - uLow), 0.0, 1.0);
            s = texture(uTransfer, vec2((u * 255.0 + 0.5) / 256.0, 0.5));
        } else {
            s = texture(uVolume, p);
        }
        // Alpha is the opacity of one voxel; a step is half of one.
        float a = 1.0 - sqrt(1.0 - clamp(s.a * uOpacity, 0.0, 1.0));
        sum.rgb += (1.0 - sum.a) * a * s.rgb;
        sum.a += (1.0 - sum.a) * a;
        if (sum.a > 0.99)
            break;
    }
    fragColour = sum;
}
)";

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
    GLsizei indexCount = 0;
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
    auto volumes = std::make_unique<QOpenGLShaderProgram>();
    if (volumes->addShaderFromSourceCode(QOpenGLShader::Vertex, kVolumeVertexShader)
        && volumes->addShaderFromSourceCode(QOpenGLShader::Fragment, kVolumeFragmentShader)
        && volumes->link())
        volumeProgram_ = std::move(volumes);
    glGenVertexArrays(1, &boxVao_);
    glGenBuffers(1, &boxVbo_);
    return true;
}

void SceneRenderer::release(GpuObject& gpu)
{
    const GLuint buffers[] = { gpu.vertices, gpu.colours, gpu.texCoords, gpu.indices };
    glDeleteBuffers(4, buffers);
    glDeleteVertexArrays(1, &gpu.vao);
    const GLuint textures[] = { gpu.texture, gpu.volume, gpu.transfer };
    glDeleteTextures(3, textures);
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
    if (mesh && mesh->triangles) {
        indices.reserve(std::size_t(mesh->nbTriangles) * 3);
        for (std::int32_t t = 0; t < mesh->nbTriangles; ++t) {
            const std::int32_t* tri = mesh->triangles + std::size_t(t) * 3;
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
    const GLuint textures[] = { gpu.volume, gpu.transfer };
    glDeleteTextures(2, textures);
    gpu.volume = gpu.transfer = 0;
    const Volume* volume = object.volume.get();
    if (!volume || volume->nx > max3dTextureSize_ || volume->ny > max3dTextureSize_
        || volume->nz > max3dTextureSize_)
        return;
    const bool floats = volume->format == VOLUME_R32F;
    const std::size_t voxels = std::size_t(volume->voxelCount());
    if (floats ? volume->values.size() != voxels
                || volume->transfer.size() != std::size_t(kTransferEntries) * 4
               : volume->rgba.size() != voxels * 4)
        return;
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
    glDrawElements(GL_TRIANGLES, gpu.indexCount, GL_UNSIGNED_INT, nullptr);
    glBindVertexArray(0);
    if (textured)
        glBindTexture(GL_TEXTURE_2D, 0);
}

void SceneRenderer::drawVolume(
    const Scene& scene, const SceneObject& object, const Mat4& view, const float projection[16])
{
    const auto it = objects_.find(object.id);
    if (!volumeProgram_ || it == objects_.end() || !it->second->volume || !object.volume
        || object.volumeBox.empty() || it->second->indexCount == 0)
        return;
    const GpuObject& gpu = *it->second;
    const Volume& volume = *object.volume;
    const Mat4 modelView = view * scene.modelMatrix(object);
    const auto toObject = inverse(modelView);
    if (!toObject)
        return;
    const Box& box = object.volumeBox;
    const Vec3 size = box.max - box.min;
    const Vec3 eye = transformPoint(*toObject, { 0, 0, 0 }) - box.min;
    const int longest = std::max({ volume.nx, volume.ny, volume.nz });
    const float step = 0.5f / float(longest);

    QOpenGLShaderProgram& p = *volumeProgram_;
    p.bind();
    float m[16];
    toFloats(modelView, m);
    glUniformMatrix4fv(p.uniformLocation("uModelView"), 1, GL_FALSE, m);
    glUniformMatrix4fv(p.uniformLocation("uProjection"), 1, GL_FALSE, projection);
    p.setUniformValue("uBoxMin", float(box.min.x), float(box.min.y), float(box.min.z));
    p.setUniformValue("uBoxSize", float(size.x), float(size.y), float(size.z));
    p.setUniformValue("uEye", float(eye.x / size.x), float(eye.y / size.y), float(eye.z / size.z));
    const bool floats = volume.format == VOLUME_R32F && gpu.transfer;
    p.setUniformValue("uFloat", floats);
    p.setUniformValue("uLow", float(volume.low));
    // A single-valued range still divides by something.
    p.setUniformValue("uHigh", float(volume.high > volume.low ? volume.high : volume.low + 1));
    p.setUniformValue("uStep", step);
    // Enough steps for the box's diagonal (sqrt 3 in texture units).
    p.setUniformValue("uMaxSteps", int(std::ceil(1.7321f / step)) + 2);
    p.setUniformValue("uOpacity", float(object.opacity()));
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_3D, gpu.volume);
    p.setUniformValue("uVolume", 0);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, gpu.transfer);
    p.setUniformValue("uTransfer", 1);
    glActiveTexture(GL_TEXTURE0);

    // Back faces only: each pixel of the box marches once, also from inside it.
    glEnable(GL_CULL_FACE);
    glCullFace(GL_FRONT);
    glBlendFuncSeparate(GL_ONE, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glBindVertexArray(gpu.vao);
    glDrawElements(GL_TRIANGLES, gpu.indexCount, GL_UNSIGNED_INT, nullptr);
    glBindVertexArray(0);
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_CULL_FACE);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_3D, 0);
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
        if (slot->textureRevision != object->textureRevision)
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
        float p[16];
        toFloats(scene.projectionMatrix(index, vw, vh), p);
        glUniformMatrix4fv(program_->uniformLocation("uProjection"), 1, GL_FALSE, p);

        const std::uint32_t bit = index < 32 ? 1u << index : 0;
        std::vector<std::pair<double, const SceneObject*>> transparent;
        glDepthMask(GL_TRUE);
        glDisable(GL_BLEND);
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
        }
        if (scene.referenceBoxShown())
            drawReferenceBox(scene, view);
        // Farthest first (most negative view-space z), without writing depth, so that
        // what lies behind a transparent object has been drawn before it is blended.
        std::stable_sort(transparent.begin(), transparent.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
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
