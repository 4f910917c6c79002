#include "message_source.h"

#include <glib.h>

#include "win/window.h"

namespace station {
namespace {

struct Source {
  GSource base;
  std::function<void(bool)>* afterBatch;
};

gboolean Prepare(GSource*, gint* timeout) {
  const int ms = win::MillisecondsUntilMessages();
  *timeout = ms;
  return ms == 0;
}

gboolean Check(GSource*) {
  return win::MillisecondsUntilMessages() == 0;
}

gboolean Dispatch(GSource* source, GSourceFunc, gpointer) {
  const bool quit = !win::PumpMessages(0);
  auto* self = reinterpret_cast<Source*>(source);
  if (self->afterBatch && *self->afterBatch) (*self->afterBatch)(quit);
  return G_SOURCE_CONTINUE;
}

GSourceFuncs kFuncs = {Prepare, Check, Dispatch, nullptr, nullptr, nullptr};

}  // namespace

MessageSource::MessageSource(std::function<void(bool quit)> afterBatch) {
  source_ = g_source_new(&kFuncs, sizeof(Source));
  auto* self = reinterpret_cast<Source*>(source_);
  self->afterBatch = new std::function<void(bool)>(std::move(afterBatch));
  // A message box or dialog opened while a batch is handled runs a nested loop, in which the
  // windows' messages must keep flowing.
  g_source_set_can_recurse(source_, TRUE);
  g_source_set_name(source_, "window layer messages");
  g_source_attach(source_, nullptr);
  GMainContext* context = g_main_context_default();
  win::SetMessageWaker([context] { g_main_context_wakeup(context); });
}

MessageSource::~MessageSource() {
  win::SetMessageWaker({});
  auto* self = reinterpret_cast<Source*>(source_);
  delete self->afterBatch;
  self->afterBatch = nullptr;
  g_source_destroy(source_);
  g_source_unref(source_);
}

}  // namespace station
