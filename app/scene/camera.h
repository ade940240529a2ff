// The camera of a sub-view: an eye orbiting a target. Rotations about the X, Y and Z
// axes turn the eye and up vector about the target (world axes through the target),
// so a turn of pi about Y shows the scene from behind, mirrored left to right. The
// camera's own axes are X to the right, Y up and Z along the line of sight.
#pragma once

#include "scene/scenemath.h"

namespace vexa::scene {

class Camera {
public:
    Camera();

    Vec3 eye() const { return eye_; }
    Vec3 target() const { return target_; }
    Vec3 up() const { return up_; }
    double zoom() const { return zoom_; }
    double fieldOfView() const { return fovY_; } // radians, before the zoom

    // Own axes, unit length: right, up and line of sight.
    Vec3 axisX() const;
    Vec3 axisY() const;
    Vec3 axisZ() const;

    // Radians; right-handed about the world axis through the target.
    void rotateX(double angle) { rotate({ 1, 0, 0 }, angle); }
    void rotateY(double angle) { rotate({ 0, 1, 0 }, angle); }
    void rotateZ(double angle) { rotate({ 0, 0, 1 }, angle); }
    void rotate(Vec3 axis, double angle);
    // Multiplies the magnification; factors that are not finite and positive are ignored.
    void multiplyZoom(double factor);
    // Moves eye and target together, along a world axis (0, 1, 2) or an own axis.
    void translateWorld(int axis, double distance);
    void translateOwn(int axis, double distance);
    // How a framed scene is shown. MESH_AXES: from +z with y up, as mesh files expect.
    // IMAGE_AXES: as the image window shows a block's front section, from -z with x
    // to the right and y downwards (row 0 at the top).
    enum Axes { MESH_AXES = 0, IMAGE_AXES = 1 };
    // Looks at the sphere along those axes, the whole sphere in view, zoom 1.
    void frame(const Sphere& sphere, Axes axes = MESH_AXES);
    // Sets everything at once; a degenerate direction or up vector is refused (false).
    bool set(Vec3 eye, Vec3 target, Vec3 up);

    Mat4 viewMatrix() const;
    // Near and far planes hug the given scene sphere so the depth buffer keeps its
    // precision on both small and large scenes.
    Mat4 projectionMatrix(double aspect, const Sphere& scene) const;

private:
    Vec3 eye_, target_, up_;
    double zoom_ = 1;
    double fovY_;
};

} // namespace vexa::scene
