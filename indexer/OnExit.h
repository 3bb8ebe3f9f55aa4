#pragma once

#include <utility>

// Runs `f` when the scope ends, also when an error leaves it.
template <typename F>
class OnExit {
 public:
  explicit OnExit(F f) : f_(std::move(f)) {}
  // Runs while an error leaves the scope: a second error here would end the program, so it
  // gives way to the first, which is the one reported.
  ~OnExit() {
    if (!armed_) return;
    try {
      f_();
    } catch (...) {
    }
  }
  OnExit(const OnExit&) = delete;
  OnExit& operator=(const OnExit&) = delete;
  void Dismiss() { armed_ = false; }

 private:
  F f_;
  bool armed_ = true;
};
