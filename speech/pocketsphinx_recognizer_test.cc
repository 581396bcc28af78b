#include "speech/pocketsphinx_recognizer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <future>

#include "speech/wav_fixture.h"

namespace tavolu::speech {
namespace {

using namespace std::chrono_literals;

const char* kTestData = "/usr/share/pocketsphinx/test/data";

struct Outcome {
  std::optional<RecognitionResult> result;
  std::optional<std::string> error;
};

class PocketSphinxRecognizerTest : public testing::Test {
 protected:
  void SetUp() override {
    wav_ = std::filesystem::temp_directory_path() /
           ("tavolu-goforward-" + std::to_string(getpid()) + ".wav");
    test::writeWav(wav_, test::readRaw(std::string(kTestData) + "/goforward.raw"), 16000, 1);
  }
  void TearDown() override { std::filesystem::remove(wav_); }

  Outcome recognise(const std::string& path) {
    PocketSphinxRecognizerFactory factory(modelRoot(nullptr));
    auto recognizer = factory.recognizerFor("en-US");
    EXPECT_TRUE(recognizer);
    std::promise<Outcome> done;
    auto task = recognizer->recognize(path, [&](auto result, auto error) {
      done.set_value({std::move(result), std::move(error)});
    });
    auto f = done.get_future();
    EXPECT_EQ(f.wait_for(60s), std::future_status::ready);
    return f.get();
  }
  std::filesystem::path wav_;
};

TEST_F(PocketSphinxRecognizerTest, RecognisesHumanSpeechAsTimedWords) {
  Outcome o = recognise(wav_);
  ASSERT_TRUE(o.result) << o.error.value_or("");
  EXPECT_TRUE(o.result->isFinal);
  std::string text;
  double last = -1;
  for (const Segment& s : o.result->segments) {
    text += s.text + " ";
    EXPECT_GT(s.timestamp, last);
    EXPECT_GE(s.duration, 0);
    EXPECT_EQ(s.text.find('('), std::string::npos);
    EXPECT_NE(s.text.front(), '<');
    last = s.timestamp;
  }
  // "go forward ten meters", as spoken in the recording.
  for (const char* w : {"go ", "forward ", "ten ", "meters "})
    EXPECT_NE(text.find(w), std::string::npos) << text;
  EXPECT_LT(last, 4.0);  // the recording is about 3.6 s long
}

TEST_F(PocketSphinxRecognizerTest, AFileThatCannotBeOpenedIsAnError) {
  Outcome o = recognise("/nonexistent/clip.m4a");
  EXPECT_FALSE(o.result);
  ASSERT_TRUE(o.error);
  EXPECT_NE(o.error->find("clip.m4a"), std::string::npos) << *o.error;
}

TEST_F(PocketSphinxRecognizerTest, NothingIsDeliveredAfterCancel) {
  PocketSphinxRecognizer recognizer(*findModel("en-US", modelRoot(nullptr)));
  std::atomic<int> deliveries = 0;
  {
    auto task = recognizer.recognize(wav_, [&](auto, auto) { ++deliveries; });
    task->cancel();
  }  // the task's end waits for its thread
  EXPECT_EQ(deliveries, 0);
}

TEST(PocketSphinxRecognizerFactory, OnlyLocalesWithAModelHaveARecogniser) {
  PocketSphinxRecognizerFactory factory(modelRoot(nullptr));
  for (const char* locale : {"en-US", "en_US", "en"}) {
    auto r = factory.recognizerFor(locale);
    ASSERT_TRUE(r) << locale;
    EXPECT_TRUE(r->supportsOnDeviceRecognition());
  }
  for (const char* locale : {"fr-FR", "en-GB", "xx", ""})
    EXPECT_FALSE(factory.recognizerFor(locale));
}

}  // namespace
}  // namespace tavolu::speech
