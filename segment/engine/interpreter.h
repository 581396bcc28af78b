// Runs a parsed model: checks every operator's shapes once, turns the float16 weights into
// float32 and rearranges the convolution filters up front, then evaluates the operators in
// order on each invoke() with all activation buffers allocated once.
#pragma once

#include <memory>
#include <vector>

#include "segment/engine/operators.h"
#include "segment/engine/worker_pool.h"
#include "segment/model/tflite_model.h"

namespace tavolu::segment {

class Interpreter {
 public:
  // Throws tavolu::Error (domain "Segmentation") when the graph cannot be run.
  Interpreter(Graph graph, WorkerPool& pool);

  // The single float32 input, batch 1, NHWC.
  Shape3 inputShape() const { return shapes_[inputIndex_]; }
  float* input() { return values_[inputIndex_].data(); }
  // The first output after invoke().
  Shape3 outputShape() const { return shapes_[outputIndex_]; }
  const float* output() const { return values_[outputIndex_].data(); }
  // Evaluates the graph on the current input.
  void invoke();

 private:
  struct Step {
    OpDesc op;
    int convFilter = -1;  // index into filters_ for CONV_2D
  };
  void prepare(const OpDesc& op, int index);
  void run(const Step& step);
  const float* in(int tensor) const { return values_[tensor].data(); }

  Graph graph_;
  WorkerPool& pool_;
  std::vector<Shape3> shapes_;
  std::vector<std::vector<float>> values_;
  std::vector<bool> known_;     // constant or produced by an earlier step
  std::vector<bool> constant_;  // fixed before the first invoke
  std::vector<ConvFilter> filters_;
  std::vector<Step> steps_;
  int inputIndex_ = -1, outputIndex_ = -1;
};

}  // namespace tavolu::segment
