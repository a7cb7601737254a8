#include "pipeline/tile_bytes.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace strokegraph {
namespace {

static_assert(std::endian::native == std::endian::little, "tile bytes are little-endian");

constexpr std::uint64_t kMagic = 0x73656c6974677373ULL;  // "ssgtiles"
constexpr std::uint64_t kVersion = 3;
enum Kind : std::uint64_t { kTask = 1, kResult = 2, kAssembly = 3 };

void put_u64(std::string& out, std::uint64_t v) {
  char b[8];
  std::memcpy(b, &v, 8);
  out.append(b, 8);
}
void put_f64(std::string& out, double v) { put_u64(out, std::bit_cast<std::uint64_t>(v)); }
void put_point(std::string& out, Point p) {
  put_f64(out, p.x);
  put_f64(out, p.y);
}
void put_optional(std::string& out, const std::optional<double>& v) {
  put_u64(out, v ? 1 : 0);
  put_f64(out, v.value_or(0.0));
}
void put_header(std::string& out, Kind kind) {
  put_u64(out, kMagic);
  put_u64(out, kind);
  put_u64(out, kVersion);
}

// Reads 8-byte values from the front of `bytes`; the first failure sets
// `why` and every later read fails too.
struct Reader {
  std::string_view bytes;
  const char* why = nullptr;

  bool fail(const char* reason) {
    if (why == nullptr) why = reason;
    return false;
  }
  std::size_t words_left() const { return bytes.size() / 8; }
  bool u64(std::uint64_t& v) {
    if (why != nullptr) return false;
    if (bytes.size() < 8) return fail("it ends early");
    std::memcpy(&v, bytes.data(), 8);
    bytes.remove_prefix(8);
    return true;
  }
  bool f64(double& v) {
    std::uint64_t bits = 0;
    if (!u64(bits)) return false;
    v = std::bit_cast<double>(bits);
    return true;
  }
  // limit NaN: any value.
  bool finite(double& v, double limit = HUGE_VAL) {
    if (!f64(v)) return false;
    return std::isnan(limit) || std::fabs(v) <= limit || fail("a number is out of range");
  }
  bool flag(bool& v) {
    std::uint64_t w = 0;
    if (!u64(w)) return false;
    if (w > 1) return fail("a flag is neither 0 nor 1");
    v = w == 1;
    return true;
  }
  bool optional(std::optional<double>& v) {
    bool present = false;
    std::uint64_t bits = 0;
    if (!flag(present) || !u64(bits)) return false;
    if (!present && bits != 0) return fail("an absent number has a value");
    v = present ? std::optional<double>(std::bit_cast<double>(bits)) : std::nullopt;
    return true;
  }
  // A list length whose items take `words` values each.
  bool length(std::size_t& n, std::size_t words) {
    std::uint64_t w = 0;
    if (!u64(w)) return false;
    if (w > words_left() / words) return fail("a list is longer than the bytes left");
    n = static_cast<std::size_t>(w);
    return true;
  }
  bool point(Point& p, double limit = HUGE_VAL) { return finite(p.x, limit) && finite(p.y, limit); }
  bool points(std::vector<Point>& out, double limit = HUGE_VAL) {
    std::size_t n = 0;
    if (!length(n, 2)) return false;
    out.resize(n);
    for (Point& p : out)
      if (!point(p, limit)) return false;
    return true;
  }
  bool header(Kind kind) {
    std::uint64_t magic = 0, k = 0, version = 0;
    if (!u64(magic) || !u64(k) || !u64(version)) return false;
    if (magic != kMagic || k != kind) return fail("the header is not this kind's");
    if (version != kVersion) return fail("it was written by another version");
    return true;
  }
  bool done() { return why == nullptr && (bytes.empty() || fail("bytes are left over")); }
};

PipelineError malformed(const char* what, const Reader& r) {
  return PipelineError{std::string("malformed tile ") + what + ": " +
                       (r.why != nullptr ? r.why : "it does not read")};
}

}  // namespace

