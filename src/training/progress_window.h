// The progress window ("PROGRESSI"): two charts over the training history, the accuracy of each
// receive exercise over time by level with the 90 % line, and the accuracy of each character over
// the latest twenty exercises, weakest first. A sentence stands in their place when there is
// nothing to show or the history cannot be read. The history is read and summed up, and the
// charts drawn into images, on a thread of the window's own: the interface thread only shows
// the images, so that a long history never holds up the keying's tick.
#pragma once

#include <QImage>
#include <QLabel>
#include <QSize>
#include <QStackedWidget>
#include <QWidget>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "persistence/ordered_jobs.h"
#include "persistence/training_progress.h"
#include "training/progress_charts.h"

namespace dittix::training {

// What the window draws from the history, summed up off the interface thread.
struct ProgressFigures {
    std::optional<persistence::HistoryError> error;
    std::int32_t skipped = 0;  // damaged rows
    std::vector<persistence::LevelSeries> levels;
    std::vector<persistence::CharacterAccuracy> characters;
};

// What the window shows of one read: the charts laid out for the size asked for and drawn into
// images, or the sentence in their place; and the status under them.
struct ProgressPictures {
    QString sentence;                       // empty where the charts are shown
    std::optional<AccuracyChart> accuracy;  // with their images
    std::optional<CharacterChart> characters;
    QImage accuracyImage;
    QImage characterImage;
    QString status;
};

// The two charts' images, one above the other, each in its share of the widget.
class ChartsPage : public QWidget {
  public:
    explicit ChartsPage(QWidget* parent);
    // Where each chart stands in a page of `size`.
    static QRect accuracyArea(QSize size);
    static QRect characterArea(QSize size);
    void setImages(QImage accuracy, QImage characters);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage m_accuracy;
    QImage m_characters;
};

class ProgressWindow : public QWidget {
  public:
    // How the history is read (readProgressHistory; tests hold or count the reads).
    using Reader = std::function<persistence::HistoryReadResult(const std::filesystem::path&)>;

    explicit ProgressWindow(std::filesystem::path historyFile, QWidget* parent = nullptr,
                            Reader reader = {});
    // A read still running is waited for; one not begun is dropped.
    ~ProgressWindow() override;

    // Reads the history again on the window's thread and returns at once; both charts are
    // redrawn when the figures arrive. While a read waits to begin, a further call adds none:
    // the waiting read finds what the call would have.
    void refresh();
    // Waits for the reads and drawings asked for and shows what they made (tests, benchmarks).
    void finishReads();
    // Waits for the reads asked for, and leaves what they made to the event loop (tests).
    void waitForReads() { m_readJobs.finish(); }

    // What the window shows: the charts, or the sentence in their place.
    bool showsCharts() const;
    // The sentence as written (the label shows it in lines that fit).
    QString sentence() const { return m_sentenceText; }
    QString status() const { return m_status->text(); }
    // The charts shown, as laid out and drawn (tests); empty while a sentence stands instead.
    const std::optional<AccuracyChart>& accuracyChart() const { return m_shown.accuracy; }
    const std::optional<CharacterChart>& characterChart() const { return m_shown.characters; }
    const QImage& accuracyImage() const { return m_shown.accuracyImage; }
    const QImage& characterImage() const { return m_shown.characterImage; }
    // Where the charts stand in the window.
    QRect accuracyArea() const;
    QRect characterArea() const;
    // How many reads of the history, and drawings without one, were asked for (tests).
    int reads() const { return m_reads; }
    int drawings() const { return m_drawings; }

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The size of the charts' page: the pages' size, which the page shown takes.
    QSize chartSize() const;
    // Draws the latest figures again at the charts' size now, on the window's thread.
    void redraw();
    void noteChartSize();
    void showSentence(const QString& sentence);
    void fitSentence();
    // On the interface thread, when a read or a drawing has ended.
    void jobEnded();
    // Posts a job to the window's thread unless one of its kind waits to begin (`waiting`,
    // under m_lock): it reads the history first when `read`, then draws the latest figures and
    // hands them to the interface thread. False when none was posted.
    bool post(bool ProgressWindow::*waiting, bool read);
    // On the window's thread: the charts of `figures` at the size asked for now.
    ProgressPictures picture(const ProgressFigures& figures);

    std::filesystem::path m_file;
    QStackedWidget* m_pages = nullptr;
    QLabel* m_sentence = nullptr;
    ChartsPage* m_charts = nullptr;
    QString m_sentenceText;
    QLabel* m_status = nullptr;
    ProgressPictures m_shown;
    int m_reads = 0;
    int m_drawings = 0;
    bool m_placed = false;  // centred on the screen the first time it is shown

    const Reader m_reader;
    std::atomic<bool> m_ending{false};  // jobs not begun are dropped
    std::mutex m_lock;
    bool m_readWaiting = false;                 // a read asked for has not begun; m_lock
    bool m_drawWaiting = false;                 // a drawing asked for has not begun; m_lock
    QSize m_chartSize;                          // the charts page's size now; m_lock
    qreal m_pixelRatio = 1.0;                   // m_lock
    std::optional<ProgressPictures> m_made;     // the latest job's, not yet shown; m_lock
    std::optional<ProgressFigures> m_lastRead;  // the window's thread's own
    QObject m_receiver;                         // receives the queued "job ended"
    persistence::OrderedJobs m_readJobs;        // last: its thread ends before the members above
};

}  // namespace dittix::training
