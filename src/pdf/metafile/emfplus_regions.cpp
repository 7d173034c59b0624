// EMF+ regions as clips: a tree of rectangles, paths, empty and infinite
// regions joined by combine nodes, turned into the parts of a page clip.
#include <utility>

#include "pdf/metafile/emfplus_player.h"
#include "pdf/metafile/record_reader.h"

namespace metafile {

namespace {

using Area = EmfPlusPlayer::Area;

// A clip part that holds no point of the page.
const char kNothing[] = "0 0 m\n0 0 l\nh\n";

// The combinations where an area is everything or nothing: true when *a
// holds the result, false when it goes on as parts by *mode.
bool CombineWhole(Area* a, Area* b, uint32_t* mode) {
  if (b->kind == Area::kNothing) {
    if (*mode == 1) *a = std::move(*b);  // only intersecting with nothing changes a
    return true;
  }
  if (a->kind == Area::kNothing) {
    if (*mode == 2 || *mode == 3) *a = std::move(*b);
    return true;
  }
  if (b->kind != Area::kEverything) return false;
  if (*mode == 2) *a = Area();
  if (*mode == 4) *a = Area{Area::kNothing, {}};
  if (*mode != 3) return true;
  std::swap(*a, *b);  // XOR with everything: everything less a
  *mode = 4;
  return false;
}

// Combines area b into a by an EMF+ combine mode (0 replace, 1 intersect,
// 2 union, 3 XOR, 4 exclude, 5 complement); false when the result is not
// an intersection of parts (a union or XOR of a clip of several parts).
bool Combine(Area* a, Area b, uint32_t mode) {
  if (mode == 0) {
    *a = std::move(b);
    return true;
  }
  if (mode == 5) {  // complement: b less a
    std::swap(*a, b);
    mode = 4;
  }
  if (mode > 5) return false;
  if (CombineWhole(a, &b, &mode)) return true;
  std::vector<ClipPart> clip = a->kind == Area::kEverything ? std::vector<ClipPart>() : a->parts;
  if (mode == 1) {
    if (clip.size() + b.parts.size() > kMaxClipParts) return false;
    clip.insert(clip.end(), b.parts.begin(), b.parts.end());
  } else {
    if (b.parts.size() != 1) return false;
    ClipCombine how = mode == 2   ? ClipCombine::kUnion
                      : mode == 3 ? ClipCombine::kXor
                                  : ClipCombine::kExclude;
    if (!CombineClip(&clip, *b.parts[0].pathOps, b.parts[0].evenOdd, how)) return false;
  }
  a->kind = clip.empty() ? Area::kEverything : Area::kParts;
  a->parts = std::move(clip);
  return true;
}

}  // namespace

bool EmfPlusPlayer::RegionNode(const RecordReader& r, uint64_t* at, int depth, Area* out) const {
  const int kMaxDepth = 64;
  if (depth > kMaxDepth || !r.Has(*at, 4)) return false;
  uint32_t type = r.Value<uint32_t>(*at);
  *at += 4;
  switch (type) {
    case 0x10000000: {  // a rectangle: x, y, width, height
      if (!r.Has(*at, 16)) return false;
      Path box;
      float x = r.Value<float>(*at), y = r.Value<float>(*at + 4);
      float w = r.Value<float>(*at + 8), h = r.Value<float>(*at + 12);
      box.points = {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}};
      box.types = {0, 1, 1, 0x81};
      *at += 16;
      *out = Area{Area::kParts, {ClipPart(BuildPath(box).Ops(), false)}};
      return true;
    }
    case 0x10000001: {  // a path: its length, then a path object
      uint32_t length = r.Value<uint32_t>(*at);
      Path path;
      if (!r.Has(*at + 4, length) || !ReadPath(r, *at + 4, &path)) return false;
      *at += 4 + uint64_t(length);
      PagePath page = BuildPath(path);
      *out = page.Empty() ? Area{Area::kNothing, {}}
                          : Area{Area::kParts, {ClipPart(page.Ops(), false)}};
      return true;
    }
    case 0x10000002:
      *out = Area{Area::kNothing, {}};
      return true;
    case 0x10000003:
      *out = Area();
      return true;
    case 1:  // and, or, xor, exclude, complement: the left node, then the right
    case 2:
    case 3:
    case 4:
    case 5: {
      Area right;
      return RegionNode(r, at, depth + 1, out) && RegionNode(r, at, depth + 1, &right) &&
             Combine(out, std::move(right), type);
    }
    default:
      return false;
  }
}

void EmfPlusPlayer::SetClipRegion(uint16_t flags) {
  auto found = regions_.find(flags & 0xFF);
  if (found == regions_.end()) {
    report_->Skip("EMF+ clip by a region that is not there");
    return;
  }
  // version, node count, then the root node
  RecordReader r(reinterpret_cast<const uint8_t*>(found->second.data()), found->second.size());
  uint64_t at = 8;
  Area region, clip;
  if (!state_.clip.empty()) clip = Area{Area::kParts, state_.clip};
  if (!RegionNode(r, &at, 0, &region) || !Combine(&clip, std::move(region), (flags >> 8) & 0xF)) {
    report_->Skip("EMF+ clip region not drawn");
    return;
  }
  if (clip.kind == Area::kNothing) clip.parts = {ClipPart(kNothing, false)};
  state_.clip = clip.parts;
}

}  // namespace metafile
