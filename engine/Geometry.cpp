#include "engine/Geometry.h"

#include <cmath>

namespace engine {

float WrapAngle(float x) {
  const float q = x / kTwoPi;
  const float f = q - std::floor(q);
  if (f < 0) return (f + 1) * kTwoPi;
  if (f == 1) return 0;
  return f * kTwoPi;
}

float Clamp(float lo, float x, float hi) {
  const float m = x > lo ? x : lo;
  return hi <= m ? hi : m;
}

bool SamePoint(const Vec3& p, const Vec3& q, float tol) {
  if (tol == 0) return p.x == q.x && p.y == q.y && p.z == q.z;
  const float dx = p.x - q.x;
  const float dy = p.y - q.y;
  const float dz = p.z - q.z;
  return std::fabs(dx) <= tol && std::fabs(dy) <= tol && std::fabs(dz) <= tol;
}

namespace {
float PlaneValue(const Plane& p, float x, float y, float z) { return p.a * x + p.b * y + p.c * z + p.d; }
}  // namespace

bool PlaneCutsBox(const Plane& plane, const qem::Box& box) {
  const qem::Float3& lo = box.min;
  const qem::Float3& hi = box.max;
  const float d0 = PlaneValue(plane, lo.x, lo.y, lo.z);
  const float corners[7][3] = {
      {hi.x, lo.y, lo.z}, {lo.x, lo.y, hi.z}, {hi.x, lo.y, hi.z}, {lo.x, hi.y, lo.z},
      {hi.x, hi.y, lo.z}, {lo.x, hi.y, hi.z}, {hi.x, hi.y, hi.z},
  };
  for (const auto& corner : corners) {
    if (d0 * PlaneValue(plane, corner[0], corner[1], corner[2]) < 0) return true;
  }
  return false;
}

Vec3 Centroid(const Vec3* points, std::size_t count) {
  float x = 0, y = 0, z = 0;
  for (std::size_t i = 0; i < count; ++i) {
    x += points[i].x;
    y += points[i].y;
    z += points[i].z;
  }
  const float inverse = 1.0f / static_cast<float>(count);
  return {x * inverse, y * inverse, z * inverse};
}

float PolygonOrder::Key(const Vec3& q) const {
  Vec3 u = q - c;
  gfx::D3DXVec3Normalize(&u, &u);
  const float cosine = r.x * u.x + r.y * u.y + r.z * u.z;
  const Vec3 cross{r.y * u.z - r.z * u.y, r.z * u.x - r.x * u.z, r.x * u.y - r.y * u.x};
  const float w = s.x * cross.x + s.y * cross.y + s.z * cross.z;
  return w >= 0 ? cosine : kTwoPi - cosine;
}

}  // namespace engine
