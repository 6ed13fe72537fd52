#include "audio/displays/designer_links.h"

#include <algorithm>

namespace pmx {
namespace {

bool IsOf(const TComponentClass& cls, const TComponent* component) {
  return !cls.Is || cls.Is(component);
}

bool Excluded(const TLinkKind& kind, TComponent* source, TComponent* target) {
  return std::any_of(
      LinkExclusions().begin(), LinkExclusions().end(), [&](const TLinkExclusion& e) {
        return e.Direction == kind.Direction && e.Group == kind.Group && IsOf(e.Source, source) &&
               IsOf(e.Target, target) && (!e.Filter || e.Filter(source, target));
      });
}

int IndexOf(const TComponent& owner, const TComponent* component) {
  for (int i = 0; i < owner.ComponentCount(); ++i) {
    if (owner.Components(i) == component) return i;
  }
  return -1;
}

// Every link that component c may have through kind, from the side that holds the
// property.
void AddLinksOf(const TComponent& owner, TComponent* c, const TLinkKind& kind, TLinkMap& map) {
  const bool outward = kind.Direction == 1;
  const TComponentClass& own = outward ? kind.Source : kind.Target;
  const TComponentClass& other = outward ? kind.Target : kind.Source;
  if (!kind.Value || !IsOf(own, c)) return;
  for (int i = 0; i < owner.ComponentCount(); ++i) {
    TComponent* d = owner.Components(i);
    if (d == c || !IsOf(other, d)) continue;
    TComponent* source = outward ? c : d;
    TComponent* target = outward ? d : c;
    if (Excluded(kind, source, target) || (kind.Filter && !kind.Filter(source, target))) continue;
    map.Marks[IndexOf(owner, source)] |= kOutputEnd;
    map.Marks[IndexOf(owner, target)] |= kInputEnd;
    if (kind.Value(c) == d) map.Pairs.emplace_back(source, target);
  }
}

}  // namespace

std::vector<TLinkKind>& LinkKinds() {
  static std::vector<TLinkKind> kinds;
  return kinds;
}

std::vector<TLinkExclusion>& LinkExclusions() {
  static std::vector<TLinkExclusion> exclusions;
  return exclusions;
}

TLinkMap BuildLinkMap(const TComponent& owner, const std::vector<bool>& enabled) {
  TLinkMap map;
  map.Marks.assign(owner.ComponentCount(), 0);
  const auto& kinds = LinkKinds();
  for (int i = 0; i < owner.ComponentCount(); ++i) {
    for (size_t k = 0; k < kinds.size() && k < enabled.size(); ++k) {
      if (enabled[k]) AddLinksOf(owner, owner.Components(i), kinds[k], map);
    }
  }
  return map;
}

int MiddleLine(const TRect& box) {
  return box.Top + box.Height() / 2 - (box.Height() % 2 == 0 ? 1 : 0);
}

std::vector<QPoint> LinkRoute(const TRect& s, const TRect& t, int m) {
  const int s_mid = MiddleLine(s);
  const int t_mid = MiddleLine(t);
  std::vector<QPoint> route{{s.Right, s_mid}};
  if (t.Left >= s.Right + 2 * m || (t.Top == s.Top && t.Left >= s.Left)) {
    route.emplace_back(t.Left - m, s_mid);
  } else {
    const int x = std::max(s.Right + m, t.Right + m);
    const bool above =
        t.Top >= s.Top + s.Height() + 2 * m || (t.Top < s.Top && s.Top < t.Bottom + 2 * m);
    const int y = above ? t.Top - m : t.Bottom + m;
    route.emplace_back(x, s_mid);
    route.emplace_back(x, y);
    route.emplace_back(t.Left - m, y);
  }
  route.emplace_back(t.Left - m, t_mid);
  route.emplace_back(t.Left, t_mid);
  return route;
}

}  // namespace pmx
