#include "jobs/worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "jobs/fake_ui_thread.h"
#include "port/files.h"

namespace larkspur {
namespace {

TEST(WorkerTest, AStartWhileBusyIsIgnored) {
  testing::FakeUiThread ui;
  std::atomic<bool> release{false};
  std::atomic<int> runs{0};
  TJvThread worker(ui, "w", [&] {
    ++runs;
    while (!release) port::SleepMilliseconds(1);
  }, nullptr);
  EXPECT_TRUE(StartWorker(worker));
  EXPECT_TRUE(worker.Busy());
  EXPECT_FALSE(StartWorker(worker));
  release = true;
  worker.Teardown();
  EXPECT_FALSE(worker.Busy());
  EXPECT_EQ(runs, 1);
  // Idle again: a new start is accepted.
  EXPECT_TRUE(StartWorker(worker));
  worker.Teardown();
  EXPECT_EQ(runs, 2);
}

TEST(WorkerTest, RequestsRunOnTheUiThreadInOrderWhileTheWorkerWaits) {
  testing::FakeUiThread ui;
  const auto ui_id = std::this_thread::get_id();
  std::vector<std::string> seen;
  bool all_on_ui = true;
  TJvThread worker(ui, "w", [&] {
    for (int i = 0; i < 50; ++i) {
      ui.RunOnUiThread([&, i] {
        all_on_ui = all_on_ui && std::this_thread::get_id() == ui_id;
        seen.push_back(std::to_string(i));
      });
      // The request has been carried out when RunOnUiThread returns.
      if (seen.size() != static_cast<std::size_t>(i + 1)) throw std::logic_error("not waited for");
    }
  }, [&](std::exception_ptr) { seen.push_back("error"); });
  StartWorker(worker);
  worker.Teardown();  // serves the requests while it waits
  ASSERT_EQ(seen.size(), 50u);
  EXPECT_EQ(seen.front(), "0");
  EXPECT_EQ(seen.back(), "49");
  EXPECT_TRUE(all_on_ui);
}

TEST(WorkerTest, AnErrorIsReportedOnTheUiThreadAndTheComponentBecomesIdle) {
  testing::FakeUiThread ui;
  std::string reported;
  TJvThread worker(ui, "w", [] { throw std::runtime_error("Cannot create file"); },
                   [&](std::exception_ptr error) {
                     try {
                       std::rethrow_exception(error);
                     } catch (const std::exception& e) {
                       reported = e.what();
                     }
                   });
  StartWorker(worker);
  worker.Teardown();
  EXPECT_EQ(reported, "Cannot create file");
  EXPECT_FALSE(worker.Busy());
}

TEST(WorkerTest, DestructionWaitsForTheRunningBody) {
  testing::FakeUiThread ui;
  std::atomic<bool> finished{false};
  {
    TJvThread worker(ui, "w", [&] {
      port::SleepMilliseconds(50);
      ui.RunOnUiThread([] {});  // still talking to the window at teardown
      finished = true;
    }, nullptr);
    StartWorker(worker);
  }
  EXPECT_TRUE(finished);
}

}  // namespace
}  // namespace larkspur
