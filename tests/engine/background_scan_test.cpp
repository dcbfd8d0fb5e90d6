// The background runner that the window's driver and the Python module
// share: a wait with a timeout comes back while the work still runs (the
// Python module checks for Ctrl-C between such waits), and once the work
// has ended its own error is raised again on the waiting thread, or
// nothing when it ended well.
#include "engine/background_scan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "util/errors.h"

namespace quarn {
namespace {

using namespace std::chrono_literals;

TEST(BackgroundScan, WaitsWithATimeoutThenRaisesTheWorksError) {
  for (const bool fails : {true, false}) {
    SCOPED_TRACE(fails ? "the work fails" : "the work ends well");
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    TBackgroundScan run([released, fails] {
      released.wait();
      if (fails) throw TFileChangedError("f");
    });
    EXPECT_FALSE(run.WaitFor(20ms)) << "held until released";
    EXPECT_FALSE(run.Ended());
    release.set_value();
    EXPECT_TRUE(run.WaitFor(1h));  // comes back as the work ends, not after the hour
    EXPECT_TRUE(run.Ended());
    if (fails) {
      EXPECT_THROW(run.RethrowError(), TFileChangedError);
    } else {
      EXPECT_NO_THROW(run.RethrowError());
    }
  }
}

}  // namespace
}  // namespace quarn
