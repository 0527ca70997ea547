// The strip at the bottom of the training window: the operator's copy as it is typed (the tail
// that fits), the score's summary line, and a message line (the next-level offer with its button,
// or why the history could not be written).
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace dittix::training {

class CopyStrip : public QWidget {
  public:
    explicit CopyStrip(QWidget* parent = nullptr);

    void setCopy(const QString& copy);
    void setSummary(const QString& summary);
    // A message for the operator; `error` shows it as a failure. Empty: no message line.
    void setMessage(const QString& message, bool error);
    void setNextLevelOffered(bool offered);

    const QString& copy() const { return m_copy; }
    const QString& summary() const { return m_summary; }
    const QString& message() const { return m_message; }
    bool hasMessageLine() const { return !m_message.isEmpty() || nextLevel->isVisibleTo(this); }

    // The strip's height: two lines, or three with the message line.
    int heightNeeded() const;

    QLabel* copyCaption;
    QLabel* copyLine;
    QLabel* summaryLine;
    QLabel* messageLine;
    QPushButton* nextLevel;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void place();

    QString m_copy;
    QString m_summary;
    QString m_message;
    bool m_error = false;
};

}  // namespace dittix::training
