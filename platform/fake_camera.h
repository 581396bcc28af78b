// In-process test double of the cameras: scripted access answers, devices, open failures and
// sessions whose frames and notifications the test drives.
#pragma once

#include <map>
#include <mutex>
#include <set>

#include "platform/camera.h"
#include "platform/camera_frame_delivery.h"

namespace tavolu {

// The test's handle on one opened session; it outlives the session object.
class FakeCameraFeed {
 public:
  explicit FakeCameraFeed(CameraDelegate delegate) : delivery_(std::move(delegate)) {}
  // Offers a frame as the device would; false when it was discarded (late or stopped).
  bool deliverFrame(PixelBufferRef frame, MediaTime time) { return delivery_.deliver(frame, time); }
  // Offers a fresh BGRA frame of the given size.
  bool deliverFrame(int width, int height, MediaTime time = hostTimeNow()) {
    return deliverFrame(PixelBuffer::make(width, height), time);
  }
  void disconnect() { delivery_.disconnected(); }
  void runtimeError() { delivery_.runtimeError(cameraError(CameraErrorCode::failed, "runtime")); }

  bool started() const { return started_; }
  bool stopped() const { return stopped_; }

 private:
  friend class FakeCameras;
  CameraFrameDelivery delivery_;
  std::atomic<bool> started_{false};
  std::atomic<bool> stopped_{false};
  bool startFails_ = false;
};

class FakeCameras : public Cameras {
 public:
  // Scripting, all safe from any thread.
  void setDevices(std::vector<CaptureDevice> devices) {
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
  }
  void setAuthorization(CameraAuthorization status, bool granted) {
    std::lock_guard lock(mutex_);
    status_ = status;
    granted_ = granted;
  }
  // Access answers wait until releaseAccess() while held.
  void holdAccessAnswers(bool hold) {
    std::lock_guard lock(mutex_);
    holdAccess_ = hold;
  }
  // Answers the waiting access requests, oldest first.
  void releaseAccess() {
    std::vector<std::function<void(bool)>> pending;
    bool granted;
    {
      std::lock_guard lock(mutex_);
      pending.swap(pendingAccess_);
      granted = granted_;
    }
    for (auto& done : pending) done(granted);
  }
  void setOpenError(const std::string& id, std::optional<Error> error) {
    std::lock_guard lock(mutex_);
    if (error)
      openErrors_.insert_or_assign(id, *error);
    else
      openErrors_.erase(id);
  }
  void setInUse(const std::string& id, bool inUse) {
    std::lock_guard lock(mutex_);
    if (inUse)
      inUse_.insert(id);
    else
      inUse_.erase(id);
  }
  // The next sessions of this device report not running after startRunning.
  void setStartFails(const std::string& id, bool fails) {
    std::lock_guard lock(mutex_);
    if (fails)
      startFails_.insert(id);
    else
      startFails_.erase(id);
  }
  // The feed of the most recently opened session of a device (null when none was opened).
  std::shared_ptr<FakeCameraFeed> feed(const std::string& id) {
    std::lock_guard lock(mutex_);
    auto it = feeds_.find(id);
    return it == feeds_.end() ? nullptr : it->second;
  }
  int openCount() {
    std::lock_guard lock(mutex_);
    return opens_;
  }

  // Cameras
  CameraAuthorization authorizationStatus() override {
    std::lock_guard lock(mutex_);
    return status_;
  }
  void requestAccess(std::function<void(bool)> done) override {
    bool granted;
    {
      std::lock_guard lock(mutex_);
      if (holdAccess_) {
        pendingAccess_.push_back(std::move(done));
        return;
      }
      granted = granted_;
    }
    done(granted);
  }
  std::vector<CaptureDevice> devices() override {
    std::lock_guard lock(mutex_);
    return devices_;
  }
  bool isInUseByAnotherApplication(const CaptureDevice& device) override {
    std::lock_guard lock(mutex_);
    return inUse_.count(device.uniqueId) > 0;
  }
  bool isSuspended(const CaptureDevice&) override { return false; }
  std::unique_ptr<CameraSession> open(const CaptureDevice& device,
                                      CameraDelegate delegate) override {
    std::lock_guard lock(mutex_);
    ++opens_;
    if (auto it = openErrors_.find(device.uniqueId); it != openErrors_.end()) throw it->second;
    auto feed = std::make_shared<FakeCameraFeed>(std::move(delegate));
    feed->startFails_ = startFails_.count(device.uniqueId) > 0;
    feeds_[device.uniqueId] = feed;
    return std::make_unique<Session>(feed);
  }

 private:
  class Session : public CameraSession {
   public:
    explicit Session(std::shared_ptr<FakeCameraFeed> feed) : feed_(std::move(feed)) {}
    ~Session() override { stopRunning(); }
    void startRunning() override { feed_->started_ = !feed_->startFails_; }
    bool isRunning() const override { return feed_->started_ && !feed_->stopped_; }
    void stopRunning() override {
      feed_->stopped_ = true;
      feed_->delivery_.stop();
    }

   private:
    std::shared_ptr<FakeCameraFeed> feed_;
  };

  std::mutex mutex_;
  std::vector<CaptureDevice> devices_;
  CameraAuthorization status_ = CameraAuthorization::authorized;
  bool granted_ = true;
  bool holdAccess_ = false;
  std::vector<std::function<void(bool)>> pendingAccess_;
  std::map<std::string, Error> openErrors_;
  std::set<std::string> inUse_, startFails_;
  std::map<std::string, std::shared_ptr<FakeCameraFeed>> feeds_;
  int opens_ = 0;
};

}  // namespace tavolu
