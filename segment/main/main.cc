// tavolu-segment <input> <output>: writes the person matte video of a camera video.
// Exit status 0 when the matte was written, 1 with the error's description on standard error
// when it failed, 2 (and nothing else) when the argument count is wrong.
#include <asio.hpp>
#include <cstdio>
#include <cstdlib>
#include <iostream>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/error.h"
#include "segment/main/arguments.h"
#include "segment/main/model_location.h"
#include "segment/main/segment.h"

int main(int argc, char** argv) {
  const auto args = tavolu::segment::parseArguments(argc, argv);
  if (!args) return 2;

  // Standard error carries only the failure line; libav's own chatter would bury it.
  av_log_set_level(AV_LOG_QUIET);
  tavolu::segment::SegmentOptions options;
  options.modelDirectory = tavolu::segment::modelDirectory();
  options.progress = &std::cout;
  if (const char* t = std::getenv("TAVOLU_SEGMENT_TIMINGS"); t && *t && *t != '0')
    options.timings = &std::cerr;

  // The job runs on its own thread; the main thread only keeps the process alive until the
  // job hands back its exit status.
  asio::io_context main;
  auto guard = asio::make_work_guard(main);
  int status = 0;
  asio::thread_pool job(1);
  asio::post(job, [&] {
    int result = 0;
    try {
      tavolu::segment::segment(args->input, args->output, options);
    } catch (const tavolu::Error& e) {
      std::cerr << e.description() << std::endl;
      result = 1;
    } catch (const std::exception& e) {
      std::cerr << tavolu::Error("Mask", 2, e.what()).description() << std::endl;
      result = 1;
    }
    asio::post(main, [&, result] {
      status = result;
      guard.reset();
    });
  });
  main.run();
  job.join();
  std::cout.flush();
  return status;
}
