// Worker components: each runs one body at a time on a thread of its own.
// A start request while the component is busy is ignored (the busy rule);
// the end of every run and any error report are handed to the
// user-interface thread; destroying a component waits until its run has
// ended, serving the user-interface requests of the worker meanwhile.
//
// Start requests may come from any thread; WaitUntilIdle, Teardown and the
// destructor are for the user-interface thread.
#ifndef LARKSPUR_JOBS_WORKER_H_
#define LARKSPUR_JOBS_WORKER_H_

#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "jobs/ui_thread.h"

namespace larkspur {

class TJvThread {
 public:
  using Body = std::function<void()>;
  // Called on the user-interface thread with the error that ended a body.
  using ErrorReport = std::function<void(std::exception_ptr)>;

  TJvThread(UiThread& ui, std::string name, Body body, ErrorReport report);
  ~TJvThread();  // Teardown()

  TJvThread(const TJvThread&) = delete;
  TJvThread& operator=(const TJvThread&) = delete;

  // Starts a run of the body on a new thread and returns true; returns false
  // and does nothing when the component is busy. A component is busy from an
  // accepted start until the user-interface thread has handled the end of
  // the run.
  bool Start();

  bool Busy() const;

  // Waits until the component is idle, carrying out the requests of worker
  // threads meanwhile (the end of the run among them). Never cuts a run
  // short. User-interface thread only.
  void WaitUntilIdle();

  // Sets the stop request (which no body reads), waits until the component
  // is idle as WaitUntilIdle does, and releases the last run's thread.
  // User-interface thread only.
  void Teardown();

  const std::string& name() const { return name_; }

 private:
  void Run();
  void JoinFinishedThread();

  UiThread& ui_;
  const std::string name_;
  const Body body_;
  const ErrorReport report_;

  mutable std::mutex mutex_;
  bool busy_ = false;
  bool stop_requested_ = false;  // set at teardown; no body reads it
  std::thread thread_;
};

// Starts a run of `component`; false when the request was ignored.
inline bool StartWorker(TJvThread& component) { return component.Start(); }

}  // namespace larkspur

#endif  // LARKSPUR_JOBS_WORKER_H_
