#pragma once
// Matrices, planes and vectors with the meaning of the D3DX functions of the same names:
// left-handed coordinates, row vectors (a point p transforms as p * M), planes (a, b, c, d)
// whose value at a point is a x + b y + c z + d. Each function writes *out and returns out,
// as D3DX does; out may alias an input. All arithmetic is in 32-bit float.

#include "gfx/Device.h"

namespace gfx {

using D3DXMATRIX = D3DMATRIX;
using D3DXVECTOR3 = D3DVECTOR;

struct D3DXPLANE {
  float a = 0, b = 0, c = 0, d = 0;
};

struct D3DXVECTOR4 {
  float x = 0, y = 0, z = 0, w = 0;
};

inline D3DVECTOR operator+(const D3DVECTOR& p, const D3DVECTOR& q) { return {p.x + q.x, p.y + q.y, p.z + q.z}; }
inline D3DVECTOR operator-(const D3DVECTOR& p, const D3DVECTOR& q) { return {p.x - q.x, p.y - q.y, p.z - q.z}; }
inline D3DVECTOR operator*(const D3DVECTOR& p, float s) { return {p.x * s, p.y * s, p.z * s}; }
inline D3DVECTOR operator*(float s, const D3DVECTOR& p) { return p * s; }
inline bool operator==(const D3DVECTOR& p, const D3DVECTOR& q) { return p.x == q.x && p.y == q.y && p.z == q.z; }

// Vectors.
float D3DXVec3Dot(const D3DXVECTOR3* v1, const D3DXVECTOR3* v2);
float D3DXVec3Length(const D3DXVECTOR3* v);
D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* v1, const D3DXVECTOR3* v2);
// v / |v|; a zero vector stays zero.
D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v);
// (x, y, z, 1) * m, divided by the resulting w.
D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
// (x, y, z, 0) * m: a direction, without translation.
D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
// (x, y, z, 1) * m.
D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);

// Matrices.
D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out);
// m1 * m2: the transform of m1 followed by that of m2.
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* m1, const D3DXMATRIX* m2);
D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m);
// The inverse; nullptr (and *out untouched) when m is singular. determinant may be null.
D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* determinant, const D3DXMATRIX* m);
// Rotations by angle radians, clockwise when looking along the axis towards the origin
// (left-handed).
D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z);
D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz);
// View matrix of a camera at eye looking at at, up giving the upward direction.
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at, const D3DXVECTOR3* up);
// Perspective projection: vertical field of view fovY (radians), aspect = width / height,
// depth zn..zf mapped to 0..1.
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zn, float zf);
// Orthographic projection of a w x h view volume centred on the axis, depth zn..zf to 0..1.
D3DXMATRIX* D3DXMatrixOrthoLH(D3DXMATRIX* out, float w, float h, float zn, float zf);

// Planes.
float D3DXPlaneDotCoord(const D3DXPLANE* p, const D3DXVECTOR3* v);
// a, b, c and d divided by |(a, b, c)|; a plane with a zero normal becomes all zero.
D3DXPLANE* D3DXPlaneNormalize(D3DXPLANE* out, const D3DXPLANE* p);
// normal = unit((p1 - p0) x (p2 - p0)), d = -normal . p0.
D3DXPLANE* D3DXPlaneFromPoints(D3DXPLANE* out, const D3DXVECTOR3* p0, const D3DXVECTOR3* p1, const D3DXVECTOR3* p2);
D3DXPLANE* D3DXPlaneFromPointNormal(D3DXPLANE* out, const D3DXVECTOR3* point, const D3DXVECTOR3* normal);
// The plane as a row vector (a, b, c, d) multiplied by m. To move a plane by a transform T,
// pass the inverse transpose of T.
D3DXPLANE* D3DXPlaneTransform(D3DXPLANE* out, const D3DXPLANE* p, const D3DXMATRIX* m);

}  // namespace gfx
