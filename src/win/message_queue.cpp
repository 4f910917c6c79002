// Per-thread message queues: posting, sending across threads, timers and the message loop.
#include <algorithm>

#include "win/window_registry.h"

namespace win {
namespace detail {
namespace {

// Marks the thread's queue dead when the thread ends and takes its windows down, so that
// nothing waits for a loop that will never run again.
struct QueueHolder {
  std::shared_ptr<ThreadQueue> q;
  ~QueueHolder() {
    if (!q) return;
    std::vector<std::shared_ptr<SendRecord>> senders;
    {
      std::lock_guard<std::mutex> g(q->mu);
      q->alive = false;
      for (auto& m : q->messages)
        if (m.send) senders.push_back(m.send);
      q->messages.clear();
      q->timers.clear();
    }
    for (auto& s : senders) CompleteSend(s, 0);
    DestroyWindowsOf(q);
  }
};

thread_local QueueHolder t_queue;

// Wakes whoever waits for the queue: the layer's own loop, and an outside loop through the
// waker taken from the queue under its lock.
void WakeLoops(ThreadQueue& q, const std::function<void()>& waker) {
  q.cv.notify_all();
  if (waker) waker();
}

// Queues a message for a window of another thread (or a post to any window).
bool Enqueue(const std::shared_ptr<WindowData>& w, QueuedMessage m) {
  ThreadQueue& q = *w->owner;
  std::function<void()> waker;
  {
    std::lock_guard<std::mutex> g(q.mu);
    if (!q.alive || w->closing) return false;
    if (m.msg == WM_QUIT) {
      q.quit = true;
      q.quitCode = static_cast<int>(m.wParam);
    } else {
      q.messages.push_back(std::move(m));
    }
    waker = q.waker;
  }
  WakeLoops(q, waker);
  return true;
}

}  // namespace

std::shared_ptr<ThreadQueue> CurrentQueue() {
  if (!t_queue.q) {
    t_queue.q = std::make_shared<ThreadQueue>();
    t_queue.q->thread = std::this_thread::get_id();
  }
  return t_queue.q;
}

bool IsOwnerThread(const WindowData& w) {
  return t_queue.q && w.owner == t_queue.q;
}

void CompleteSend(const std::shared_ptr<SendRecord>& record, LRESULT result) {
  ThreadQueue& s = *record->sender;
  {
    std::lock_guard<std::mutex> g(s.mu);
    record->done = true;
    record->result = result;
  }
  s.cv.notify_all();
}

void Dispatch(QueuedMessage& m) {
  auto w = FindWindow(m.hwnd);
  if (!w) {
    if (m.send) CompleteSend(m.send, 0);
    return;
  }
  // A sender must be released even when the handler throws.
  struct Releaser {
    std::shared_ptr<SendRecord> send;
    LRESULT result = 0;
    ~Releaser() {
      if (send) CompleteSend(send, result);
    }
  } releaser{m.send};
  releaser.result = CallProc(w, m.msg, m.wParam, m.lParam);
}

void PurgeWindow(ThreadQueue& q, HWND hwnd) {
  std::vector<std::shared_ptr<SendRecord>> senders;
  std::function<void()> waker;
  {
    std::lock_guard<std::mutex> g(q.mu);
    auto& ms = q.messages;
    for (auto& m : ms)
      if (m.hwnd == hwnd && m.send) senders.push_back(m.send);
    ms.erase(std::remove_if(ms.begin(), ms.end(),
                            [&](const QueuedMessage& m) { return m.hwnd == hwnd; }),
             ms.end());
    auto& ts = q.timers;
    ts.erase(std::remove_if(ts.begin(), ts.end(), [&](const Timer& t) { return t.hwnd == hwnd; }),
             ts.end());
    // A loop of the owner thread waiting for this window (a modal dialog) must look again.
    if (t_queue.q.get() != &q) q.wake = true;
    waker = q.waker;
  }
  WakeLoops(q, waker);
  for (auto& s : senders) CompleteSend(s, 0);
}

}  // namespace detail

using namespace detail;

bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto w = FindWindow(hwnd);
  if (!w) return false;
  return Enqueue(w, QueuedMessage{hwnd, msg, wParam, lParam, nullptr});
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto w = FindWindow(hwnd);
  if (!w) return 0;
  if (IsOwnerThread(*w)) return CallProc(w, msg, wParam, lParam);

  auto me = CurrentQueue();
  auto record = std::make_shared<SendRecord>();
  record->sender = me;
  if (!Enqueue(w, QueuedMessage{hwnd, msg, wParam, lParam, record})) return 0;

