#pragma once

#include <functional>
#include <utility>

namespace pmx {

// A dialog built the first time it is wanted: a recorder nobody looks at (a
// service) never pays for the windows it never opens. GUI thread only.
template <class Form>
class TFormOnDemand {
 public:
  // make: builds the form (or hands one owned elsewhere); null when there is none.
  // wire: runs once on what make built.
  void Set(std::function<Form*()> make, std::function<void(Form&)> wire = {}) {
    make_ = std::move(make);
    wire_ = std::move(wire);
    form_ = nullptr;
  }
  // The form, built now if it was not yet.
  Form* Get() {
    if (!form_ && make_) {
      form_ = make_();
      if (form_ && wire_) wire_(*form_);
    }
    return form_;
  }
  // The form if it was built, else null.
  Form* IfBuilt() const { return form_; }

 private:
  std::function<Form*()> make_;
  std::function<void(Form&)> wire_;
  Form* form_ = nullptr;
};

}  // namespace pmx
