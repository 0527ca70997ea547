// The character grid.
#include "training/character_grid.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace dittix::training {

namespace {

// The typed character of a wrong cell, small in the cell's top-right corner, in the room between
// the cell's character and the next cell's.
constexpr int kTypedPixels = 15;
constexpr int kTypedWidth = 10;

}  // namespace

CharacterGrid::CharacterGrid(QWidget* parent) : QWidget(parent) {
    setFont(cellFont());
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_typedFont = QFont(QStringLiteral("Courier New"));
    m_typedFont.setPixelSize(kTypedPixels);
    m_typedFont.setBold(true);
    // Every cell's box: its character's (a monospaced face: every glyph's is the same, the
    // widest taken to be safe) and the whole pitch, which holds the typed character's corner.
    const QFontMetrics metrics = fontMetrics();
    m_cellSize = QSize(std::max(metrics.maxWidth(), kPitchX), std::max(metrics.height(), kPitchY))
                     .expandedTo(glyphBox(u'W'));
}

QFont CharacterGrid::cellFont() {
    QFont courier(QStringLiteral("Courier New"));
    courier.setPointSize(30);
    courier.setBold(true);
    return courier;
}

QColor CharacterGrid::colourOf(CellColour colour) {
    switch (colour) {
        case CellColour::Yellow:
            break;
        case CellColour::Highlight:
            return {255, 0, 0};
        case CellColour::Right:
            return {0, 220, 0};
        case CellColour::Wrong:
            return {255, 60, 60};
        case CellColour::Missed:
            return {128, 128, 128};
    }
    return {255, 255, 0};
}

void CharacterGrid::setColumns(int columns) {
    columns = std::max(columns, 1);
    if (columns != m_columns) {
        m_columns = columns;
        update();
    }
}

void CharacterGrid::setShown(bool shown) {
    if (shown == m_shown) {
        return;
    }
    m_shown = shown;
    for (int k = 0; k < kGridLabels; ++k) {
        const Cell& cell = m_cells[static_cast<std::size_t>(k)];
        if (cell.glyph != 0 && !cell.revealed) {
            update(cellRect(k));
        }
    }
}

void CharacterGrid::change(int k, const Cell& cell) {
    Cell& old = m_cells[static_cast<std::size_t>(k)];
    if (old == cell) {
        return;
    }
    const bool repaint = drawn(old) || drawn(cell);
    old = cell;
    if (repaint) {
        update(cellRect(k));
    }
}

void CharacterGrid::setCells(std::u16string_view glyphs) {
    for (int k = 0; k < kGridLabels; ++k) {
        const auto index = static_cast<std::size_t>(k);
        change(k, Cell{index < glyphs.size() ? glyphs[index] : char16_t{0}});
    }
}

void CharacterGrid::setColour(int k, CellColour colour) {
    if (valid(k)) {
        Cell cell = m_cells[static_cast<std::size_t>(k)];
        cell.colour = colour;
        change(k, cell);
    }
}

void CharacterGrid::setMark(int k, CellColour colour, char16_t typed) {
    if (valid(k)) {
        Cell cell = m_cells[static_cast<std::size_t>(k)];
        cell.colour = colour;
        cell.typed = colour == CellColour::Wrong ? typed : char16_t{0};
        cell.revealed = true;
        change(k, cell);
    }
}

void CharacterGrid::clearMarks() {
    for (int k = 0; k < kGridLabels; ++k) {
        change(k, Cell{m_cells[static_cast<std::size_t>(k)].glyph});
    }
}

QString CharacterGrid::cellText(int k) const {
    if (!valid(k) || m_cells[static_cast<std::size_t>(k)].glyph == 0) {
        return {};
    }
    return QString(QChar(m_cells[static_cast<std::size_t>(k)].glyph));
}

CellColour CharacterGrid::cellColour(int k) const {
    return valid(k) ? m_cells[static_cast<std::size_t>(k)].colour : CellColour::Yellow;
}

QString CharacterGrid::cellTyped(int k) const {
    if (!valid(k) || m_cells[static_cast<std::size_t>(k)].typed == 0) {
        return {};
    }
    return QString(QChar(m_cells[static_cast<std::size_t>(k)].typed));
}

QPoint CharacterGrid::cellPos(int k) const {
    return {k % m_columns * kPitchX + kLeft, k / m_columns * kPitchY + kTop};
}

bool CharacterGrid::cellShown(int k) const {
    return valid(k) && drawn(m_cells[static_cast<std::size_t>(k)]);
}

QSize CharacterGrid::glyphBox(char16_t glyph) const {
    // A label sized to its text is as large as the text's bounding box for left alignment.
    const auto known = m_glyphBoxes.constFind(glyph);
    if (known != m_glyphBoxes.cend()) {
        return *known;
    }
    const QSize box =
        fontMetrics()
            .boundingRect(QRect(0, 0, 2000, 2000), Qt::AlignLeft, QString(QChar(glyph)))
            .size();
    m_glyphBoxes.insert(glyph, box);
    return box;
}

QRect CharacterGrid::cellRect(int k) const {
    return {cellPos(k), m_cellSize};
}

void CharacterGrid::paintCell(QPainter& painter, int k) const {
    if (!cellShown(k)) {
        return;
    }
    const Cell& cell = m_cells[static_cast<std::size_t>(k)];
    const QPoint at = cellPos(k);
    // As a label draws it: left-aligned and centred vertically in the label's own box, clipped
    // to that box.
    const QRect box(at, glyphBox(cell.glyph));
    painter.save();
    painter.setClipRect(box);
    painter.setFont(font());
    painter.setPen(colourOf(cell.colour));
    painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextForceLeftToRight,
                     QString(QChar(cell.glyph)));
    painter.restore();
    if (cell.typed != 0) {
        const QRect corner(at.x() + kPitchX - 1 - kTypedWidth, at.y(), kTypedWidth,
                           QFontMetrics(m_typedFont).height());
        painter.save();
        painter.setFont(m_typedFont);
        painter.setPen(Qt::white);
        painter.drawText(corner, Qt::AlignRight | Qt::AlignTop | Qt::TextForceLeftToRight,
                         QString(QChar(cell.typed)));
        painter.restore();
    }
}

void CharacterGrid::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect();
    painter.fillRect(area, Qt::black);
    // Only the rows and columns whose cells reach into the area.
    const int firstRow = std::max((area.top() - kTop - m_cellSize.height()) / kPitchY, 0);
    const int lastRow = std::min((area.bottom() - kTop) / kPitchY + 1,
                                 (kGridLabels + m_columns - 1) / m_columns - 1);
    const int firstColumn = std::max((area.left() - kLeft - m_cellSize.width()) / kPitchX, 0);
    const int lastColumn = std::min((area.right() - kLeft) / kPitchX + 1, m_columns - 1);
    for (int row = firstRow; row <= lastRow; ++row) {
        for (int column = firstColumn; column <= lastColumn; ++column) {
            const int k = row * m_columns + column;
            if (k < kGridLabels && cellRect(k).intersects(area)) {
                paintCell(painter, k);
            }
        }
    }
}

}  // namespace dittix::training
