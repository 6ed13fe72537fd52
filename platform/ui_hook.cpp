#include "platform/ui_hook.h"

#include <cstdio>
#include <mutex>

#include "platform/main_loop.h"

namespace pmx {
namespace {

std::mutex g_mutex;
MessageBoxHook g_message_box;

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
  std::lock_guard lock(g_mutex);
  g_message_box = std::move(hook);
}

void ShowMessageBox(const std::string& text, const std::string& caption) {
  MessageBoxHook hook;
  {
    std::lock_guard lock(g_mutex);
    hook = g_message_box;
  }
  if (hook) {
    hook(text, caption);
  } else {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  }
}

void HandleApplicationException(std::exception_ptr error) {
  MainLoop::Instance().Post([error = std::move(error)] { std::rethrow_exception(error); });
}

}  // namespace pmx
