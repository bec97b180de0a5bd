#include "gfx/Math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

using namespace gfx;

constexpr float kHalfPi = std::numbers::pi_v<float> / 2;

void ExpectNear(const D3DXVECTOR3& v, float x, float y, float z, float tol = 1e-5f) {
  EXPECT_NEAR(v.x, x, tol);
  EXPECT_NEAR(v.y, y, tol);
  EXPECT_NEAR(v.z, z, tol);
}

D3DXVECTOR3 Apply(const D3DXMATRIX& m, D3DXVECTOR3 p) {
  D3DXVec3TransformCoord(&p, &p, &m);
  return p;
}

// Left-handed rotations: looking from the positive end of the axis towards the origin, a
// positive angle turns clockwise. These fix the row-vector layout, which a transposed
// (column-vector) implementation gets backwards.
TEST(Math, RotationsAreLeftHandedRowVector) {
  struct Case {
    D3DXMATRIX* (*rotate)(D3DXMATRIX*, float);
    D3DXVECTOR3 in, out;
  };
  const Case cases[] = {
      {D3DXMatrixRotationX, {0, 1, 0}, {0, 0, 1}},  {D3DXMatrixRotationX, {0, 0, 1}, {0, -1, 0}},
      {D3DXMatrixRotationY, {1, 0, 0}, {0, 0, -1}}, {D3DXMatrixRotationY, {0, 0, 1}, {1, 0, 0}},
      {D3DXMatrixRotationZ, {1, 0, 0}, {0, 1, 0}},
  };
  for (const auto& c : cases) {
    D3DXMATRIX m;
    c.rotate(&m, kHalfPi);
    ExpectNear(Apply(m, c.in), c.out.x, c.out.y, c.out.z);
  }
}

TEST(Math, MultiplyAppliesTheLeftMatrixFirst) {
  D3DXMATRIX t, r, tr, rt;
  D3DXMatrixTranslation(&t, 1, 0, 0);
  D3DXMatrixRotationY(&r, kHalfPi);
  D3DXMatrixMultiply(&tr, &t, &r);  // move, then turn
  D3DXMatrixMultiply(&rt, &r, &t);  // turn, then move
  ExpectNear(Apply(tr, {0, 0, 0}), 0, 0, -1);
  ExpectNear(Apply(rt, {0, 0, 0}), 1, 0, 0);
  // Aliasing the output with an input still gives the product.
  D3DXMatrixMultiply(&t, &t, &r);
  ExpectNear(Apply(t, {0, 0, 0}), 0, 0, -1);
}

TEST(Math, TransposeAndInverse) {
  D3DXMATRIX r, t, m, inv, product;
  D3DXMatrixRotationX(&r, 0.7f);
  D3DXMatrixTranslation(&t, 2, -3, 5);
  D3DXMatrixMultiply(&m, &r, &t);
  ASSERT_NE(D3DXMatrixInverse(&inv, nullptr, &m), nullptr);
  D3DXMatrixMultiply(&product, &m, &inv);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(product.m[i][j], i == j ? 1.0f : 0.0f, 1e-5f);
  }
  D3DXMATRIX tr;
  D3DXMatrixTranspose(&tr, &m);
  EXPECT_EQ(tr.m[3][0], m.m[0][3]);
  EXPECT_EQ(tr.m[0][3], 2.0f);

  D3DXMATRIX singular{}, untouched;
  D3DXMatrixIdentity(&untouched);
  float det = 1;
  EXPECT_EQ(D3DXMatrixInverse(&untouched, &det, &singular), nullptr);
  EXPECT_EQ(det, 0.0f);
  EXPECT_EQ(untouched.m[0][0], 1.0f);
}

// The camera of the viewer: at (0, 0, -4) looking at the origin, y up.
TEST(Math, LookAtPutsTheTargetAlongPositiveZ) {
  D3DXMATRIX view;
  const D3DXVECTOR3 eye{0, 0, -4}, at{0, 0, 0}, up{0, 1, 0};
  D3DXMatrixLookAtLH(&view, &eye, &at, &up);
  ExpectNear(Apply(view, {0, 0, 0}), 0, 0, 4);
  ExpectNear(Apply(view, {1, 2, 0}), 1, 2, 4);  // x right, y up: left-handed
  // Looking along +x: world +z appears on the left (view -x).
  const D3DXVECTOR3 eye2{-5, 0, 0};
  D3DXMatrixLookAtLH(&view, &eye2, &at, &up);
  ExpectNear(Apply(view, {0, 0, 1}), -1, 0, 5);
}

