// The training window's grid: one widget that paints its 900 character cells, each where a label
// sized to its character would stand, and repaints only the cells that change.
#pragma once

#include <QColor>
#include <QFont>
#include <QHash>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <string_view>

#include "training/exercise.h"

namespace dittix::training {

// How a cell is coloured: yellow as drawn, red while its character is sent, and after scoring
// green (copied right), red (copied as another character, shown small beside it) or grey
// (missed).
enum class CellColour : std::uint8_t { Yellow, Highlight, Right, Wrong, Missed };

class CharacterGrid : public QWidget {
  public:
    static constexpr int kPitchX = 32;
    static constexpr int kPitchY = 50;
    static constexpr int kLeft = 16;
    static constexpr int kTop = 4;

    explicit CharacterGrid(QWidget* parent = nullptr);

    // The bold 30-point Courier New of the cells (the platform's stand-in where it is missing).
    static QFont cellFont();
    static QColor colourOf(CellColour colour);

    // Cells per row; the cells move when it changes.
    void setColumns(int columns);
    int columns() const { return m_columns; }

    // The show box: cells are drawn only while it is on, except those revealed by a mark.
    void setShown(bool shown);
    bool isShown() const { return m_shown; }

    // Cell k shows glyphs[k] (none past the end of `glyphs`), yellow and without a mark. Only the
    // cells whose look changes are repainted.
    void setCells(std::u16string_view glyphs);
    void setColour(int k, CellColour colour);
    // A scored cell: its colour, what was typed for it (Wrong; 0 for none), and drawn even while
    // the show box is off.
    void setMark(int k, CellColour colour, char16_t typed);
    // Every cell yellow again, without marks (and hidden again with the show box off).
    void clearMarks();

    QString cellText(int k) const;
    CellColour cellColour(int k) const;
    QString cellTyped(int k) const;  // the character typed for a wrong one; empty otherwise
    QPoint cellPos(int k) const;     // the top-left corner of the cell's character
    bool cellShown(int k) const;     // drawn when the grid is on screen
    // Where cell k paints: its character's box and the corner for the typed character.
    QRect cellRect(int k) const;

    // Paints cell k as paintEvent does (nothing for an empty or hidden cell).
    void paintCell(QPainter& painter, int k) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    struct Cell {
        char16_t glyph = 0;
        CellColour colour = CellColour::Yellow;
        char16_t typed = 0;
        bool revealed = false;

        friend bool operator==(const Cell&, const Cell&) = default;
    };

    bool valid(int k) const { return k >= 0 && k < kGridLabels; }
    bool drawn(const Cell& cell) const { return cell.glyph != 0 && (m_shown || cell.revealed); }
    void change(int k, const Cell& cell);
    // The size a label sized to `glyph` would have: where it centres its text.
    QSize glyphBox(char16_t glyph) const;

    std::array<Cell, kGridLabels> m_cells{};
    int m_columns = 36;
    bool m_shown = false;
    QFont m_typedFont;
    QSize m_cellSize;                             // what cellRect covers
    mutable QHash<char16_t, QSize> m_glyphBoxes;  // glyphBox, measured once per glyph
};

}  // namespace dittix::training
