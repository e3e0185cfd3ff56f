// The user-interface thread's queue of requests from other threads: a
// UiThread whose requests wait in a queue until the owning thread serves
// them. The console window, the Win32 window (which wakes its message loop
// through `wake`) and the tests' stand-in for a window use it.
//
// The thread that constructs it is the user-interface thread. Requests from
// one thread are carried out in the order they were made; an exception a
// request throws goes back to the thread that made it, never into the
// serving thread, so a waiting worker is never left hanging.
#ifndef LARKSPUR_JOBS_REQUEST_QUEUE_H_
#define LARKSPUR_JOBS_REQUEST_QUEUE_H_

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "jobs/ui_thread.h"

namespace larkspur {

class UiRequestQueue : public UiThread {
 public:
  // `wake`, when given, is called on the asking thread after each request
  // is queued, so the owner's loop knows to serve it.
  explicit UiRequestQueue(std::function<void()> wake = nullptr)
      : owner_(std::this_thread::get_id()), wake_(std::move(wake)) {}
  UiRequestQueue(const UiRequestQueue&) = delete;
  UiRequestQueue& operator=(const UiRequestQueue&) = delete;

  // UiThread
  void RunOnUiThread(const std::function<void()>& request) override;
  void ServePendingRequests() override;

  // User-interface thread: serves requests until `done` is true, checking
  // it at least every millisecond.
  void ServeUntil(const std::function<bool()>& done);

 private:
  struct Request {
    const std::function<void()>* work;
    bool done = false;
    std::exception_ptr error;
  };

  const std::thread::id owner_;
  const std::function<void()> wake_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Request*> pending_;
};

}  // namespace larkspur

#endif  // LARKSPUR_JOBS_REQUEST_QUEUE_H_
