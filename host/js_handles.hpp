// Owning handles for engine objects, so that every path releases what it
// created, in the right order.
#pragma once

#include <memory>
#include <utility>

#include "quickjs.h"

namespace quelt {

struct RuntimeDeleter {
  void operator()(JSRuntime* runtime) const noexcept { JS_FreeRuntime(runtime); }
};
struct ContextDeleter {
  void operator()(JSContext* context) const noexcept { JS_FreeContext(context); }
};
using RuntimePtr = std::unique_ptr<JSRuntime, RuntimeDeleter>;
using ContextPtr = std::unique_ptr<JSContext, ContextDeleter>;

// One owned reference to an engine value.
class Value {
 public:
  Value() noexcept = default;
  Value(JSContext* context, JSValue value) noexcept : context_(context), value_(value) {}
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  Value(Value&& other) noexcept : context_(other.context_), value_(other.release()) {}
  Value& operator=(Value&& other) noexcept {
    if (this != &other) {
      reset();
      context_ = other.context_;
      value_ = other.release();
    }
    return *this;
  }
  ~Value() { reset(); }

  JSValueConst get() const noexcept { return value_; }
  bool is_exception() const noexcept { return JS_IsException(value_); }
  JSValue release() noexcept { return std::exchange(value_, JS_UNDEFINED); }
  void reset() noexcept {
    if (context_ != nullptr) JS_FreeValue(context_, std::exchange(value_, JS_UNDEFINED));
  }

 private:
  JSContext* context_ = nullptr;
  JSValue value_ = JS_UNDEFINED;
};

// One owned atom (an interned property name).
class Atom {
 public:
  Atom() noexcept = default;
  Atom(JSContext* context, const char* name) noexcept : context_(context), atom_(JS_NewAtom(context, name)) {}
  Atom(const Atom&) = delete;
  Atom& operator=(const Atom&) = delete;
  Atom& operator=(Atom&& other) noexcept {
    if (this != &other) {
      reset();
      context_ = other.context_;
      atom_ = std::exchange(other.atom_, JS_ATOM_NULL);
    }
    return *this;
  }
  ~Atom() { reset(); }
  JSAtom get() const noexcept { return atom_; }
  void reset() noexcept {
    if (context_ != nullptr && atom_ != JS_ATOM_NULL) JS_FreeAtom(context_, std::exchange(atom_, JS_ATOM_NULL));
  }

 private:
  JSContext* context_ = nullptr;
  JSAtom atom_ = JS_ATOM_NULL;
};

// A string borrowed from the engine as UTF-8 (lone surrogates in their
// 3-byte form); released with the engine's own call.
class CString {
 public:
  CString(JSContext* context, JSValueConst value) noexcept
      : context_(context), data_(JS_ToCStringLen2(context, &size_, value, 0)) {}
  CString(const CString&) = delete;
  CString& operator=(const CString&) = delete;
  ~CString() {
    if (data_ != nullptr) JS_FreeCString(context_, data_);
  }
  explicit operator bool() const noexcept { return data_ != nullptr; }
  const char* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }

 private:
  JSContext* context_;
  std::size_t size_ = 0;
  const char* data_;
};

}  // namespace quelt
