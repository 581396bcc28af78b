#include "capture/preview/camera_preview.h"

namespace tavolu {
namespace {
const char* boolText(bool value) { return value ? "true" : "false"; }
}  // namespace

CameraPreview::CameraPreview(Cameras& cameras, std::unique_ptr<PreviewRenderer> context,
                             Options options)
    : cameras_(cameras),
      options_(options),
      context_(std::move(context)),
      lifetime_(std::make_shared<Lifetime>(this)) {}

CameraPreview::~CameraPreview() {
  {
    std::lock_guard lock(lifetime_->mutex);
    lifetime_->owner = nullptr;
  }
  queue_.sync([this] {
    stopSession();
    firstFrameTimer_.reset();
  });
  encodeQueue_.sync([] {});
}

void CameraPreview::set(std::optional<std::string> camera) {
  queue_.async([this, camera = std::move(camera)] { handleRequest(camera); });
}

void CameraPreview::flush() {
  queue_.sync([] {});
}

void CameraPreview::state(const std::string& state, Json extra) {
  Json event = std::move(extra);
  event["event"] = "preview";
  event["state"] = state;
  emit(event);
}

void CameraPreview::note(const std::string& message) {
  emit(Json{{"event", "preview-log"}, {"message", message}});
}

void CameraPreview::handleRequest(const std::optional<std::string>& camera) {
  if (camera ? (wanted_ == camera && session_) : !wanted_) return;
  wanted_ = camera;
  stopSession();
  if (!camera) {
    state("off");
    return;
  }
  int64_t g = ++generation_;
  note("set " + *camera +
       " auth=" + std::to_string(static_cast<int>(cameras_.authorizationStatus())));
  // The answer may come on any thread; it only hands the access step to the queue, and only while
  // this object exists.
  cameras_.requestAccess([lifetime = lifetime_, g, camera = *camera](bool granted) {
    std::lock_guard lock(lifetime->mutex);
    if (CameraPreview* self = lifetime->owner)
      self->queue_.async([self, granted, g, camera] { self->openCamera(granted, g, camera); });
  });
}

void CameraPreview::openCamera(bool granted, int64_t g, const std::string& camera) {
  note(std::string("access ") + boolText(granted));
  if (generation_ != g) return;
  if (!granted) {
    state("denied");
    return;
  }
  std::optional<CaptureDevice> device;
  for (auto& candidate : cameras_.devices())
    if (candidate.uniqueId == camera) {
      device = candidate;
      break;
    }
  if (!device) {
    state("missing");
    return;
  }
  state("starting", Json{{"name", device->name}});
  note("device " + device->name +
       " inUse=" + boolText(cameras_.isInUseByAnotherApplication(*device)) +
       " suspended=" + boolText(cameras_.isSuspended(*device)));

  CameraDelegate delegate;
  delegate.post = [this](std::function<void()> fn) { queue_.async(std::move(fn)); };
  delegate.onFrame = [this](PixelBufferRef frame, MediaTime) { captureOutput(frame); };
  delegate.onDisconnected = [this, g] {
    if (generation_ != g) return;
    stopSession();
    state("missing");
  };
  delegate.onRuntimeError = [this, g, device = *device](const Error&) {
    if (generation_ != g) return;
    state(cameras_.isInUseByAnotherApplication(device) ? "in-use" : "starting");
  };

  std::unique_ptr<CameraSession> session;
  try {
    session = cameras_.open(*device, std::move(delegate));
  } catch (const Error& error) {
    // Access to a device node is decided when it is opened, and a device can vanish between the
    // lookup and the open: those are reported as what they are rather than as "in-use".
    switch (cameraErrorCode(error).value_or(CameraErrorCode::failed)) {
      case CameraErrorCode::denied:
        state("denied");
        return;
      case CameraErrorCode::disconnected:
        state("missing");
        return;
      default:
        state("in-use", Json{{"message", error.localizedDescription()}});
        return;
    }
  } catch (const std::exception& error) {
    state("in-use", Json{{"message", std::string(error.what())}});
    return;
  }

  frames_ = 0;
  session_ = std::move(session);
  // The check runs on this queue, so it reads `generation_` and `frames_` where they are owned.
  firstFrameTimer_.emplace(queue_.executor(), options_.firstFrameCheck);
  firstFrameTimer_->async_wait([this, g, device = *device](const std::error_code& ec) {
    if (!ec) checkFirstFrame(g, device);
  });
  note("startRunning\u2026");
  session_->startRunning();
  note(std::string("startRunning returned running=") + boolText(session_->isRunning()));
}

void CameraPreview::checkFirstFrame(int64_t g, const CaptureDevice& device) {
  if (generation_ != g || frames_ != 0) return;
  state(cameras_.isInUseByAnotherApplication(device) ? "in-use" : "no-picture");
}

void CameraPreview::stopSession() {
  if (session_) {
    session_->stopRunning();
    session_.reset();
  }
  if (firstFrameTimer_) firstFrameTimer_->cancel();
  ++generation_;
}

void CameraPreview::captureOutput(const PixelBufferRef& frame) {
  if (!frame) return;
  if (frames_++ == 0) {
    state("live");
    note("first frame " + std::to_string(frame->width) + "x" + std::to_string(frame->height));
  }
  if (!gate_.try_acquire()) return;  // the previous frame is still being encoded: drop this one
  encodeQueue_.async(
      [this, frame] { encodePreviewFrame(frame, *context_, gate_, kCap, kQuality, kEventName); });
}

}  // namespace tavolu
