#include "recorder/show_message.h"

#include <cstdio>
#include <utility>

namespace pmx {
namespace {

MessageHook& Hook() {
  static MessageHook hook;
  return hook;
}

}  // namespace

void ShowMessage(const std::string& text) {
  if (Hook()) {
    Hook()(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

MessageHook SetMessageHook(MessageHook hook) { return std::exchange(Hook(), std::move(hook)); }

}  // namespace pmx
