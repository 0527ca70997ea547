// The playback thread with the real window, the real audio callback thread (SDL's dummy driver)
// and the interface thread: stops, recompositions and the end of the program while it plays.
#include "training/playback_thread.h"

#include <QTest>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace dittix::training