std::string encode_tile_task(std::size_t tile, const TileRect& own, const TileSettings& settings,
                             const std::vector<const Ring*>& bands) {
  std::size_t words = 24 + bands.size();
  for (const Ring* band : bands) words += 2 * band->size();
  std::string out;
  out.reserve(8 * words);
  put_header(out, kTask);
  put_u64(out, tile);
  for (double v : {own.xmin, own.ymin, own.xmax, own.ymax, settings.margin,
                   settings.buffer_distance, settings.feature_size})
    put_f64(out, v);
  put_optional(out, settings.boundary.subdivision_ratio);
  put_optional(out, settings.boundary.resample);
  put_optional(out, settings.boundary.boundary_simplification);
  put_u64(out, settings.boundary.local_simplification ? 1 : 0);
  put_optional(out, settings.hole_feature_size);
  put_u64(out, settings.keep_edges ? 1 : 0);
  put_u64(out, settings.keep_boundary ? 1 : 0);
  put_u64(out, bands.size());
  for (const Ring* band : bands) {
    put_u64(out, band->size());
    for (const Point& p : *band) put_point(out, p);
  }
  put_u64(out, settings.plan);
  return out;
}

Result<TileTask> decode_tile_task(std::string_view bytes) {
  Reader r{bytes};
  TileTask task;
  TileSettings& s = task.settings;
  std::uint64_t tile = 0;
  std::size_t bands = 0;
  bool ok = r.header(kTask) && r.u64(tile) && r.finite(task.own.xmin) &&
            r.finite(task.own.ymin) && r.finite(task.own.xmax) && r.finite(task.own.ymax) &&
            r.finite(s.margin) && r.finite(s.buffer_distance) && r.finite(s.feature_size) &&
            r.optional(s.boundary.subdivision_ratio) && r.optional(s.boundary.resample) &&
            r.optional(s.boundary.boundary_simplification) && r.flag(s.boundary.local_simplification) &&
            r.optional(s.hole_feature_size) &&
            r.flag(s.keep_edges) && r.flag(s.keep_boundary) && r.length(bands, 1);
  if (ok) {
    const double reach = kLargestMarginGrowth * s.margin;
    const TileRect& o = task.own;
    if (!(o.xmin <= o.xmax && o.ymin <= o.ymax && s.margin >= 0.0 &&
          std::fabs(o.xmin - reach) <= kMaxTileCoordinate &&
          std::fabs(o.ymin - reach) <= kMaxTileCoordinate &&
          std::fabs(o.xmax + reach) <= kMaxTileCoordinate &&
          std::fabs(o.ymax + reach) <= kMaxTileCoordinate))
      ok = r.fail("the tile square is out of range");
    else if (!(s.buffer_distance > 0.0 && s.feature_size > 0.0) ||
             (s.hole_feature_size && !std::isfinite(*s.hole_feature_size)))
      ok = r.fail("a setting is out of range");
  }
  task.tile = static_cast<std::size_t>(tile);
  if (ok) task.bands.resize(bands);
  for (std::size_t b = 0; ok && b < bands; ++b) ok = r.points(task.bands[b], kMaxBandCoordinate);
  ok = ok && r.u64(s.plan);
  if (!ok || !r.done()) return malformed("task", r);
  return task;
}

std::string encode_tile_result(std::size_t tile, const TileResult& result) {
  std::string out;
  out.reserve(8 * (8 + 6 * result.pieces.size() + 2 * result.boundary.size() +
                   4 * result.edges.size()));
  put_header(out, kResult);
  put_u64(out, tile);
  put_u64(out, result.failed);
  put_u64(out, result.pieces.size());
  for (const CutPiece& piece : result.pieces) {
    put_point(out, piece.segment.a);
    put_point(out, piece.segment.b);
    put_u64(out, piece.start_edge);
    put_u64(out, piece.end_edge);
  }
  put_u64(out, result.boundary.size());
  for (const Point& p : result.boundary) put_point(out, p);
  put_u64(out, result.edges.size());
  for (const Segment& e : result.edges) {
    put_point(out, e.a);
    put_point(out, e.b);
  }
  put_u64(out, result.plan);
  return out;
}

