// Recording TickPort and scenario parser.
#include "tick_recorder.h"

#include <sstream>
#include <stdexcept>

namespace dittix::keying::test {

std::string toUtf8(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool TickRecorder::keyPressed(KeyboardKey key) {
    queries.push_back(key);
    return input.keys[static_cast<std::size_t>(key)];
}

std::uint32_t TickRecorder::readKeyLines() {
    return input.lines;
}

void TickRecorder::toneOn() {
    add("on");
    if (onToneOn) {
        onToneOn();
    }
}

void TickRecorder::toneOff() {
    add("off");
}

void TickRecorder::emitCharacter(std::u16string_view t) {
    const std::string utf8 = toUtf8(t);
    add("char:" + utf8);
    text += utf8;
    characters.push_back(utf8);
}

void TickRecorder::emitWordSpace() {
    add("space");
    text += ' ';
}

void TickRecorder::measured(const Measurement& m) {
    measurements.push_back({tick, m});
    if (sink != nullptr) {
        sink->measured(m);
    }
}

void TickRecorder::add(std::string_view op) {
    if (!ops.empty()) {
        ops += ' ';
    }
    ops += op;
}

namespace {

TickInput parseWord(const std::string& word) {
    TickInput in;
    std::stringstream parts(word);
    std::string part;
    while (std::getline(parts, part, '+')) {
        auto key = [&in](KeyboardKey k) { in.keys[static_cast<std::size_t>(k)] = true; };
        if (part == "up" || part == "none") {
        } else if (part == "down" || part == "cts" || part == "dash") {
            in.lines |= kModemCts;
        } else if (part == "dsr") {
            in.lines |= kModemDsr;
        } else if (part == "ring") {
            in.lines |= kModemRing;
        } else if (part == "rlsd" || part == "dot") {
            in.lines |= kModemRlsd;
        } else if (part == "both") {
            in.lines |= kModemRlsd | kModemCts;
        } else if (part == "rctl") {
            key(KeyboardKey::RightControl);
        } else if (part == "right") {
            key(KeyboardKey::Right);
        } else if (part == "lctl") {
            key(KeyboardKey::LeftControl);
        } else if (part == "left") {
            key(KeyboardKey::Left);
        } else {
            throw std::invalid_argument("unknown scenario word: " + part);
        }
    }
    return in;
}

}  // namespace

std::vector<TickInput> parseScenario(std::string_view scenario) {
    std::vector<TickInput> inputs;
    std::stringstream steps{std::string(scenario)};
    std::string step;
    while (std::getline(steps, step, ',')) {
        std::stringstream fields(step);
        std::string word;
        int count = 0;
        if (!(fields >> word >> count) || count < 0) {
            throw std::invalid_argument("bad scenario step: " + step);
        }
        inputs.insert(inputs.end(), static_cast<std::size_t>(count), parseWord(word));
    }
    return inputs;
}

std::vector<std::string> Harness::run(const std::vector<TickInput>& inputs) {
    std::vector<std::string> log;
    log.reserve(inputs.size());
    for (const TickInput& in : inputs) {
        recorder.input = in;
        recorder.ops.clear();
        ++recorder.tick;
        tick.run();
        log.push_back(recorder.ops);
    }
    return log;
}

std::vector<int> ticksWith(const std::vector<std::string>& log, std::string_view op) {
    std::vector<int> ticks;
    for (std::size_t i = 0; i < log.size(); ++i) {
        std::stringstream words(log[i]);
        std::string word;
        while (words >> word) {
            if (word == op) {
                ticks.push_back(static_cast<int>(i));
                break;
            }
        }
    }
    return ticks;
}

}  // namespace dittix::keying::test
