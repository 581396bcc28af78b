// A serial queue: blocks run one at a time, in submission order, on one thread of its own.
#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <functional>
#include <future>
#include <string>
#include <thread>

namespace tavolu {

class SerialQueue {
 public:
  explicit SerialQueue(std::string label)
      : label_(std::move(label)), work_(asio::make_work_guard(context_)), thread_([this] {
          current() = this;
          context_.run();
        }) {}
  ~SerialQueue() {
    work_.reset();
    context_.stop();
    if (thread_.joinable()) {
      if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();
      else
        thread_.join();
    }
  }
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  const std::string& label() const { return label_; }
  asio::io_context::executor_type executor() { return context_.get_executor(); }
  // Runs `fn` later on the queue.
  void async(std::function<void()> fn) { asio::post(context_, std::move(fn)); }
  // Runs `fn` on the queue and returns after it ran; runs it at once when called from the
  // queue itself, so a nested submission never deadlocks.
  void sync(const std::function<void()>& fn) {
    if (isCurrent()) return fn();
    std::promise<void> done;
    asio::post(context_, [&] {
      fn();
      done.set_value();
    });
    done.get_future().wait();
  }
  // Whether the caller runs on this queue.
  bool isCurrent() const { return current() == this; }

 private:
  static const SerialQueue*& current() {
    thread_local const SerialQueue* queue = nullptr;
    return queue;
  }

  std::string label_;
  asio::io_context context_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::thread thread_;
};

}  // namespace tavolu
