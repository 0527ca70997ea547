// The progress window ("PROGRESSI"): two charts over the training history, the accuracy of each
// receive exercise over time by level with the 90 % line, and the accuracy of each character over
// the latest twenty exercises, weakest first. A sentence stands in their place when there is
// nothing to show or the history cannot be read. The history is read and summed up on a thread of
// its own, and the charts are drawn when the figures arrive.
#pragma once

#include <QLabel>
#include <QWidget>
#include <QtCharts/QChartView>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "persistence/ordered_jobs.h"
#include "persistence/training_progress.h"

namespace dittix::training {

// What the window draws from the history, summed up off the interface thread.
struct ProgressFigures {
    std::optional<persistence::HistoryError> error;
    std::int32_t skipped = 0;  // damaged rows
    std::vector<persistence::LevelSeries> levels;
    std::vector<persistence::CharacterAccuracy> characters;
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
    // Waits for the reads asked for and draws what they found (tests, benchmarks).
    void finishReads();
    // Waits for the reads asked for, and leaves what they found to the event loop (tests).
    void waitForReads() { m_readJobs.finish(); }

    // What the window shows: the charts, or the sentence in their place.
    bool showsCharts() const;
    // The sentence as written (the label shows it in lines that fit).
    QString sentence() const { return m_sentenceText; }
    QString status() const { return m_status->text(); }
    QChartView* accuracyView() const { return m_accuracyView; }
    QChartView* characterView() const { return m_characterView; }
    // How many reads of the history were asked for (tests).
    int reads() const { return m_reads; }

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void showSentence(const QString& sentence);
    void fitSentence();
    // On the interface thread, when a read has ended.
    void readEnded();
    void showFigures(const ProgressFigures& figures);
    // Puts the next incoming chart in its view; the last one shows both with their status.
    void placeNext();
    void postPlacing();  // a placeNext, unless one is posted already
    void dropIncoming();
    void retire(std::unique_ptr<QChart> chart);

    std::filesystem::path m_file;
    QChartView* m_accuracyView = nullptr;
    QChartView* m_characterView = nullptr;
    QLabel* m_sentence = nullptr;
    QString m_sentenceText;
    QLabel* m_status = nullptr;
    int m_reads = 0;
    bool m_placed = false;  // centred on the screen the first time it is shown

    const Reader m_reader;
    std::atomic<bool> m_ending{false};  // reads not begun are dropped
    std::mutex m_lock;
    bool m_readWaiting = false;                      // a read asked for has not begun; m_lock
    std::optional<ProgressFigures> m_figures;        // the latest read's, not yet drawn; m_lock
    std::vector<std::unique_ptr<QChart>> m_retired;  // replaced charts, deleted in a later event
    // Charts built from the latest figures, waiting to take their views' places: each view
    // takes its chart in an event of its own, since laying one out takes a few milliseconds.
    struct Incoming {
        std::unique_ptr<QChart> accuracy;
        std::unique_ptr<QChart> characters;
        QString status;
    };
    std::optional<Incoming> m_incoming;
    bool m_placing = false;               // a placeNext is posted
    QObject m_receiver;                   // receives the queued "read ended"
    persistence::OrderedJobs m_readJobs;  // last: its thread ends before the members above
};

}  // namespace dittix::training
