// The user-interface thread, as the workers see it: a way to have a request
// carried out there, in order, while the asking thread waits.
#ifndef LARKSPUR_JOBS_UI_THREAD_H_
#define LARKSPUR_JOBS_UI_THREAD_H_

#include <functional>

namespace larkspur {

class UiThread {
 public:
  virtual ~UiThread() = default;

  // Carries out `request` on the user-interface thread and returns when it
  // has been carried out. Called on the user-interface thread itself, the
  // request runs at once (a queued wait there would never end). Requests
  // from one thread are carried out in the order they were made. An
  // exception thrown by `request` reaches the caller.
  virtual void RunOnUiThread(const std::function<void()>& request) = 0;

  // User-interface thread only: carries out every request that other threads
  // have handed over and that waits. The teardown wait calls this, so a
  // worker that still logs while the window goes away is never left hanging.
  virtual void ServePendingRequests() = 0;
};

}  // namespace larkspur

#endif  // LARKSPUR_JOBS_UI_THREAD_H_
