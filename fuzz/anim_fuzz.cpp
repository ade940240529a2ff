// Any bytes as an animation document (also reachable by its own SCRIPT, POLYLINE and
// texture file names "in.xml"), played into a view that keeps nothing but checks what
// it is handed: meshes with valid indices, texture coordinates one pair per point.
#include "fuzzscratch.h"
#include "scene/anim.h"

#include <cstdint>

namespace {

class CountingTarget : public vexa::scene::AnimTarget {
public:
    bool createView() override { return true; }
    void showReferenceBox(bool) override { }
    void setReferenceBox(double, double, double) override { }
    void resizeView(int w, int h) override
    {
        if (w < 1 || h < 1)
            __builtin_trap();
    }
    void refresh() override { }
    int subViewCount() override { return 1; }
    int currentSubView() override { return 0; }
    void selectSubView(int) override { }
    void setSubViewVisible(int, bool) override { }
    int addSubView(double, double, double, double) override { return 1; }
    void setFilm(const std::string&, double) override { }
    void beginFilm(bool) override { }
    void endFilm() override { }
    void renderFrame() override { }
    void rotateCamera(int axis, double) override { checkAxis(axis); }
    void multiplyZoom(double) override { }
    void translateCameraWorld(int axis, double) override { checkAxis(axis); }
    void translateCameraOwn(int axis, double) override { checkAxis(axis); }
    vexa::scene::Vec3 unitScale() override { return { 1, 1, 1 }; }
    void addObject(vexa::scene::AnimObject object, std::uint32_t mask) override
    {
        if (mask == 0)
            __builtin_trap();
        const TriMesh* mesh = object.mesh.get();
        if (mesh && !vexa::mesh::hasValidIndices(*mesh))
            __builtin_trap();
        if (!object.texCoords.empty()
            && (!mesh || object.texCoords.size() != std::size_t(mesh->nbPoints) * 2))
            __builtin_trap();
    }
    void deleteObjects(const std::string&) override { }
    // Huge frame counts end the run instead of looping for hours.
    bool cancelled() override { return ++polls_ > 20000; }
    bool askRaytracing(bool&) override { return false; }

private:
    static void checkAxis(int axis)
    {
        if (axis < 0 || axis > 2)
            __builtin_trap();
    }
    long polls_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = fuzzscratch::folder().file("in.xml");
    if (!fuzzscratch::put(path, data, size))
        return 0;
    CountingTarget target;
    const int played = vexa::scene::playAnimation(path, target);
    if (played != (vexa::scene::isAnimationFile(path) ? 1 : 0))
        __builtin_trap();
    return 0;
}
