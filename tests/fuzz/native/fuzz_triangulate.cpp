// The triangulation wrapper and skeleton extraction on decoded polygons.
#include "decode.h"
#include "skeleton_cdt/skeleton.h"
#include "skeleton_cdt/triangulate.h"

using namespace strokegraph;

namespace strokegraph::fuzz {

std::vector<BufferPolygon> polygons_of(const std::uint8_t* data, std::size_t size,
                                       const Decoded& d);

}  // namespace strokegraph::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Decoded d = fuzz::decode(data, size);
  for (const BufferPolygon& p : fuzz::polygons_of(data, size, d)) {
    const TriangulatorInput in = prepare_triangulator_input(p.outer, p.holes);
    if (auto tris = triangulate_contours(in.points, in.contours)) {
      for (const IndexTriangle& t : *tris) {
        for (std::uint32_t v : t) {
          if (v >= in.points.size()) __builtin_trap();
        }
      }
    }
    (void)get_triangles(p.outer, p.holes);
    (void)skeletonize(p.outer, p.holes);
  }
  return 0;
}
