// Cutting segments at a tile's square. A cut end lies exactly on the edge it
// was cut at, with that coordinate the edge's own, so that the pieces of two
// neighbouring tiles meet bit for bit where the stitching looks for them.
#include "pipeline/tile.h"

#include <algorithm>
#include <cmath>

namespace strokegraph {

std::vector<CutPiece> clip_segments(const std::vector<Segment>& segments, const TileRect& rect) {
  std::vector<CutPiece> out;
  for (const Segment& s : segments) {
    if (!std::isfinite(s.a.x) || !std::isfinite(s.a.y) || !std::isfinite(s.b.x) ||
        !std::isfinite(s.b.y))
      continue;
    const double dx = s.b.x - s.a.x;
    const double dy = s.b.y - s.a.y;
    double t0 = 0.0, t1 = 1.0;
    TileEdge e0 = kNoEdge, e1 = kNoEdge;
    // Keeps the part where p * t <= q.
    auto clip = [&](double p, double q, TileEdge edge) {
      if (p == 0.0) return q >= 0.0;
      const double t = q / p;
      if (p < 0.0) {
        if (t > t1) return false;
        if (t > t0) t0 = t, e0 = edge;
      } else {
        if (t < t0) return false;
        if (t < t1) t1 = t, e1 = edge;
      }
      return true;
    };
    if (!clip(-dx, s.a.x - rect.xmin, kLeft) || !clip(dx, rect.xmax - s.a.x, kRight) ||
        !clip(-dy, s.a.y - rect.ymin, kBottom) || !clip(dy, rect.ymax - s.a.y, kTop))
      continue;
    if (!(t0 < t1)) continue;
    auto at = [&](double t, TileEdge edge) {
      if (edge == kNoEdge) return t == 0.0 ? s.a : s.b;
      Point p{s.a.x + t * dx, s.a.y + t * dy};
      p.x = std::clamp(p.x, rect.xmin, rect.xmax);
      p.y = std::clamp(p.y, rect.ymin, rect.ymax);
      if (edge == kLeft) p.x = rect.xmin;
      if (edge == kRight) p.x = rect.xmax;
      if (edge == kBottom) p.y = rect.ymin;
      if (edge == kTop) p.y = rect.ymax;
      return p;
    };
    CutPiece piece{{at(t0, e0), at(t1, e1)}, e0, e1};
    if (piece.segment.a == piece.segment.b) continue;
    out.push_back(piece);
  }
  return out;
}

}  // namespace strokegraph
