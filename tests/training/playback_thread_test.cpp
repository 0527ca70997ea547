// The playback thread with the real window, the real audio callback thread (SDL's dummy driver)
// and the interface thread: stops, recompositions and the end of the program while it plays;
// the composer thread of the training tones.
#include "training/playback_thread.h"

#include <QTest>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "../persistence/temp_dir.h"
#include "training/training_window.h"

namespace dittix::training {
namespace {

struct Exercise {
    Exercise() {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        settings = persistence::parseSettings("[Settings]\nlivello1=eish5\nVEL ES=150\n", '.');
        output = platform::makeSdlSingleShotOutput();
        audio = std::make_unique<TrainingAudio>(*output, [this] { return sine; });
        window = std::make_unique<Ttraining>(TrainingEnvironment{
            settings.levels,
            settings.training,
            random,
            dir.file("settings.ini"),
            [this] { return audio->open(); },
            [this](int cpm) { audio->componi(cpm); },
            [this] {
                if (thread) {
                    thread->wait();
                }
                thread = std::make_unique<TtxCW>(window->state(), *audio, *window);
                thread->start();
            },
            {},
            {},
            {}});
        audio->componi(150);
    }
    ~Exercise() {
        thread.reset();  // joins
        window.reset();
    }
    bool waitUntilEnded() {
        for (int i = 0; i < 500 && window->state().exerciseRunning.load(); ++i) {
            QTest::qWait(10);
        }
        return !window->state().exerciseRunning.load();
    }

    persistence::test::TempDir dir;
    persistence::Settings settings;
    persistence::ExerciseRandom random{11};
    platform::SharedSamples sine =
        std::make_shared<const platform::SampleBuffer>(platform::kSampleRate, std::int16_t{900});
    std::unique_ptr<platform::SingleShotOutput> output;
    std::unique_ptr<TrainingAudio> audio;
    std::unique_ptr<Ttraining> window;
    std::unique_ptr<TtxCW> thread;
};

TEST(PlaybackThread, StopPressedRepeatedlyEndsTheExercise) {
    Exercise e;
    e.window->startClick();
    QTest::qWait(150);
    for (int i = 0; i < 5; ++i) {
        e.window->startClick();  // STOP, then clicks while it stops
    }
    EXPECT_TRUE(e.waitUntilEnded());
    e.window->timerTimer();
    EXPECT_EQ(e.window->start->text(), "START");
    e.window->startClick();  // a new exercise starts
    EXPECT_TRUE(e.window->state().exerciseRunning.load());
}

TEST(PlaybackThread, RecompositionWhilePlayingIsSafe) {
    Exercise e;
    e.window->startClick();
    for (int i = 0; i < 10; ++i) {
        e.audio->componi(20 + 10 * i);
        QTest::qWait(20);
    }
    e.window->escape();
    EXPECT_TRUE(e.waitUntilEnded());
}

TEST(PlaybackThread, EndingTheProgramWhilePlayingJoinsPromptly) {
    Exercise e;
    e.window->startClick();
    QTest::qWait(300);
    e.thread->abortAndJoin();
    EXPECT_FALSE(e.window->state().exerciseRunning.load());
}

// The composer thread behind TrainingAudio::componi: whatever the order and pace of the
// requests, the bank handed to a playback is the latest request's, composed from the sine table
// as it was when that request was made.
class NoOutput : public platform::SingleShotOutput {
  public:
    std::optional<platform::AudioError> open(Completed) override { return std::nullopt; }
    void submit(platform::SharedSamples) override {}
    void reset() override {}
    void close() override {}
    bool isOpen() const override { return true; }
};

platform::SharedSamples sineOf(std::int16_t level) {
    return std::make_shared<const platform::SampleBuffer>(platform::kSampleRate, level);
}

bool sameTones(const ToneBank& a, const ToneBank& b) {
    for (int slot = 0; slot < kToneSlots; ++slot) {
        if (*a.tones[static_cast<std::size_t>(slot)] != *b.tones[static_cast<std::size_t>(slot)]) {
            return false;
        }
    }
    return a.samplesPerDot == b.samplesPerDot;
}

struct ComposeRow {
    const char* name;
    std::vector<int> requests;  // in order, without waiting between them
    int expectedCpm;
};

class ComposerTest : public ::testing::TestWithParam<ComposeRow> {};

TEST_P(ComposerTest, ThePlaybackGetsTheLatestRequestsBank) {
    NoOutput output;
    platform::SharedSamples sine = sineOf(900);
    TrainingAudio audio(output, [&sine] { return sine; });
    for (const int cpm : GetParam().requests) {
        audio.componi(cpm);
    }
    const auto bank = audio.bank();
    ASSERT_NE(bank, nullptr);
    EXPECT_TRUE(sameTones(*bank, *componiBank(*sineOf(900), GetParam().expectedCpm)));
}

INSTANTIATE_TEST_SUITE_P(Requests, ComposerTest,
                         ::testing::Values(ComposeRow{"one", {150}, 150},
                                           ComposeRow{"slowest", {20}, 20},
                                           ComposeRow{"slowest_then_fastest", {20, 150}, 150},
                                           ComposeRow{"fastest_then_slowest", {150, 20}, 20},
                                           ComposeRow{"a_burst_of_twenty",
                                                      {20,  30,  40,  50,  60, 70, 80, 90, 100, 110,
                                                       120, 130, 140, 150, 20, 40, 60, 80, 100, 60},
                                                      60},
                                           ComposeRow{"the_same_twice", {100, 100}, 100}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Composer, NothingRequestedNoBank) {
    NoOutput output;
    TrainingAudio audio(output, [] { return sineOf(900); });
    EXPECT_EQ(audio.bank(), nullptr);
}

TEST(Composer, TheSineTableIsTakenWhenTheRequestIsMade) {
    NoOutput output;
    platform::SharedSamples sine = sineOf(900);
    TrainingAudio audio(output, [&sine] { return sine; });
    audio.componi(20);
    sine = sineOf(-300);  // the tone changed after the request
    EXPECT_TRUE(sameTones(*audio.bank(), *componiBank(*sineOf(900), 20)));
    audio.componi(20);
    EXPECT_TRUE(sameTones(*audio.bank(), *componiBank(*sineOf(-300), 20)));
}

TEST(Composer, RequestsAndReadsFromManyThreadsSettleOnTheLastRequest) {
    NoOutput output;
    TrainingAudio audio(output, [] { return sineOf(900); });
    audio.componi(150);
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&audio] {
            for (int k = 0; k < 20; ++k) {
                EXPECT_NE(audio.bank(), nullptr);
            }
        });
    }
    for (int cpm = 20; cpm <= 150; cpm += 5) {
        audio.componi(cpm);
    }
    audio.componi(40);
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(audio.bank()->samplesPerDot, samplesPerDot(40));
}

TEST(Composer, EndingWhileTheSlowestBankIsComposedReturns) {
    NoOutput output;
    {
        TrainingAudio audio(output, [] { return sineOf(900); });
        audio.componi(20);
        audio.componi(30);
    }  // joins the composer, whatever it was doing
    SUCCEED();
}

}  // namespace
}  // namespace dittix::training
