// The playback thread with the real window, the real audio callback thread (SDL's dummy driver)
// and the interface thread: stops, recompositions and the end of the program while it plays;
// the composer thread of the training tones.
#include "training/playback_thread.h"

#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "../persistence/save_at_once.h"
#include "../persistence/temp_dir.h"
#include "training/training_window.h"

namespace dittix::training {
namespace {

// A training output that the test runs by hand: it opens at 48 kHz, runs once told to, and
// finishes each buffer at once.
class FakeSingleShot : public platform::SingleShotOutput {
  public:
    std::atomic<bool> failOpen{false};
    std::atomic<bool> run{false};
    std::atomic<int> opens{0};
    std::atomic<int> closes{0};
    std::atomic<int> submits{0};
    std::atomic<int> submitsBeforeRunning{0};
    std::atomic<std::size_t> firstSize{0};

    std::optional<platform::AudioError> open(Completed completed) override {
        if (failOpen) {
            return platform::AudioError{platform::AudioErrorCode::NoDevice, "none"};
        }
        m_completed = std::move(completed);
        ++opens;
        m_open = true;
        return std::nullopt;
    }
    void submit(platform::SharedSamples samples) override {
        if (!m_open) {
            return;  // nothing plays, nothing completes
        }
        if (!run) {
            ++submitsBeforeRunning;
        }
        if (submits++ == 0) {
            firstSize = samples->size();
        }
        m_completed();
    }
    void reset() override {}
    void close() override {
        ++closes;
        m_open = false;
    }
    bool isOpen() const override { return m_open; }
    int sampleRate() const override { return m_open ? 48000 : platform::kSampleRate; }
    bool running() const override { return m_open && run; }

