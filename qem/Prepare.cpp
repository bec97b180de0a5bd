#include "qem/Prepare.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "Common_Code/Conversions.h"
#include "Common_Code/Cp1250.h"

namespace qem {

namespace {

void Bounds(const Document& doc, Float3& lo, Float3& hi) {
  const Vertex& first = doc.vertices.front();
  lo = hi = {first.x, first.y, first.z};
  for (const Vertex& v : doc.vertices) {
    if (v.x < lo.x) lo.x = v.x;
    if (v.y < lo.y) lo.y = v.y;
    if (v.z < lo.z) lo.z = v.z;
    if (v.x > hi.x) hi.x = v.x;
    if (v.y > hi.y) hi.y = v.y;
    if (v.z > hi.z) hi.z = v.z;
  }
}

float LargestExtent(const Float3& lo, const Float3& hi) {
  const float ex = hi.x - lo.x, ey = hi.y - lo.y, ez = hi.z - lo.z;
  return std::max(ex, std::max(ey, ez));
}

constexpr std::size_t kProgressEvery = 4096;

std::string Number(std::size_t n) { return ToText(static_cast<std::uint32_t>(n)); }

// Elements go over to two threads from this many on: the second half on a thread of its
// own, the first on the calling one. Elements are independent, so the halves give what one
// thread gives; a failure found names the first element in file order all the same.
constexpr std::size_t kTwoThreadsFrom = std::size_t{1} << 15;

// Runs work(begin, end, side) on [0, count): on two threads, halves split at a block of
// kProgressEvery, when count is large and a second thread starts, else whole on this one.
// A std::bad_alloc on the second thread is thrown again here once both halves are done.
template <class Work>
void OverElements(std::size_t count, const Work& work) {
  if (count < kTwoThreadsFrom) return work(std::size_t{0}, count, false);
  const std::size_t middle = count / 2 / kProgressEvery * kProgressEvery;
  bool outOfMemory = false;
  std::thread side;
  try {
    side = std::thread([&] {
      try {
        work(middle, count, true);
      } catch (const std::bad_alloc&) {
        outOfMemory = true;
      }
    });
  } catch (const std::system_error&) {
    return work(std::size_t{0}, count, false);
  }
  struct Join {
    std::thread& thread;
    ~Join() {
      if (thread.joinable()) thread.join();  // this half ran out of memory
    }
  } join{side};
  work(std::size_t{0}, middle, false);
  side.join();
  if (outOfMemory) throw std::bad_alloc();
}

}  // namespace

void ValidateDocument(const Document& doc, LoadControl& control) {
  control.ResetProgress(static_cast<std::uint32_t>(doc.elements.size()));
  auto fail = [&](const std::string& message) { control.trace.Raise(message, "", 0); };

  if (doc.elements.empty()) return fail("Siatka musi mieć conajmniej jeden element"_cp);

  std::size_t i = 0;
  for (const Element& element : doc.elements) {
    if (element.triangles.size() < 4) {
      return fail("Element o indeksie "_cp + Number(i) + " składa się tylko z "_cp + Number(element.triangles.size()) +
                  " trójkątów - powinien conajmniej z 4"_cp);
    }
    ++i;
  }

  // A vertex number past the vertex array would send every later step out of bounds.
  const std::uint32_t vertexCount = doc.VertexCount();
  const std::size_t count = doc.elements.size();
  // Per half: the first element with a vertex number past the array, and that number.
  struct Bad {
    std::size_t element = SIZE_MAX;
    std::uint32_t vertex = 0;
  } bad[2];
  std::atomic<std::size_t> sideDone{0};
  OverElements(count, [&](std::size_t begin, std::size_t end, bool side) {
    Bad& found = bad[side ? 1 : 0];
    for (std::size_t e = begin; e < end; ++e) {
      for (const Triangle& t : doc.elements[e].triangles) {
        for (const std::uint32_t v : {t.a, t.b, t.c}) {
          if (v >= vertexCount) {
            found = {e, v};
            return;
          }
        }
      }
      if ((e + 1 - begin) % kProgressEvery == 0) {
        if (side) {
          sideDone.store(e + 1 - begin, std::memory_order_relaxed);
        } else {
          control.SetProgress(static_cast<std::uint32_t>(e + 1 + sideDone.load(std::memory_order_relaxed)));
        }
        if (control.Cancelled()) return;  // a large mesh takes a while; closing need not wait
      }
    }
  });
  if (control.Cancelled()) return;
  for (const Bad& found : bad) {
    if (found.element != SIZE_MAX) {
      return fail("Element o indeksie "_cp + Number(found.element) +
                  " odwołuje się do nieistniejącego wierzchołka "_cp + ToText(found.vertex));
    }
  }
  control.SetProgress(static_cast<std::uint32_t>(count));

  if (doc.frames.empty()) return fail("Nie ma ani jednej klatki"_cp);
  for (i = 0; i < doc.frames.size(); ++i) {
    const TimeFrame& frame = doc.frames[i];
    if (i > 0 && !(doc.frames[i - 1].time < frame.time)) {
      return fail("Ramka o indeksie "_cp + Number(i) + " ma czas nie większy od poprzedniej"_cp);
    }
    if (frame.values.size() != vertexCount) {
      return fail("Ramka o indeksie "_cp + Number(i) + " ma liczbę wartości "_cp + Number(frame.values.size()) +
                  " różną od liczby wierzchołków "_cp + Number(vertexCount));
    }
  }

  // A coordinate that is no finite number would turn the bounds, and with them every
  // normalised position, into infinities and NaNs.
  for (i = 0; i < doc.vertices.size(); ++i) {
    const Vertex& v = doc.vertices[i];
    if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) {
      return fail("Wierzchołek o indeksie "_cp + Number(i) + " ma współrzędną, która nie jest liczbą skończoną"_cp);
    }
  }

