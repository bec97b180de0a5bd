#include "gfx/Math.h"

#include <cmath>

namespace gfx {

float D3DXVec3Dot(const D3DXVECTOR3* v1, const D3DXVECTOR3* v2) {
  return v1->x * v2->x + v1->y * v2->y + v1->z * v2->z;
}

float D3DXVec3Length(const D3DXVECTOR3* v) { return std::sqrt(D3DXVec3Dot(v, v)); }

D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* v1, const D3DXVECTOR3* v2) {
  const D3DXVECTOR3 r{v1->y * v2->z - v1->z * v2->y, v1->z * v2->x - v1->x * v2->z, v1->x * v2->y - v1->y * v2->x};
  *out = r;
  return out;
}

D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v) {
  const float length = D3DXVec3Length(v);
  if (length == 0.0f) {
    *out = D3DXVECTOR3{};
  } else {
    *out = D3DXVECTOR3{v->x / length, v->y / length, v->z / length};
  }
  return out;
}

D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
  const auto& a = m->m;
  const D3DXVECTOR4 r{v->x * a[0][0] + v->y * a[1][0] + v->z * a[2][0] + a[3][0],
                      v->x * a[0][1] + v->y * a[1][1] + v->z * a[2][1] + a[3][1],
                      v->x * a[0][2] + v->y * a[1][2] + v->z * a[2][2] + a[3][2],
                      v->x * a[0][3] + v->y * a[1][3] + v->z * a[2][3] + a[3][3]};
  *out = r;
  return out;
}

D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
  D3DXVECTOR4 r;
  D3DXVec3Transform(&r, v, m);
  const float inv = r.w != 0.0f ? 1.0f / r.w : 0.0f;
  *out = D3DXVECTOR3{r.x * inv, r.y * inv, r.z * inv};
  return out;
}

D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
  const auto& a = m->m;
  const D3DXVECTOR3 r{v->x * a[0][0] + v->y * a[1][0] + v->z * a[2][0],
                      v->x * a[0][1] + v->y * a[1][1] + v->z * a[2][1],
                      v->x * a[0][2] + v->y * a[1][2] + v->z * a[2][2]};
  *out = r;
  return out;
}

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
  *out = D3DXMATRIX{};
  for (int i = 0; i < 4; ++i) out->m[i][i] = 1.0f;
  return out;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* m1, const D3DXMATRIX* m2) {
  D3DXMATRIX r;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      r.m[i][j] =
          m1->m[i][0] * m2->m[0][j] + m1->m[i][1] * m2->m[1][j] + m1->m[i][2] * m2->m[2][j] + m1->m[i][3] * m2->m[3][j];
    }
  }
  *out = r;
  return out;
}

D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m) {
  D3DXMATRIX r;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) r.m[i][j] = m->m[j][i];
  }
  *out = r;
  return out;
}

D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* determinant, const D3DXMATRIX* m) {
  // Cofactor expansion in double, so a well-conditioned float matrix inverts to float
  // precision.
  double a[16];
  for (int i = 0; i < 16; ++i) a[i] = m->m[i / 4][i % 4];
  double inv[16];
  inv[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] + a[9] * a[7] * a[14] +
           a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
  inv[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] - a[8] * a[7] * a[14] -
           a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
  inv[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] + a[8] * a[7] * a[13] +
           a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
  inv[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] - a[8] * a[6] * a[13] -
            a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
  inv[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] - a[9] * a[3] * a[14] -
           a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
  inv[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] + a[8] * a[3] * a[14] +
           a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
  inv[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] - a[8] * a[3] * a[13] -
           a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
  inv[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] + a[8] * a[2] * a[13] +
            a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
  inv[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] + a[13] * a[2] * a[7] -
           a[13] * a[3] * a[6];
  inv[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] - a[4] * a[3] * a[14] -
           a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
  inv[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] + a[4] * a[3] * a[13] +
            a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
  inv[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] - a[4] * a[2] * a[13] -
            a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
  inv[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] - a[5] * a[3] * a[10] - a[9] * a[2] * a[7] +
           a[9] * a[3] * a[6];
  inv[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] + a[8] * a[2] * a[7] -
           a[8] * a[3] * a[6];
  inv[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] - a[8] * a[1] * a[7] +
            a[8] * a[3] * a[5];
  inv[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] + a[8] * a[1] * a[6] -
            a[8] * a[2] * a[5];
  const double det = a[0] * inv[0] + a[1] * inv[4] + a[2] * inv[8] + a[3] * inv[12];
  if (determinant) *determinant = static_cast<float>(det);
  if (det == 0.0) return nullptr;
  for (int i = 0; i < 16; ++i) out->m[i / 4][i % 4] = static_cast<float>(inv[i] / det);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  D3DXMatrixIdentity(out);
  out->m[1][1] = c;
  out->m[1][2] = s;
  out->m[2][1] = -s;
  out->m[2][2] = c;
  return out;
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  D3DXMatrixIdentity(out);
  out->m[0][0] = c;
  out->m[0][2] = -s;
  out->m[2][0] = s;
  out->m[2][2] = c;
  return out;
}

