// What the training window shares with the playback thread. The flags and timings are atomics:
// each is written by one side and polled by the other. The text is rebuilt only while no
// exercise runs.
#pragma once

#include <atomic>
#include <string>

namespace dittix::training {

struct TrainingState {
    std::u16string trainingText;
    int charCount = 0;
    int levelIndex = 0;
    std::atomic<int> dotMs{0};
    std::atomic<int> extraPauseMs{0};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> exerciseRunning{false};
    std::atomic<bool> playbackEnded{false};
    // The length of the start of trainingText whose characters the playback has started to
    // send (tone submitted, blank begun): what the copy is scored against. START resets it.
    std::atomic<int> charactersStarted{0};
};

}  // namespace dittix::training
