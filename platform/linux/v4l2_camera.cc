#include "platform/linux/v4l2_camera.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/camera_frame_delivery.h"
#include "platform/linux/camera_frame_decoder.h"

namespace fs = std::filesystem;

namespace tavolu {
namespace {

constexpr int kWantedWidth = 1920;
constexpr int kWantedHeight = 1080;
constexpr unsigned kBufferCount = 4;

int xioctl(int fd, unsigned long request, void* arg) {
  int rc;
  do rc = ::ioctl(fd, request, arg);
  while (rc < 0 && errno == EINTR);
  return rc;
}

std::string cardName(const v4l2_capability& caps) {
  return std::string(reinterpret_cast<const char*>(caps.card),
                     strnlen(reinterpret_cast<const char*>(caps.card), sizeof caps.card));
}

std::string busInfo(const v4l2_capability& caps) {
  return std::string(reinterpret_cast<const char*>(caps.bus_info),
                     strnlen(reinterpret_cast<const char*>(caps.bus_info), sizeof caps.bus_info));
}

bool canCapture(const v4l2_capability& caps) {
  uint32_t c = (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
  return (c & V4L2_CAP_VIDEO_CAPTURE) && (c & V4L2_CAP_STREAMING);
}

// The camera error for a failed system call on the device.
Error deviceError(int err, const std::string& what, const V4l2Node& node) {
  std::map<std::string, std::string> info{{"device", node.path},
                                          {"reason", what + ": " + std::strerror(err)}};
  switch (err) {
    case EACCES:
    case EPERM:
      return cameraError(CameraErrorCode::denied,
                         "Access to the camera " + node.name + " was refused (" + node.path +
                             " cannot be opened by this user).",
                         info);
    case EBUSY:
      return cameraError(CameraErrorCode::inUse,
                         "The camera " + node.name + " is in use by another application.", info);
    case ENODEV:
    case ENOENT:
    case ENXIO:
      return cameraError(CameraErrorCode::disconnected, "The selected camera is disconnected.",
                         info);
    default:
      return cameraError(CameraErrorCode::failed,
                         "The camera " + node.name + " could not be started (" + what + ": " +
                             std::strerror(err) + ").",
                         info);
  }
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

struct MappedBuffer {
  void* start = MAP_FAILED;
  size_t length = 0;
  ~MappedBuffer() {
    if (start != MAP_FAILED) ::munmap(start, length);
  }
};

class V4l2CameraSession : public CameraSession {
 public:
  V4l2CameraSession(const V4l2Node& node, CameraDelegate delegate, std::function<void()> onClose)
      : node_(node), delivery_(std::move(delegate)), onClose_(std::move(onClose)) {}

  ~V4l2CameraSession() override {
    stopRunning();
    if (onClose_) onClose_();
  }

  void open() {
    int fd = ::open(node_.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw deviceError(errno, "open", node_);
    fd_ = std::make_unique<FileDescriptor>(fd);

    v4l2_capability caps{};
    if (xioctl(fd, VIDIOC_QUERYCAP, &caps) < 0) throw deviceError(errno, "VIDIOC_QUERYCAP", node_);
    if (!canCapture(caps))
      throw cameraError(CameraErrorCode::failed,
                        "The device " + node_.path + " cannot capture video.");

    uint32_t pixelFormat = choosePixelFormat(fd);
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = kWantedWidth;
    format.fmt.pix.height = kWantedHeight;
    format.fmt.pix.pixelformat = pixelFormat;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (xioctl(fd, VIDIOC_S_FMT, &format) < 0) throw deviceError(errno, "VIDIOC_S_FMT", node_);
    if (format.fmt.pix.pixelformat != V4L2_PIX_FMT_MJPEG &&
        format.fmt.pix.pixelformat != V4L2_PIX_FMT_YUYV)
      throw cameraError(CameraErrorCode::failed,
                        "The camera " + node_.name + " offers neither MJPEG nor YUYV frames.");
    pixelFormat_ = format.fmt.pix.pixelformat;
    width_ = static_cast<int>(format.fmt.pix.width);
    height_ = static_cast<int>(format.fmt.pix.height);
    stride_ = std::max(static_cast<int>(format.fmt.pix.bytesperline), width_ * 2);

    // 30 frames per second where the driver lets us choose; the nearest rate otherwise.
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(fd, VIDIOC_G_PARM, &parm) == 0 &&
        (parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME)) {
      parm.parm.capture.timeperframe = {1, 30};
      xioctl(fd, VIDIOC_S_PARM, &parm);
    }

    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (xioctl(fd, VIDIOC_REQBUFS, &request) < 0) throw deviceError(errno, "VIDIOC_REQBUFS", node_);
    if (request.count == 0)
      throw cameraError(CameraErrorCode::failed,
                        "The camera " + node_.name + " gave no capture buffers.");
    buffers_ = std::vector<MappedBuffer>(request.count);
    for (unsigned i = 0; i < request.count; ++i) {
      v4l2_buffer buffer{};
      buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      buffer.memory = V4L2_MEMORY_MMAP;
      buffer.index = i;
      if (xioctl(fd, VIDIOC_QUERYBUF, &buffer) < 0)
        throw deviceError(errno, "VIDIOC_QUERYBUF", node_);
      buffers_[i].length = buffer.length;
      buffers_[i].start =
          ::mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, buffer.m.offset);
      if (buffers_[i].start == MAP_FAILED) throw deviceError(errno, "mmap", node_);
    }
    int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) throw deviceError(errno, "eventfd", node_);
    wake_ = std::make_unique<FileDescriptor>(wake);
  }

  void startRunning() override {
    if (running_ || stopped_) return;
    int fd = fd_->get();
    for (unsigned i = 0; i < buffers_.size(); ++i) {
      if (!queueBuffer(i)) return;
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(fd, VIDIOC_STREAMON, &type) < 0) {
      reportFailure(errno, "VIDIOC_STREAMON");
      return;
    }
    streaming_ = true;
    running_ = true;
    thread_ = std::thread([this] { captureLoop(); });
  }

  bool isRunning() const override { return running_; }

  void stopRunning() override {
    delivery_.stop();
    stopped_ = true;
    if (thread_.joinable()) {
      uint64_t one = 1;
      [[maybe_unused]] ssize_t n = ::write(wake_->get(), &one, sizeof one);
      thread_.join();
    }
    if (streaming_) {
      v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      xioctl(fd_->get(), VIDIOC_STREAMOFF, &type);
      streaming_ = false;
    }
    running_ = false;
  }

 private:
  uint32_t choosePixelFormat(int fd) {
    bool mjpeg = false, yuyv = false;
    v4l2_fmtdesc desc{};
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (desc.index = 0; xioctl(fd, VIDIOC_ENUM_FMT, &desc) == 0; ++desc.index) {
      mjpeg |= desc.pixelformat == V4L2_PIX_FMT_MJPEG;
      yuyv |= desc.pixelformat == V4L2_PIX_FMT_YUYV;
    }
    // MJPEG reaches full HD at full frame rate on USB cameras; YUYV usually does not.
    if (mjpeg) return V4L2_PIX_FMT_MJPEG;
    if (yuyv) return V4L2_PIX_FMT_YUYV;
    throw cameraError(CameraErrorCode::failed,
                      "The camera " + node_.name + " offers neither MJPEG nor YUYV frames.");
  }

  bool queueBuffer(unsigned index) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = index;
    if (xioctl(fd_->get(), VIDIOC_QBUF, &buffer) < 0) {
      reportFailure(errno, "VIDIOC_QBUF");
      return false;
    }
    return true;
  }