  private:
    Completed m_completed;
    std::atomic<bool> m_open{false};
};

struct Exercise {
    explicit Exercise(std::unique_ptr<platform::SingleShotOutput> fake = {}) {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        settings = persistence::parseSettings("[Settings]\nlivello1=eish5\nVEL ES=150\n", '.');
        output = fake ? std::move(fake) : platform::makeSdlSingleShotOutput();
        audio = std::make_unique<TrainingAudio>(*output, [] { return 800.0; });
        window = std::make_unique<Ttraining>(TrainingEnvironment{
            settings.levels,
            settings.training,
            random,
            dir.file("settings.ini"),
            persistence::test::saveAtOnce(dir.file("settings.ini")),
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

TEST(PlaybackThread, OutputOpensForTheExerciseRunsBeforeTheLeadInAndClosesAfter) {
    auto owned = std::make_unique<FakeSingleShot>();
    FakeSingleShot& fake = *owned;
    Exercise e(std::move(owned));
    QTest::qWait(50);
    EXPECT_EQ(fake.opens, 0) << "nothing is opened before START";
    e.window->startClick();
    for (int i = 0; i < 300 && fake.opens == 0; ++i) {
        QTest::qWait(10);
    }
    ASSERT_EQ(fake.opens, 1);
    QTest::qWait(100);
    EXPECT_EQ(fake.submits, 0) << "the lead-in waits for the stream to run";
    fake.run = true;
    for (int i = 0; i < 300 && fake.submits == 0; ++i) {
        QTest::qWait(10);
    }
    EXPECT_EQ(fake.submitsBeforeRunning, 0);
    // The tones were composed at 44 100 Hz before the output told its rate, and again at
    // 48 000 Hz for it: V at 150 CPM is 10 dots of 1 920 samples.
    EXPECT_EQ(fake.firstSize, 10U * 1920U);
    EXPECT_EQ(e.audio->bank()->rate, 48000);
    EXPECT_EQ(fake.closes, 0) << "open while the exercise plays";
    e.window->startClick();  // STOP
    EXPECT_TRUE(e.waitUntilEnded());
    e.thread->wait();
    EXPECT_EQ(fake.closes, 1) << "closed after the exercise";
    EXPECT_FALSE(fake.isOpen());
}

TEST(PlaybackThread, OutputThatCannotOpenIsToldAndThePlaybackWaitsForStop) {
    auto owned = std::make_unique<FakeSingleShot>();
    FakeSingleShot& fake = *owned;
    fake.failOpen = true;
    Exercise e(std::move(owned));
    e.window->startClick();
    for (int i = 0; i < 300 && e.window->labInter->text() == "INTERPAUSA"; ++i) {
        QTest::qWait(10);
    }
    EXPECT_EQ(e.window->labInter->text(), "unable to open WAVE_MAPPER device\n");
    QTest::qWait(100);
    EXPECT_TRUE(e.window->state().exerciseRunning.load()) << "waiting at the first tone";
    e.window->startClick();
    EXPECT_TRUE(e.waitUntilEnded());
}

// The composer thread behind TrainingAudio::componi: whatever the order and pace of the
// requests, the bank handed to a playback is the latest request's, composed at the frequency
// the sidetone had when that request was made.
std::shared_ptr<const ToneBank> composedDirectly(double frequency, int cpm) {
    const int rate = platform::kSampleRate;
    return componiBank(platform::makeSineTable(frequency, rate), cpm, rate,
                       platform::ToneShape{platform::rampSamplesFor(rate)});
}

bool sameTones(const ToneBank& a, const ToneBank& b) {
    for (int slot = 0; slot < kToneSlots; ++slot) {
        if (*a.tones[static_cast<std::size_t>(slot)] != *b.tones[static_cast<std::size_t>(slot)]) {
            return false;
        }
    }
    return a.samplesPerDot == b.samplesPerDot && a.rate == b.rate;
}

struct ComposeRow {
    const char* name;
    std::vector<int> requests;  // in order, without waiting between them
    int expectedCpm;
};

class ComposerTest : public ::testing::TestWithParam<ComposeRow> {};

TEST_P(ComposerTest, ThePlaybackGetsTheLatestRequestsBank) {
    FakeSingleShot output;
    TrainingAudio audio(output, [] { return 700.0; });
    for (const int cpm : GetParam().requests) {
        audio.componi(cpm);
    }
    const auto bank = audio.bank();
    ASSERT_NE(bank, nullptr);
    EXPECT_TRUE(sameTones(*bank, *composedDirectly(700.0, GetParam().expectedCpm)));
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

// A request for the bank already composed keeps it; any change composes a new one.
struct RecomposeRow {
    const char* name;
    int cpm;
    double frequency;
    bool opened;  // the output opened between, at its own rate (48 kHz)
    bool kept;
};

class RecomposeTest : public ::testing::TestWithParam<RecomposeRow> {};

TEST_P(RecomposeTest, OnlyAChangedRequestComposesAgain) {
    FakeSingleShot output;
    std::atomic<double> frequency{700.0};
    TrainingAudio audio(output, [&frequency] { return frequency.load(); });
    audio.componi(60);
    const auto first = audio.bank();
    ASSERT_NE(first, nullptr);
    if (GetParam().opened) {
        output.run = true;
        ASSERT_TRUE(audio.open({}));
        audio.close();
    }
    frequency = GetParam().frequency;
    audio.componi(GetParam().cpm);
    const auto second = audio.bank();
    EXPECT_EQ(second == first, GetParam().kept);
    EXPECT_EQ(second->cpm, GetParam().cpm);
    EXPECT_EQ(second->rate, GetParam().opened ? 48000 : platform::kSampleRate);
}

INSTANTIATE_TEST_SUITE_P(Requests, RecomposeTest,
                         ::testing::Values(RecomposeRow{"the_same", 60, 700.0, false, true},
                                           RecomposeRow{"one_cpm_slower", 59, 700.0, false, false},
                                           RecomposeRow{"one_cpm_faster", 61, 700.0, false, false},
                                           RecomposeRow{"another_tone", 60, 701.0, false, false},
                                           RecomposeRow{"another_rate", 60, 700.0, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Composer, NothingRequestedNoBank) {
    FakeSingleShot output;
    TrainingAudio audio(output, [] { return 700.0; });
    EXPECT_EQ(audio.bank(), nullptr);
}

TEST(Composer, TheFrequencyIsTakenWhenTheRequestIsMade) {
    FakeSingleShot output;
    std::atomic<double> frequency{700.0};
    TrainingAudio audio(output, [&frequency] { return frequency.load(); });
    audio.componi(20);
    frequency = 400.0;  // the tone changed after the request
    EXPECT_TRUE(sameTones(*audio.bank(), *composedDirectly(700.0, 20)));
    audio.componi(20);
    EXPECT_TRUE(sameTones(*audio.bank(), *composedDirectly(400.0, 20)));
}

TEST(Composer, RequestsAndReadsFromManyThreadsSettleOnTheLastRequest) {
    FakeSingleShot output;
    TrainingAudio audio(output, [] { return 700.0; });
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
    FakeSingleShot output;
    {
        TrainingAudio audio(output, [] { return 700.0; });
        audio.componi(20);
        audio.componi(30);
    }  // joins the composer, whatever it was doing
    SUCCEED();
}

}  // namespace
}  // namespace dittix::training