Result<std::pair<std::size_t, TileResult>> decode_tile_result(std::string_view bytes) {
  Reader r{bytes};
  std::uint64_t tile = 0, failed = 0;
  TileResult result;
  std::size_t n = 0;
  bool ok = r.header(kResult) && r.u64(tile) && r.u64(failed) && r.length(n, 6);
  if (ok) result.pieces.resize(n);
  for (std::size_t k = 0; ok && k < n; ++k) {
    CutPiece& piece = result.pieces[k];
    std::uint64_t e0 = 0, e1 = 0;
    ok = r.point(piece.segment.a) && r.point(piece.segment.b) && r.u64(e0) && r.u64(e1);
    if (ok && (e0 > kTop || e1 > kTop)) ok = r.fail("a cut edge is unknown");
    piece.start_edge = static_cast<TileEdge>(e0);
    piece.end_edge = static_cast<TileEdge>(e1);
  }
  ok = ok && r.points(result.boundary) && r.length(n, 4);
  if (ok) result.edges.resize(n);
  for (std::size_t k = 0; ok && k < n; ++k)
    ok = r.point(result.edges[k].a) && r.point(result.edges[k].b);
  ok = ok && r.u64(result.plan);
  if (!ok || !r.done()) return malformed("result", r);
  result.failed = static_cast<std::size_t>(failed);
  return std::pair<std::size_t, TileResult>(static_cast<std::size_t>(tile), std::move(result));
}

std::string encode_tile_assembly(const TileAssembly& a) {
  std::string out;
  put_header(out, kAssembly);
  for (const std::vector<double>* cs : {&a.grid.xs, &a.grid.ys}) {
    put_u64(out, cs->size());
    for (double c : *cs) put_f64(out, c);
  }
  put_f64(out, a.grid.size);
  put_f64(out, a.grid.margin);
  put_f64(out, a.tolerance);
  put_u64(out, a.keep_boundary ? 1 : 0);
  put_u64(out, a.tiles.size());
  for (std::size_t t : a.tiles) put_u64(out, t);
  put_u64(out, a.stroke_ends.size());
  for (const Point& p : a.stroke_ends) put_point(out, p);
  put_u64(out, a.fingerprint);
  return out;
}

Result<TileAssembly> decode_tile_assembly(std::string_view bytes) {
  Reader r{bytes};
  TileAssembly a;
  bool ok = r.header(kAssembly);
  for (std::vector<double>* cs : {&a.grid.xs, &a.grid.ys}) {
    std::size_t n = 0;
    ok = ok && r.length(n, 1);
    if (ok && (n == 1 || n > kMaxSeams)) ok = r.fail("a grid axis has a bad seam count");
    if (ok) cs->resize(n);
    for (std::size_t i = 0; ok && i < n; ++i) {
      ok = r.finite((*cs)[i], kMaxTileCoordinate);
      if (ok && i > 0 && !((*cs)[i - 1] < (*cs)[i])) ok = r.fail("seams are not increasing");
    }
  }
  if (ok && a.grid.xs.empty() != a.grid.ys.empty()) ok = r.fail("a grid axis has a bad seam count");
  std::size_t n = 0;
  ok = ok && r.finite(a.grid.size) && r.finite(a.grid.margin) && r.finite(a.tolerance) &&
       r.flag(a.keep_boundary) && r.length(n, 1);
  if (ok) a.tiles.resize(n);
  for (std::size_t k = 0; ok && k < n; ++k) {
    std::uint64_t t = 0;
    ok = r.u64(t);
    if (ok && (t >= a.grid.count() || (k > 0 && t <= a.tiles[k - 1])))
      ok = r.fail("the tile list is out of order or out of the grid");
    a.tiles[k] = static_cast<std::size_t>(t);
  }
  // Stroke ends are those of the input, which may hold any coordinate.
  ok = ok && r.points(a.stroke_ends, std::nan("")) && r.u64(a.fingerprint);
  if (!ok || !r.done()) return malformed("plan", r);
  return a;
}

}  // namespace strokegraph