  void reportFailure(int err, const std::string& what) {
    running_ = false;
    if (err == ENODEV)
      delivery_.disconnected();
    else
      delivery_.runtimeError(deviceError(err, what, node_));
  }

  void captureLoop() {
    int fd = fd_->get();
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_->get(), POLLIN, 0}};
    while (!stopped_) {
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        reportFailure(errno, "poll");
        return;
      }
      if (fds[1].revents) return;  // stopRunning
      v4l2_buffer buffer{};
      buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      buffer.memory = V4L2_MEMORY_MMAP;
      if (xioctl(fd, VIDIOC_DQBUF, &buffer) < 0) {
        if (errno == EAGAIN) continue;
        reportFailure(errno, "VIDIOC_DQBUF");
        return;
      }
      MediaTime time = hostTimeNow();
      if ((buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC)
        time = MediaTime::fromNanos(static_cast<int64_t>(buffer.timestamp.tv_sec) * 1'000'000'000 +
                                    static_cast<int64_t>(buffer.timestamp.tv_usec) * 1000);
      // A frame the delegate could not take now is never decoded: late frames are discarded.
      if (delivery_.wantsFrame() && !(buffer.flags & V4L2_BUF_FLAG_ERROR) &&
          buffer.index < buffers_.size()) {
        auto* data = static_cast<const uint8_t*>(buffers_[buffer.index].start);
        size_t size = std::min<size_t>(buffer.bytesused, buffers_[buffer.index].length);
        std::shared_ptr<PixelBuffer> frame =
            pixelFormat_ == V4L2_PIX_FMT_MJPEG
                ? decoder_.decodeMjpeg(data, size)
                : decoder_.decodeYuyv(data, size, width_, height_, stride_);
        if (frame) delivery_.deliver(std::move(frame), time);
      }
      if (!queueBuffer(buffer.index)) return;
    }
  }

  V4l2Node node_;
  CameraFrameDelivery delivery_;
  std::function<void()> onClose_;
  std::unique_ptr<FileDescriptor> fd_;
  std::unique_ptr<FileDescriptor> wake_;
  std::vector<MappedBuffer> buffers_;
  uint32_t pixelFormat_ = 0;
  int width_ = 0, height_ = 0, stride_ = 0;
  CameraFrameDecoder decoder_;
  bool streaming_ = false;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopped_{false};
  std::thread thread_;
};

