// Event handlers of the HID objects: a callback bound to an object, where two
// handlers count as equal when their code is the same (the object is not
// compared). The controller relies on that to pass a new handler on to the
// devices that still carry the old one.
#pragma once

#include <functional>
#include <utility>

namespace tarvion {

template <class Signature>
class HidHandler {
 public:
  HidHandler() = default;
  // code names the handler's code: handlers with the same code are equal.
  HidHandler(const void* code, std::function<Signature> fn) : code_(code), fn_(std::move(fn)) {
    if (!fn_) code_ = nullptr;
  }

  // A handler made of a member function: equal to every other handler of that
  // member function, whatever object it is bound to.
  template <auto Method, class Object>
  static HidHandler bind(Object& object) {
    static const char code = 0;
    return HidHandler(&code, [&object](auto&&... args) {
      return (object.*Method)(std::forward<decltype(args)>(args)...);
    });
  }

  explicit operator bool() const { return code_ != nullptr; }
  bool operator==(const HidHandler& other) const { return code_ == other.code_; }

  template <class... Args>
  decltype(auto) operator()(Args&&... args) const {
    return fn_(std::forward<Args>(args)...);
  }

 private:
  const void* code_ = nullptr;
  std::function<Signature> fn_;
};

}  // namespace tarvion
