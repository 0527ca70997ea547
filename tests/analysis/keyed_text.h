// Key samples for a text, tick by tick, on the straight key at a hand's own lengths or on the
// paddles, for driving the real decode tick.
#pragma once

#include <string_view>
#include <vector>

#include "keying/morse_table.h"
#include "keying/tick_recorder.h"
#include "keying/timing.h"

namespace dittix::analysis::test {

// How an operator keys the straight key, in ticks. Dots alternate dot - jitter and dot + jitter.
struct Hand {
    int dot = 6;
    int dash = 18;
    int elementGap = 6;
    int characterGap = 18;
    int wordGap = 42;
    int jitter = 0;
};

// The code of a letter or digit; '#' stands for a code no entry has (decoded as "ER").
inline std::u16string_view codeOf(char c) {
    const char16_t wanted[1] = {static_cast<char16_t>(c)};
    for (const keying::MorseEntry& e : keying::MorseTable) {
        if (e.character == std::u16string_view(wanted, 1)) {
            return e.code;
        }
    }
    return u"pppppppp";
}

// `text` (lower-case letters, digits, '#', blanks between words) on the straight key, ending
// with a pause long enough for the last decode and word space.
inline std::vector<keying::test::TickInput> keyStraight(std::string_view text, const Hand& hand) {
    const keying::test::TickInput down = keying::test::parseScenario("down 1").front();
    std::vector<keying::test::TickInput> inputs;
    int dots = 0;
    const auto add = [&](const keying::test::TickInput& in, int ticks) {
        inputs.insert(inputs.end(), static_cast<std::size_t>(ticks), in);
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ') {
            continue;
        }
        const std::u16string_view code = codeOf(text[i]);
        for (std::size_t e = 0; e < code.size(); ++e) {
            if (code[e] == u'p') {
                add(down, hand.dot + (dots++ % 2 == 0 ? -hand.jitter : hand.jitter));
            } else {
                add(down, hand.dash);
            }
            if (e + 1 < code.size()) {
                add({}, hand.elementGap);
            }
        }
        const bool last = i + 1 == text.size();
        const bool wordEnds = !last && text[i + 1] == ' ';
        add({}, last ? 400 : wordEnds ? hand.wordGap : hand.characterGap);
    }
    return inputs;
}

// `text` on the paddles: each element a one-tick tap of its paddle once the keyer is idle, the
// next element of a character at once, the next character halfway between the decode and the
// word space, the next word well after the word space.
inline std::vector<keying::test::TickInput> keyPaddles(std::string_view text,
                                                       const keying::TimingParameters& t) {
    const keying::test::TickInput dot = keying::test::parseScenario("dot 1").front();
    const keying::test::TickInput dash = keying::test::parseScenario("dash 1").front();
    std::vector<keying::test::TickInput> inputs;
    const auto idle = [&](int ticks) {
        inputs.insert(inputs.end(), static_cast<std::size_t>(ticks), keying::test::TickInput{});
    };
    const int d = t.dotTimeP;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ') {
            continue;
        }
        const std::u16string_view code = codeOf(text[i]);
        for (std::size_t e = 0; e < code.size(); ++e) {
            const bool isDash = code[e] == u'l';
            inputs.push_back(isDash ? dash : dot);
            idle((isDash ? 4 : 2) * d);  // the element, its tone and its gap, to the idle tick
            if (e + 1 < code.size()) {
                idle(1);
            }
        }
        const bool last = i + 1 == text.size();
        const bool wordEnds = !last && text[i + 1] == ' ';
        idle(last       ? t.blankTimeP + 100
             : wordEnds ? t.blankTimeP + 3 * d
                        : (t.decodeTimeP + t.blankTimeP) / 2);
    }
    return inputs;
}

}  // namespace dittix::analysis::test
