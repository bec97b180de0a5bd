// Validation (the rules in their order, every message) and preparation (bounds,
// normalisation, ranges, epsilon, element vertex sets and centres).

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Common_Code/Cp1250.h"
#include "qem/Prepare.h"
#include "tests/qem/QemTestUtil.h"

namespace {

using qemtest::Tet;

const std::vector<qem::Vertex> kCorners = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

std::string Validate(const qem::Document& doc) {
  qem::LoadControl control;
  qem::ValidateDocument(doc, control);
  if (!control.trace.IsPending()) return "ok";
  EXPECT_EQ(control.trace.Lines().size(), 1u);  // the message alone, no location
  return control.trace.Lines().back();
}

TEST(QemValidate, RulesAndMessagesInOrder) {
  struct Case {
    const char* name;
    std::vector<qem::Vertex> vertices;
    std::vector<std::vector<qem::Triangle>> elements;
    std::vector<std::pair<float, std::vector<float>>> frames;
    std::string message;
  };
  const std::vector<float> four = {0, 1, 2, 3};
  const auto threeTriangles = std::vector<qem::Triangle>{{0, 1, 2}, {0, 1, 3}, {0, 2, 3}};
  const std::vector<Case> cases = {
      {"a valid tetrahedron", kCorners, {Tet(0, 1, 2, 3)}, {{0, four}}, "ok"},
      {"no element, whatever else is wrong", {}, {}, {}, "Siatka musi mieć conajmniej jeden element"_cp},
      {"second element of 3 triangles",
       kCorners,
       {Tet(0, 1, 2, 3), threeTriangles},
       {},
       "Element o indeksie 1 składa się tylko z 3 trójkątów - powinien conajmniej z 4"_cp},
      {"short element before a bad vertex number",
       kCorners,
       {Tet(0, 1, 2, 9), threeTriangles},
       {},
       "Element o indeksie 1 składa się tylko z 3 trójkątów - powinien conajmniej z 4"_cp},
      {"vertex number past the vertices",
       kCorners,
       {Tet(0, 1, 2, 3), Tet(0, 1, 2, 4)},
       {},
       "Element o indeksie 1 odwołuje się do nieistniejącego wierzchołka 4"_cp},
      {"first bad number in triangle order, a before b before c",
       kCorners,
       {{{0, 1, 2}, {0, 7, 5}, {0, 2, 3}, {6, 2, 3}}},
       {},
       "Element o indeksie 0 odwołuje się do nieistniejącego wierzchołka 7"_cp},
      {"elements but no vertices",
       {},
       {Tet(0, 1, 2, 3)},
       {{0, {}}},
       "Element o indeksie 0 odwołuje się do nieistniejącego wierzchołka 0"_cp},
      {"no frame", kCorners, {Tet(0, 1, 2, 3)}, {}, "Nie ma ani jednej klatki"_cp},
      {"equal times",
       kCorners,
       {Tet(0, 1, 2, 3)},
       {{0, four}, {0, four}},
       "Ramka o indeksie 1 ma czas nie większy od poprzedniej"_cp},
      {"falling times",
       kCorners,
       {Tet(0, 1, 2, 3)},
       {{0, four}, {2, four}, {1, four}},
       "Ramka o indeksie 2 ma czas nie większy od poprzedniej"_cp},
      {"wrong value count",
       kCorners,
       {Tet(0, 1, 2, 3)},
       {{0, four}, {1, {1, 2}}},
       "Ramka o indeksie 1 ma liczbę wartości 2 różną od liczby wierzchołków 4"_cp},
      {"all vertices in one point",
       {{2, 2, 2}, {2, 2, 2}, {2, 2, 2}, {2, 2, 2}},
       {Tet(0, 1, 2, 3)},
       {{0, four}},
       "Siatka ma zerowe wymiary"_cp},
      {"a coordinate that is not a number",
       {{0, 0, 0}, {1, 0, 0}, {0, NAN, 0}, {0, 0, 1}},
       {Tet(0, 1, 2, 3)},
       {{0, four}},
       "Wierzchołek o indeksie 2 ma współrzędną, która nie jest liczbą skończoną"_cp},
      {"an infinite first coordinate",
       {{-INFINITY, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
       {Tet(0, 1, 2, 3)},
       {{0, four}},
       "Wierzchołek o indeksie 0 ma współrzędną, która nie jest liczbą skończoną"_cp},
      {"extents past the float range",
       {{-3e38f, 0, 0}, {3e38f, 0, 0}, {0, 1, 0}, {0, 0, 1}},
       {Tet(0, 1, 2, 3)},
       {{0, four}},
       "Siatka ma zbyt duże wymiary"_cp},
      {"a centre past the float range",
       {{2e38f, 0, 0}, {3e38f, 0, 0}, {2e38f, 1, 0}, {2e38f, 0, 1}},
       {Tet(0, 1, 2, 3)},
       {{0, four}},
       "Siatka ma zbyt duże wymiary"_cp},
      {"a time that is no number after the first",
       kCorners,
       {Tet(0, 1, 2, 3)},
       {{0, four}, {NAN, four}},
       "Ramka o indeksie 1 ma czas nie większy od poprzedniej"_cp},
      {"a first time that is no number",
       kCorners,
       {Tet(0, 1, 2, 3)},
       {{NAN, four}, {1, four}},
       "Ramka o indeksie 1 ma czas nie większy od poprzedniej"_cp},
      {"a tiny but positive size",
       {{0, 0, 0}, {1e-44f, 0, 0}, {0, 1e-45f, 0}, {0, 0, 1e-45f}},
       {Tet(0, 1, 2, 3)},
       {{0, four}},
       "ok"},
      {"a flat mesh still has a size",
       {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}},
       {Tet(0, 1, 2, 3)},
       {{0, four}},
       "ok"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qem::Document doc;
    qemtest::Fill(doc, c.vertices, c.elements, c.frames);
    EXPECT_EQ(Validate(doc), c.message);
  }
}

// Validation starts its count from 0 whatever the reading left, one per element checked.
TEST(QemValidate, CountsItsOwnProgressFromZero) {
  qem::Document doc;
  qemtest::Fill(doc, kCorners, {Tet(0, 1, 2, 3), Tet(0, 1, 2, 3)}, {{0, {0, 1, 2, 3}}});
  qem::LoadControl control;
  control.progressCount = 5;
  control.progressTotal = 7;
  qem::ValidateDocument(doc, control);
  ASSERT_FALSE(control.trace.IsPending());
  EXPECT_EQ(control.progressCount.load(), 2u);
  EXPECT_EQ(control.progressTotal.load(), 2u);
}

// Extents far below the float range's normal numbers (down to one step of the smallest
// subnormal) normalise to the same cube as any other mesh: finite, from -1 to 1.
TEST(QemPrepare, TinyExtentsNormaliseLikeAnyOther) {
  for (const float unit : {1e-30f, 5e-39f, 1e-42f}) {
    SCOPED_TRACE(unit);
    qem::Document doc;
    qemtest::Fill(doc, {{0, 0, 0}, {2 * unit, 0, 0}, {0, 4 * unit, 0}, {2 * unit, 4 * unit, 8 * unit}},
                  {Tet(0, 1, 2, 3)}, {{0, {0, 0, 0, 0}}});
    qem::LoadControl control;
    qem::ValidateDocument(doc, control);
    ASSERT_FALSE(control.trace.IsPending());
    qem::PrepareDocument(doc, control);
    EXPECT_FLOAT_EQ(doc.vertices[0].z, -1);
    EXPECT_FLOAT_EQ(doc.vertices[3].x, 0.25f);
    EXPECT_FLOAT_EQ(doc.vertices[3].y, 0.5f);
    EXPECT_FLOAT_EQ(doc.vertices[3].z, 1);
    EXPECT_FLOAT_EQ(doc.elements[0].centre.z, -0.5f);
  }
  // One step of the smallest subnormal: the extent's half is no float, the cube still is.
  qem::Document doc;
  const float step = std::numeric_limits<float>::denorm_min();
  qemtest::Fill(doc, {{0, 0, 0}, {step, 0, 0}, {0, 0, 0}, {0, 0, 0}}, {Tet(0, 1, 2, 3)}, {{0, {0, 0, 0, 0}}});
  qem::LoadControl control;
  qem::ValidateDocument(doc, control);
  ASSERT_FALSE(control.trace.IsPending());
  qem::PrepareDocument(doc, control);
  for (const qem::Vertex& v : doc.vertices) {
    EXPECT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z));
    EXPECT_LE(std::fabs(v.x), 1.0f);
  }
}

TEST(QemPrepare, BoundsScaleCentreEpsilonAndNormalisation) {
  qem::Document doc;
  qemtest::Fill(doc, {{0, 0, 0}, {2, 0, 0}, {0, 4, 0}, {2, 4, 8}}, {Tet(0, 1, 2, 3)}, {{0, {0, 0, 0, 0}}});
  qem::LoadControl control;
  control.progressCount = 5;
  qem::PrepareDocument(doc, control);
  // Counted from 0 again, one per element prepared, of the element count.
  EXPECT_EQ(control.progressCount.load(), 1u);
  EXPECT_EQ(control.progressTotal.load(), 1u);
  EXPECT_EQ(doc.boundsMin.x, 0);
  EXPECT_EQ(doc.boundsMax.z, 8);
  EXPECT_EQ(doc.scale, 4);
  EXPECT_EQ(doc.centre.x, 1);
  EXPECT_EQ(doc.centre.y, 2);
  EXPECT_EQ(doc.centre.z, 4);
  EXPECT_FLOAT_EQ(doc.epsilon, 0.002f);
  EXPECT_FLOAT_EQ(doc.NormalisedEpsilon(), 0.0005f);
  EXPECT_EQ(doc.vertices[3].x, 0.25f);
  EXPECT_EQ(doc.vertices[3].y, 0.5f);
  EXPECT_EQ(doc.vertices[3].z, 1);
  EXPECT_EQ(doc.vertices[0].z, -1);
}

TEST(QemPrepare, FourByTwoByOneBox) {
  qem::Document doc;
  qemtest::Fill(doc, {{0, 0, 0}, {4, 0, 0}, {0, 2, 0}, {4, 2, 1}}, {Tet(0, 1, 2, 3)}, {{0, {0, 0, 0, 0}}});
  qem::LoadControl control;
  qem::PrepareDocument(doc, control);
  EXPECT_EQ(doc.scale, 2);
  EXPECT_FLOAT_EQ(doc.epsilon, 0.001f);
  EXPECT_EQ(doc.vertices[0].x, -1);
  EXPECT_EQ(doc.vertices[1].x, 1);
  EXPECT_EQ(doc.vertices[0].y, -0.5f);
  EXPECT_EQ(doc.vertices[3].y, 0.5f);
  EXPECT_EQ(doc.vertices[0].z, -0.25f);
  EXPECT_EQ(doc.vertices[3].z, 0.25f);
}

TEST(QemPrepare, TimeAndValueRanges) {
  qem::Document doc;
  qemtest::Fill(doc, kCorners, {Tet(0, 1, 2, 3)}, {{0, {1, 2, 3, 4}}, {1, {-3, 0, 0, 0}}, {2, {0, 7, 0, 0}}});
  qem::LoadControl control;
  qem::PrepareDocument(doc, control);
  EXPECT_EQ(doc.timeMin, 0);
  EXPECT_EQ(doc.timeMax, 2);
  EXPECT_EQ(doc.valueMin, -3);
  EXPECT_EQ(doc.valueMax, 7);
}

TEST(QemPrepare, ElementVertexSetsAndCentres) {
  qem::Document doc;
  // Element 1 repeats numbers and lists them out of order; element 2 writes a face twice.
  qemtest::Fill(
      doc, {{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {0, 0, 2}, {2, 2, 2}},
      {Tet(0, 1, 2, 3), {{4, 3, 2}, {3, 2, 4}, {2, 4, 1}, {1, 1, 4}}, {{0, 1, 2}, {0, 1, 2}, {0, 1, 3}, {1, 2, 3}}},
      {{0, {0, 0, 0, 0, 0}}});
  qem::LoadControl control;
  qem::PrepareDocument(doc, control);
  const auto indices = [](const qem::Element& e) {
    return std::vector<std::uint32_t>(e.vertexIndices.begin(), e.vertexIndices.end());
  };
  EXPECT_EQ(indices(doc.elements[0]), (std::vector<std::uint32_t>{0, 1, 2, 3}));
  EXPECT_EQ(indices(doc.elements[1]), (std::vector<std::uint32_t>{1, 2, 3, 4}));
  EXPECT_EQ(indices(doc.elements[2]), (std::vector<std::uint32_t>{0, 1, 2, 3}));
  // Normalised: the box (0,0,0)-(2,2,2) becomes the cube -1..1.
  EXPECT_FLOAT_EQ(doc.elements[0].centre.x, -0.5f);
  EXPECT_FLOAT_EQ(doc.elements[0].centre.y, -0.5f);
  EXPECT_FLOAT_EQ(doc.elements[1].centre.x, 0.0f);
  EXPECT_FLOAT_EQ(doc.elements[1].centre.z, 0.0f);
}

TEST(QemPrepare, ACancelStopsAfterTheElementBeingPrepared) {
  qem::Document doc;
  qemtest::Fill(doc, kCorners, {Tet(0, 1, 2, 3), Tet(0, 1, 2, 3)}, {{0, {0, 0, 0, 0}}});
  qem::LoadControl control;
  control.Cancel();
  qem::PrepareDocument(doc, control);
  EXPECT_EQ(doc.elements[0].vertexIndices.size(), 4u);
  EXPECT_TRUE(doc.elements[1].vertexIndices.empty());
}

}  // namespace
