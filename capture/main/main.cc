// tavolu-capture: records the screen, camera and sound; lists sources; previews cameras;
// watches the front window; copies a file to the clipboard. See README.md.
#include <signal.h>
#include <unistd.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/thread_pool.hpp>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/main/command_channel.h"
#include "capture/main/command_line.h"
#include "capture/main/event_channel.h"
#include "capture/main/process_exit.h"
#include "capture/preview/camera_preview_mode.h"
#include "capture/session/capture.h"
#include "capture/sources/list_sources.h"
#include "capture/utility/utility_modes.h"
#include "platform/linux/linux_cameras.h"
#include "platform/linux/linux_device_discovery.h"
#include "platform/linux/x11_clipboard.h"
#include "platform/linux/x11_input.h"
#include "platform/linux/x11_screen_capture.h"
#include "platform/linux/x11_window_system.h"

using namespace tavolu;

int main(int argc, char** argv) {
  // A reader that went away makes writes fail instead of ending the process.
  signal(SIGPIPE, SIG_IGN);
  outputLock();

  const CommandLine cl = parseCommandLine(std::vector<std::string>(argv, argv + argc));
  asio::io_context mainLoop;
  auto keepAlive = asio::make_work_guard(mainLoop);

  if (cl.mode == CommandLine::Mode::cameraPreview) runCameraPreviewMode(mainLoop);

  auto windows = std::make_shared<X11WindowSystem>();
  switch (cl.mode) {
    case CommandLine::Mode::inputMonitoring:
      exitProcess(runInputMonitoring(*windows, cl.requestAccess));
    case CommandLine::Mode::copyFile: {
      X11Clipboard clipboard;
      exitProcess(runCopyFile(cl.copyPath, clipboard));
    }
    case CommandLine::Mode::watchWindows:
      runWindowWatch(*windows, cl.excludedPid, mainLoop);
      exitProcess(0);
    default:
      break;
  }

  // Source listing and recording: the one recording session of the process.
  LinuxCameras cameras;
  LinuxDeviceDiscovery discovery(cameras);
  X11ScreenCapture screen(windows);
  std::shared_ptr<Input> input;
  try {
    input = X11Input::open();
  } catch (const Error&) {
    // Without an X display there is nothing to record; starts fail on their own.
  }
  CaptureServices services;
  services.screen = &screen;
  services.windows = windows.get();
  services.cameras = &cameras;
  services.input = input;
  services.mainLoop = &mainLoop;
  services.sleepSeconds = [](int64_t s) { std::this_thread::sleep_for(std::chrono::seconds(s)); };
  services.exitProcess = [](int status) { exitProcess(status); };
  services.writeDiagnostic = [](const std::string& line) {
    if (write(STDERR_FILENO, line.data(), line.size()) < 0) {
    }
  };
  Capture recorder(std::move(services));
  asio::thread_pool tasks(4);
  CommandChannel commands(recorder, tasks, [](int status) { exitProcess(status); });

  if (cl.mode == CommandLine::Mode::list) {
    asio::post(tasks, [&] {
      try {
        listSources(*windows, discovery);
        exitProcess(0);
      } catch (const Error& e) {
        recorder.fail(e);
      }
    });
  } else {
    std::thread([&] { commands.readCommands(STDIN_FILENO); }).detach();
  }
  mainLoop.run();
  exitProcess(0);
}
