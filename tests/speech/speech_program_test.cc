#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/support/child_process.h"

namespace tavolu::test {
namespace {

using namespace std::chrono_literals;

const char* kGoForward = "/usr/share/pocketsphinx/test/data/goforward.raw";
const std::string kUsage = "Choose an audio file and language.";
const std::string kOnDevice =
    "On-device speech recognition is unavailable for this language. Enable Dictation and "
    "download its language in macOS Keyboard settings, or import an SRT file.";
const std::string kTimedOut =
    "Speech recognition timed out. Try a shorter clip or another language.";

struct RunResult {
  int status = -1;
  std::string out, err;
};

RunResult runSpeech(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
  args.insert(args.begin(), programPath("tavolu-speech"));
  ChildProcess child(args, env);
  RunResult r;
  r.out = child.readToEnd(90s);
  r.status = child.wait(30s).value_or(-1);
  r.err = child.stderrText();
  return r;
}

void ffmpeg(const std::string& arguments) {
  ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -y " + arguments).c_str()), 0)
      << arguments;
}

class SpeechProgram : public testing::Test {
 protected:
  // "go forward ten meters", spoken, as an M4A at 44.1 kHz stereo like a recording's audio.
  std::string speechM4a() {
    std::string path = dir.file("goforward.m4a");
    ffmpeg("-f s16le -ar 16000 -ac 1 -i " + std::string(kGoForward) + " -ar 44100 -ac 2 -c:a aac " +
           path);
    return path;
  }
  TempDir dir;
};

TEST_F(SpeechProgram, RefusalsWriteOneMessageWithoutNewlineAndExitOne) {
  std::string textFile = dir.file("notes.txt");
  std::ofstream(textFile) << "not audio\n";
  std::string silentVideo = dir.file("silent.mp4");
  ffmpeg("-f lavfi -i testsrc=size=64x64:rate=10 -t 1 -c:v mpeg4 " + silentVideo);
  std::string audio = speechM4a();

  struct Case {
    std::vector<std::string> args;
    std::string message;  // exact, or a part of it when `exact` is false
    bool exact = true;
  } cases[] = {
      {{}, kUsage},
      {{audio}, kUsage},
      {{audio, "fr-FR"}, kOnDevice},
      {{audio, "en-GB"}, kOnDevice},
      {{audio, ""}, kOnDevice},
      {{audio, "../en-us"}, kOnDevice},
      {{dir.file("missing.m4a"), "en-US"}, "missing.m4a", false},
      {{textFile, "en-US"}, "notes.txt", false},
      {{silentVideo, "en-US"}, "silent.mp4", false},
      {{dir.path(), "en-US"}, "could not", false},
  };
  for (const Case& c : cases) {
    RunResult r = runSpeech(c.args);
    std::string name = c.args.empty() ? "(none)" : c.args.back();
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.out, "") << name;
    if (c.exact)
      EXPECT_EQ(r.err, c.message) << name;
    else
      EXPECT_NE(r.err.find(c.message), std::string::npos) << name << ": " << r.err;
    ASSERT_FALSE(r.err.empty()) << name;
    EXPECT_NE(r.err.back(), '\n') << name;
    EXPECT_EQ(r.err.find('\n'), std::string::npos) << name;
  }
}

TEST_F(SpeechProgram, TranscribesHumanSpeechIntoTimedCaptions) {
  // Extra arguments after the language are ignored.
  RunResult r = runSpeech({speechM4a(), "en-US", "ignored", "--also"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  ASSERT_FALSE(r.out.empty());
  EXPECT_NE(r.out.back(), '\n');
  EXPECT_EQ(r.out.front(), '[');
  auto captions = nlohmann::json::parse(r.out);
  ASSERT_TRUE(captions.is_array());
  std::string text;
  double lastStart = -1;
  for (const auto& c : captions) {
    double start = c.at("start").get<double>(), end = c.at("end").get<double>();
    EXPECT_GT(start, lastStart);
    EXPECT_GE(end, start + 0.05 - 1e-9);
    lastStart = start;
    text += c.at("text").get<std::string>() + " ";
  }
  EXPECT_EQ(text, "go forward ten meters ");
  EXPECT_LT(lastStart, 3.6);
}

TEST_F(SpeechProgram, LanguageSpellingsOfUsEnglishAllWork) {
  std::string audio = speechM4a();
  for (const char* locale : {"en_US", "en"}) {
    RunResult r = runSpeech({audio, locale});
    EXPECT_EQ(r.status, 0) << locale << ": " << r.err;
    EXPECT_NE(r.out.find("forward"), std::string::npos) << locale;
  }
}

TEST_F(SpeechProgram, AudioWithoutSpeechGivesAnEmptyArray) {
  std::string quiet = dir.file("quiet.wav");
  ffmpeg("-f lavfi -i anullsrc=r=48000:cl=stereo -t 2 " + quiet);
  std::string empty = dir.file("empty.wav");
  ffmpeg("-f lavfi -i anullsrc=r=16000:cl=mono -t 0 " + empty);
  for (const std::string& path : {quiet, empty}) {
    RunResult r = runSpeech({path, "en-US"});
    EXPECT_EQ(r.status, 0) << path << ": " << r.err;
    EXPECT_EQ(r.out, "[]") << path;
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(SpeechProgram, TimeOutCancelsRecognitionAndFails) {
  // Ten minutes of speech cannot be recognised within the shortened limit.
  std::string longSpeech = dir.file("long.wav");
  ffmpeg("-stream_loop 170 -f s16le -ar 16000 -ac 1 -i " + std::string(kGoForward) + " " +
         longSpeech);
  auto started = std::chrono::steady_clock::now();
  RunResult r = runSpeech({longSpeech, "en-US"}, {{"TAVOLU_SPEECH_TIMEOUT_SECONDS", "0.5"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kTimedOut);
  // Ended by the time-out, not by running to the end of the audio.
  EXPECT_LT(std::chrono::steady_clock::now() - started, 60s);
}

TEST_F(SpeechProgram, ApplicationPropertyListIsEmbedded) {
  std::string plist = dir.file("Info.plist");
  ASSERT_EQ(std::system(("objcopy --dump-section .info_plist=" + plist + " " +
                         programPath("tavolu-speech") + " " + dir.file("copy"))
                            .c_str()),
            0);
  std::stringstream text;
  text << std::ifstream(plist).rdbuf();
  for (const char* part :
       {"<key>CFBundleIdentifier</key>\n\t<string>com.orvenda.studio.speech</string>",
        "<key>CFBundleName</key>\n\t<string>Tavolu</string>",
        "<key>NSSpeechRecognitionUsageDescription</key>\n\t<string>Create captions from your "
        "recording using on-device speech recognition.</string>"})
    EXPECT_NE(text.str().find(part), std::string::npos) << part;
  std::stringstream source;
  source << std::ifstream(std::string(SPEECH_SOURCE_DIR) + "/Info.plist").rdbuf();
  EXPECT_EQ(text.str(), source.str());
}

}  // namespace
}  // namespace tavolu::test
