#include "platform/linux/pulse_devices.h"

#include <pulse/pulseaudio.h>

#include <memory>

namespace tavolu {

std::vector<CaptureDevice> listPulseMicrophones(const std::optional<std::string>& server) {
  struct Loop {
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = nullptr;
    ~Loop() {
      if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
      }
      if (loop) pa_mainloop_free(loop);
    }
  } l;
  std::vector<CaptureDevice> result;
  if (!l.loop) return result;
  l.context = pa_context_new(pa_mainloop_get_api(l.loop), "Tavolu");
  if (!l.context || pa_context_connect(l.context, server ? server->c_str() : nullptr,
                                       PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
    return result;
  for (;;) {
    pa_context_state_t state = pa_context_get_state(l.context);
    if (state == PA_CONTEXT_READY) break;
    if (!PA_CONTEXT_IS_GOOD(state) || pa_mainloop_iterate(l.loop, 1, nullptr) < 0) return result;
  }
  pa_operation* op = pa_context_get_source_info_list(
      l.context,
      [](pa_context*, const pa_source_info* i, int eol, void* out) {
        if (eol || !i || i->monitor_of_sink != PA_INVALID_INDEX) return;
        static_cast<std::vector<CaptureDevice>*>(out)->push_back(
            {i->name ? i->name : "", i->description ? i->description : ""});
      },
      &result);
  if (!op) return result;
  while (pa_operation_get_state(op) == PA_OPERATION_RUNNING)
    if (pa_mainloop_iterate(l.loop, 1, nullptr) < 0) break;
  pa_operation_unref(op);
  return result;
}

}  // namespace tavolu
