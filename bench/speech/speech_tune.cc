// Transcribes clips with decoder options given on the command line, for exploring search
// settings: speech_tune [-option value]... -- file...   prints "<file stem>\t<words>" per file.
#include <filesystem>
#include <future>
#include <iostream>

#include "speech/pocketsphinx_recognizer.h"

int main(int argc, char** argv) {
  using namespace tavolu::speech;
  DecoderOptions options = captionDecoderOptions();
  int i = 1;
  for (; i + 1 < argc && std::string(argv[i]) != "--"; i += 2) {
    bool replaced = false;
    for (auto& [name, value] : options)
      if (name == argv[i]) value = argv[i + 1], replaced = true;
    if (!replaced) options.emplace_back(argv[i], argv[i + 1]);
  }
  if (i < argc && std::string(argv[i]) == "--") ++i;
  PocketSphinxRecognizer recognizer(*findModel("en-US", modelRoot(nullptr)), options);
  for (; i < argc; ++i) {
    std::promise<std::string> done;
    auto task = recognizer.recognize(argv[i], [&](auto result, auto error) {
      std::string words;
      if (result)
        for (const Segment& s : result->segments) words += (words.empty() ? "" : " ") + s.text;
      done.set_value(result ? words : "ERROR " + error.value_or(""));
    });
    std::cout << std::filesystem::path(argv[i]).stem().string() << '\t' << done.get_future().get()
              << std::endl;
  }
}
