#include "capture/session/capture.h"

#include <algorithm>
#include <set>
#include <sstream>

#include "capture/session/recording_end.h"
#include "capture/sources/list_sources.h"

namespace tavolu {
namespace {

Error captureError(int code, const char* message = "") { return Error("Capture", code, message); }

constexpr const char* kNoSource =
    "The selected screen or window is no longer available. Refresh sources and choose again.";
constexpr const char* kBadRegion = "The recording region must fit inside the selected display.";
constexpr const char* kNoFrames = "No frames were received. Check the selected source and camera.";

std::string numberList(const std::vector<uint32_t>& ids) {
  std::string s = "[";
  for (size_t i = 0; i < ids.size(); ++i) s += (i ? ", " : "") + std::to_string(ids[i]);
  return s + "]";
}

}  // namespace

Capture::Capture(CaptureServices services) : services_(std::move(services)) {
  if (services_.input && services_.mainLoop)
    telemetry_ =
        std::make_unique<InputTelemetry>(*this, queue_, *services_.mainLoop, services_.input);
}

Capture::~Capture() {
  telemetry_.reset();
  if (stream_) {
    try {
      stream_->stopCapture();
    } catch (const Error&) {
    }
  }
  cameraSession_.reset();
  queue_.sync([] {});
}

void Capture::reset() {
  // The previous recording's stream and camera are stopped; nothing reaches the queue from
  // them any more, so its state can be cleared there.
  queue_.sync([this] {
    origin_.reset();
    screenSink_.reset();
    cameraSink_.reset();
    systemSink_.reset();
    micSink_.reset();
    cameraFrame_.reset();
    cameraTime_ = MediaTime::invalid();
    accepting_ = false;
  });
  stream_.reset();
  cameraSession_.reset();
  hasStream_ = false;
  std::lock_guard lock(stopMutex_);
  stopping_ = false;
}

void Capture::start(const Json& command) {
  // A second start would release the running writers unfinished; the running recording wins.
  bool idle = true;
  if (!screenDone_.compare_exchange_strong(idle, false)) return;
  reset();

  StartOptions o = parseStartOptions(command);
  videoPath_ = o.video;
  cameraPath_ = o.cameraPath;
  fps_ = static_cast<int32_t>(o.fps);

  if (o.microphone && !services_.requestMicrophoneAccess())
    throw captureError(2, "Enable microphone access for Tavolu in System Settings.");
  if (o.camera) setUpCamera(*o.camera);

  Source source = resolveSource(o);
  CursorDecision cursor = decideCursor(source.kind, o);
  auto area = recordedArea(source.rect, o.region);
  if (!area) throw captureError(8, kBadRegion);
  PixelSize pixels = pixelSize(area->width, area->height, source.filter.pointPixelScale);

  StreamConfiguration config;
  config.sourceRect = area->sourceRect;
  config.width = pixels.width;
  config.height = pixels.height;
  config.minimumFrameInterval = MediaTime::make(1, fps_);
  config.queueDepth = 6;
  config.showsCursor = cursor.showsCursor;
  config.showMouseClicks = cursor.showMouseClicks;
  config.capturesAudio = o.systemAudio;
  config.excludesCurrentProcessAudio = true;
  config.sampleRate = 48000;
  config.channelCount = 2;
  if (o.microphone) {
    config.captureMicrophone = true;
    if (*o.microphone != "default") config.microphoneCaptureDeviceId = *o.microphone;
  }
  width_ = config.width;
  height_ = config.height;

  stream_ = services_.screen->createStream(
      source.filter, config, *this,
      [this](std::function<void()> fn) { queue_.async(std::move(fn)); });
  hasStream_ = true;
  stream_->addOutput(StreamOutputType::screen);
  if (config.capturesAudio) stream_->addOutput(StreamOutputType::audio);
  if (config.captureMicrophone) stream_->addOutput(StreamOutputType::microphone);

  captureBounds_ = area->recorded;
  followWindow_ = source.kind == SourceKind::window && !o.hasRegionMember;
  if (telemetry_) telemetry_->startClickTracking(cursor.clickTelemetry, cursor.shapeTelemetry);
  keyTelemetry_ = o.keys && services_.windows->inputMonitoringAccess(false);
  if (telemetry_) {
    if (keyTelemetry_) telemetry_->buildKeyLabels();
    telemetry_->startKeyTracking(keyTelemetry_);
  }

  emit({{"event", "prepared"},
        {"bounds",
         rect(captureBounds_.x, captureBounds_.y, captureBounds_.width, captureBounds_.height)},
        {"cursorTelemetry", cursor.shapeTelemetry},
        {"clickTelemetry", cursor.clickTelemetry},
        {"keyTelemetry", keyTelemetry_},
        {"cursorMode", cursor.smooth ? "smooth" : "embedded"}});

  if (o.countdown > 0 && services_.sleepSeconds) services_.sleepSeconds(o.countdown);
  queue_.sync([this] { accepting_ = true; });
  stream_->startCapture();
}

void Capture::setUpCamera(const std::string& uniqueId) {
  Cameras* cameras = services_.cameras;
  if (!cameras || !waitForCameraAccess(*cameras))
    throw captureError(3, "Enable camera access for Tavolu in System Settings.");
  auto list = cameras->devices();
  auto device = std::find_if(list.begin(), list.end(),
                             [&](const CaptureDevice& d) { return d.uniqueId == uniqueId; });
  if (device == list.end()) throw captureError(4, "The selected camera is disconnected.");
  CameraDelegate delegate;
  delegate.post = [this](std::function<void()> fn) { queue_.async(std::move(fn)); };
  delegate.onFrame = [this](PixelBufferRef frame, MediaTime time) {
    cameraFrameArrived(std::move(frame), time);
  };
  try {
    cameraSession_ = cameras->open(*device, std::move(delegate));
  } catch (const Error& e) {
    // A device node we may not open is a refused permission; one that vanished is gone.
    if (cameraErrorCode(e) == CameraErrorCode::denied)
      throw captureError(3, "Enable camera access for Tavolu in System Settings.");
    if (cameraErrorCode(e) == CameraErrorCode::disconnected)
      throw captureError(4, "The selected camera is disconnected.");
    throw;
  }
  cameraSession_->startRunning();
}

ContentFilter Capture::chooseFilter() {
  // One picker at a time: a second "picker" start waits for the first choice and reuses it.
  std::lock_guard lock(pickerMutex_);
  if (!chosenFilter_) chosenFilter_ = services_.screen->pick(kHostBundleId);
  return *chosenFilter_;
}

Capture::Source Capture::resolveSource(const StartOptions& o) {
  Source s;
  if (o.source == "picker") {
    s.filter = chooseFilter();
    s.rect = s.filter.contentRect;
    s.kind = SourceKind::other;
    if (s.filter.style == ContentFilter::Style::display && s.filter.display) {
      s.rect = s.filter.display->frame;
      s.kind = SourceKind::display;
    }
    if (s.filter.style == ContentFilter::Style::window && s.filter.window) {
      s.rect = s.filter.window->frame;
      s.kind = SourceKind::window;
    }
    return s;
  }
  ShareableContent content = services_.screen->shareableContent();
  if (auto id = sourceNumber(o.source, "screen:")) {
    auto d = std::find_if(content.displays.begin(), content.displays.end(),
                          [&](const Display& x) { return x.id == *id; });
    if (d != content.displays.end()) {
      std::vector<Application> excluded;
      for (const Application& a : content.applications)
        if (a.bundleId == kHostBundleId) excluded.push_back(a);
      std::set<uint32_t> requested(o.includeWindows.begin(), o.includeWindows.end());
      std::vector<Window> kept;
      std::vector<uint32_t> found;
      for (const Window& w : content.windows)
        if (requested.count(w.id)) {
          kept.push_back(w);
          found.push_back(w.id);
        }
      if (services_.writeDiagnostic)
        services_.writeDiagnostic("[capture] display " + std::to_string(*id) + ": include " +
                                  numberList({requested.begin(), requested.end()}) +
                                  " \u2192 found " + numberList(found) + "\n");
      s.filter = services_.screen->displayFilter(*d, excluded, kept);
      s.rect = d->frame;
      s.kind = SourceKind::display;
      return s;
    }
  } else if (auto id = sourceNumber(o.source, "window:")) {
    auto w = std::find_if(content.windows.begin(), content.windows.end(),
                          [&](const Window& x) { return x.id == *id; });
    if (w != content.windows.end()) {
      s.filter = services_.screen->windowFilter(*w);
      s.rect = w->frame;
      s.kind = SourceKind::window;
      return s;
    }
  }
  throw captureError(7, kNoSource);
}

void Capture::streamDidOutput(const StreamSample& sample, StreamOutputType type) {
  if (!accepting_ || !sample.valid()) return;
  if (type == StreamOutputType::screen)
    routeScreen(sample);
  else
    routeAudio(sample, type);
}

void Capture::routeAudio(const StreamSample& sample, StreamOutputType type) {
  if (!origin_ || sample.pts < *origin_ || !sample.audio) return;
  std::unique_ptr<AudioSink>* sink = nullptr;
  const char* suffix = nullptr;
  if (type == StreamOutputType::microphone) {
    sink = &micSink_;
    suffix = ".microphone.m4a";
  } else if (type == StreamOutputType::audio) {
    sink = &systemSink_;
    suffix = ".system.m4a";
  } else {
    return;
  }
  if (!*sink) {
    try {
      *sink = std::make_unique<AudioSink>(videoPath_ + suffix, *origin_, *sample.audio);
    } catch (const Error& e) {
      fail(e);
      return;
    }
  }
  (*sink)->append(*sample.audio);
}

void Capture::routeScreen(const StreamSample& sample) {
  if (!sample.pixels || !sample.status || *sample.status != 0) return;
  if (!origin_) {
    if (cameraSession_ && !cameraFrame_) return;  // the camera's first frame opens the recording
    origin_ = sample.pts;
    try {
      screenSink_ = std::make_unique<VideoSink>(videoPath_, width_, height_, fps_, *origin_);
      if (cameraFrame_) appendCamera(cameraFrame_, cameraTime_);
    } catch (const Error& e) {
      fail(e);
      return;
    }
    emit({{"event", "started"}, {"timing", "host-clock"}, {"cameraOffset", 0}});
  }
  screenSink_->append(sample.pixels, sample.pts);
  if (followWindow_ && sample.screenRect && sample.screenRect->width > 1 &&
      sample.screenRect->height > 1)
    captureBounds_ = *sample.screenRect;
}

void Capture::cameraFrameArrived(PixelBufferRef frame, MediaTime time) {
  if (!frame) return;
  cameraFrame_ = frame;
  cameraTime_ = time;
  preview_.offerCameraPreview(frame, time);
  if (!accepting_) return;
  try {
    appendCamera(frame, time);
  } catch (const Error& e) {
    fail(e);
  }
}

void Capture::appendCamera(PixelBufferRef frame, MediaTime time) {
  if (!origin_) return;
  if (!cameraSink_) {
    cameraSink_ =
        std::make_unique<VideoSink>(cameraPath_, frame->width, frame->height, fps_, *origin_);
    cameraSink_->append(frame, *origin_);
  }
  if (time > *origin_) cameraSink_->append(frame, time);
}

void Capture::stop() {
  {
    std::lock_guard lock(stopMutex_);
    if (stopping_) return;
    stopping_ = true;
    stopRunning_ = true;
  }
  finishStop();
  {
    std::lock_guard lock(stopMutex_);
    stopRunning_ = false;
  }
  stopFinished_.notify_all();
}

void Capture::waitForStop() {
  std::unique_lock lock(stopMutex_);
  stopFinished_.wait(lock, [this] { return !stopRunning_; });
}

void Capture::finishStop() {
  MediaTime stopTime = hostTimeNow();
  queue_.sync([this] {
    accepting_ = false;
    if (telemetry_) telemetry_->cancelTimers();
  });
  if (stream_) {
    try {
      stream_->stopCapture();
    } catch (const Error& e) {
      return fail(e);
    }
  }
  if (cameraSession_) cameraSession_->stopRunning();
  // Camera frames may still be queued; intake is off, so they change nothing written.
  queue_.sync([] {});
  if (!origin_ || !screenSink_) return fail(captureError(10, kNoFrames));

  RecordingEnd end = recordingEnd(*origin_, stopTime, fps_);
  try {
    screenSink_->finish(end.end, fps_);
    if (cameraSink_) cameraSink_->finish(end.end, fps_);
    if (systemSink_) systemSink_->finish(end.end);
    if (micSink_) micSink_->finish(end.end);
  } catch (const Error& e) {
    return fail(e);
  }
  screenDone_ = true;

  RecordingSummary s;
  s.video = videoPath_;
  s.camera = cameraSink_ ? cameraPath_ : "";
  s.duration = static_cast<double>(end.frameCount) / fps_;
  s.systemAudio = systemSink_ ? systemSink_->path() : "";
  s.microphoneAudio = micSink_ ? micSink_->path() : "";
  s.frames = screenSink_->frames();
  s.droppedFrames = screenSink_->dropped();
  s.cameraFrames = cameraSink_ ? cameraSink_->frames() : 0;
  s.cameraDroppedFrames = cameraSink_ ? cameraSink_->dropped() : 0;
  Json finished = finishedEvent(s);
  try {
    writeFileAtomically(videoPath_ + ".json", finished.dump());
  } catch (const Error& e) {
    return fail(e);
  }
  emit(finished);
}

void Capture::streamDidStop(const Error& error) {
  if (stopping_) return;
  fail(error);
}

void Capture::fail(const Error& error) {
  if (failed_.exchange(true)) return;  // the process is already ending on the first error
  emit({{"event", "error"},
        {"message", error.localizedDescription()},
        {"diagnostic", error.description()}});
  if (services_.exitProcess) services_.exitProcess(1);
}

}  // namespace tavolu
