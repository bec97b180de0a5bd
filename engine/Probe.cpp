#include "engine/Probe.h"

#include <cmath>
#include <limits>

#include "engine/Camera.h"
#include "engine/ClipSection.h"
#include "engine/Status.h"
#include "framework/FrameObject.h"
#include "gfx/Math.h"
#include "qem/Octree.h"

namespace engine {

using namespace gfx;

namespace {

D3DXVECTOR3 ToVector(const qem::Vertex& v) { return {v.x, v.y, v.z}; }

// The screen-space test of the rasteriser: true when the triangle a, b, c (model
// coordinates) appears counter-clockwise, which the culling removes.
bool CulledAway(const D3DXMATRIX& toClip, const D3DXVECTOR3& a, const D3DXVECTOR3& b, const D3DXVECTOR3& c) {
  D3DXVECTOR3 pa, pb, pc;
  D3DXVec3TransformCoord(&pa, &a, &toClip);
  D3DXVec3TransformCoord(&pb, &b, &toClip);
  D3DXVec3TransformCoord(&pc, &c, &toClip);
  const float area = (pb.x - pa.x) * (pc.y - pa.y) - (pc.x - pa.x) * (pb.y - pa.y);
  return area >= 0;  // y up: positive is counter-clockwise; a line-thin triangle shows nothing
}

// Moller-Trumbore: the ray origin + t dir meets triangle a, b, c at t with weights
// (1 - u - v, u, v); false when it misses.
bool Intersect(const D3DXVECTOR3& origin, const D3DXVECTOR3& dir, const D3DXVECTOR3& a, const D3DXVECTOR3& b,
               const D3DXVECTOR3& c, float& t, float& u, float& v) {
  const D3DXVECTOR3 e1 = b - a, e2 = c - a;
  D3DXVECTOR3 p, q;
  D3DXVec3Cross(&p, &dir, &e2);
  const float det = D3DXVec3Dot(&e1, &p);
  if (std::fabs(det) < 1e-12f) return false;
  const float inv = 1.0f / det;
  const D3DXVECTOR3 s = origin - a;
  u = D3DXVec3Dot(&s, &p) * inv;
  if (u < 0 || u > 1) return false;
  D3DXVec3Cross(&q, &s, &e1);
  v = D3DXVec3Dot(&dir, &q) * inv;
  if (v < 0 || u + v > 1) return false;
  t = D3DXVec3Dot(&e2, &q) * inv;
  return t >= 0;
}

struct Candidate {
  float t = std::numeric_limits<float>::infinity();
  PickResult result;
};

void Consider(Candidate& best, float t, bool section, std::uint32_t triangle, const D3DXVECTOR3& origin,
              const D3DXVECTOR3& dir, std::vector<ProbeWeight> weights) {
  if (!(t < best.t)) return;
  best.t = t;
  best.result.hit = true;
  best.result.section = section;
  best.result.triangle = triangle;
  const D3DXVECTOR3 p = origin + dir * t;
  best.result.point = {p.x, p.y, p.z};
  best.result.weights = std::move(weights);
}

// Barycentric weights of p in the tetrahedron a, b, c, d; false when it is flat.
bool Barycentric(const D3DXVECTOR3& p, const D3DXVECTOR3 v[4], float w[4]) {
  const D3DXVECTOR3 e1 = v[1] - v[0], e2 = v[2] - v[0], e3 = v[3] - v[0], r = p - v[0];
  D3DXVECTOR3 c23, c31, c12;
  D3DXVec3Cross(&c23, &e2, &e3);
  D3DXVec3Cross(&c31, &e3, &e1);
  D3DXVec3Cross(&c12, &e1, &e2);
  const float det = D3DXVec3Dot(&e1, &c23);
  if (std::fabs(det) < 1e-20f) return false;
  w[1] = D3DXVec3Dot(&r, &c23) / det;
  w[2] = D3DXVec3Dot(&r, &c31) / det;
  w[3] = D3DXVec3Dot(&r, &c12) / det;
  w[0] = 1 - w[1] - w[2] - w[3];
  return true;
}

// p inside the element: on the centre's side of (or on) the plane of every face, within
// tol. Elements are convex cells.
bool Contains(const qem::Document& document, const qem::Element& element, const D3DXVECTOR3& p, float tol) {
  const D3DXVECTOR3 centre{element.centre.x, element.centre.y, element.centre.z};
  for (const qem::Triangle& face : element.triangles) {
    const D3DXVECTOR3 a = ToVector(document.vertices[face.a]), b = ToVector(document.vertices[face.b]),
                      c = ToVector(document.vertices[face.c]);
    D3DXVECTOR3 n;
    const D3DXVECTOR3 e1 = b - a, e2 = c - a;
    D3DXVec3Cross(&n, &e1, &e2);
    const float length = D3DXVec3Length(&n);
    if (length == 0) continue;
    n = n * (1.0f / length);
    const D3DXVECTOR3 toCentre = centre - a, toPoint = p - a;
    float side = D3DXVec3Dot(&n, &toCentre);
    if (side < 0) n = n * -1.0f;
    if (D3DXVec3Dot(&n, &toPoint) < -tol) return false;
  }
  return true;
}

void Weigh(const qem::Document& document, const qem::Element& element, const D3DXVECTOR3& p,
           std::vector<ProbeWeight>& weights) {
  weights.clear();
  const auto& ids = element.vertexIndices;
  if (ids.size() == 4) {
    D3DXVECTOR3 v[4];
    float w[4];
    for (std::uint32_t i = 0; i < 4; ++i) v[i] = ToVector(document.vertices[ids[i]]);
    if (Barycentric(p, v, w)) {
      for (std::uint32_t i = 0; i < 4; ++i) weights.push_back({ids[i], w[i]});
      return;
    }
  }
  double sum = 0;
  std::vector<double> inverse(ids.size());
  for (std::uint32_t i = 0; i < ids.size(); ++i) {
    const D3DXVECTOR3 d = ToVector(document.vertices[ids[i]]) - p;
    const double distance = D3DXVec3Length(&d);
    if (distance == 0) {
      weights.assign(1, {ids[i], 1.0f});
      return;
    }
    inverse[i] = 1.0 / distance;
    sum += inverse[i];
  }
  for (std::uint32_t i = 0; i < ids.size(); ++i) weights.push_back({ids[i], static_cast<float>(inverse[i] / sum)});
}

bool Inside(const qem::Box& box, const D3DXVECTOR3& p, float tol) {
  return p.x >= box.min.x - tol && p.x <= box.max.x + tol && p.y >= box.min.y - tol && p.y <= box.max.y + tol &&
         p.z >= box.min.z - tol && p.z <= box.max.z + tol;
}

const qem::Element* Find(const qem::Document& document, const qem::OctreeNode* node, const D3DXVECTOR3& p, float tol) {
  if (!node || !Inside(node->box, p, tol)) return nullptr;
  for (const qem::Element* element : node->elements) {
    if (Inside(qem::ElementBox(document, *element), p, tol) && Contains(document, *element, p, tol)) return element;
  }
  if (!node->children[0]) return nullptr;
  for (const auto& child : node->children) {
    if (const qem::Element* element = Find(document, child.get(), p, tol)) return element;
  }
  return nullptr;
}

}  // namespace

PickResult Pick(int x, int y, unsigned width, unsigned height) {
  Candidate best;
  const qem::Document* document = CurrentDocument();
  if (!state.documentReady || !document || width == 0 || height == 0) return best.result;
  const SceneMatrices m = ComputeSceneMatrices(width, height);
  D3DXMATRIX worldView, toClip, fromClip;
  D3DXMatrixMultiply(&worldView, &m.world, &m.view);
  D3DXMatrixMultiply(&toClip, &worldView, &m.projection);
  D3DXMatrixInverse(&fromClip, nullptr, &toClip);
  // The pixel's centre on the near and far planes, back in model coordinates.
  const float nx = (static_cast<float>(x) + 0.5f) / static_cast<float>(width) * 2 - 1;
  const float ny = 1 - (static_cast<float>(y) + 0.5f) / static_cast<float>(height) * 2;
  const D3DXVECTOR3 nearClip{nx, ny, 0}, farClip{nx, ny, 1};
  D3DXVECTOR3 origin, end;
  D3DXVec3TransformCoord(&origin, &nearClip, &fromClip);
  D3DXVec3TransformCoord(&end, &farClip, &fromClip);
  const D3DXVECTOR3 dir = end - origin;

  float t = 0, u = 0, v = 0;
  const std::size_t n = document->boundaryTriangles.size();
  if (state.edgeVertices.size() == 3 * n) {
    for (std::size_t k = 0; k < n; ++k) {
      const std::uint32_t* corner = &state.edgeVertices[3 * k];
      const D3DXVECTOR3 a = ToVector(document->vertices[corner[0]]), b = ToVector(document->vertices[corner[1]]),
                        c = ToVector(document->vertices[corner[2]]);
      if (!Intersect(origin, dir, a, b, c, t, u, v) || !(t < best.t)) continue;
      if (state.cullingOn && CulledAway(toClip, a, b, c)) continue;
      // Only the kept side of the plane is drawn (world coordinates, value >= 0).
      const D3DXVECTOR3 hit = origin + dir * t;
      D3DXVECTOR3 world;
      D3DXVec3TransformCoord(&world, &hit, &m.world);
      const D3DXPLANE& P = state.clipPlane;
      if (P.a * world.x + P.b * world.y + P.c * world.z + P.d < 0) continue;
      Consider(best, t, false, static_cast<std::uint32_t>(k), origin, dir,
               {{corner[0], 1 - u - v}, {corner[1], u}, {corner[2], v}});
    }
  }

  if (state.sectionShown && state.clipIndexBuffer && state.clipVertexBuffer) {
    const Plane P = ModelClipPlane();
    SectionGeometry geometry;
    CutDocument(state.sectionIndex, *document, P, Vec3{-P.a, -P.b, -P.c}, geometry);
    for (std::size_t k = 0; k + 2 < geometry.triangles.size(); k += 3) {
      const std::uint32_t i[3] = {geometry.triangles[k], geometry.triangles[k + 1], geometry.triangles[k + 2]};
      D3DXVECTOR3 corners[3];
      for (int j = 0; j < 3; ++j) {
        const Vec3& p = geometry.positions[i[j]];
        corners[j] = {p.x, p.y, p.z};
      }
      if (!Intersect(origin, dir, corners[0], corners[1], corners[2], t, u, v) || !(t < best.t)) continue;
      if (state.cullingOn && CulledAway(toClip, corners[0], corners[1], corners[2])) continue;
      const float w[3] = {1 - u - v, u, v};
      std::vector<ProbeWeight> weights;
      for (int j = 0; j < 3; ++j) {
        const SectionSource& s = geometry.sources[i[j]];
        weights.push_back({s.vertexA, w[j] * (1 - s.fraction)});
        weights.push_back({s.vertexB, w[j] * s.fraction});
      }
      Consider(best, t, true, static_cast<std::uint32_t>(k / 3), origin, dir, std::move(weights));
    }
  }
  return best.result;
}

void ProbeAtPixel(frame::Point position) {
  const frame::DisplayMode mode = frame::GetDisplayMode();
  PickResult pick = Pick(position.x, position.y, static_cast<unsigned>(mode.width), static_cast<unsigned>(mode.height));
  if (pick.hit) {
    state.probePoint = pick.point;
    state.probeWeights = std::move(pick.weights);
  } else {
    state.probeWeights.clear();
  }
  RefreshStatus();
}

float ProbeValue(const qem::Document& document, const std::vector<ProbeWeight>& weights, float t) {
  double value = 0;
  for (const ProbeWeight& w : weights) value += static_cast<double>(w.weight) * document.ValueAt(w.vertex, t);
  return static_cast<float>(value);
}

bool LocatePoint(const qem::Document& document, const qem::Float3& point, std::vector<ProbeWeight>& weights) {
  const D3DXVECTOR3 p{point.x, point.y, point.z};
  const qem::Element* element = Find(document, document.octree.get(), p, document.NormalisedEpsilon());
  if (!element) return false;
  Weigh(document, *element, p, weights);
  return true;
}

qem::Float3 ToFileUnits(const qem::Document& document, const qem::Float3& p) {
  return {p.x * document.scale + document.centre.x, p.y * document.scale + document.centre.y,
          p.z * document.scale + document.centre.z};
}

qem::Float3 ToNormalised(const qem::Document& document, const qem::Float3& p) {
  const float factor = document.scale != 0 ? 1.0f / document.scale : 0.0f;
  return {(p.x - document.centre.x) * factor, (p.y - document.centre.y) * factor, (p.z - document.centre.z) * factor};
}

}  // namespace engine
