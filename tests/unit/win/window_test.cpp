#include "win/window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "pump_util.h"
#include "win/window_registry.h"

using namespace win;
using wintest::PumpUntil;

namespace {

// Number of messages waiting in the owner queue of a window (internal view, for tests that
// must know that a cross-thread send is really queued before acting).
size_t QueuedFor(HWND hwnd) {
  auto w = detail::FindWindow(hwnd);
  if (!w) return 0;
  std::lock_guard<std::mutex> g(w->owner->mu);
  return w->owner->messages.size();
}

class CountingFrontEnd : public FrontEnd {
 public:
  void Invalidate(HWND hwnd) override {
    std::lock_guard<std::mutex> g(mu);
    invalidated.push_back(hwnd);
  }
  int ShowMessageBox(HWND, const std::string& text, const std::string& caption, UINT) override {
    std::lock_guard<std::mutex> g(mu);
    boxes.push_back(caption + "|" + text);
    return IDCANCEL;
  }
  size_t Count(HWND hwnd) {
    std::lock_guard<std::mutex> g(mu);
    return static_cast<size_t>(std::count(invalidated.begin(), invalidated.end(), hwnd));
  }
  std::mutex mu;
  std::vector<HWND> invalidated;
  std::vector<std::string> boxes;
};

struct ScopedFrontEnd {
  explicit ScopedFrontEnd(FrontEnd* f) { SetFrontEnd(f); }
  ~ScopedFrontEnd() { SetFrontEnd(nullptr); }
};

}  // namespace

