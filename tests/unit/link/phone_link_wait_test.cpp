// Long answer waits that must end early, on the real clock: the pipelined write waits 70 s for
// an answer and the NAND programming 270 s, so a wait that outlived its phone would hold a
// download (and whoever closes it) for minutes.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <thread>

#include "link/phone_link.h"
#include "support/log_capture.h"
#include "support/scripted_peer.h"

namespace tr52test {
namespace {

int64_t RealMsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               t0)
      .count();
}

// The port's own pause after it noticed a cable loss on a read ("@@ Cable Disconnected -
// Reading Error" closes, then pauses 1 s), which the transaction sits out before it can end.
constexpr int64_t kCableLossPauseMs = 1000;

TEST(PhoneLinkWait, LongWaitEndsSoonAfterThePhoneIsGoneOrTheLinkIsAborted) {
  struct Row {
    const char* what;
    int timeoutMs;
    // What happens on another thread while the transaction waits.
    std::function<void(ScriptedPeer&, tr52::PhoneLink&)> event;
    tr52::RxStatusCode status;
    int64_t limitMs;  // real time from the event to the end of the transaction
  };
  const Row rows[] = {
      {"cable pulled during a 70 s wait", 70000,
       [](ScriptedPeer& peer, tr52::PhoneLink&) { peer.Vanish(); }, tr52::RxStatusCode::Timeout,
       kCableLossPauseMs + 1000},
      {"cable pulled during a 270 s wait", 270000,
       [](ScriptedPeer& peer, tr52::PhoneLink&) { peer.Vanish(); }, tr52::RxStatusCode::Timeout,
       kCableLossPauseMs + 1000},
      {"abort from another thread during a 70 s wait", 70000,
       [](ScriptedPeer&, tr52::PhoneLink& link) { link.Abort(); }, tr52::RxStatusCode::Abort, 1000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    LogCapture log;
    ScriptedPeer peer(47);  // silent: only the event ends the wait
    tr52::PhoneLink link;
    ASSERT_TRUE(link.Open(47));
    auto bufs = link.PacketBuffers();
    bufs.request[0] = 0x00;

    // The transaction runs on a worker; this thread plays the cable or the closing pane.
    std::promise<void> finished;
    auto done = finished.get_future();
    std::optional<tr52::TxRxResult> result;
    std::thread worker([&] {
      result = link.AsyncTxRx(bufs.request, bufs.response, 1, row.timeoutMs);
      finished.set_value();
    });
    ASSERT_TRUE(peer.WaitForRequests(1, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // well inside the wait
    const auto eventAt = std::chrono::steady_clock::now();
    row.event(peer, link);
    const bool endedInTime =
        done.wait_for(std::chrono::milliseconds(row.limitMs)) == std::future_status::ready;
    EXPECT_TRUE(endedInTime) << "still waiting " << RealMsSince(eventAt) << " ms after the event";
    if (!endedInTime) link.Abort();  // end the wait so that the test can go on
    worker.join();

    EXPECT_EQ(result, tr52::TxRxResult::Failed);
    if (endedInTime) {
      EXPECT_EQ(link.RxStatus(), row.status);
    }
    link.Close();
  }
}

}  // namespace
}  // namespace tr52test
