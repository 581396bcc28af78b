#include "speech/transcription.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "speech/messages.h"

namespace tavolu::speech {
namespace {

using namespace std::chrono_literals;

// Records the first ending only, as the real process would.
struct RecordingOutcome : Outcome {
  void succeed(const std::string& json) override { end(0, json); }
  void fail(const std::string& message) override { end(1, message); }
  void end(int status, const std::string& text) {
    ++endings;
    if (this->status) return;
    this->status = status;
    this->text = text;
  }
  std::optional<int> status;
  std::string text;
  int endings = 0;
};

struct FakeAuthorizer : SpeechAuthorizer {
  void requestAuthorization(std::function<void(AuthorizationStatus)> done) override {
    ++requests;
    // Answer from another thread, the way the platform may.
    std::thread([done, s = status] { done(s); }).join();
  }
  AuthorizationStatus status = AuthorizationStatus::authorized;
  int requests = 0;
};

struct FakeTask : RecognitionTask {
  void cancel() override { cancelled = true; }
  bool cancelled = false;
};

struct FakeRecognizer : SpeechRecognizer {
  bool supportsOnDeviceRecognition() const override { return onDevice; }
  std::shared_ptr<RecognitionTask> recognize(const std::string& path,
                                             ResultHandler handler) override {
    this->path = path;
    this->handler = std::move(handler);
    task = std::make_shared<FakeTask>();
    return task;
  }
  bool onDevice = true;
  std::string path;
  ResultHandler handler;
  std::shared_ptr<FakeTask> task;
};

struct FakeFactory : SpeechRecognizerFactory {
  std::unique_ptr<SpeechRecognizer> recognizerFor(const std::string& locale) override {
    this->locale = locale;
    if (!available) return nullptr;
    auto r = std::make_unique<FakeRecognizer>();
    r->onDevice = onDevice;
    recognizer = r.get();
    return r;
  }
  bool available = true, onDevice = true;
  std::string locale;
  FakeRecognizer* recognizer = nullptr;
};

class TranscriptionTest : public testing::Test {
 protected:
  void begin(std::vector<std::string> args, std::chrono::milliseconds timeout = 120s) {
    flow = std::make_unique<Transcription>(loop, authorizer, factory, outcome, timeout);
    flow->begin(std::move(args));
    loop.restart();
    loop.run_for(20ms);
  }
  asio::io_context loop;
  FakeAuthorizer authorizer;
  FakeFactory factory;
  RecordingOutcome outcome;
  std::unique_ptr<Transcription> flow;
};

TEST_F(TranscriptionTest, FewerThanTwoArgumentsFailsBeforeAuthorisation) {
  for (auto args : {std::vector<std::string>{"tavolu-speech"},
                    std::vector<std::string>{"tavolu-speech", "a.m4a"}}) {
    RecordingOutcome fresh;
    Transcription flow(loop, authorizer, factory, fresh, 120s);
    flow.begin(args);
    EXPECT_EQ(fresh.status, 1);
    EXPECT_EQ(fresh.text, kUsageMessage);
  }
  EXPECT_EQ(authorizer.requests, 0);
}

TEST_F(TranscriptionTest, AnyStatusButAuthorizedFails) {
  for (auto status : {AuthorizationStatus::notDetermined, AuthorizationStatus::denied,
                      AuthorizationStatus::restricted}) {
    authorizer.status = status;
    outcome = {};
    begin({"tavolu-speech", "a.m4a", "en-US"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.text, kAuthorizationMessage);
    EXPECT_EQ(factory.recognizer, nullptr);
  }
}

TEST_F(TranscriptionTest, NoRecognizerOrNoOnDeviceSupportFails) {
  for (auto [available, onDevice] : {std::pair{false, true}, std::pair{true, false}}) {
    factory.available = available;
    factory.onDevice = onDevice;
    outcome = {};
    begin({"tavolu-speech", "a.m4a", "fr-FR"});
    EXPECT_EQ(factory.locale, "fr-FR");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.text, kOnDeviceMessage);
  }
}

TEST_F(TranscriptionTest, StartsOnTheFileAndIgnoresExtraArguments) {
  begin({"tavolu-speech", "clip.m4a", "en-US", "extra", "more"});
  ASSERT_NE(factory.recognizer, nullptr);
  EXPECT_EQ(factory.recognizer->path, "clip.m4a");
  EXPECT_EQ(factory.locale, "en-US");
  EXPECT_FALSE(outcome.status);
}

TEST_F(TranscriptionTest, FinalResultPrintsCaptionsEvenWithAnError) {
  begin({"tavolu-speech", "clip.m4a", "en-US"});
  RecognitionResult result{true, {{"go", 1.5, 0}, {"forward", 1.6, 0.4}}};
  factory.recognizer->handler(result, std::string("ignored"));
  ASSERT_EQ(outcome.status, 0);
  auto json = nlohmann::json::parse(outcome.text);
  ASSERT_EQ(json.size(), 2u);
  EXPECT_DOUBLE_EQ(json[0]["end"].get<double>(), 1.55);
  EXPECT_DOUBLE_EQ(json[1]["end"].get<double>(), 2.0);
}

TEST_F(TranscriptionTest, ErrorWithoutFinalResultFailsWithItsDescription) {
  begin({"tavolu-speech", "clip.m4a", "en-US"});
  factory.recognizer->handler(RecognitionResult{false, {{"x", 0, 0}}}, std::string("Bad audio"));
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.text, "Bad audio");
}

TEST_F(TranscriptionTest, PartialResultWithoutErrorKeepsWaiting) {
  begin({"tavolu-speech", "clip.m4a", "en-US"});
  factory.recognizer->handler(RecognitionResult{false, {{"x", 0, 0}}}, std::nullopt);
  factory.recognizer->handler(std::nullopt, std::nullopt);
  EXPECT_FALSE(outcome.status);
}

TEST_F(TranscriptionTest, TimeOutCancelsTheTaskThenFails) {
  begin({"tavolu-speech", "clip.m4a", "en-US"}, 30ms);
  ASSERT_NE(factory.recognizer, nullptr);
  loop.restart();
  loop.run_for(200ms);
  EXPECT_TRUE(factory.recognizer->task->cancelled);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.text, kTimeoutMessage);
}

TEST_F(TranscriptionTest, TimeOutIsArmedOnlyWhenRecognitionStarts) {
  authorizer.status = AuthorizationStatus::denied;
  begin({"tavolu-speech", "clip.m4a", "en-US"}, 1ms);
  loop.restart();
  loop.run_for(50ms);
  EXPECT_EQ(outcome.endings, 1);
  EXPECT_EQ(outcome.text, kAuthorizationMessage);
}

}  // namespace
}  // namespace tavolu::speech
