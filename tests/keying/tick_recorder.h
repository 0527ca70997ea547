// A recording TickPort and a scenario driver, so that a test reads like the timing it checks:
// "down 5, up 13" for the straight key, "dot 1, none 30" for the paddles.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "keying/decode_tick.h"
#include "keying/tick_port.h"

namespace dittix::keying::test {

std::string toUtf8(std::u16string_view text);

// The key inputs held during one tick.
struct TickInput {
    std::array<bool, 4> keys{};  // indexed by KeyboardKey
    std::uint32_t lines = 0;
};

class TickRecorder : public TickPort {
  public:
    TickInput input;
    // The operations of the current tick, as short names joined by blanks:
    // on off adv mark move wrap check char:<text> space.
    std::string ops;
    std::vector<KeyboardKey> queries;
    std::string text;  // everything written: decoded texts and word-space blanks
    std::vector<std::string> characters;
    // Called from inside toneOn, to try a nested tick.
    std::function<void()> onToneOn;
    // Every measurement with the tick it came in (counted over the harness's whole life).
    struct Report {
        int tick;
        Measurement measurement;
    };
    std::vector<Report> measurements;
    int tick = -1;  // set by the harness before each tick
    // Also receives every measurement, when set.
    MeasurementSink* sink = nullptr;

    bool keyPressed(KeyboardKey key) override;
    std::uint32_t readKeyLines() override;
    void toneOn() override;
    void toneOff() override;
    void advanceTrace() override { add("adv"); }
    void markTrace() override { add("mark"); }
    void moveTrace() override { add("move"); }
    void wrapTrace() override { add("wrap"); }
    void checkTraceScroll() override { add("check"); }
    void emitCharacter(std::u16string_view t) override;
    void emitWordSpace() override;
    void measured(const Measurement& m) override;

  private:
    void add(std::string_view op);
};

// Parses "down 5, up 13, right+cts 4, both 2, none 10" into one TickInput per tick. Words:
// up/none (nothing), down/cts, dsr, ring, rlsd, dot (= rlsd), dash (= cts), both (dot+dash),
// rctl, right, lctl, left; joined with '+' they combine.
std::vector<TickInput> parseScenario(std::string_view scenario);

// A decoder with its state, timing and modes, driven tick by tick.
struct Harness {
    TimingParameters timing{9, 13, 27, 9, 9, 45};
    KeyingModes modes;
    DecoderState state;
    TickRecorder recorder;
    DecodeTick tick{recorder, timing, modes, state};

    // Runs one tick per input and returns each tick's operations.
    std::vector<std::string> run(const std::vector<TickInput>& inputs);
    std::vector<std::string> run(std::string_view scenario) { return run(parseScenario(scenario)); }
};

// Ticks (0-based, counted over the whole run) whose operations contain `op` as a word.
std::vector<int> ticksWith(const std::vector<std::string>& log, std::string_view op);

}  // namespace dittix::keying::test