  // All vertices in one point: there is no size to normalise by. Extents past the float
  // range likewise.
  Float3 lo, hi;
  Bounds(doc, lo, hi);
  const float extent = LargestExtent(lo, hi);
  if (extent == 0) return fail("Siatka ma zerowe wymiary"_cp);
  if (!std::isfinite(extent) || !std::isfinite(lo.x + hi.x) || !std::isfinite(lo.y + hi.y) ||
      !std::isfinite(lo.z + hi.z)) {
    return fail("Siatka ma zbyt duże wymiary"_cp);
  }
}

void PrepareDocument(Document& doc, LoadControl& control) {
  control.ResetProgress(static_cast<std::uint32_t>(doc.elements.size()));
  if (doc.vertices.empty() || doc.frames.empty()) return;  // validation refuses such documents

  Bounds(doc, doc.boundsMin, doc.boundsMax);
  const Float3 lo = doc.boundsMin, hi = doc.boundsMax;
  // In double: half of a tiny extent, its reciprocal and the centre are past what floats
  // resolve (an extent below about 6e-39 would make every position infinite), while every
  // positive finite extent gives a finite factor and positions within -1 to 1.
  const double half = 0.5 * static_cast<double>(LargestExtent(lo, hi));
  const double cx = 0.5 * (static_cast<double>(lo.x) + hi.x), cy = 0.5 * (static_cast<double>(lo.y) + hi.y),
               cz = 0.5 * (static_cast<double>(lo.z) + hi.z);
  doc.scale = static_cast<float>(half);
  doc.centre = {static_cast<float>(cx), static_cast<float>(cy), static_cast<float>(cz)};
  const double factor = 1.0 / half;
  for (Vertex& v : doc.vertices) {
    v.x = static_cast<float>((v.x - cx) * factor);
    v.y = static_cast<float>((v.y - cy) * factor);
    v.z = static_cast<float>((v.z - cz) * factor);
  }

  const TimeFrame& first = doc.frames.front();
  doc.timeMin = doc.timeMax = first.time;
  doc.valueMin = doc.valueMax = first.values.empty() ? 0.0f : first.values.front();
  for (const TimeFrame& frame : doc.frames) {
    if (frame.time < doc.timeMin) doc.timeMin = frame.time;
    if (frame.time > doc.timeMax) doc.timeMax = frame.time;
    for (const float value : frame.values) {
      if (value < doc.valueMin) doc.valueMin = value;
      if (value > doc.valueMax) doc.valueMax = value;
    }
  }

  const float ex = hi.x - lo.x, ey = hi.y - lo.y, ez = hi.z - lo.z;
  doc.epsilon = 0.001f * std::min(ex, std::min(ey, ez));

  // Each half works out a block of elements at a time, then takes their vertex sets' room
  // from the document's store under the lock.
  std::mutex storeLock;
  std::atomic<std::size_t> sideDone{0};
  OverElements(doc.elements.size(), [&](std::size_t begin, std::size_t end, bool side) {
    std::uint32_t scratch[64];
    std::vector<std::uint32_t> bigScratch, lists, counts;
    for (std::size_t block = begin; block < end;) {
      const std::size_t blockEnd = std::min(end, block + kProgressEvery);
      lists.clear();
      counts.clear();
      std::size_t e = block;
      bool cancelled = false;
      while (e < blockEnd && !cancelled) {
        Element& element = doc.elements[e++];
        const std::size_t n = std::size_t{element.triangles.size()} * 3;
        std::uint32_t* list = scratch;
        if (n > std::size(scratch)) {
          bigScratch.resize(n);
          list = bigScratch.data();
        }
        std::size_t k = 0;
        for (const Triangle& t : element.triangles) {
          list[k++] = t.a;
          list[k++] = t.b;
          list[k++] = t.c;
        }
        if (n <= 16) {
          // Insertion sort: the usual element has 12 numbers.
          for (std::size_t a = 1; a < n; ++a) {
            const std::uint32_t value = list[a];
            std::size_t b = a;
            for (; b > 0 && list[b - 1] > value; --b) list[b] = list[b - 1];
            list[b] = value;
          }
        } else {
          std::sort(list, list + n);
        }
        const std::size_t distinct = static_cast<std::size_t>(std::unique(list, list + n) - list);
        lists.insert(lists.end(), list, list + distinct);
        counts.push_back(static_cast<std::uint32_t>(distinct));

        Float3 sum;
        for (std::size_t j = 0; j < distinct; ++j) {
          const Vertex& v = doc.vertices[list[j]];
          sum.x += v.x;
          sum.y += v.y;
          sum.z += v.z;
        }
        const float inverse = 1.0f / static_cast<float>(distinct);
        element.centre = {sum.x * inverse, sum.y * inverse, sum.z * inverse};
        cancelled = control.Cancelled();
      }
      std::uint32_t* store;
      {
        std::lock_guard guard(storeLock);
        store = doc.indexStore.Allocate(lists.size());
      }
      std::copy(lists.begin(), lists.end(), store);
      for (std::size_t j = 0; j < counts.size(); ++j) {
        Element& element = doc.elements[block + j];
        element.vertexIndices.data = store;
        element.vertexIndices.count = counts[j];
        store += counts[j];
      }
      block = e;
      if (side) {
        sideDone.store(e - begin, std::memory_order_relaxed);
      } else {
        control.SetProgress(static_cast<std::uint32_t>(e + sideDone.load(std::memory_order_relaxed)));
      }
      if (cancelled) return;
    }
  });
  if (!control.Cancelled()) control.SetProgress(static_cast<std::uint32_t>(doc.elements.size()));
}

}  // namespace qem
