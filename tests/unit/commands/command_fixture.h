// Shared set-up of the command client tests: a scripted phone on a pseudo-terminal, an open
// link to it, a progress reporter aimed at a recording window, images handed to the clients
// straight from memory, and a reader of what the process log received.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/messages.h"
#include "commands/diag_client.h"
#include "commands/dload_client.h"
#include "link/phone_link.h"
#include "support/image_map.h"
#include "support/log_capture.h"
#include "support/scripted_peer.h"
#include "support/temp_dir.h"
#include "ui/progress_reporter.h"
#include "win/window.h"

namespace tr52test {

using Bytes = std::vector<uint8_t>;

// A window of the test thread that records step messages and text lines.
class RecordingWindow {
 public:
  struct Entry {
    win::UINT msg;
    win::WPARAM wParam;
    win::LPARAM lParam;
    std::string text;
  };
  RecordingWindow() {
    hwnd_ = win::CreateWindowEx(nullptr, "CommandTestSink", "", 0, {},
                                [this](win::HWND, win::UINT m, win::WPARAM w, win::LPARAM l) {
                                  Entry e{m, w, l, {}};
                                  if (m == win::WM_COPYDATA) {
                                    auto* cd = reinterpret_cast<const win::COPYDATASTRUCT*>(l);
                                    e.wParam = cd->dwData;
                                    e.text = static_cast<const char*>(cd->lpData);
                                  }
                                  entries.push_back(e);
                                  return win::LRESULT{1};
                                });
  }
  ~RecordingWindow() { win::DestroyWindow(hwnd_); }
  RecordingWindow(const RecordingWindow&) = delete;
  RecordingWindow& operator=(const RecordingWindow&) = delete;
  win::HWND Hwnd() const { return hwnd_; }
  void Pump() { win::PumpMessages(0); }
  // Positions posted as progress (205), the initial 0 included.
  std::vector<int> Positions() {
    Pump();
    std::vector<int> out;
    for (const auto& e : entries)
      if (e.msg == tr52::WM_DOWNLOAD_STEP && e.wParam == tr52::TYPE_WPARAM_PROGRESS_POS)
        out.push_back(static_cast<int>(e.lParam));
    return out;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& e : entries)
      if (e.msg == win::WM_COPYDATA) out.push_back(e.text);
    return out;
  }
  std::vector<Entry> entries;

 private:
  win::HWND hwnd_ = nullptr;
};

inline Bytes Pattern(size_t n, uint8_t seed = 1) {
  Bytes b(n);
  uint32_t x = seed * 2654435761u + 12345u;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<uint8_t>(x >> 16);
  }
  return b;
}

inline uint32_t U32le(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
inline uint32_t U32be(const Bytes& b, size_t at) {
  return (static_cast<uint32_t>(b[at]) << 24) | (static_cast<uint32_t>(b[at + 1]) << 16) |
         (static_cast<uint32_t>(b[at + 2]) << 8) | static_cast<uint32_t>(b[at + 3]);
}
inline bool AllZero(const Bytes& b, size_t from, size_t to) {
  for (size_t i = from; i < to && i < b.size(); ++i)
    if (b[i] != 0) return false;
  return true;
}

// A link to a scripted phone plus both clients bound to it.
class CommandTest : public ::testing::Test {
 public:
  static constexpr int kCom = 37;

 protected:
  CommandTest() : peer(kCom) {}

  void SetUp() override {
    ASSERT_TRUE(link.Open(kCom));
    reporter.Attach(window.Hwnd(), tr52::WM_DOWNLOAD_STEP, tr52::TYPE_WPARAM_WRITE_TO_FLASH, kCom);
    diag.AttachLink(&link, &reporter);
    dload.AttachLink(&link, &reporter);
    dload.SetImageSource(tr52test::ImagesFrom(images));
  }
  void TearDown() override {
    // The peer's handler may point at the test body's locals, which are gone by now; dropping
    // it (under the peer's lock) also orders everything the peer thread read before this
    // thread reuses that stack.
    peer.SetHandler({});
    link.Close();
  }

  // Answers every request with `answer`.
  void AnswerAlways(Bytes answer) {
    peer.SetHandler([answer](const Bytes&) { return ScriptedPeer::Answers{answer}; });
  }
  // Answers the download-mode acknowledgement to everything.
  void AckAll() { AnswerAlways({0x02}); }
  void Silent() {
    peer.SetHandler([](const Bytes&) { return ScriptedPeer::Answers{}; });
  }
  std::vector<Bytes> Requests() const { return peer.Requests(); }
  // The last image write sent exactly the first `count` bytes of `image`, in order.
  void ExpectSent(const Bytes& image, size_t count) {
    const tr52::SentBytes sent = dload.TakeSent();
    EXPECT_EQ(sent.count, count);
    EXPECT_EQ(tr52::Md5Hex(sent.md5), tr52::Md5Hex(tr52::Md5::Of(image.data(), count)));
  }

  LogCapture log;
  ScriptedPeer peer;
  tr52::PhoneLink link;
  RecordingWindow window;
  tr52::ProgressReporter reporter;
  tr52::DiagClient diag;
  tr52::DloadClient dload;
  tr52test::ImageMap images;
};

// "[COM37] ..." for the test port.
inline std::string Com(const std::string& rest) {
  return "[COM" + std::to_string(CommandTest::kCom) + "]" + rest;
}

}  // namespace tr52test