  // While blocked, answer messages sent to this thread's own windows, so that two threads
  // sending to each other cannot deadlock.
  std::unique_lock<std::mutex> lk(me->mu);
  while (!record->done) {
    auto it = std::find_if(me->messages.begin(), me->messages.end(),
                           [](const QueuedMessage& m) { return m.send != nullptr; });
    if (it != me->messages.end()) {
      QueuedMessage m = std::move(*it);
      me->messages.erase(it);
      lk.unlock();
      Dispatch(m);
      lk.lock();
      continue;
    }
    me->cv.wait(lk);
  }
  return record->result;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs) {
  auto w = FindWindow(hwnd);
  if (!w || w->closing) return 0;
  const UINT period = std::max<UINT>(elapseMs, 10);  // the usual minimum period
  ThreadQueue& q = *w->owner;
  std::function<void()> waker;
  {
    std::lock_guard<std::mutex> g(q.mu);
    if (!q.alive) return 0;
    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(period);
    auto it = std::find_if(q.timers.begin(), q.timers.end(),
                           [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it != q.timers.end()) {
      it->periodMs = period;
      it->due = due;
    } else {
      q.timers.push_back(Timer{hwnd, id, period, due});
    }
    waker = q.waker;
  }
  WakeLoops(q, waker);
  return id;
}

bool KillTimer(HWND hwnd, UINT_PTR id) {
  auto w = FindWindow(hwnd);
  if (!w) return false;
  ThreadQueue& q = *w->owner;
  std::lock_guard<std::mutex> g(q.mu);
  auto it = std::find_if(q.timers.begin(), q.timers.end(),
                         [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (it == q.timers.end()) return false;
  q.timers.erase(it);
  return true;
}

bool PumpMessages(int maxWaitMs) {
  using Clock = std::chrono::steady_clock;
  auto q = CurrentQueue();
  std::unique_lock<std::mutex> lk(q->mu);
  const bool forever = maxWaitMs < 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : maxWaitMs);
  auto nextTimer = [&] {
    auto t = Clock::time_point::max();
    for (const auto& timer : q->timers) t = std::min(t, timer.due);
    return t;
  };
  for (;;) {
    const auto now = Clock::now();
    if (!q->messages.empty() || q->quit || q->wake || nextTimer() <= now) break;
    if (!forever && now >= deadline) break;
    auto wake = nextTimer();
    if (!forever) wake = std::min(wake, deadline);
    if (wake == Clock::time_point::max())
      q->cv.wait(lk);
    else
      q->cv.wait_until(lk, wake);
  }

  q->wake = false;
  // Everything queued now; messages queued by the handlers wait for the next round.
  for (size_t n = q->messages.size(); n > 0 && !q->messages.empty(); --n) {
    QueuedMessage m = std::move(q->messages.front());
    q->messages.pop_front();
    lk.unlock();
    Dispatch(m);
    lk.lock();
  }

  // Due timers, each once; a timer killed by an earlier handler is skipped.
  std::vector<std::pair<HWND, UINT_PTR>> due;
  const auto now = Clock::now();
  for (auto& t : q->timers) {
    if (t.due <= now) {
      t.due = now + std::chrono::milliseconds(t.periodMs);
      due.emplace_back(t.hwnd, t.id);
    }
  }
  for (const auto& entry : due) {
    const HWND hwnd = entry.first;
    const UINT_PTR id = entry.second;
    const bool alive = std::any_of(q->timers.begin(), q->timers.end(),
                                   [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (!alive) continue;
    lk.unlock();
    QueuedMessage m{hwnd, WM_TIMER, id, 0, nullptr};
    Dispatch(m);
    lk.lock();
  }

  if (q->quit) {
    q->quit = false;
    q->lastExitCode = q->quitCode;
    return false;
  }
  return true;
}

void PostQuitMessage(int exitCode) {
  auto q = CurrentQueue();
  std::function<void()> waker;
  {
    std::lock_guard<std::mutex> g(q->mu);
    q->quit = true;
    q->quitCode = exitCode;
    waker = q->waker;
  }
  WakeLoops(*q, waker);
}

void SetMessageWaker(std::function<void()> wake) {
  auto q = CurrentQueue();
  std::lock_guard<std::mutex> g(q->mu);
  q->waker = std::move(wake);
}

int MillisecondsUntilMessages() {
  using Clock = std::chrono::steady_clock;
  auto q = CurrentQueue();
  std::lock_guard<std::mutex> g(q->mu);
  if (!q->messages.empty() || q->quit || q->wake) return 0;
  if (q->timers.empty()) return -1;
  auto next = Clock::time_point::max();
  for (const auto& timer : q->timers) next = std::min(next, timer.due);
  const auto left = next - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  // Rounded up: a loop that sleeps this long finds the timer due.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, 1 << 30));
}

int RunMessageLoop() {
  while (PumpMessages(-1)) {
  }
  auto q = CurrentQueue();
  std::lock_guard<std::mutex> g(q->mu);
  return q->lastExitCode;
}

}  // namespace win
