#pragma once

#include <memory>

#include "IndexerHost.h"
#include "ScanIDX.h"

// The progress window of one job: created and shown, released on every way out of the job.
class ProgressWindow {
 public:
  explicit ProgressWindow(IndexerHost& host) : form_(std::make_unique<TScanForm>(host.Window())) {
    ScanForm = form_.get();
  }
  ~ProgressWindow() { Release(); }
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  TScanForm* operator->() const { return form_.get(); }
  void Release() {
    if (ScanForm == form_.get()) ScanForm = nullptr;
    form_.reset();
  }

 private:
  std::unique_ptr<TScanForm> form_;
};

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
