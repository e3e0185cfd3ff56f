#include "jobs/request_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace larkspur {
namespace {

// A request that throws hands its error back to the worker that made it;
// the queue goes on serving, and requests keep their order.
TEST(UiRequestQueueTest, AnErrorGoesBackToTheWorkerAndOrderIsKept) {
  UiRequestQueue queue;
  std::vector<int> order;
  std::string caught;
  std::atomic<bool> finished = false;
  std::thread worker([&] {
    queue.RunOnUiThread([&] { order.push_back(1); });
    try {
      queue.RunOnUiThread([] { throw std::runtime_error("the window refused"); });
    } catch (const std::runtime_error& error) {
      caught = error.what();
    }
    queue.RunOnUiThread([&] { order.push_back(2); });
    finished = true;
  });
  queue.ServeUntil([&] { return finished.load(); });
  worker.join();
  EXPECT_EQ(caught, "the window refused");
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(UiRequestQueueTest, OnItsOwnThreadARequestRunsAtOnce) {
  UiRequestQueue queue;
  bool ran = false;
  queue.RunOnUiThread([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_THROW(queue.RunOnUiThread([] { throw std::logic_error("x"); }), std::logic_error);
}

}  // namespace
}  // namespace larkspur
