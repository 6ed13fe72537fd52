#include "platform/ui_hook.h"

#include <cstdio>
#include <mutex>

#include "platform/main_loop.h"

namespace pmx {
namespace {

std::mutex g_mutex;
MessageBoxHook g_message_box;
ErrorBoxHook g_error_box;

template <typename Hook>
Hook Installed(const Hook& hook) {
  std::lock_guard lock(g_mutex);
  return hook;
}

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
  std::lock_guard lock(g_mutex);
  g_message_box = std::move(hook);
}

void ShowMessageBox(const std::string& text, const std::string& caption) {
  const MessageBoxHook hook = Installed(g_message_box);
  if (hook) {
    hook(text, caption);
  } else {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  }
}

void SetErrorBoxHook(ErrorBoxHook hook) {
  std::lock_guard lock(g_mutex);
  g_error_box = std::move(hook);
}

void ShowErrorBox(const std::string& text) {
  const ErrorBoxHook hook = Installed(g_error_box);
  if (hook) {
    hook(text);
  } else {
    std::fprintf(stderr, "pelmorax: error: %s\n", text.c_str());
  }
}

void HandleApplicationException(std::exception_ptr error) {
  MainLoop::Instance().Post([error = std::move(error)] { std::rethrow_exception(error); });
}

}  // namespace pmx
