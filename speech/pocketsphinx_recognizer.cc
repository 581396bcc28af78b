#include "speech/pocketsphinx_recognizer.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/error.h"
#include "speech/audio_decoder.h"
#include "speech/utterance_segmenter.h"
#include "speech/word_segments.h"

namespace tavolu::speech {
namespace {

constexpr const char* kDomain = "Speech";

struct ConfigFreer {
  void operator()(cmd_ln_t* c) const { cmd_ln_free_r(c); }
};
struct DecoderFreer {
  void operator()(ps_decoder_t* d) const { ps_free(d); }
};

// One loaded model and its search; recognises one utterance at a time.
class Decoder {
 public:
  Decoder(const ModelPaths& model, const DecoderOptions& options) {
    // PocketSphinx logs to standard error by default; that stream carries only our message.
    static std::once_flag quiet;
    std::call_once(quiet, [] { err_set_logfp(nullptr); });

    std::vector<std::string> words = {"-hmm",  model.acousticModel.string(),
                                      "-lm",   model.languageModel.string(),
                                      "-dict", model.dictionary.string()};
    for (const auto& [name, value] : options) {
      words.push_back(name);
      words.push_back(value);
    }
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    std::unique_ptr<cmd_ln_t, ConfigFreer> config(
        cmd_ln_parse_r(nullptr, ps_args(), static_cast<int32>(argv.size()), argv.data(), TRUE));
    if (!config) throw Error(kDomain, 10, "The speech recogniser settings are not valid.");
    decoder_.reset(ps_init(config.get()));
    if (!decoder_)
      throw Error(kDomain, 11, "The speech model could not be loaded.",
                  {{"Model", model.acousticModel.string()}});
    framesPerSecond_ = static_cast<int>(cmd_ln_int32_r(config.get(), "-frate"));
  }

  // Recognises one utterance and appends its words.
  void recognise(const Utterance& u, std::vector<Segment>& out) {
    ps_decoder_t* ps = decoder_.get();
    if (ps_start_utt(ps) < 0) throw Error(kDomain, 12, "The speech recogniser could not start.");
    // The whole utterance at once: mean normalisation then uses all of it.
    if (!u.samples.empty() &&
        ps_process_raw(ps, u.samples.data(), u.samples.size(), FALSE, TRUE) < 0) {
      ps_end_utt(ps);
      throw Error(kDomain, 13, "The speech recogniser could not process the audio.");
    }
    if (ps_end_utt(ps) < 0) throw Error(kDomain, 13, "The speech recogniser could not finish.");
    const double offset = static_cast<double>(u.startSample) / AudioDecoder::kSampleRate;
    for (ps_seg_t* seg = ps_seg_iter(ps); seg; seg = ps_seg_next(seg)) {
      int sf = 0, ef = 0;
      ps_seg_frames(seg, &sf, &ef);
      if (auto s = wordSegment(ps_seg_word(seg), sf, ef, offset, framesPerSecond_))
        out.push_back(std::move(*s));
    }
  }

 private:
  std::unique_ptr<ps_decoder_t, DecoderFreer> decoder_;
  int framesPerSecond_ = 100;
};

class PocketSphinxTask : public RecognitionTask {
 public:
  PocketSphinxTask(std::string path, ModelPaths model, DecoderOptions options,
                   ResultHandler handler)
      : handler_(std::move(handler)) {
    worker_ = std::thread([this, path = std::move(path), model = std::move(model),
                           options = std::move(options)] { run(path, model, options); });
  }
  ~PocketSphinxTask() override {
    cancel();
    worker_.join();
  }

  void cancel() override {
    std::lock_guard lock(deliveryLock_);
    cancelled_ = true;
  }

 private:
  bool cancelled() {
    std::lock_guard lock(deliveryLock_);
    return cancelled_;
  }

  void deliver(std::optional<RecognitionResult> result, std::optional<std::string> error) {
    std::lock_guard lock(deliveryLock_);
    if (!cancelled_) handler_(std::move(result), std::move(error));
  }

  void run(const std::string& path, const ModelPaths& model, const DecoderOptions& options) {
    try {
      AudioDecoder audio(path);        // first, so a bad file fails before the model loads
      std::optional<Decoder> decoder;  // loaded at the first utterance: silence needs none
      UtteranceSegmenter segmenter;
      std::vector<int16_t> block;
      std::vector<Utterance> utterances;
      RecognitionResult result{true, {}};
      bool more = true;
      while (more && !cancelled()) {
        block.clear();
        more = audio.read(block);
        segmenter.push(block, utterances);
        if (!more) segmenter.finish(utterances);
        for (const Utterance& u : utterances) {
          if (cancelled()) return;
          if (!decoder) decoder.emplace(model, options);
          decoder->recognise(u, result.segments);
        }
        utterances.clear();
      }
      deliver(std::move(result), std::nullopt);
    } catch (const Error& e) {
      deliver(std::nullopt, e.localizedDescription());
    } catch (const std::exception& e) {
      deliver(std::nullopt, std::string("Speech recognition failed: ") + e.what());
    }
  }

  ResultHandler handler_;
  std::mutex deliveryLock_;
  bool cancelled_ = false;
  std::thread worker_;
};

}  // namespace

DecoderOptions captionDecoderOptions() {
  // Captions are made after the recording, not live, so the flat second pass gets a much wider
  // beam: it keeps the right word in the search far more often on read speech (bench/speech:
  // WER 0.28 -> 0.24). Its word windows are narrowed, the first pass is capped at 5000 active
  // HMMs per frame and 2 Gaussians per mixture are scored, which pays for the wider beam
  // without costing a word on that benchmark.
  return {{"-fwdflatbeam", "1e-80"},
          {"-fwdflatefwid", "2"},
          {"-fwdflatsfwin", "10"},
          {"-maxhmmpf", "5000"},
          {"-topn", "2"}};
}

PocketSphinxRecognizer::PocketSphinxRecognizer(ModelPaths model, DecoderOptions options)
    : model_(std::move(model)), options_(std::move(options)) {}

std::shared_ptr<RecognitionTask> PocketSphinxRecognizer::recognize(const std::string& path,
                                                                   ResultHandler handler) {
  return std::make_shared<PocketSphinxTask>(path, model_, options_, std::move(handler));
}

std::unique_ptr<SpeechRecognizer> PocketSphinxRecognizerFactory::recognizerFor(
    const std::string& locale) {
  auto model = findModel(locale, root_);
  if (!model) return nullptr;
  return std::make_unique<PocketSphinxRecognizer>(std::move(*model));
}

}  // namespace tavolu::speech
