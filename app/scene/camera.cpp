#include "scene/camera.h"

#include <cmath>

namespace vexa::scene {

namespace {
constexpr double kFieldOfView = 0.5235987755982988; // 30 degrees
} // namespace

Camera::Camera()
    : eye_ { 0, 0, 5 }
    , target_ { 0, 0, 0 }
    , up_ { 0, 1, 0 }
    , fovY_(kFieldOfView)
{
}

Vec3 Camera::axisZ() const
{
    return normalised(target_ - eye_);
}

Vec3 Camera::axisX() const
{
    return normalised(cross(axisZ(), up_));
}

Vec3 Camera::axisY() const
{
    return cross(axisX(), axisZ());
}

void Camera::rotate(Vec3 axis, double angle)
{
    if (!std::isfinite(angle) || !isFinite(axis) || length(axis) == 0)
        return;
    const Mat4 r = rotation(axis, angle);
    eye_ = target_ + transformDirection(r, eye_ - target_);
    up_ = normalised(transformDirection(r, up_));
}

void Camera::multiplyZoom(double factor)
{
    if (std::isfinite(factor) && factor > 0 && std::isfinite(zoom_ * factor) && zoom_ * factor > 0)
        zoom_ *= factor;
}

void Camera::translateWorld(int axis, double distance)
{
    if (axis < 0 || axis > 2 || !std::isfinite(distance))
        return;
    const Vec3 d { axis == 0 ? distance : 0, axis == 1 ? distance : 0, axis == 2 ? distance : 0 };
    eye_ = eye_ + d;
    target_ = target_ + d;
}

void Camera::translateOwn(int axis, double distance)
{
    if (axis < 0 || axis > 2 || !std::isfinite(distance))
        return;
    const Vec3 a = axis == 0 ? axisX() : axis == 1 ? axisY() : axisZ();
    eye_ = eye_ + a * distance;
    target_ = target_ + a * distance;
}

void Camera::frame(const Sphere& sphere, Axes axes)
{
    const double radius = sphere.radius > 0 && std::isfinite(sphere.radius) ? sphere.radius : 1;
    const Vec3 centre = isFinite(sphere.centre) ? sphere.centre : Vec3 {};
    const double distance = radius / std::sin(fovY_ / 2) * 1.05;
    target_ = centre;
    const bool image = axes == IMAGE_AXES;
    eye_ = centre + Vec3 { 0, 0, image ? -distance : distance };
    up_ = { 0, image ? -1.0 : 1.0, 0 };
    zoom_ = 1;
}

bool Camera::set(Vec3 eye, Vec3 target, Vec3 up)
{
    if (!isFinite(eye) || !isFinite(target) || !isFinite(up))
        return false;
    const Vec3 sight = target - eye;
    if (length(sight) == 0 || length(cross(sight, up)) == 0)
        return false;
    eye_ = eye;
    target_ = target;
    up_ = normalised(up);
    return true;
}

Mat4 Camera::viewMatrix() const
{
    return lookAt(eye_, target_, up_);
}

Mat4 Camera::projectionMatrix(double aspect, const Sphere& scene) const
{
    const double fov = 2 * std::atan(std::tan(fovY_ / 2) / zoom_);
    const double distance = length(scene.centre - eye_);
    const double radius = std::fmax(scene.radius, 1e-6);
    double zFar = distance + radius * 1.01;
    double zNear = distance - radius * 1.01;
    // Inside the scene the near plane cannot hug it: keep a fixed depth ratio.
    if (zNear < zFar * 1e-4)
        zNear = zFar * 1e-4;
    if (!std::isfinite(zNear) || !std::isfinite(zFar) || zFar <= zNear) {
        zNear = 0.01;
        zFar = 1000;
    }
    return perspective(fov, aspect > 0 ? aspect : 1, zNear, zFar);
}

} // namespace vexa::scene
