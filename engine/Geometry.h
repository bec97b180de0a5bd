#pragma once
// Small numeric helpers of the engine: angle wrapping for the mesh rotation, clamping, a
// tolerant point comparison, the plane-against-box test of the octree walk, the centre of
// a set of points and the angular order that turns the cut points of one element into a
// convex polygon. All arithmetic is in 32-bit float, rounded at each stored step, so that
// results are the same on every build. Pure functions, callable from any thread.

#include <cstddef>

#include "gfx/Math.h"
#include "qem/Document.h"

namespace engine {

using Vec3 = gfx::D3DXVECTOR3;
using Plane = gfx::D3DXPLANE;

inline constexpr float kTwoPi = 6.2831855f;

// x in radians -> the same angle in [0, 2 pi).
float WrapAngle(float x);

// x limited to [lo, hi]; a NaN x gives lo.
float Clamp(float lo, float x, float hi);

// Every coordinate differs by at most tol (inclusive); tol 0 asks for exact equality.
bool SamePoint(const Vec3& p, const Vec3& q, float tol);

// Some corner of box lies strictly on the other side of the plane than the minimum corner.
// Corners on the plane never count; a minimum corner on the plane gives false.
bool PlaneCutsBox(const Plane& plane, const qem::Box& box);

// The mean of count points (sums in float, times the float 1 / count).
Vec3 Centroid(const Vec3* points, std::size_t count);

// The strict order of the cut points of one element around the section normal s, seen
// from the centre c, starting from the reference direction r: points sort by decreasing
// Key. Equal keys may come in either order.
class PolygonOrder {
 public:
  PolygonOrder(const Vec3& s, const Vec3& c, const Vec3& r) : s(s), c(c), r(r) {}

  // c . u when the point lies on the positive side of r around s, else 2 pi - c . u, with
  // u the unit direction from the centre to the point.
  float Key(const Vec3& q) const;

  // True when q1 comes before q2.
  bool operator()(const Vec3& q1, const Vec3& q2) const { return Key(q2) < Key(q1); }

 private:
  Vec3 s, c, r;
};

}  // namespace engine
