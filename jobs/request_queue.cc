#include "jobs/request_queue.h"

namespace larkspur {

void UiRequestQueue::RunOnUiThread(const std::function<void()>& request) {
  // On the user-interface thread itself a queued request would wait forever.
  if (std::this_thread::get_id() == owner_) {
    request();
    return;
  }
  Request item{&request};
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(&item);
    changed_.notify_all();
  }
  if (wake_) wake_();
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return item.done; });
  if (item.error) std::rethrow_exception(item.error);
}

void UiRequestQueue::ServePendingRequests() {
  for (;;) {
    Request* item = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (pending_.empty()) return;
      item = pending_.front();
      pending_.pop_front();
    }
    try {
      (*item->work)();
    } catch (...) {
      item->error = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    item->done = true;
    changed_.notify_all();
  }
}

void UiRequestQueue::ServeUntil(const std::function<bool()>& done) {
  for (;;) {
    ServePendingRequests();
    if (done()) return;
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(1), [&] { return !pending_.empty(); });
  }
}

}  // namespace larkspur
