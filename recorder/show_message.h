#pragma once

#include <functional>
#include <string>

namespace pmx {

// Shows a plain message to the user (OK button, no icon, the application title).
// The main window installs a hook that opens a message box; without one the text
// goes to stderr. Tests install a hook to capture the texts.
// Threads: GUI thread only, like every caller.
using MessageHook = std::function<void(const std::string& text)>;

void ShowMessage(const std::string& text);
// Installs hook (empty: back to stderr) and returns the one it replaces.
MessageHook SetMessageHook(MessageHook hook);

}  // namespace pmx