TEST(WindowSend, CrossThreadSendRunsOnOwnerThreadAndReturnsResult) {
  std::thread::id handledOn;
  HWND h = CreateWindowEx(nullptr, "Test", "", 0, Rect{}, [&](HWND, UINT msg, WPARAM wp, LPARAM) {
    if (msg != WM_USER) return LRESULT{0};
    handledOn = std::this_thread::get_id();
    return static_cast<LRESULT>(wp * 2 + 1);
  });
  ASSERT_NE(h, nullptr);
  auto result = std::async(std::launch::async, [h] { return SendMessage(h, WM_USER, 20, 0); });
  ASSERT_TRUE(PumpUntil(
      [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_EQ(result.get(), 41);
  EXPECT_EQ(handledOn, std::this_thread::get_id());
  DestroyWindow(h);
}

TEST(WindowSend, CopyDataRecordIsReadableDuringACrossThreadSend) {
  std::string received;
  uintptr_t kind = 99;
  HWND h = CreateWindowEx(nullptr, "Pane", "", 0, Rect{}, [&](HWND, UINT msg, WPARAM, LPARAM lp) {
    if (msg != WM_COPYDATA) return LRESULT{0};
    const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lp);
    kind = record->dwData;
    received.assign(static_cast<const char*>(record->lpData), record->cbData - 1);
    return LRESULT{1};
  });
  auto result = std::async(std::launch::async, [h] {
    char text[] = "TR52";  // lives on the sender's stack for the duration of the send
    COPYDATASTRUCT record{3, sizeof text, text};
    return SendMessage(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
  });
  ASSERT_TRUE(PumpUntil(
      [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_EQ(result.get(), 1);
  EXPECT_EQ(kind, 3u);
  EXPECT_EQ(received, "TR52");
  DestroyWindow(h);
}

TEST(WindowSend, SameThreadSendIsDirectAndMayReenter) {
  HWND h = nullptr;
  int depth = 0;
  h = CreateWindowEx(nullptr, "Test", "", 0, Rect{}, [&](HWND hwnd, UINT msg, WPARAM wp, LPARAM) {
    if (msg != WM_USER) return LRESULT{0};
    ++depth;
    // A handler sends to its own window again: direct, no deadlock.
    return wp == 0 ? LRESULT{100} : SendMessage(hwnd, WM_USER, wp - 1, 0) + 1;
  });
  EXPECT_EQ(SendMessage(h, WM_USER, 3, 0), 103);
  EXPECT_EQ(depth, 4);
  DestroyWindow(h);
}

TEST(WindowSend, TwoThreadsSendingToEachOtherDoNotDeadlock) {
  // The worker owns window B; B's handler sends to A (owned by this thread) while this thread
  // is itself blocked sending to B.
  HWND a = CreateWindowEx(nullptr, "A", "", 0, Rect{}, [](HWND, UINT msg, WPARAM, LPARAM) {
    return msg == WM_USER ? LRESULT{7} : LRESULT{0};
  });
  std::promise<HWND> bReady;
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    HWND b = CreateWindowEx(nullptr, "B", "", 0, Rect{}, [a](HWND, UINT msg, WPARAM, LPARAM) {
      return msg == WM_USER ? SendMessage(a, WM_USER, 0, 0) * 10 : LRESULT{0};
    });
    bReady.set_value(b);
    while (!stop) PumpMessages(5);
    DestroyWindow(b);
  });
  HWND b = bReady.get_future().get();
  EXPECT_EQ(SendMessage(b, WM_USER, 0, 0), 70);
  stop = true;
  worker.join();
  DestroyWindow(a);
}

TEST(WindowPost, PostsArriveInOrderOnTheOwnerThread) {
  std::vector<WPARAM> got;
  std::vector<std::thread::id> threads;
  HWND h = CreateWindowEx(nullptr, "Test", "", 0, Rect{}, [&](HWND, UINT msg, WPARAM wp, LPARAM) {
    if (msg == WM_USER) {
      got.push_back(wp);
      threads.push_back(std::this_thread::get_id());
    }
    return LRESULT{0};
  });
  std::thread poster([h] {
    for (WPARAM i = 0; i < 200; ++i) EXPECT_TRUE(PostMessage(h, WM_USER, i, 0));
  });
  poster.join();
  EXPECT_TRUE(got.empty());  // nothing runs before the owner pumps
  ASSERT_TRUE(PumpUntil([&] { return got.size() == 200; }));
  for (WPARAM i = 0; i < 200; ++i) EXPECT_EQ(got[i], i);
  for (auto id : threads) EXPECT_EQ(id, std::this_thread::get_id());
  DestroyWindow(h);
}

TEST(WindowDestroy, QueuedPostsAreDropped) {
  int handled = 0;
  HWND h = CreateWindowEx(nullptr, "Test", "", 0, Rect{}, [&](HWND, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_USER) ++handled;
    return LRESULT{0};
  });
  for (int i = 0; i < 5; ++i) PostMessage(h, WM_USER, 0, 0);
  ASSERT_TRUE(DestroyWindow(h));
  PumpMessages(0);
  EXPECT_EQ(handled, 0);
  EXPECT_FALSE(PostMessage(h, WM_USER, 0, 0));
}

TEST(WindowDestroy, BlockedCrossThreadSendReturnsZero) {
  int handled = 0;
  HWND h = CreateWindowEx(nullptr, "Test", "", 0, Rect{}, [&](HWND, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_USER) ++handled;
    return LRESULT{99};
  });
  auto result = std::async(std::launch::async, [h] { return SendMessage(h, WM_USER, 0, 0); });
  // Wait (without pumping) until the send is really queued, then tear the window down.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (QueuedFor(h) == 0 && std::chrono::steady_clock::now() < end) std::this_thread::yield();
  ASSERT_EQ(QueuedFor(h), 1u);
  DestroyWindow(h);
  ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(result.get(), 0);
  EXPECT_EQ(handled, 0);
}

TEST(WindowDestroy, SendersReleasedWhenOwnerThreadEnds) {
  std::promise<HWND> made;
  std::promise<void> release;
  std::thread owner([&] {
    made.set_value(CreateWindowEx(nullptr, "Test", "", 0, Rect{}, {}));
    release.get_future().wait();  // never pumps, then ends without destroying
  });
  HWND h = made.get_future().get();
  auto result = std::async(std::launch::async, [h] { return SendMessage(h, WM_USER, 0, 0); });
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (QueuedFor(h) == 0 && std::chrono::steady_clock::now() < end) std::this_thread::yield();
  release.set_value();
  owner.join();
  ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(result.get(), 0);
  EXPECT_FALSE(IsWindow(h));
}

TEST(WindowDestroy, StaleHandleIsNotAWindow) {
  HWND h = CreateWindowEx(nullptr, "Test", "caption", 5, Rect{1, 2, 3, 4}, {});
  ASSERT_TRUE(IsWindow(h));
  ASSERT_TRUE(DestroyWindow(h));
  EXPECT_FALSE(IsWindow(h));
  EXPECT_FALSE(DestroyWindow(h));
  EXPECT_EQ(SendMessage(h, WM_USER, 0, 0), 0);
  EXPECT_FALSE(PostMessage(h, WM_USER, 0, 0));
  EXPECT_EQ(GetWindowText(h), "");
  EXPECT_EQ(GetDlgCtrlID(h), 0);
  EXPECT_EQ(SetTimer(h, 1, 10), 0u);
  EXPECT_FALSE(SetWindowText(h, "x"));
  EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(uintptr_t{0x1234567})));
  // A new window never takes an old handle.
  HWND other = CreateWindowEx(nullptr, "Test", "", 0, Rect{}, {});
  EXPECT_NE(other, h);
  DestroyWindow(other);
}

