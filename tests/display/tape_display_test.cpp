// Pixel tests of the tape trace and the decoded text on the off-screen bitmap.
#include "display/tape_display.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "display/tick_binding.h"
#include "keying/decode_tick.h"
#include "platform/keyboard_query.h"
#include "support/named_rows.h"

namespace dittix::display {
namespace {

using test_support::PrintTo;
using test_support::rowName;

constexpr QRgb kBlack = qRgb(0, 0, 0);

struct Tape {
    explicit Tape(int width, int height, int firstHiddenRow = 1 << 30)
        : display([firstHiddenRow](int row) { return row < firstHiddenRow; }) {
        display.resetLayout(width, height);
    }
    QRgb at(int x, int y) const { return display.pixel(x, y); }
    TapeDisplay display;
};

// Runs the real decode tick on the tape with the right Ctrl key held per tick.
struct KeyedTape : Tape {
    KeyedTape() : Tape(800, 472), binding(keyboard, lines, tone, display) {}
    void key(bool down, int ticks) {
        for (int i = 0; i < ticks; ++i) {
            down ? keyboard.press(keying::KeyboardKey::RightControl)
                 : keyboard.release(keying::KeyboardKey::RightControl);
            tick.run();
        }
    }
    platform::EventKeyboard keyboard;
    platform::NoKeyLines lines;
    SilentTone tone;
    TickBinding binding;
    keying::TimingParameters timing{9, 13, 27, 9, 9, 45};
    keying::KeyingModes modes;
    keying::DecoderState state;
    keying::DecodeTick tick{binding, timing, modes, state};
};

TEST(TapeDisplay, ResetLayoutDrawsBlackWithGreySeparator) {
    Tape t(800, 472);
    EXPECT_EQ(t.display.midLine(), 236);
    EXPECT_EQ(t.at(0, 236), InkCycle[6]);
    EXPECT_EQ(t.at(799, 236), InkCycle[6]);
    EXPECT_EQ(t.at(400, 235), kBlack);
    EXPECT_EQ(t.at(400, 237), kBlack);
    EXPECT_EQ(t.display.textY(), 241);
    EXPECT_EQ(t.display.penColour(), InkCycle[0]);
}

TEST(TickBinding, ForwardsMeasurementsOnlyToASinkThatIsSet) {
    struct Sink : keying::MeasurementSink {
        std::vector<keying::Measurement> got;
        void measured(const keying::Measurement& m) override { got.push_back(m); }
    } sink;
    KeyedTape t;
    t.key(true, 4);
    t.key(false, 14);  // a dot of 4 ticks, decoded as "e"; no sink yet
    t.binding.setMeasurementSink(&sink);
    t.key(true, 12);
    t.key(false, 14);
    t.binding.setMeasurementSink(nullptr);
    t.key(true, 4);
    t.key(false, 14);
    ASSERT_EQ(sink.got.size(), 3U);
    EXPECT_EQ(sink.got[0], (keying::Measurement{keying::Measured::CharacterGap, 14, false, {}}));
    EXPECT_EQ(sink.got[1], (keying::Measurement{keying::Measured::Dash, 12, false, {}}));
    EXPECT_EQ(sink.got[2].what, keying::Measured::Character);
    EXPECT_EQ(sink.got[2].text, u"t");
}

TEST(TapeDisplay, KeyedLetterADrawsStrokesAndGapsThenChangesInk) {
    KeyedTape t;
    t.key(true, 4);
    t.key(false, 3);
    t.key(true, 12);
    t.key(false, 14);  // decoded on the 13th key-up tick
    const struct {
        int x;
        QRgb colour;
    } expected[] = {{4, kBlack},  {5, InkCycle[0]},  {24, InkCycle[0]},  {25, kBlack},
                    {39, kBlack}, {40, InkCycle[0]}, {104, InkCycle[0]}, {105, kBlack}};
    for (const auto& e : expected) {
        EXPECT_EQ(t.at(e.x, 15), e.colour) << "x = " << e.x;
    }
    EXPECT_EQ(t.at(50, 14), kBlack);
    EXPECT_EQ(t.at(50, 16), kBlack);
    EXPECT_EQ(t.display.inkIndex(), 1);
    EXPECT_EQ(t.display.penColour(), InkCycle[1]);
    EXPECT_GT(t.display.textX(), 0);
    t.key(false, 14);  // the word space: a new trace row at x = 5
    EXPECT_EQ(t.display.traceY(), 30);
    EXPECT_EQ(t.display.traceX(), 5);
}

TEST(TapeDisplay, DecodedTextIsYellowOnBlackInTheLowerHalf) {
    Tape t(800, 472);
    t.display.emitCharacter(u"m");
    int yellow = 0;
    for (int y = 241; y < 241 + t.display.lineHeight(); ++y) {
        for (int x = 0; x < t.display.textX(); ++x) {
            yellow += t.at(x, y) == kTextYellow;
        }
    }
    EXPECT_GT(yellow, 100);
    EXPECT_EQ(t.at(0, 241 + t.display.lineHeight()), kBlack);
}

struct InkRow {
    const char* name;
    int characters;
    QRgb ink;
};

class InkCycleTest : public ::testing::TestWithParam<InkRow> {};

TEST_P(InkCycleTest, AfterCharacters) {
    Tape t(800, 472);
    for (int i = 0; i < GetParam().characters; ++i) {
        t.display.emitCharacter(u"e");
    }
    EXPECT_EQ(t.display.penColour(), GetParam().ink);
    t.display.advanceTrace();
    t.display.markTrace();
    EXPECT_EQ(t.at(5, 15), GetParam().ink);
}

INSTANTIATE_TEST_SUITE_P(Counts, InkCycleTest,
                         ::testing::Values(InkRow{"none_red", 0, qRgb(255, 0, 0)},
                                           InkRow{"one_yellow", 1, qRgb(255, 255, 0)},
                                           InkRow{"thirteen_cream", 13, qRgb(255, 251, 240)},
                                           InkRow{"fourteen_red_again", 14, qRgb(255, 0, 0)},
                                           InkRow{"fifteen_yellow", 15, qRgb(255, 255, 0)}),
                         rowName);

TEST(TapeDisplay, ClearCommandResetsInkToRedButKeepsTheIndex) {
    Tape t(800, 472);
    for (int i = 0; i < 5; ++i) {
        t.display.emitCharacter(u"e");
    }
    t.display.resetLayout(800, 472);
    EXPECT_EQ(t.display.penColour(), InkCycle[0]);
    EXPECT_EQ(t.display.inkIndex(), 5);
    t.display.emitCharacter(u"e");
    EXPECT_EQ(t.display.penColour(), qRgb(128, 128, 128));
}

// The clear command (and a resize) on a tape that has text, strokes and turned rings: the picture
// is that of a new tape of the new size, whether the bitmap is kept (same size) or made anew.
struct ClearRow {
    const char* name;
    int width;
    int height;
};

class ClearedTape : public ::testing::TestWithParam<ClearRow> {};

TEST_P(ClearedTape, LooksLikeANewTapeOfThatSize) {
    Tape t(800, 472);
    for (int i = 0; i < 300; ++i) {
        t.display.emitCharacter(i % 7 == 6 ? u"m" : u"e");
        t.display.advanceTrace();
        t.display.markTrace();
        if (i % 40 == 39) {
            t.display.scrollTrace();
            t.display.scrollText();
        }
    }
    const Tape fresh(GetParam().width, GetParam().height);
    ASSERT_NE(t.display.composed(), Tape(800, 472).display.composed()) << "the tape has content";
    t.display.resetLayout(GetParam().width, GetParam().height);
    EXPECT_EQ(t.display.composed(), fresh.display.composed());
    EXPECT_EQ(t.display.textY(), fresh.display.textY());
    EXPECT_EQ(t.display.traceY(), fresh.display.traceY());
}

INSTANTIATE_TEST_SUITE_P(Sizes, ClearedTape,
                         ::testing::Values(ClearRow{"same_size", 800, 472},
                                           ClearRow{"one_column_less", 799, 472},
                                           ClearRow{"one_row_more", 800, 473},
                                           ClearRow{"one_column_more_one_row_less", 801, 471}),
                         rowName);

TEST(TapeDisplay, WrapsAfterTheStepThatReaches805WithWidth800) {
    Tape t(800, 472);
    while (t.display.traceX() < 800) {
        t.display.advanceTrace();
        t.display.wrapTrace();
    }
    EXPECT_EQ(t.display.traceX(), 800);
    EXPECT_EQ(t.display.traceY(), 15);
    t.display.advanceTrace();
    t.display.wrapTrace();
    EXPECT_EQ(t.display.traceX(), 5);
    EXPECT_EQ(t.display.traceY(), 30);
}

struct ScrollRow {
    const char* name;
    int height;
    int lastRow;
};

class TraceScrollTest : public ::testing::TestWithParam<ScrollRow> {};

TEST_P(TraceScrollTest, RowReachingTheSeparatorScrollsBack) {
    Tape t(800, GetParam().height);
    while (t.display.traceY() < GetParam().lastRow) {
        t.display.emitWordSpace();
        ASSERT_EQ(t.display.traceX(), 5);
    }
    EXPECT_EQ(t.display.traceY(), GetParam().lastRow);
    // Mark the last row and the one above, then move on: the area moves up one row.
    t.display.advanceTrace();
    t.display.markTrace();
    t.display.emitWordSpace();
    EXPECT_EQ(t.display.traceY(), GetParam().lastRow);
    EXPECT_EQ(t.display.traceX(), 0);
    EXPECT_EQ(t.at(7, GetParam().lastRow - 15), InkCycle[0]);
    EXPECT_EQ(t.at(7, GetParam().lastRow), kBlack);
    EXPECT_EQ(t.at(0, t.display.midLine()), qRgb(128, 128, 128));
}

INSTANTIATE_TEST_SUITE_P(Heights, TraceScrollTest,
                         ::testing::Values(ScrollRow{"h1050_rows_to_510", 1050, 510},
                                           ScrollRow{"h472_rows_to_225", 472, 225}),
                         rowName);

TEST(TapeDisplay, ScrollTraceCommandAtTheTopGoesOffTheBitmapWithoutHarm) {
    Tape t(800, 472);
    t.display.scrollTrace();
    EXPECT_EQ(t.display.traceY(), 0);
    t.display.scrollTrace();
    EXPECT_EQ(t.display.traceY(), -15);
    t.display.advanceTrace();
    t.display.markTrace();
    EXPECT_EQ(t.at(0, t.display.midLine()), qRgb(128, 128, 128));
}

// midLine 525, a line height of 80 and textBottom 1010.
struct TextArea : Tape {
    TextArea() : Tape(800, 1050, 1011) {}
    // Emits wide characters until the text cursor moves to a new line.
    void wrapOnce() {
        const int y = display.textY();
        while (display.textY() == y) {
            display.emitCharacter(u"W");
        }
    }
};

TEST(TextArea, ScrollCopiesFourLinesAndClearsTheRest) {
    TextArea t;
    ASSERT_EQ(t.display.lineHeight(), 80) << "the tests expect DejaVu Sans";
    ASSERT_EQ(t.display.textBottom(), 1010);
    t.display.emitCharacter(u"W");  // a glyph on the line at 610 ...
    t.wrapOnce();
    ASSERT_EQ(t.display.textY(), 610);
    t.display.scrollText();
    EXPECT_EQ(t.display.textY(), 850);
    EXPECT_EQ(t.display.textX(), 0);
    // ... copied up to 530; the first line's glyphs left the area.
    int yellowAt530 = 0;
    for (int x = 0; x < 400; ++x) {
        for (int y = 530; y < 609; ++y) {
            yellowAt530 += t.at(x, y) == kTextYellow;
        }
    }
    EXPECT_GT(yellowAt530, 0);
    EXPECT_EQ(t.at(10, 900), kBlack);
}

TEST(TextArea, CharacterLineFeedsTestTheTopAndWordSpacesTheBottom) {
    TextArea t;
    t.display.scrollText();
    ASSERT_EQ(t.display.textY(), 850);
    t.wrapOnce();
    EXPECT_EQ(t.display.textY(), 930);
    t.wrapOnce();
    EXPECT_EQ(t.display.textY(), 1010);  // only its top row is visible
    t.wrapOnce();
    EXPECT_EQ(t.display.textY(), 850);  // scrolled: the line at 930 erased, 1010 untouched
    const auto yellowIn = [&t](int top, int bottom) {
        int n = 0;
        for (int y = top; y < bottom; ++y) {
            for (int x = 0; x < 800; ++x) {
                n += t.at(x, y) == kTextYellow;
            }
        }
        return n;
    };
    EXPECT_EQ(yellowIn(930, 1010), 0);
    EXPECT_GT(yellowIn(1010, 1050), 0);

    TextArea w;
    w.display.scrollText();
    w.wrapOnce();
    ASSERT_EQ(w.display.textY(), 930);
    while (w.display.textY() == 930) {
        w.display.emitWordSpace();
    }
    EXPECT_EQ(w.display.textY(), 850);  // a word space scrolls at once instead of going to 1010
}

// Every pixel of the bitmap gets its own colour; a scroll must move whole rows unchanged.
struct ScrollCase {
    const char* name;
    bool text;  // scrollText, or else scrollTrace
    int width;
    int height;
};

class ScrollMovesRowsExactly : public ::testing::TestWithParam<ScrollCase> {};

TEST_P(ScrollMovesRowsExactly, EachKeptBandIsTheBandBelowItBefore) {
    const ScrollCase& c = GetParam();
    Tape t(c.width, c.height);
    QImage before(c.width, c.height, QImage::Format_RGB32);
    for (int y = 0; y < before.height(); ++y) {
        for (int x = 0; x < before.width(); ++x) {
            before.setPixel(x, y, qRgb(x & 0xFF, y & 0xFF, (x >> 8) ^ (y >> 8) * 16));
        }
    }
    t.display.loadPicture(before);
    const int mid = t.display.midLine();
    const int l = t.display.lineHeight();
    c.text ? t.display.scrollText() : t.display.scrollTrace();
    const QImage image = t.display.composed();
    // The destination bands and where each of their rows came from.
    std::vector<std::pair<int, int>> moved;  // (row now, row before)
    if (c.text) {
        for (int y = mid + 5; y + 2 * l < t.display.textBottom() - 25; y += l) {
            for (int r = 0; r < l - 1; ++r) {
                moved.emplace_back(y + r, y + l + r);
            }
        }
    } else {
        for (int b = 10; b + 15 < mid && b + 29 <= mid - 1; b += 15) {
            for (int r = 0; r < 14; ++r) {
                moved.emplace_back(b + r, b + 15 + r);
            }
        }
    }
    ASSERT_GT(moved.size(), 100u);
    int wrong = 0;
    for (const auto& [now, was] : moved) {
        wrong += std::memcmp(image.constScanLine(now), before.constScanLine(was),
                             static_cast<std::size_t>(image.bytesPerLine())) != 0;
    }
    EXPECT_EQ(wrong, 0) << "rows not copied exactly";
    EXPECT_EQ(image.pixel(0, 0), before.pixel(0, 0)) << "rows above the bands are untouched";
}

INSTANTIATE_TEST_SUITE_P(Bitmaps, ScrollMovesRowsExactly,
                         ::testing::Values(ScrollCase{"text_full_screen", true, 1750, 1050},
                                           ScrollCase{"text_odd_width", true, 801, 1050},
                                           ScrollCase{"trace_full_screen", false, 1750, 1050},
                                           ScrollCase{"trace_short_window", false, 800, 472}),
                         rowName);

TEST(TextArea, ScrollTextWithNoTextPutsCursorOnLastKeptLine) {
    TextArea t;
    t.display.scrollText();
    EXPECT_EQ(t.display.textY(), 850);
    EXPECT_EQ(t.at(10, 600), kBlack);
}

TEST(TapeDisplay, WideTextStartsANewLineEvenWhenMultiLetter) {
    Tape t(800, 472);
    while (t.display.textX() + 60 < 800) {
        t.display.emitCharacter(u"i");
    }
    const int y = t.display.textY();
    t.display.emitCharacter(u"ER");
    EXPECT_EQ(t.display.textY(), y + t.display.lineHeight());
}

TEST(TapeDisplay, FindVisibleBottomProbesTheLastHundredRows) {
    EXPECT_EQ(Tape(800, 1050, 1011).display.findVisibleBottom(), 1011);
    EXPECT_EQ(Tape(800, 1050, 949).display.findVisibleBottom(), 950);
    EXPECT_EQ(Tape(800, 1050).display.findVisibleBottom(), 1050);
}

TEST(TapeDisplay, DirtyAreaCoversOnlyWhatChanged) {
    Tape t(800, 472);
    t.display.takeDirty();
    t.display.advanceTrace();
    t.display.markTrace();
    EXPECT_EQ(t.display.takeDirty(), QRect(5, 15, 5, 1));
    EXPECT_TRUE(t.display.takeDirty().isEmpty());
}

}  // namespace
}  // namespace dittix::display
