// The tape that scrolls by turning rings of rows, against the tape that copies its areas on every
// scroll: the same picture after any sequence of operations, and dirty areas that hold every
// changed pixel.
#include <QPainter>
#include <QRegion>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "display/moving_tape.h"
#include "display/tape_display.h"
#include "keying/morse_table.h"
#include "support/named_rows.h"

namespace dittix::display {
namespace {

using test_support::PrintTo;
using test_support::rowName;

// Every row and column its own colours, so that a row out of place shows.
QImage pattern(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            row[x] = qRgb(x & 0xFF, y & 0xFF, ((x >> 8) ^ (y >> 8)) * 16);
        }
    }
    return image;
}

::testing::AssertionResult samePicture(const QImage& actual, const QImage& expected) {
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure()
               << "size " << actual.width() << " x " << actual.height() << " instead of "
               << expected.width() << " x " << expected.height();
    }
    const auto rowBytes = static_cast<std::size_t>(actual.width()) * sizeof(QRgb);
    for (int y = 0; y < actual.height(); ++y) {
        if (std::memcmp(actual.constScanLine(y), expected.constScanLine(y), rowBytes) == 0) {
            continue;
        }
        for (int x = 0; x < actual.width(); ++x) {
            if (actual.pixel(x, y) != expected.pixel(x, y)) {
                return ::testing::AssertionFailure()
                       << "first difference at (" << x << ", " << y << "): " << std::hex
                       << actual.pixel(x, y) << " instead of " << expected.pixel(x, y);
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// Every pixel that differs between the two pictures lies in `dirty`.
::testing::AssertionResult changesInside(const QImage& before, const QImage& after,
                                         const QRegion& dirty) {
    const auto rowBytes = static_cast<std::size_t>(after.width()) * sizeof(QRgb);
    for (int y = 0; y < after.height(); ++y) {
        if (std::memcmp(before.constScanLine(y), after.constScanLine(y), rowBytes) == 0) {
            continue;
        }
        const auto* was = reinterpret_cast<const QRgb*>(before.constScanLine(y));
        const auto* now = reinterpret_cast<const QRgb*>(after.constScanLine(y));
        for (const QRect& clean : QRegion(0, y, after.width(), 1) - dirty) {
            for (int x = clean.left(); x <= clean.right(); ++x) {
                if (was[x] != now[x]) {
                    return ::testing::AssertionFailure()
                           << "(" << x << ", " << y << ") changed outside the dirty area";
                }
            }
        }
    }
    return ::testing::AssertionSuccess();
}

enum class Op {
    Stroke,  // a key-down tick: advance, mark, wrap, check the scroll
    Gap,     // a key-up tick: advance, move
    Wrap,
    CheckScroll,
    Character,
    WordSpace,
    ScrollTrace,
    ScrollText,
    Reset,
    Pattern,
};

// The same operations on both tapes.
struct Pair {
    Pair(int w, int h, int firstHiddenRow)
        : width(w),
          height(h),
          ring([firstHiddenRow](int row) { return row < firstHiddenRow; }),
          moving([firstHiddenRow](int row) { return row < firstHiddenRow; }) {
        apply(Op::Reset);
    }

    void apply(Op op, std::u16string_view text = u"e") {
        switch (op) {
            case Op::Stroke:
                both([](auto& t) {
                    t.advanceTrace();
                    t.markTrace();
                    t.wrapTrace();
                    t.checkTraceScroll();
                });
                break;
            case Op::Gap:
                both([](auto& t) {
                    t.advanceTrace();
                    t.moveTrace();
                });
                break;
            case Op::Wrap:
                both([](auto& t) { t.wrapTrace(); });
                break;
            case Op::CheckScroll:
                both([](auto& t) { t.checkTraceScroll(); });
                break;
            case Op::Character:
                both([text](auto& t) { t.emitCharacter(text); });
                break;
            case Op::WordSpace:
                both([](auto& t) { t.emitWordSpace(); });
                break;
            case Op::ScrollTrace:
                both([](auto& t) { t.scrollTrace(); });
                break;
            case Op::ScrollText:
                both([](auto& t) { t.scrollText(); });
                break;
            case Op::Reset:
                both([this](auto& t) { t.resetLayout(width, height); });
                break;
            case Op::Pattern: {
                const QImage picture = pattern(width, height);
                both([&picture](auto& t) { t.loadPicture(picture); });
                break;
            }
        }
        dirty += ring.takeDirty();
    }
    template <typename F>
    void both(F f) {
        f(ring);
        f(moving);
    }
    // Compares the pictures and the changes since the last check with the dirty areas. The
    // ring's picture is painted as the window paints it, into two pictures used in turn.
    ::testing::AssertionResult check() {
        if (now.size() != QSize(width, height)) {
            now = QImage(width, height, QImage::Format_RGB32);
        }
        {
            QPainter painter(&now);
            ring.paint(painter, now.rect());
        }
        ::testing::AssertionResult same = samePicture(now, moving.image());
        if (same && before.size() == now.size()) {
            same = changesInside(before, now, dirty);
        }
        if (ring.traceX() != moving.traceX() || ring.traceY() != moving.traceY() ||
            ring.textX() != moving.textX() || ring.textY() != moving.textY()) {
            same = ::testing::AssertionFailure() << "the pens differ";
        }
        std::swap(before, now);
        dirty = QRegion();
        return same;
    }

    int width;
    int height;
    TapeDisplay ring;
    test::MovingTape moving;
    QImage now;
    QImage before;
    QRegion dirty;
};

// Layouts: those of the scroll tests, and the trace's and text's odd ends.
struct Layout {
    const char* name;
    int width;
    int height;
    int firstHiddenRow;
};

constexpr int kAllVisible = 1 << 30;

// midLine 525: 34 bands and a 4-row tail stretched into the last; text lines 530 … 850.
constexpr Layout kFullScreen{"w1750_h1050", 1750, 1050, kAllVisible};
constexpr Layout kOddWidth{"w801_h1050", 801, 1050, kAllVisible};
// textBottom 1010: four lines move, the line at 1010 stays.
constexpr Layout kTextBottom1010{"w800_h1050_bottom_1010", 800, 1050, 1011};
// midLine 236: the tail above the line is empty and the last band is cleared.
constexpr Layout kShort{"w800_h472", 800, 472, kAllVisible};
constexpr Layout kScreen1080{"w1920_h1080", 1920, 1080, kAllVisible};
// midLine 520: the tail is exactly one band.
constexpr Layout kWholeTail{"w400_h1041", 400, 1041, kAllVisible};
// Few bands: midLine 25 leaves none, 26 one with nothing below it, 30 one with four rows below,
// 40 one with a whole band below, 41 two.
constexpr Layout kNoBand{"w300_h50", 300, 50, kAllVisible};
constexpr Layout kOneBandEmptyTail{"w300_h52", 300, 52, kAllVisible};
constexpr Layout kOneBand{"w640_h60", 640, 60, kAllVisible};
constexpr Layout kOneBandWholeTail{"w640_h80", 640, 80, kAllVisible};
constexpr Layout kTwoBands{"w640_h82", 640, 82, kAllVisible};
// textBottom 381 keeps no text line (no ring), 382 one (a ring of two).
constexpr Layout kNoKeptLine{"w800_h382", 800, 382, kAllVisible};
constexpr Layout kOneKeptLine{"w800_h383", 800, 383, kAllVisible};

std::u16string_view randomText(std::mt19937& random) {
    std::uniform_int_distribution<std::size_t> pick(0, keying::MorseTable.size());
    const std::size_t i = pick(random);
    return i == keying::MorseTable.size() ? keying::kUnknownCode : keying::MorseTable[i].character;
}

// Long random sequences of the operations the tick and the commands call.
struct RandomRow {
    const char* name;
    Layout layout;
    int operations;
    unsigned seed;
};

class RandomOperations : public ::testing::TestWithParam<RandomRow> {};

TEST_P(RandomOperations, SamePictureAsTheCopyingTapeAndDirtyAreasHoldEveryChange) {
    const RandomRow& row = GetParam();
    Pair p(row.layout.width, row.layout.height, row.layout.firstHiddenRow);
    ASSERT_TRUE(p.check());
    p.apply(Op::Pattern);
    ASSERT_TRUE(p.check());
    std::mt19937 random(row.seed);
    // Weights of Stroke, Gap, Wrap, CheckScroll, Character, WordSpace, ScrollTrace, ScrollText,
    // Reset, Pattern.
    std::discrete_distribution<int> pick({300, 80, 10, 10, 200, 60, 70, 12, 2, 4});
    for (int i = 0; i < row.operations; ++i) {
        const auto op = static_cast<Op>(pick(random));
        p.apply(op, randomText(random));
        ASSERT_TRUE(p.check()) << "after operation " << i << " (" << static_cast<int>(op) << ")";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, RandomOperations,
    ::testing::Values(
        RandomRow{"w1750_h1050", kFullScreen, 600, 1}, RandomRow{"w801_h1050", kOddWidth, 800, 2},
        RandomRow{"w800_h472", kShort, 1000, 3}, RandomRow{"w1920_h1080", kScreen1080, 600, 4},
        RandomRow{"w800_h1050_bottom_1010", kTextBottom1010, 800, 5},
        RandomRow{"w400_h1041", kWholeTail, 800, 6}, RandomRow{"w640_h60", kOneBand, 1000, 7},
        RandomRow{"w300_h50", kNoBand, 1000, 8}, RandomRow{"w640_h82", kTwoBands, 1000, 9},
        RandomRow{"w800_h382", kNoKeptLine, 1000, 10},
        RandomRow{"w800_h383", kOneKeptLine, 1000, 11}),
    rowName);

// Scrolls one after the other, well past a whole turn of the ring, with a few strokes and a
// character between them and a fresh pattern now and then.
struct ScrollRow {
    const char* name;
    Layout layout;
    Op scroll;
};

class RepeatedScrolls : public ::testing::TestWithParam<ScrollRow> {};

TEST_P(RepeatedScrolls, EachScrollGivesTheCopyingTapesPicture) {
    const ScrollRow& row = GetParam();
    Pair p(row.layout.width, row.layout.height, row.layout.firstHiddenRow);
    p.apply(Op::Pattern);
    ASSERT_TRUE(p.check());
    for (int i = 1; i <= 80; ++i) {
        p.apply(row.scroll);
        ASSERT_TRUE(p.check()) << "scroll " << i;
        p.apply(Op::Stroke);
        p.apply(Op::Stroke);
        p.apply(Op::Character, u"W");
        if (i % 17 == 0) {
            p.apply(Op::Pattern);
        }
        ASSERT_TRUE(p.check()) << "drawing after scroll " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, RepeatedScrolls,
    ::testing::Values(ScrollRow{"text_full_screen", kFullScreen, Op::ScrollText},
                      ScrollRow{"text_odd_width", kOddWidth, Op::ScrollText},
                      ScrollRow{"text_bottom_1010", kTextBottom1010, Op::ScrollText},
                      ScrollRow{"text_one_kept_line", kOneKeptLine, Op::ScrollText},
                      ScrollRow{"text_no_kept_line", kNoKeptLine, Op::ScrollText},
                      ScrollRow{"trace_full_screen", kFullScreen, Op::ScrollTrace},
                      ScrollRow{"trace_short_window", kShort, Op::ScrollTrace},
                      ScrollRow{"trace_1920_by_1080", kScreen1080, Op::ScrollTrace},
                      ScrollRow{"trace_tail_one_band", kWholeTail, Op::ScrollTrace},
                      ScrollRow{"trace_no_band", kNoBand, Op::ScrollTrace},
                      ScrollRow{"trace_one_band_empty_tail", kOneBandEmptyTail, Op::ScrollTrace},
                      ScrollRow{"trace_one_band", kOneBand, Op::ScrollTrace},
                      ScrollRow{"trace_one_band_whole_tail", kOneBandWholeTail, Op::ScrollTrace},
                      ScrollRow{"trace_two_bands", kTwoBands, Op::ScrollTrace}),
    rowName);

// Painting a part of the picture after both rings have turned.
struct PaintRow {
    const char* name;
    QRect area;
};

class PaintArea : public ::testing::TestWithParam<PaintRow> {};

// The area's part beyond the picture (a window larger than the tape) is black.
TEST_P(PaintArea, DrawsThePictureInsideTheAreaBlackBeyondItAndNothingElse) {
    TapeDisplay tape([](int) { return true; });
    tape.resetLayout(1750, 1050);
    tape.loadPicture(pattern(1750, 1050));
    for (int i = 0; i < 5; ++i) {
        tape.scrollTrace();
    }
    tape.emitCharacter(u"W");
    tape.scrollText();
    tape.scrollText();
    const QImage picture = tape.composed();

    constexpr QRgb kUntouched = qRgb(1, 2, 3);
    QImage canvas(1800, 1100, QImage::Format_RGB32);
    canvas.fill(kUntouched);
    {
        QPainter painter(&canvas);
        tape.paint(painter, GetParam().area);
    }
    const QRect inside = GetParam().area & picture.rect();
    QImage expected(canvas.size(), QImage::Format_RGB32);
    expected.fill(kUntouched);
    {
        QPainter black(&expected);
        black.fillRect(GetParam().area & canvas.rect(), Qt::black);
    }
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            expected.setPixel(x, y, picture.pixel(x, y));
        }
    }
    EXPECT_TRUE(samePicture(canvas, expected));
}

INSTANTIATE_TEST_SUITE_P(
    Areas, PaintArea,
    ::testing::Values(PaintRow{"whole", QRect(0, 0, 1750, 1050)},
                      PaintRow{"across_trace_bands", QRect(100, 17, 300, 52)},
                      PaintRow{"one_row_between_bands", QRect(0, 24, 1750, 1)},
                      PaintRow{"first_row_of_a_band", QRect(0, 25, 1750, 1)},
                      PaintRow{"last_band_and_separator", QRect(0, 500, 1750, 40)},
                      PaintRow{"across_text_lines", QRect(3, 600, 801, 200)},
                      PaintRow{"past_the_bottom_right", QRect(1740, 1040, 50, 50)},
                      PaintRow{"before_the_top_left", QRect(-5, -5, 20, 20)},
                      PaintRow{"empty", QRect()}),
    rowName);

}  // namespace
}  // namespace dittix::display