TEST(WindowDestroy, HandlerMayDestroyItsOwnWindowAndChildrenGo) {
  std::vector<UINT> seen;
  HWND parent =
      CreateWindowEx(nullptr, "P", "", 0, Rect{}, [&](HWND hwnd, UINT msg, WPARAM, LPARAM) {
        seen.push_back(msg);
        if (msg == WM_CLOSE) DestroyWindow(hwnd);
        return LRESULT{0};
      });
  HWND c1 = CreateWindowEx(parent, "Static", "a", 1, Rect{}, {});
  HWND c2 = CreateWindowEx(parent, "Static", "b", 2, Rect{}, {});
  EXPECT_EQ(GetChildren(parent), (std::vector<HWND>{c1, c2}));
  EXPECT_EQ(GetDlgItem(parent, 2), c2);
  EXPECT_EQ(GetParent(c1), parent);
  PostMessage(parent, WM_CLOSE, 0, 0);
  PostMessage(parent, WM_USER, 0, 0);  // queued behind the close: dropped
  PumpMessages(0);
  EXPECT_FALSE(IsWindow(parent));
  EXPECT_FALSE(IsWindow(c1));
  EXPECT_FALSE(IsWindow(c2));
  EXPECT_EQ(seen, (std::vector<UINT>{WM_CREATE, WM_CLOSE, WM_DESTROY}));
}

TEST(WindowDestroy, ChildOfDestroyedWindowCannotBeCreated) {
  HWND p = CreateWindowEx(nullptr, "P", "", 0, Rect{}, {});
  DestroyWindow(p);
  EXPECT_EQ(CreateWindowEx(p, "Static", "", 1, Rect{}, {}), nullptr);
}

TEST(WindowTimer, DeliveredAsWmTimerByTheOwnerLoopUntilKilled) {
  std::vector<WPARAM> ticks;
  HWND h = CreateWindowEx(nullptr, "T", "", 0, Rect{}, [&](HWND, UINT msg, WPARAM wp, LPARAM) {
    if (msg == WM_TIMER) ticks.push_back(wp);
    return LRESULT{0};
  });
  // Started from another thread, as a worker starts a pane's clock.
  std::thread([h] { EXPECT_EQ(SetTimer(h, 3, 10), 3u); }).join();
  EXPECT_TRUE(ticks.empty());
  ASSERT_TRUE(PumpUntil([&] { return ticks.size() >= 3; }));
  for (auto id : ticks) EXPECT_EQ(id, 3u);
  EXPECT_TRUE(KillTimer(h, 3));
  EXPECT_FALSE(KillTimer(h, 3));
  const size_t n = ticks.size();
  PumpMessages(40);
  EXPECT_EQ(ticks.size(), n);
  DestroyWindow(h);
}

TEST(WindowTimer, TimerDiesWithItsWindow) {
  int ticks = 0;
  HWND h = CreateWindowEx(nullptr, "T", "", 0, Rect{}, [&](HWND, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_TIMER) ++ticks;
    return LRESULT{0};
  });
  SetTimer(h, 1, 10);
  DestroyWindow(h);
  PumpMessages(40);
  EXPECT_EQ(ticks, 0);
}

TEST(WindowLoop, QuitEndsTheLoopWithItsCode) {
  HWND h = CreateWindowEx(nullptr, "T", "", 0, Rect{}, [](HWND, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_USER) PostQuitMessage(17);
    return LRESULT{0};
  });
  PostMessage(h, WM_USER, 0, 0);
  EXPECT_EQ(RunMessageLoop(), 17);
  // The quit is consumed: the next pump runs normally.
  EXPECT_TRUE(PumpMessages(0));
  PostQuitMessage(1);
  EXPECT_FALSE(PumpMessages(0));
  EXPECT_TRUE(PumpMessages(0));
  DestroyWindow(h);
}

