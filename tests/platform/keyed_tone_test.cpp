// The sidetone's samples as its stream's callback renders them, on a clock the test sets: shaped
// edges, tone lengths to the sample, and the replay of a key that went down before the stream ran.
#include "platform/keyed_tone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/tone_synthesis.h"
#include "support/named_rows.h"

namespace dittix::platform {
namespace {

using test_support::PrintTo;
using test_support::rowName;

constexpr int kRate = 48000;
constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kT0 = 1'000'000'000'000;  // an arbitrary steady-clock time

// Pulls the stream's callbacks of `block` frames, the callback's clock advancing with the
// samples from `startNs`, as a device running at exactly `kRate` would.
std::vector<std::int16_t> pull(KeyedTone& tone, std::int64_t startNs, std::size_t frames,
                               std::size_t block = 128) {
    std::vector<std::int16_t> out(frames);
    for (std::size_t done = 0; done < frames; done += block) {
        const std::size_t n = std::min(block, frames - done);
        const auto at = startNs + static_cast<std::int64_t>(done) * 1'000'000'000 / kRate;
        tone.render(out.data() + done, n, at);
    }
    return out;
}

SharedSamples sine() {
    return std::make_shared<const SampleBuffer>(makeSineTable(800.0, kRate));
}

// What one element sounds like: `toneFrames` of the sine from its start, shaped, then silence.
std::vector<std::int16_t> element(std::size_t leading, std::size_t toneFrames, std::size_t total,
                                  int ramp) {
    SampleBuffer out(leading, 0);
    appendShapedTone(out, *sine(), toneFrames, total - leading - toneFrames, ToneShape{ramp});
    return out;
}

std::size_t firstSound(const std::vector<std::int16_t>& s, std::size_t from = 0) {
    const auto it = std::find_if(s.begin() + static_cast<std::ptrdiff_t>(from), s.end(),
                                 [](std::int16_t v) { return v != 0; });
    return static_cast<std::size_t>(it - s.begin());
}

TEST(ToneShape, RampGainIsARaisedCosineFromZeroToOne) {
    EXPECT_EQ(rampGain(0, 240), 0.0);
    EXPECT_NEAR(rampGain(120, 240), 0.5, 1e-12) << "half way up at half the ramp";
    EXPECT_NEAR(rampGain(60, 240), 0.5 - 0.5 * std::cos(std::acos(-1.0) / 4), 1e-12);
    EXPECT_LT(rampGain(239, 240), 1.0);
    EXPECT_EQ(rampGain(240, 240), 1.0);
    EXPECT_EQ(rampGain(241, 240), 1.0);
    EXPECT_EQ(rampGain(0, 0), 1.0) << "no ramp: the plain step";
    for (int i = 1; i < 240; ++i) {
        EXPECT_GT(rampGain(i, 240), rampGain(i - 1, 240)) << i;
        EXPECT_NEAR(rampGain(i, 240) + rampGain(240 - i, 240), 1.0, 1e-12) << "symmetric " << i;
    }
}

struct RampRow {
    const char* name;
    int rate;
    int samples;
};

class RampLengthTest : public ::testing::TestWithParam<RampRow> {};

TEST_P(RampLengthTest, FiveMilliseconds) {
    EXPECT_EQ(rampSamplesFor(GetParam().rate), GetParam().samples);
}

INSTANTIATE_TEST_SUITE_P(Rates, RampLengthTest,
                         ::testing::Values(RampRow{"r44100", 44100, 220},
                                           RampRow{"r48000", 48000, 240},
                                           RampRow{"r96000", 96000, 480},
                                           RampRow{"r8000", 8000, 40}, RampRow{"r999", 999, 4},
                                           RampRow{"r1000", 1000, 5}, RampRow{"r1001", 1001, 5}),
                         rowName);

TEST(ToneShape, ShapedElementRisesAndFallsAroundItsPlainLength) {
    const SampleBuffer table = makeSineTable(800.0, kRate);
    SampleBuffer shaped;
    appendShapedTone(shaped, table, 4800, 4800, ToneShape{240});
    SampleBuffer plain;
    appendShapedTone(plain, table, 4800, 4800, ToneShape{0});
    ASSERT_EQ(shaped.size(), 9600U);
    ASSERT_EQ(plain.size(), 9600U);
    for (std::size_t i = 0; i < 4800; ++i) {
        ASSERT_EQ(plain[i], table[i]) << "plain: the table itself, " << i;
    }
    EXPECT_TRUE(std::all_of(plain.begin() + 4800, plain.end(), [](auto v) { return v == 0; }));
    // The rise: each sample the table's times the gain, truncated toward zero.
    for (std::size_t i = 0; i < 240; ++i) {
        ASSERT_EQ(shaped[i],
                  static_cast<std::int16_t>(table[i] * rampGain(static_cast<int>(i), 240)))
            << i;
    }
    for (std::size_t i = 240; i < 4800; ++i) {
        ASSERT_EQ(shaped[i], table[i]) << i;
    }
    // The fall: the sine goes on after the tone's end, over 240 samples of the silence.
    for (std::size_t i = 0; i < 240; ++i) {
        ASSERT_EQ(shaped[4800 + i], static_cast<std::int16_t>(
                                        table[4800 + i] * rampGain(240 - static_cast<int>(i), 240)))
            << i;
    }
    EXPECT_TRUE(std::all_of(shaped.begin() + 5040, shaped.end(), [](auto v) { return v == 0; }));
}

TEST(ToneShape, HeardLengthAtHalfLevelIsThePlainLength) {
    // The envelope of a steady tone: half level is passed 120 samples into the rise and 120
    // samples into the fall, 4 800 samples (the plain length) apart.
    const SampleBuffer level(kRate, 30000);
    SampleBuffer shaped;
    appendShapedTone(shaped, level, 4800, 4800, ToneShape{240});
    EXPECT_LT(shaped[119], 15000);
    EXPECT_GT(shaped[121], 15000);
    EXPECT_GT(shaped[4800 + 119], 15000);
    EXPECT_LT(shaped[4800 + 121], 15000);
}

TEST(ToneShape, ShortToneFallsFromTheLevelItReached) {
    const SampleBuffer ones(kRate, 30000);
    SampleBuffer shaped;
    appendShapedTone(shaped, ones, 100, 400, ToneShape{240});
    EXPECT_EQ(shaped[99], static_cast<std::int16_t>(30000 * rampGain(99, 240)));
    EXPECT_EQ(shaped[100], static_cast<std::int16_t>(30000 * rampGain(100, 240)));
    EXPECT_EQ(shaped[199], static_cast<std::int16_t>(30000 * rampGain(1, 240)));
    EXPECT_EQ(shaped[200], 0);
}

struct ElementRow {
    const char* name;
    int ramp;
    std::int64_t openDelayMs;  // from the key-down to the stream's first callback
    std::int64_t heldMs;
};

class FirstElementTest : public ::testing::TestWithParam<ElementRow> {};

// The key goes down, the stream starts later (it was closed while idle): the element is
// replayed from its start, whole, sample for sample what the composition makes of it.
TEST_P(FirstElementTest, SoundsWholeFromTheStreamsStart) {
    const ElementRow& row = GetParam();
    KeyedTone tone;
    tone.setTable(sine(), row.ramp);
    tone.key(true, kT0);
    if (row.heldMs <= row.openDelayMs) {
        tone.key(false, kT0 + row.heldMs * kMs);
    }
    tone.restart(kRate);
    const std::int64_t opened = kT0 + row.openDelayMs * kMs;
    // The first callback comes at the opening; a key still held is let go while it plays.
    std::vector<std::int16_t> heard = pull(tone, opened, 128);
    if (row.heldMs > row.openDelayMs) {
        tone.key(false, kT0 + row.heldMs * kMs);
    }
    const std::vector<std::int16_t> rest =
        pull(tone, opened + 128 * kMs * 1000 / kRate, 9600 - 128);
    heard.insert(heard.end(), rest.begin(), rest.end());
    const auto toneFrames = static_cast<std::size_t>(row.heldMs * kRate / 1000);
    EXPECT_EQ(heard, element(0, toneFrames, 9600, row.ramp));
}

INSTANTIATE_TEST_SUITE_P(
    Openings, FirstElementTest,
    ::testing::Values(ElementRow{"dot_let_go_before_the_stream_ran", 240, 40, 30},
                      ElementRow{"dot_let_go_as_the_stream_ran", 240, 40, 40},
                      ElementRow{"held_across_the_opening", 240, 40, 60},
                      ElementRow{"plain_held_across_the_opening", 0, 40, 60},
                      ElementRow{"plain_dot_before_the_stream_ran", 0, 25, 20}),
    rowName);

TEST(KeyedTone, LagIsTakenBackInTheNextSilence) {
    KeyedTone tone;
    tone.setTable(sine(), 0);
    // Two dots of 60 ms, 140 ms apart; the stream starts 40 ms after the first key-down.
    tone.key(true, kT0);
    tone.key(false, kT0 + 60 * kMs);
    tone.restart(kRate);
    const std::int64_t opened = kT0 + 40 * kMs;
    std::vector<std::int16_t> heard = pull(tone, opened, 4992);  // up to 144 ms after kT0
    tone.key(true, kT0 + 200 * kMs);
    tone.key(false, kT0 + 260 * kMs);
    const auto more = pull(tone, opened + 4992 * kMs * 1000 / kRate, 9600);
    heard.insert(heard.end(), more.begin(), more.end());
    // The first dot from the stream's first sample; the silence after it skipped the 1 920
    // samples of the 40 ms lag (no transition waited): the second dot starts when the key went
    // down, in the stream's time.
    EXPECT_EQ(firstSound(heard), 1U);  // the sine's first sample is 0
    // (The sine's first sample is 0: a tone is first heard one sample after it starts.)
    const std::size_t second = firstSound(heard, 2880) - 1;
    EXPECT_EQ(second, static_cast<std::size_t>((200 - 40) * 48)) << "heard 100 of 140 ms";
    const auto lastOfSecond = std::find_if(heard.rbegin(), heard.rend(), [](auto v) { return v; });
    EXPECT_EQ(heard.rend() - lastOfSecond, static_cast<std::ptrdiff_t>(second + 2880))
        << "the second dot lasts its 60 ms";
}

TEST(KeyedTone, NeverShortensASilenceBelowHalf) {
    KeyedTone tone;
    tone.setTable(sine(), 0);
    // The stream starts 45 ms late; the gap after the first dot is 40 ms.
    tone.key(true, kT0);
    tone.key(false, kT0 + 40 * kMs);
    tone.key(true, kT0 + 80 * kMs);
    tone.key(false, kT0 + 120 * kMs);
    tone.restart(kRate);
    const auto heard = pull(tone, kT0 + 45 * kMs, 9600);
    const std::size_t second = firstSound(heard, 1920) - 1;  // the sine starts at 0
    EXPECT_EQ(second, static_cast<std::size_t>(1920 + 960)) << "20 of 40 ms heard";
}

TEST(KeyedTone, StreamHeldUpWhileTheKeyRestedAddsNoLag) {
    KeyedTone tone;
    tone.setTable(sine(), 0);
    tone.restart(kRate);
    pull(tone, kT0, 128);
    // No callback for 200 ms (the server held the stream up); the key went down meanwhile.
    tone.key(true, kT0 + 199 * kMs);
    const auto heard = pull(tone, kT0 + 200 * kMs, 128);
    EXPECT_EQ(firstSound(heard), 1U) << "sounding from the callback's first sample";
}

TEST(KeyedTone, KeyHeldSinceBeforeTheReplayedSecondSoundsAtOnceRising) {
    KeyedTone tone;
    tone.setTable(sine(), 240);
    tone.key(true, kT0);
    tone.restart(kRate);
    const auto heard = pull(tone, kT0 + 3000 * kMs, 480);
    EXPECT_EQ(heard, element(0, 480, 480, 240));
}

TEST(KeyedTone, NewTableIsTakenAtTheNextCallbackFromItsStart) {
    KeyedTone tone;
    tone.setTable(sine(), 0);
    tone.key(true, kT0);
    tone.restart(kRate);
    pull(tone, kT0, 256);
    const auto other = std::make_shared<const SampleBuffer>(makeSineTable(900.0, kRate));
    tone.setTable(other, 0);
    const auto heard = pull(tone, kT0 + 256 * kMs * 1000 / kRate, 128);
    EXPECT_TRUE(std::equal(heard.begin(), heard.end(), other->begin()));
}

TEST(KeyedTone, WithoutATableTheKeyIsFollowedSilently) {
    KeyedTone tone;
    tone.key(true, kT0);
    tone.restart(kRate);
    const auto silent = pull(tone, kT0, 256);
    EXPECT_EQ(firstSound(silent), silent.size());
    tone.setTable(sine(), 0);
    const auto heard = pull(tone, kT0 + 256 * kMs * 1000 / kRate, 128);
    EXPECT_NE(firstSound(heard), heard.size()) << "the key is still down";
}

TEST(KeyedTone, FullQueueReplaysTheKeyAsItIsNow) {
    KeyedTone tone;
    tone.setTable(sine(), 0);
    // No stream took the transitions (no device): the queue fills and the rest are dropped.
    for (std::size_t i = 0; i < KeyedTone::kEventCapacity + 3; ++i) {
        tone.key(i % 2 == 0, kT0 + static_cast<std::int64_t>(i) * 10 * kMs);
    }
    EXPECT_TRUE(tone.keyDown());
    tone.restart(kRate);
    const auto heard = pull(tone, kT0 + 4000 * kMs, 256);
    EXPECT_EQ(firstSound(heard), 1U) << "held now: sounding from the first sample";
}

}  // namespace
}  // namespace dittix::platform
