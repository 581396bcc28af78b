// In-process screen capture for tests: a fixed set of displays and windows, a picker whose
// answer the test chooses, and streams whose samples the test delivers.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/screen_stream.h"

namespace tavolu {

class FakeScreenStream : public ScreenStream {
 public:
  FakeScreenStream(ContentFilter f, StreamConfiguration c, StreamDelegate& d, QueuePost p)
      : filter(std::move(f)), config(std::move(c)), delegate(d), post(std::move(p)) {}

  void addOutput(StreamOutputType type) override {
    if (addOutputError) throw *addOutputError;
    outputs.push_back(type);
  }
  void startCapture() override {
    if (startError) throw *startError;
    running = true;
  }
  void stopCapture() override { running = false; }

  // Hands one sample to the delegate on the capture queue, as a running stream does.
  void deliver(StreamSample sample, StreamOutputType type) {
    post([this, sample = std::move(sample), type] { delegate.streamDidOutput(sample, type); });
  }

  ContentFilter filter;
  StreamConfiguration config;
  StreamDelegate& delegate;
  QueuePost post;
  std::vector<StreamOutputType> outputs;
  std::optional<Error> addOutputError, startError;
  bool running = false;
};

class FakeScreenCapture : public ScreenCapture {
 public:
  ShareableContent content;
  std::optional<Error> contentError;
  std::function<ContentFilter()> picker;  // throws to cancel
  int pickerShown = 0;
  FakeScreenStream* lastStream = nullptr;

  ShareableContent shareableContent() override {
    if (contentError) throw *contentError;
    return content;
  }
  ContentFilter displayFilter(const Display& d, const std::vector<Application>& excluded,
                              const std::vector<Window>& excepting) override {
    ContentFilter f;
    f.style = ContentFilter::Style::display;
    f.display = d;
    f.excludedApplications = excluded;
    f.exceptingWindows = excepting;
    f.contentRect = d.frame;
    f.pointPixelScale = d.pointPixelScale;
    return f;
  }
  ContentFilter windowFilter(const Window& w) override {
    ContentFilter f;
    f.style = ContentFilter::Style::window;
    f.window = w;
    f.contentRect = {0, 0, w.frame.width, w.frame.height};
    return f;
  }
  ContentFilter pick(const std::string&) override {
    ++pickerShown;
    return picker();
  }
  std::unique_ptr<ScreenStream> createStream(const ContentFilter& filter,
                                             const StreamConfiguration& config,
                                             StreamDelegate& delegate, QueuePost post) override {
    auto s = std::make_unique<FakeScreenStream>(filter, config, delegate, std::move(post));
    lastStream = s.get();
    return s;
  }
};

}  // namespace tavolu