// The number of /dev/videoN, for ordering; -1 for other names.
int nodeNumber(const std::string& name) {
  if (name.rfind("video", 0) != 0 || name.size() == 5) return -1;
  int n = 0;
  for (char c : name.substr(5)) {
    if (c < '0' || c > '9' || n > 100000) return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

std::string v4l2UniqueId(const std::string& nodePath, const std::string& byIdDir,
                         const std::string& busInfo) {
  std::error_code ec;
  fs::path node = fs::weakly_canonical(nodePath, ec);
  std::vector<fs::path> links;
  for (fs::directory_iterator it(byIdDir, ec), end; !ec && it != end; it.increment(ec))
    links.push_back(it->path());
  std::sort(links.begin(), links.end());
  for (const auto& link : links) {
    std::error_code linkEc;
    fs::path target = fs::canonical(link, linkEc);
    if (!linkEc && target == node) return link.filename().string();
  }
  return "v4l2:" + busInfo;
}

std::optional<V4l2Node> v4l2NodeFromSysfs(const std::string& nodePath, const std::string& byIdDir,
                                          const std::string& sysfsDir) {
  fs::path entry = fs::path(sysfsDir) / fs::path(nodePath).filename();
  auto firstLine = [](const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
  };
  if (firstLine(entry / "index") != "0") return std::nullopt;  // metadata and other extra nodes
  std::string name = firstLine(entry / "name");
  if (name.empty()) return std::nullopt;
  std::error_code ec;
  fs::path device = fs::canonical(entry / "device", ec);
  std::string owner = ec ? fs::path(nodePath).filename().string() : device.filename().string();
  return V4l2Node{nodePath, v4l2UniqueId(nodePath, byIdDir, owner), name};
}

std::vector<V4l2Node> listV4l2Cameras(const std::string& devDir, const std::string& byIdDir,
                                      const std::string& sysfsDir) {
  std::vector<std::pair<int, std::string>> candidates;
  std::error_code ec;
  for (fs::directory_iterator it(devDir, ec), end; !ec && it != end; it.increment(ec)) {
    int n = nodeNumber(it->path().filename().string());
    if (n >= 0) candidates.emplace_back(n, it->path().string());
  }
  std::sort(candidates.begin(), candidates.end());
  std::vector<V4l2Node> nodes;
  for (const auto& [number, path] : candidates) {
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
      if (errno == EACCES || errno == EPERM)
        if (auto node = v4l2NodeFromSysfs(path, byIdDir, sysfsDir)) nodes.push_back(*node);
      continue;
    }
    v4l2_capability caps{};
    if (xioctl(fd.get(), VIDIOC_QUERYCAP, &caps) < 0 || !canCapture(caps)) continue;
    nodes.push_back({path, v4l2UniqueId(path, byIdDir, busInfo(caps)), cardName(caps)});
  }
  return nodes;
}

bool v4l2NodeBusy(const std::string& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return errno == EBUSY;
  // Asking for no buffers changes nothing, but fails with EBUSY while another file owns them.
  v4l2_requestbuffers request{};
  request.count = 0;
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  request.memory = V4L2_MEMORY_MMAP;
  return xioctl(fd.get(), VIDIOC_REQBUFS, &request) < 0 && errno == EBUSY;
}

std::unique_ptr<CameraSession> openV4l2Camera(const V4l2Node& node, CameraDelegate delegate,
                                              std::function<void()> onClose) {
  auto session = std::make_unique<V4l2CameraSession>(node, std::move(delegate), std::move(onClose));
  session->open();
  return session;
}

}  // namespace tavolu
