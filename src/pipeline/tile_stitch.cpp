// Putting the tiles' results together: concatenated in tile order, the
// pieces that neighbouring tiles cut on their shared edges are joined by
// moving cut ends onto each other.
#include "pipeline/tile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <tuple>
#include <utility>

#include "pipeline/memory.h"

namespace strokegraph {
namespace {

// One end of a kept piece that lies on, or near, a seam line.
struct SeamEnd {
  std::size_t line;  // vertical lines 0..nx, then horizontal lines
  double along;      // the coordinate along the line
  unsigned char side;  // 0: the tile below / left of the line, 1: above / right
  std::size_t piece;   // global piece index
  unsigned char end;   // 0: start, 1: end
  bool operator<(const SeamEnd& o) const {
    return std::tie(line, along, side, piece, end) <
           std::tie(o.line, o.along, o.side, o.piece, o.end);
  }
};

Point& end_point(std::vector<Segment>& segments, const SeamEnd& e) {
  return e.end == 0 ? segments[e.piece].a : segments[e.piece].b;
}

// Joins the pieces that neighbouring tiles cut on their shared edges, by
// moving cut ends onto each other (never by adding segments, which would
// close small loops where the tiles' skeletons disagree). Per seam line, in
// order along it:
// 1. cut ends from opposite sides within `tol` of each other pair up,
//    closest pairs first, and both move to their midpoint on the line;
// 2. a cut end left over moves onto the nearest piece end of the other side
//    within `tol` of it (the other tile's branch stopped just short of the
//    line, or its junction lies on this side);
// 3. of the cut ends still left, neighbours from the same side within `tol`
//    move onto the first of them (one tile's skeleton dipped across the line
//    and back while the other's stayed on its own side).
void stitch(std::vector<Segment>& segments, std::vector<SeamEnd> cuts, std::vector<SeamEnd> near,
            const TileGrid& grid, double tol) {
  std::sort(cuts.begin(), cuts.end());
  near.insert(near.end(), cuts.begin(), cuts.end());
  std::sort(near.begin(), near.end());
  const std::size_t nx = grid.nx();
  auto line_coordinate = [&](std::size_t line) {
    return line <= nx ? grid.xs[line] : grid.ys[line - nx - 1];
  };
  auto on_line = [&](std::size_t line, double along) {
    const double c = line_coordinate(line);
    return line <= nx ? Point{c, along} : Point{along, c};
  };
  std::vector<char> done(cuts.size(), 0);
  std::vector<std::tuple<double, std::size_t, std::size_t>> candidates;
  std::vector<std::size_t> free;
  for (std::size_t lo = 0; lo < cuts.size();) {
    std::size_t hi = lo;
    while (hi < cuts.size() && cuts[hi].line == cuts[lo].line) ++hi;
    const std::size_t line = cuts[lo].line;

    candidates.clear();
    for (std::size_t k = lo; k + 1 < hi; ++k) {
      const double gap = cuts[k + 1].along - cuts[k].along;
      if (cuts[k].side != cuts[k + 1].side && gap <= tol) candidates.emplace_back(gap, k, k + 1);
    }
    std::sort(candidates.begin(), candidates.end());
    for (const auto& [gap, i, j] : candidates) {
      if (done[i] || done[j]) continue;
      done[i] = done[j] = 1;
      const Point p = on_line(line, (cuts[i].along + cuts[j].along) * 0.5);
      end_point(segments, cuts[i]) = p;
      end_point(segments, cuts[j]) = p;
    }

    for (std::size_t k = lo; k < hi; ++k) {
      if (done[k]) continue;
      const Point p = end_point(segments, cuts[k]);
      const SeamEnd key{line, cuts[k].along - tol, 0, 0, 0};
      double best = tol * tol;
      std::optional<Point> target;
      for (auto it = std::lower_bound(near.begin(), near.end(), key);
           it != near.end() && it->line == line && it->along <= cuts[k].along + tol; ++it) {
        if (it->side == cuts[k].side) continue;
        const Point q = end_point(segments, *it);
        const double d = (q.x - p.x) * (q.x - p.x) + (q.y - p.y) * (q.y - p.y);
        if (d < best || (d == best && !target)) {
          target = q;
          best = d;
        }
      }
      if (!target) continue;
      end_point(segments, cuts[k]) = *target;
      done[k] = 1;
    }

    free.clear();
    for (std::size_t k = lo; k < hi; ++k)
      if (!done[k]) free.push_back(k);
    candidates.clear();
    for (std::size_t f = 0; f + 1 < free.size(); ++f) {
      const SeamEnd& a = cuts[free[f]];
      const SeamEnd& b = cuts[free[f + 1]];
      if (a.side == b.side && b.along - a.along <= tol)
        candidates.emplace_back(b.along - a.along, free[f], free[f + 1]);
    }
    std::sort(candidates.begin(), candidates.end());
    for (const auto& [gap, i, j] : candidates) {
      if (done[i] || done[j]) continue;
      done[i] = done[j] = 1;
      end_point(segments, cuts[j]) = end_point(segments, cuts[i]);
    }
    lo = hi;
  }
}

}  // namespace

TiledSkeleton assemble_tiles(const TileGrid& grid, double tolerance,
                             std::vector<TileResult> results, bool keep_boundary) {
  TiledSkeleton out;
  out.grid = grid;
  const std::size_t count = std::min(grid.count(), results.size());
  if (count == 0) return out;
  const std::size_t nx = grid.nx();
  const double tol = tolerance;

  // Concatenate in tile order, noting the piece ends on or near seams; the
  // outputs are sized first so that they never hold two copies while growing.
  std::vector<SeamEnd> cuts, near;
  std::size_t working_set = 0;  // bytes of what the tiles hand over
  {
    std::size_t pieces = 0, edges = 0, edge_points = 0, points = 0;
    const Segment* last = nullptr;
    for (std::size_t t = 0; t < count; ++t) {
      pieces += results[t].pieces.size();
      edges += results[t].edges.size();
      for (const Segment& e : results[t].edges) {
        edge_points += last != nullptr && std::memcmp(&last->b, &e.a, sizeof(Point)) == 0 ? 1 : 2;
        last = &e;
      }
      points += results[t].boundary.size();
    }
    out.segments.reserve(pieces);
    out.edges.points.reserve(edge_points);
    out.boundary.reserve(points);
    working_set = pieces * sizeof(CutPiece) + edges * sizeof(Segment) + points * sizeof(Point);
  }
  for (std::size_t t = 0; t < count; ++t) {
    const std::size_t ix = t % nx, iy = t / nx;
    const TileRect own = grid.rect(ix, iy);
    for (const CutPiece& piece : results[t].pieces) {
      const std::size_t index = out.segments.size();
      out.segments.push_back(piece.segment);
      for (unsigned char end = 0; end < 2; ++end) {
        const TileEdge edge = end == 0 ? piece.start_edge : piece.end_edge;
        const Point p = end == 0 ? piece.segment.a : piece.segment.b;
        if (edge == kLeft) cuts.push_back({ix, p.y, 1, index, end});
        if (edge == kRight) cuts.push_back({ix + 1, p.y, 0, index, end});
        if (edge == kBottom) cuts.push_back({nx + 1 + iy, p.x, 1, index, end});
        if (edge == kTop) cuts.push_back({nx + 1 + iy + 1, p.x, 0, index, end});
        if (edge != kNoEdge) continue;
        if (ix > 0 && p.x - own.xmin <= tol) near.push_back({ix, p.y, 1, index, end});
        if (ix + 1 < nx && own.xmax - p.x <= tol) near.push_back({ix + 1, p.y, 0, index, end});
        if (iy > 0 && p.y - own.ymin <= tol) near.push_back({nx + 1 + iy, p.x, 1, index, end});
        if (iy + 1 < grid.ny() && own.ymax - p.y <= tol)
          near.push_back({nx + 1 + iy + 1, p.x, 0, index, end});
      }
    }
    std::vector<CutPiece>().swap(results[t].pieces);
    out.refused += results[t].failed;
    for (const Segment& e : results[t].edges) out.edges.add(e);
    std::vector<Segment>().swap(results[t].edges);
    if (keep_boundary) {
      out.boundary.insert(out.boundary.end(), results[t].boundary.begin(),
                          results[t].boundary.end());
      std::vector<Point>().swap(results[t].boundary);
    }
    // What the tiles held goes back as it is copied, not all at the end.
    if (t % 64 == 63) release_free_memory(working_set);
  }
  stitch(out.segments, std::move(cuts), std::move(near), grid, tol);
  return out;
}

}  // namespace strokegraph
