// Tlivelli, the levels window: the characters of every receive training level, one yellow line
// each on black, listed once shortly after start-up and then only shown or hidden.
#pragma once

#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <vector>

#include "persistence/settings.h"

namespace dittix::training {

class Tlivelli : public QWidget {
  public:
    // The levels are read when the list is built, after the settings have been loaded: they
    // must outlive the window.
    explicit Tlivelli(const persistence::TrainingLevels& levels, QWidget* parent = nullptr);

    // Handler of `timer`: lists the levels (the first time only) and stops the timer.
    void timerTimer();

    // The listed levels' lines, in the order they were made.
    std::vector<QLabel*> labels() const { return m_labels; }

    // The window's outer height, frame included.
    int outerHeight() const;

    // Started by the constructor; its first tick builds the list.
    QTimer timer;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void FormCreate();
    void FormKeyPress(QKeyEvent* event);
    void setOuterHeight(int outer);

    const persistence::TrainingLevels& m_levels;
    std::vector<QLabel*> m_labels;
    int m_outerHeight = 0;  // set once the list is built
    bool m_built = false;
    bool m_shownBefore = false;
};

}  // namespace dittix::training
