// Test helper: a user-interface thread made of the request queue, served by
// the test's own thread.
#ifndef LARKSPUR_JOBS_FAKE_UI_THREAD_H_
#define LARKSPUR_JOBS_FAKE_UI_THREAD_H_

#include "jobs/request_queue.h"

namespace larkspur::testing {

using FakeUiThread = UiRequestQueue;

}  // namespace larkspur::testing

#endif  // LARKSPUR_JOBS_FAKE_UI_THREAD_H_
