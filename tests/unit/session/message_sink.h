// A window on the test thread that records what is posted or sent to it.
#pragma once

#include <string>
#include <vector>

#include "win/window.h"

namespace tr52test {

struct RecordedMessage {
  win::UINT msg;
  win::WPARAM wParam;
  win::LPARAM lParam;
  std::string text;  // WM_COPYDATA text
};

class MessageSink {
 public:
  MessageSink() {
    hwnd_ = win::CreateWindowEx(nullptr, "TestSink", "", 0, {},
                                [this](win::HWND, win::UINT m, win::WPARAM w, win::LPARAM l) {
                                  RecordedMessage r{m, w, l, {}};
                                  if (m == win::WM_COPYDATA) {
                                    auto* cd = reinterpret_cast<const win::COPYDATASTRUCT*>(l);
                                    r.wParam = cd->dwData;
                                    r.lParam = static_cast<win::LPARAM>(cd->cbData);
                                    r.text = static_cast<const char*>(cd->lpData);
                                  }
                                  messages.push_back(r);
                                  return win::LRESULT{1};
                                });
  }
  ~MessageSink() { win::DestroyWindow(hwnd_); }
  MessageSink(const MessageSink&) = delete;
  MessageSink& operator=(const MessageSink&) = delete;

  win::HWND Hwnd() const { return hwnd_; }
  // Handles everything queued for the test thread.
  void Pump() { win::PumpMessages(0); }
  std::vector<RecordedMessage> Of(win::UINT msg) const {
    std::vector<RecordedMessage> out;
    for (const auto& r : messages)
      if (r.msg == msg) out.push_back(r);
    return out;
  }

  std::vector<RecordedMessage> messages;

 private:
  win::HWND hwnd_ = nullptr;
};

}  // namespace tr52test
