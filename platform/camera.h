// Cameras: access, discovery, and capture sessions that deliver 32-bit BGRA frames stamped on the
// host clock.
#pragma once

#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/capture_devices.h"
#include "platform/error.h"
#include "platform/media_time.h"
#include "platform/pixel_buffer.h"

namespace tavolu {

// Errors of opening a camera, told apart by code (domain kCameraErrorDomain).
enum class CameraErrorCode {
  denied = 1,        // the device may not be opened by this user
  inUse = 2,         // another application holds the device
  disconnected = 3,  // the device went away
  failed = 4,        // anything else (unsupported formats, driver errors)
};
inline constexpr char kCameraErrorDomain[] = "Camera";

inline Error cameraError(CameraErrorCode code, std::string message,
                         std::map<std::string, std::string> info = {}) {
  return Error(kCameraErrorDomain, static_cast<int>(code), std::move(message), std::move(info));
}
// The camera code of `error`, or nothing when it is not a camera error.
inline std::optional<CameraErrorCode> cameraErrorCode(const Error& error) {
  if (error.domain() != kCameraErrorDomain) return std::nullopt;
  return static_cast<CameraErrorCode>(error.code());
}

// Authorisation status codes as the host knows them.
enum class CameraAuthorization { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

// Where a camera session's callbacks go. Every callback runs through `post`, which places it on
// the caller's queue; frame callbacks are never queued behind one another: while one frame is
// posted and not yet handled, newer frames are discarded.
struct CameraDelegate {
  // Places a callback on the caller's queue (required).
  std::function<void(std::function<void()>)> post;
  // A frame and its presentation time on the host clock.
  std::function<void(PixelBufferRef frame, MediaTime time)> onFrame;
  // The device went away; no more frames will come.
  std::function<void()> onDisconnected;
  // The session hit an error while running (the device may recover or stay silent).
  std::function<void(const Error& error)> onRuntimeError;
};

// One open camera. Destroying it stops it.
class CameraSession {
 public:
  virtual ~CameraSession() = default;
  // Starts frame delivery; returns once the device streams or has failed to (blocking).
  virtual void startRunning() = 0;
  // Whether frames are being delivered.
  virtual bool isRunning() const = 0;
  // Stops frame delivery; when called on the delegate's queue no callback runs after it returns.
  virtual void stopRunning() = 0;
};

// The cameras of this machine.
class Cameras {
 public:
  virtual ~Cameras() = default;
  // The current authorisation status, without asking the user.
  virtual CameraAuthorization authorizationStatus() = 0;
  // Asks for camera access; `done` runs once, on any thread, with whether access is granted.
  virtual void requestAccess(std::function<void(bool granted)> done) = 0;
  // The video capture devices in discovery order.
  virtual std::vector<CaptureDevice> devices() = 0;
  // Whether another application holds the device (this process's own sessions do not count).
  virtual bool isInUseByAnotherApplication(const CaptureDevice& device) = 0;
  // Whether the device is suspended (for example by a privacy shutter).
  virtual bool isSuspended(const CaptureDevice& device) = 0;
  // Opens the device for 1920x1080 BGRA frames (the nearest size it offers); throws a camera
  // Error (denied, inUse, disconnected, failed). Frames flow after startRunning.
  virtual std::unique_ptr<CameraSession> open(const CaptureDevice& device,
                                              CameraDelegate delegate) = 0;
};

// Blocks until `cameras` answers the access request (for callers on a task of their own).
inline bool waitForCameraAccess(Cameras& cameras) {
  auto answer = std::make_shared<std::promise<bool>>();
  auto result = answer->get_future();
  cameras.requestAccess([answer](bool granted) { answer->set_value(granted); });
  return result.get();
}
}  // namespace tavolu
