#include "jobs/worker.h"

#include "port/files.h"

namespace larkspur {

TJvThread::TJvThread(UiThread& ui, std::string name, Body body, ErrorReport report)
    : ui_(ui), name_(std::move(name)), body_(std::move(body)), report_(std::move(report)) {}

TJvThread::~TJvThread() { Teardown(); }

bool TJvThread::Busy() const {
  std::lock_guard lock(mutex_);
  return busy_;
}

void TJvThread::JoinFinishedThread() {
  // The previous run has handed its end over already; its thread only has
  // to return, so this join is short and cannot wait on the caller.
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool TJvThread::Start() {
  std::lock_guard lock(mutex_);
  if (busy_ || !body_) return false;
  JoinFinishedThread();
  busy_ = true;
  try {
    thread_ = std::thread(&TJvThread::Run, this);
  } catch (const std::system_error&) {
    busy_ = false;  // no thread: nothing started, nothing reported
    return false;
  }
  return true;
}

void TJvThread::Run() {
  try {
    body_();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ui_.RunOnUiThread([this, error] {
      if (report_) report_(error);
    });
  }
  ui_.RunOnUiThread([this] {
    std::lock_guard lock(mutex_);
    busy_ = false;
  });
}

void TJvThread::WaitUntilIdle() {
  while (Busy()) {
    port::SleepMilliseconds(1);
    ui_.ServePendingRequests();
  }
}

void TJvThread::Teardown() {
  {
    std::lock_guard lock(mutex_);
    stop_requested_ = true;
  }
  WaitUntilIdle();
  std::lock_guard lock(mutex_);
  JoinFinishedThread();
}

}  // namespace larkspur
