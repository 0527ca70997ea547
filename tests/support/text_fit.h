// Whether a window's texts fit their controls, and whether its controls stay inside the window and
// clear of each other: measured in each control's own font and with the room its style gives. A
// label is transparent: what it shows, and what must stay clear of the rest, is what it paints.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QWidget>

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace dittix::test_support {

struct FitReport {
    int textsMeasured = 0;
    std::vector<std::string> problems;
};

inline std::string describe(const QWidget& control) {
    std::ostringstream out;
    const QRect g = control.geometry();
    out << control.metaObject()->className() << " at (" << g.x() << ", " << g.y() << ") "
        << g.width() << " x " << g.height();
    return out.str();
}

// The widest line of `text` in the control's font.
inline int textAdvance(const QWidget& control, const QString& text) {
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        widest = std::max(widest, control.fontMetrics().horizontalAdvance(line));
    }
    return widest;
}

inline void measure(const QWidget& control, const QString& text, int room, FitReport& report) {
    ++report.textsMeasured;
    const int advance = textAdvance(control, text);
    if (advance > room) {
        std::ostringstream out;
        out << describe(control) << ": \"" << text.toStdString() << "\" needs " << advance
            << " px, has " << room;
        report.problems.push_back(out.str());
    }
}

// Every text a control shows, against the room its style leaves for it: a list's field (the
// width less frame and arrow; the label is drawn one pixel in from each side) for every item, a
// button's or box's contents beside its indicator, a label's contents inside its margin.
inline void measureTexts(const QWidget& control, FitReport& report) {
    QStyle* style = control.style();
    if (const auto* list = qobject_cast<const QComboBox*>(&control)) {
        QStyleOptionComboBox option;
        option.initFrom(list);
        option.editable = list->isEditable();
        option.frame = list->hasFrame();
        const int room =
            style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list)
                .width() -
            2;
        for (int i = 0; i < list->count(); ++i) {
            measure(control, list->itemText(i), room, report);
        }
        return;
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(&control)) {
        if (button->text().isEmpty()) {
            return;
        }
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QStyle::SubElement contents =
            qobject_cast<const QCheckBox*>(button)      ? QStyle::SE_CheckBoxContents
            : qobject_cast<const QRadioButton*>(button) ? QStyle::SE_RadioButtonContents
                                                        : QStyle::SE_PushButtonContents;
        measure(control, button->text(), style->subElementRect(contents, &option, button).width(),
                report);
        return;
    }
    if (const auto* label = qobject_cast<const QLabel*>(&control)) {
        if (!label->text().isEmpty()) {
            measure(control, label->text(), label->contentsRect().width() - 2 * label->margin(),
                    report);
        }
    }
}

// The bounds of the pixels an image holds that are not fully transparent.
inline QRect opaqueBounds(const QImage& image) {
    QRect painted;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(row[x]) > 0) {
                painted |= QRect(x, y, 1, 1);
            }
        }
    }
    return painted;
}

// The pixels a label paints, in its parent's coordinates; empty when it paints none.
inline QRect paintedBy(QLabel& label) {
    QImage image(label.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    label.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return opaqueBounds(image).translated(label.pos());
}

// What a control covers: a label what it paints, any other control its whole rectangle. A text
// that reaches its label's top or bottom edge is cut off there (or about to be).
inline QRect covered(QWidget& control, FitReport& report) {
    auto* label = qobject_cast<QLabel*>(&control);
    if (label == nullptr) {
        return control.geometry();
    }
    const QRect painted = paintedBy(*label);
    if (!painted.isEmpty() && label->pixmap().isNull() &&
        (painted.top() == label->y() || painted.bottom() == label->geometry().bottom())) {
        report.problems.push_back(describe(control) + ": \"" + label->text().toStdString() +
                                  "\" reaches its top or bottom edge");
    }
    return painted;
}

// The controls placed directly on `container`, those inside a scrolling panel's content, and
// those on a plain panel.
inline void checkContainer(const QWidget& container, const QWidget& window, FitReport& report) {
    std::vector<std::pair<const QWidget*, QRect>> controls;
    for (QWidget* child : container.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow() || !child->isVisibleTo(&window)) {
            continue;
        }
        measureTexts(*child, report);
        const QRect area = covered(*child, report);
        if (area.isEmpty()) {
            continue;  // paints nothing
        }
        controls.emplace_back(child, area);
        if (!container.rect().contains(area)) {
            report.problems.push_back(describe(*child) + ": outside its " +
                                      (&container == &window ? "window" : "panel") + " (" +
                                      std::to_string(container.width()) + " x " +
                                      std::to_string(container.height()) + ")");
        }
        if (const auto* panel = qobject_cast<const QScrollArea*>(child);
            panel != nullptr && panel->widget() != nullptr) {
            checkContainer(*panel->widget(), window, report);
        } else if (child->metaObject() == &QWidget::staticMetaObject ||
                   qobject_cast<const QStackedWidget*>(child) != nullptr) {
            checkContainer(*child, window, report);  // a plain panel, or pages (the one shown)
        }
    }
    for (std::size_t i = 0; i < controls.size(); ++i) {
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            if (controls[i].second.intersects(controls[j].second)) {
                report.problems.push_back(describe(*controls[i].first) + " overlaps " +
                                          describe(*controls[j].first));
            }
        }
    }
}

inline FitReport checkFit(const QWidget& window) {
    FitReport report;
    checkContainer(window, window, report);
    return report;
}

inline std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) {
        all += line + "\n";
    }
    return all;
}

}  // namespace dittix::test_support
