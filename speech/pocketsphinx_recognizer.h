// On-device recognition with PocketSphinx: the file is decoded and resampled, split into
// utterances at pauses, and each utterance is searched with the model of the locale.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "speech/model_locator.h"
#include "speech/recognizer.h"

namespace tavolu::speech {

// Decoder options as PocketSphinx names them ("-beam", "1e-60"), on top of the model paths.
using DecoderOptions = std::vector<std::pair<std::string, std::string>>;

// The search settings used for captions (chosen on read speech; see bench/README.md).
DecoderOptions captionDecoderOptions();

class PocketSphinxRecognizer : public SpeechRecognizer {
 public:
  explicit PocketSphinxRecognizer(ModelPaths model,
                                  DecoderOptions options = captionDecoderOptions());
  bool supportsOnDeviceRecognition() const override { return true; }
  std::shared_ptr<RecognitionTask> recognize(const std::string& path,
                                             ResultHandler handler) override;

 private:
  ModelPaths model_;
  DecoderOptions options_;
};

// A recogniser for every locale that has an installed model under `root`.
class PocketSphinxRecognizerFactory : public SpeechRecognizerFactory {
 public:
  explicit PocketSphinxRecognizerFactory(std::filesystem::path root) : root_(std::move(root)) {}
  std::unique_ptr<SpeechRecognizer> recognizerFor(const std::string& locale) override;

 private:
  std::filesystem::path root_;
};

}  // namespace tavolu::speech
