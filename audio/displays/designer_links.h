#pragma once

#include <QPoint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "audio/core/objects/component.h"
#include "audio/core/ui/graphics.h"

namespace pmx {

// A class of components, by the test whether a component is one (or inherits it).
struct TComponentClass {
  std::string Name;
  std::function<bool(const TComponent*)> Is;
};

template <typename T>
TComponentClass ClassOf(std::string name) {
  return {std::move(name),
          [](const TComponent* c) { return dynamic_cast<const T*>(c) != nullptr; }};
}

using TLinkFilter = std::function<bool(TComponent* source, TComponent* target)>;

// A property by which a component of one class names its partner of another.
struct TLinkKind {
  int Direction = 1;  // 1: an output property on the source, 0: an input property on the target
  TComponentClass Source;
  TComponentClass Target;
  std::string Group;     // shown in the designer's options, where it can be hidden
  std::string Property;  // the name of the property
  // Reads the property from a component of the class that has it.
  std::function<TComponent*(TComponent*)> Value;
  TLinkFilter Filter;  // optional
};

// Pairs a link kind's group must not offer; a class without a test matches any.
struct TLinkExclusion {
  int Direction = 1;
  TComponentClass Source;
  TComponentClass Target;
  std::string Group;
  TLinkFilter Filter;  // optional
};

// Process-wide registries; empty unless a design-time host fills them. GUI thread only.
std::vector<TLinkKind>& LinkKinds();
std::vector<TLinkExclusion>& LinkExclusions();

// The ends every component may have, by owner index: kInputEnd in the low half,
// kOutputEnd in the high half.
inline constexpr int kInputEnd = 0x1;
inline constexpr int kOutputEnd = 0x10000;

struct TLinkMap {
  std::vector<int> Marks;
  std::vector<std::pair<TComponent*, TComponent*>> Pairs;  // (source, target)
};

// The possible ends and the actual links among owner's components, over the kinds
// whose entry in enabled is true.
TLinkMap BuildLinkMap(const TComponent& owner, const std::vector<bool>& enabled);

// The line a box is marked and linked on: its middle, one higher for even heights.
int MiddleLine(const TRect& box);
// The corners of the link line from source box s to target box t, routed around
// them at margin m, ending at t's left edge.
std::vector<QPoint> LinkRoute(const TRect& s, const TRect& t, int m);

}  // namespace pmx