TEST(Math, ProjectionsMapDepthToZeroOne) {
  D3DXMATRIX p;
  D3DXMatrixPerspectiveFovLH(&p, kHalfPi, 2.0f, 1.0f, 11.0f);
  ExpectNear(Apply(p, {0, 0, 1}), 0, 0, 0);
  ExpectNear(Apply(p, {0, 0, 11}), 0, 0, 1);
  // fov 90 degrees: y = z is the top edge; x scaled by 1 / aspect.
  ExpectNear(Apply(p, {4, 2, 2}), 1, 1, Apply(p, {0, 0, 2}).z);
  EXPECT_EQ(p.m[2][3], 1.0f);

  D3DXMatrixOrthoLH(&p, 4, 2, 1, 3);
  ExpectNear(Apply(p, {2, -1, 1}), 1, -1, 0);
  ExpectNear(Apply(p, {0, 0, 3}), 0, 0, 1);
}

TEST(Math, VectorsAndPlanes) {
  D3DXVECTOR3 v{3, 0, 4}, n;
  D3DXVec3Normalize(&n, &v);
  ExpectNear(n, 0.6f, 0, 0.8f);
  const D3DXVECTOR3 zero{};
  D3DXVec3Normalize(&n, &zero);
  EXPECT_EQ(n, zero);  // a zero vector stays zero, no NaN

  D3DXPLANE p;
  const D3DXVECTOR3 p0{0, 0, 2}, p1{1, 0, 2}, p2{0, 1, 2};
  D3DXPlaneFromPoints(&p, &p0, &p1, &p2);
  EXPECT_FLOAT_EQ(p.c, 1.0f);
  EXPECT_FLOAT_EQ(p.d, -2.0f);
  const D3DXVECTOR3 above{5, 5, 3};
  EXPECT_FLOAT_EQ(D3DXPlaneDotCoord(&p, &above), 1.0f);

  const D3DXPLANE unnormal{0, 0, 2, 4};
  D3DXPlaneNormalize(&p, &unnormal);
  EXPECT_FLOAT_EQ(p.c, 1.0f);
  EXPECT_FLOAT_EQ(p.d, 2.0f);  // d is divided too
  const D3DXPLANE flat{0, 0, 0, 3};
  D3DXPlaneNormalize(&p, &flat);
  EXPECT_EQ(p.d, 0.0f);
}

// A plane moves with a transform T when multiplied by the inverse transpose of T.
TEST(Math, PlaneTransformIsRowVectorTimesMatrix) {
  D3DXMATRIX t, inv, it;
  D3DXMatrixTranslation(&t, 0, 0, 3);
  D3DXMatrixInverse(&inv, nullptr, &t);
  D3DXMatrixTranspose(&it, &inv);
  const D3DXPLANE z0{0, 0, 1, 0};
  D3DXPLANE moved;
  D3DXPlaneTransform(&moved, &z0, &it);
  EXPECT_FLOAT_EQ(moved.c, 1.0f);
  EXPECT_FLOAT_EQ(moved.d, -3.0f);  // now z = 3

  // The engine's use: rotation R, plane times R transposed = the plane in R's own frame.
  D3DXMATRIX r, rt;
  D3DXMatrixRotationY(&r, kHalfPi);
  D3DXMatrixTranspose(&rt, &r);
  const D3DXPLANE world{0, 0, 1, 0.5f};
  D3DXPlaneTransform(&moved, &world, &rt);
  // A model point q shows up in the world at q * R; its value must not change.
  const D3DXVECTOR3 q{0.25f, 0, 0};
  const D3DXVECTOR3 qWorld = Apply(r, q);
  EXPECT_NEAR(D3DXPlaneDotCoord(&moved, &q), D3DXPlaneDotCoord(&world, &qWorld), 1e-6f);
  EXPECT_FLOAT_EQ(moved.d, 0.5f);
}

}  // namespace
