// Test helper: a user-interface thread made of a request queue that the
// test's own thread serves, recording what it carried out.
#ifndef LARKSPUR_JOBS_FAKE_UI_THREAD_H_
#define LARKSPUR_JOBS_FAKE_UI_THREAD_H_

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "jobs/ui_thread.h"

namespace larkspur::testing {

class FakeUiThread : public UiThread {
 public:
  void RunOnUiThread(const std::function<void()>& request) override {
    if (std::this_thread::get_id() == ui_) {
      request();
      return;
    }
    bool done = false;
    std::unique_lock lock(mutex_);
    queue_.push_back({request, &done});
    changed_.wait(lock, [&] { return done; });
  }

  void ServePendingRequests() override {
    std::unique_lock lock(mutex_);
    while (!queue_.empty()) {
      auto [request, done] = queue_.front();
      queue_.pop_front();
      lock.unlock();
      request();
      lock.lock();
      *done = true;
      changed_.notify_all();
    }
  }

 private:
  const std::thread::id ui_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<std::function<void()>, bool*>> queue_;
};

}  // namespace larkspur::testing

#endif  // LARKSPUR_JOBS_FAKE_UI_THREAD_H_
