#pragma once

#include <memory>
#include <string>

#include "IndexerHost.h"
#include "OnExit.h"
#include "ScanEngine.h"
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

// Shows a job's progress in its progress window: Begin() creates and shows the window, End()
// (or the end of this object) releases it. Cancel and Esc reach the job through RunFlag.
class WindowProgress : public ScanProgress {
 public:
  explicit WindowProgress(IndexerHost& host) : host_(host) {}

  void Begin(const std::string& caption, const std::string& endMark,
             const std::string& text) override;
  void Progress(int current, int total, int bar, const std::string& text) override;
  void Note(const std::string& text) override;
  void Warn(const std::string& text, const std::string& caption) override;
  void End() override { window_.reset(); }

 private:
  IndexerHost& host_;
  std::unique_ptr<ProgressWindow> window_;
};