D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  D3DXMatrixIdentity(out);
  out->m[0][0] = c;
  out->m[0][1] = s;
  out->m[1][0] = -s;
  out->m[1][1] = c;
  return out;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z) {
  D3DXMatrixIdentity(out);
  out->m[3][0] = x;
  out->m[3][1] = y;
  out->m[3][2] = z;
  return out;
}

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz) {
  D3DXMatrixIdentity(out);
  out->m[0][0] = sx;
  out->m[1][1] = sy;
  out->m[2][2] = sz;
  return out;
}

D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at, const D3DXVECTOR3* up) {
  D3DXVECTOR3 zaxis = *at - *eye;
  D3DXVec3Normalize(&zaxis, &zaxis);
  D3DXVECTOR3 xaxis;
  D3DXVec3Cross(&xaxis, up, &zaxis);
  D3DXVec3Normalize(&xaxis, &xaxis);
  D3DXVECTOR3 yaxis;
  D3DXVec3Cross(&yaxis, &zaxis, &xaxis);
  D3DXMATRIX r;
  r.m[0][0] = xaxis.x;
  r.m[1][0] = xaxis.y;
  r.m[2][0] = xaxis.z;
  r.m[0][1] = yaxis.x;
  r.m[1][1] = yaxis.y;
  r.m[2][1] = yaxis.z;
  r.m[0][2] = zaxis.x;
  r.m[1][2] = zaxis.y;
  r.m[2][2] = zaxis.z;
  r.m[3][0] = -D3DXVec3Dot(&xaxis, eye);
  r.m[3][1] = -D3DXVec3Dot(&yaxis, eye);
  r.m[3][2] = -D3DXVec3Dot(&zaxis, eye);
  r.m[3][3] = 1.0f;
  *out = r;
  return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zn, float zf) {
  const float yScale = 1.0f / std::tan(fovY / 2.0f);
  const float xScale = yScale / aspect;
  *out = D3DXMATRIX{};
  out->m[0][0] = xScale;
  out->m[1][1] = yScale;
  out->m[2][2] = zf / (zf - zn);
  out->m[2][3] = 1.0f;
  out->m[3][2] = -zn * zf / (zf - zn);
  return out;
}

D3DXMATRIX* D3DXMatrixOrthoLH(D3DXMATRIX* out, float w, float h, float zn, float zf) {
  D3DXMatrixIdentity(out);
  out->m[0][0] = 2.0f / w;
  out->m[1][1] = 2.0f / h;
  out->m[2][2] = 1.0f / (zf - zn);
  out->m[3][2] = zn / (zn - zf);
  return out;
}

float D3DXPlaneDotCoord(const D3DXPLANE* p, const D3DXVECTOR3* v) {
  return p->a * v->x + p->b * v->y + p->c * v->z + p->d;
}

D3DXPLANE* D3DXPlaneNormalize(D3DXPLANE* out, const D3DXPLANE* p) {
  const float length = std::sqrt(p->a * p->a + p->b * p->b + p->c * p->c);
  if (length == 0.0f) {
    *out = D3DXPLANE{};
  } else {
    *out = D3DXPLANE{p->a / length, p->b / length, p->c / length, p->d / length};
  }
  return out;
}

D3DXPLANE* D3DXPlaneFromPointNormal(D3DXPLANE* out, const D3DXVECTOR3* point, const D3DXVECTOR3* normal) {
  *out = D3DXPLANE{normal->x, normal->y, normal->z, -D3DXVec3Dot(point, normal)};
  return out;
}

D3DXPLANE* D3DXPlaneFromPoints(D3DXPLANE* out, const D3DXVECTOR3* p0, const D3DXVECTOR3* p1, const D3DXVECTOR3* p2) {
  const D3DXVECTOR3 e1 = *p1 - *p0;
  const D3DXVECTOR3 e2 = *p2 - *p0;
  D3DXVECTOR3 normal;
  D3DXVec3Cross(&normal, &e1, &e2);
  D3DXVec3Normalize(&normal, &normal);
  return D3DXPlaneFromPointNormal(out, p0, &normal);
}

D3DXPLANE* D3DXPlaneTransform(D3DXPLANE* out, const D3DXPLANE* p, const D3DXMATRIX* m) {
  const auto& a = m->m;
  const D3DXPLANE r{p->a * a[0][0] + p->b * a[1][0] + p->c * a[2][0] + p->d * a[3][0],
                    p->a * a[0][1] + p->b * a[1][1] + p->c * a[2][1] + p->d * a[3][1],
                    p->a * a[0][2] + p->b * a[1][2] + p->c * a[2][2] + p->d * a[3][2],
                    p->a * a[0][3] + p->b * a[1][3] + p->c * a[2][3] + p->d * a[3][3]};
  *out = r;
  return out;
}

}  // namespace gfx
