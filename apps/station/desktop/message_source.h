// The window layer's messages inside GLib's main loop: one source on the default main context
// that the layer wakes whenever the calling thread's windows get a message, a request to quit or
// a timer change, and that sleeps until the next timer otherwise (no polling at a fixed rate).
// When it runs it handles everything queued at that moment in one batch (PumpMessages(0)) and
// calls its handler after each batch. It may run inside nested loops (dialogs, message boxes).
#pragma once

#include <functional>

struct _GSource;

namespace station {

class MessageSource {
 public:
  // `afterBatch(quit)`: `quit` is true when the batch held a request to quit (WM_QUIT).
  // Call on the thread that owns the windows, which must be the thread of GLib's default
  // main context.
  explicit MessageSource(std::function<void(bool quit)> afterBatch);
  ~MessageSource();
  MessageSource(const MessageSource&) = delete;
  MessageSource& operator=(const MessageSource&) = delete;

 private:
  _GSource* source_ = nullptr;
};

}  // namespace station