// A toolkit's loop that runs the thread's messages is woken by whatever gives the thread work,
// from any thread, and told how long it may sleep; without a waker nothing calls it.
TEST(WindowLoop, OutsideLoopIsWokenAndToldWhenWorkIsDue) {
  HWND h = CreateWindowEx(nullptr, "T", "", 0, Rect{}, {});
  std::atomic<int> wakes{0};
  SetMessageWaker([&] { ++wakes; });
  EXPECT_EQ(MillisecondsUntilMessages(), -1);
  auto elsewhere = [](std::function<void()> f) { std::thread(std::move(f)).join(); };
  struct Row {
    const char* what;
    std::function<void()> act;
    int minMs, maxMs;  // what MillisecondsUntilMessages says afterwards
  };
  const std::vector<Row> rows = {
      {"post from another thread", [&] { elsewhere([&] { PostMessage(h, WM_USER, 0, 0); }); }, 0,
       0},
      {"timer set from another thread", [&] { elsewhere([&] { SetTimer(h, 1, 5000); }); }, 4000,
       5000},
      {"quit", [] { PostQuitMessage(3); }, 0, 0},
      {"post from the thread itself", [&] { PostMessage(h, WM_USER, 0, 0); }, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    wakes = 0;
    row.act();
    EXPECT_GE(wakes.load(), 1);
    const int ms = MillisecondsUntilMessages();
    EXPECT_GE(ms, row.minMs);
    EXPECT_LE(ms, row.maxMs);
    (void)PumpMessages(0);
    KillTimer(h, 1);
    EXPECT_EQ(MillisecondsUntilMessages(), -1);
  }
  SetTimer(h, 2, 10);
  std::this_thread::sleep_for(std::chrono::milliseconds(15));
  EXPECT_EQ(MillisecondsUntilMessages(), 0);  // a due timer is work
  KillTimer(h, 2);
  SetMessageWaker({});
  wakes = 0;
  elsewhere([&] { PostMessage(h, WM_USER, 0, 0); });
  EXPECT_EQ(wakes.load(), 0);
  DestroyWindow(h);
}

TEST(WindowLoop, PumpWaitsNoLongerThanAsked) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(PumpMessages(20));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(19));
  EXPECT_LT(waited, std::chrono::seconds(2));
}

TEST(WindowState, TextVisibilityAndFrontEndNotices) {
  CountingFrontEnd fe;
  ScopedFrontEnd scope(&fe);
  HWND p = CreateWindowEx(nullptr, "P", "", 0, Rect{}, {});
  HWND s = CreateWindowEx(p, "Static", "COM XX", 7002, Rect{1, 2, 30, 13}, {}, WS_VISIBLE);
  EXPECT_EQ(fe.Count(p), 1u);        // the parent learns of its new child
  EXPECT_FALSE(IsWindowVisible(s));  // parent hidden
  ShowWindow(p, SW_SHOW);
  EXPECT_TRUE(IsWindowVisible(s));
  const size_t before = fe.Count(s);
  SetWindowText(s, "COM 7");
  EXPECT_EQ(fe.Count(s), before + 1);
  EXPECT_EQ(GetWindowText(s), "COM 7");
  char buf[4];
  EXPECT_EQ(SendMessage(s, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf)), 3);
  EXPECT_STREQ(buf, "COM");
  EXPECT_EQ(SendMessage(s, WM_GETTEXTLENGTH, 0, 0), 5);
  SendMessage(s, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("0 s"));
  EXPECT_EQ(GetWindowText(s), "0 s");
  EXPECT_EQ(GetClassName(s), "Static");
  EXPECT_EQ(GetDlgCtrlID(s), 7002);
  EXPECT_EQ(GetWindowRect(s).Width(), 29);
  DestroyWindow(p);
}

TEST(WindowMessageBox, GoesThroughTheFrontEndOrAnswersOkHeadless) {
  EXPECT_EQ(MessageBox(nullptr, "headless text", "Cap", MB_OK), IDOK);
  CountingFrontEnd fe;
  ScopedFrontEnd scope(&fe);
  EXPECT_EQ(MessageBox(nullptr, "hello", "Cap", MB_OK), IDCANCEL);
  ASSERT_EQ(fe.boxes.size(), 1u);
  EXPECT_EQ(fe.boxes[0], "Cap|hello");
}

TEST(WindowSend, HandlerExceptionStillReleasesTheSender) {
  HWND h =
      CreateWindowEx(nullptr, "T", "", 0, Rect{}, [](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_USER) throw std::runtime_error("boom");
        return 0;
      });
  auto result = std::async(std::launch::async, [h] { return SendMessage(h, WM_USER, 0, 0); });
  bool threw = false;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!threw && std::chrono::steady_clock::now() < end) {
    try {
      PumpMessages(5);
    } catch (const std::runtime_error&) {
      threw = true;
    }
  }
  EXPECT_TRUE(threw);
  ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(result.get(), 0);
  DestroyWindow(h);
}

TEST(WindowStress, ManySendersAndPostersThenTeardownNeverHang) {
  std::atomic<int> handled{0};
  HWND h = CreateWindowEx(nullptr, "T", "", 0, Rect{}, [&](HWND, UINT msg, WPARAM wp, LPARAM) {
    if (msg != WM_USER) return LRESULT{0};
    ++handled;
    return static_cast<LRESULT>(wp);
  });
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        if (t % 2) {
          PostMessage(h, WM_USER, 1, 0);
        } else {
          const LRESULT r = SendMessage(h, WM_USER, 5, 0);
          if (r != 5 && r != 0) ++wrong;  // 0 only once the window is gone
        }
      }
    });
  }
  PumpUntil([&] { return handled.load() >= 600; });
  DestroyWindow(h);  // senders still running are released
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GE(handled.load(), 600);
}
