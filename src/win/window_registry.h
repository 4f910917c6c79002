// Internal to the window layer: the live windows, their owner threads' queues, and the state
// the built-in controls keep. Not for use outside src/win.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "win/controls.h"
#include "win/window.h"

namespace win::detail {

using SteadyTime = std::chrono::steady_clock::time_point;

struct ThreadQueue;

// A cross-thread SendMessage waiting for its answer. Completed under the sender queue's mutex
// so that the blocked sender wakes on its own queue's condition variable.
struct SendRecord {
  std::shared_ptr<ThreadQueue> sender;
  bool done = false;
  LRESULT result = 0;
};

struct QueuedMessage {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  std::shared_ptr<SendRecord> send;  // null for a posted message
};

struct Timer {
  HWND hwnd;
  UINT_PTR id;
  UINT periodMs;
  SteadyTime due;
};

// One per thread that owns windows or sends across threads.
struct ThreadQueue {
  std::mutex mu;
  std::condition_variable cv;
  std::deque<QueuedMessage> messages;
  std::vector<Timer> timers;
  std::thread::id thread;
  bool alive = true;
  bool wake = false;  // a window of this thread went away: loops re-check their state
  bool quit = false;
  int quitCode = 0;
  int lastExitCode = 0;
  std::function<void()> waker;  // an outside loop to wake (SetMessageWaker)
};

enum class Kind { kPlain, kDialog, kStatic, kButton, kEdit, kListBox, kProgress };

struct ListBoxData {
  std::vector<std::string> items;
  int curSel = -1;
  int topIndex = 0;
  int itemHeight = 8;
};

struct WindowData {
  // Fixed at creation.
  HWND hwnd = nullptr;
  std::shared_ptr<ThreadQueue> owner;
  std::string className;
  Kind kind = Kind::kPlain;
  int id = 0;
  WndProc handler;
  BaseUnits baseUnits;

  // Set once the teardown began: no more posts or cross-thread sends are accepted.
  std::atomic<bool> closing{false};

  // Guarded by RegistryMutex().
  HWND parent = nullptr;
  std::string text;
  Rect rect;
  DWORD style = 0;
  bool visible = false;
  std::optional<Font> font;
  std::vector<HWND> children;
  ListBoxData list;
  ProgressState progress;
  bool dialogEnded = false;
  LRESULT dialogResult = 0;
};

std::mutex& RegistryMutex();
// Live window of a handle (closing windows included until they are gone), or null.
std::shared_ptr<WindowData> FindWindow(HWND hwnd);
std::shared_ptr<WindowData> FindWindowLocked(HWND hwnd);

// The calling thread's queue, created on first use.
std::shared_ptr<ThreadQueue> CurrentQueue();

// True on the thread that created the window.
bool IsOwnerThread(const WindowData& w);
// Calls the window's handler (or DefWindowProc) on the calling thread.
LRESULT CallProc(const std::shared_ptr<WindowData>& w, UINT msg, WPARAM wParam, LPARAM lParam);
// Delivers one queued message and completes its send record.
void Dispatch(QueuedMessage& m);
void CompleteSend(const std::shared_ptr<SendRecord>& record, LRESULT result);
// Drops what the queue holds for a window (messages and timers) and releases its senders.
void PurgeWindow(ThreadQueue& q, HWND hwnd);

void NotifyInvalidate(HWND hwnd);
// The front end's base units ((4, 8) without one).
BaseUnits CurrentBaseUnits();
// Tells the front end that a modal dialog starts; false when there is none.
bool NotifyModalStarted(HWND dialog);

// Built-in control behaviour (called from DefWindowProc).
LRESULT ListBoxProc(WindowData& w, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT ProgressProc(WindowData& w, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT ButtonProc(WindowData& w, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DialogProc(WindowData& w, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace win::detail

namespace win::detail {
// The owner thread of `q` ended: its windows are taken down without calling their handlers.
void DestroyWindowsOf(const std::shared_ptr<ThreadQueue>& q);
}  // namespace win::detail
