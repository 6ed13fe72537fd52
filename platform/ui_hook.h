#pragma once

#include <exception>
#include <functional>
#include <string>

namespace pmx {

// What the library shows the user, behind a hook so that non-visual code needs no
// GUI toolkit: a program installs its own (message boxes); without one the texts
// go to stderr.
//
// Threads: install the hook before any component runs; ShowMessageBox runs the hook
// on the calling thread.
using MessageBoxHook = std::function<void(const std::string& text, const std::string& caption)>;

void SetMessageBoxHook(MessageBoxHook hook);
void ShowMessageBox(const std::string& text, const std::string& caption);

// The application's error box: an error that no handler took. Same rules as the
// message box; without a hook the text goes to stderr.
using ErrorBoxHook = std::function<void(const std::string& text)>;
void SetErrorBoxHook(ErrorBoxHook hook);
void ShowErrorBox(const std::string& text);

// Hands an error caught on any thread to the application's exception handler,
// which runs it on the GUI thread (MainLoop::SetExceptionHandler).
void HandleApplicationException(std::exception_ptr error);

}  // namespace pmx
