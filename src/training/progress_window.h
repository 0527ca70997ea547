// The progress window ("PROGRESSI"): two charts over the training history, the accuracy of each
// receive exercise over time by level with the 90 % line, and the accuracy of each character over
// the latest twenty exercises, weakest first. A sentence stands in their place when there is
// nothing to show or the history cannot be read.
#pragma once

#include <QLabel>
#include <QWidget>
#include <QtCharts/QChartView>

#include <cstddef>
#include <filesystem>

namespace dittix::training {

class ProgressWindow : public QWidget {
  public:
    explicit ProgressWindow(std::filesystem::path historyFile, QWidget* parent = nullptr);

    // Reads the history again and redraws both charts.
    void refresh();

    // What the window shows: the charts, or the sentence in their place.
    bool showsCharts() const;
    // The sentence as written (the label shows it in lines that fit).
    QString sentence() const { return m_sentenceText; }
    QString status() const { return m_status->text(); }
    QChartView* accuracyView() const { return m_accuracyView; }
    QChartView* characterView() const { return m_characterView; }
    // How many times the history was read (tests).
    int reads() const { return m_reads; }

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void showSentence(const QString& sentence);
    void fitSentence();

    std::filesystem::path m_file;
    QChartView* m_accuracyView = nullptr;
    QChartView* m_characterView = nullptr;
    QLabel* m_sentence = nullptr;
    QString m_sentenceText;
    QLabel* m_status = nullptr;
    int m_reads = 0;
    bool m_placed = false;  // centred on the screen the first time it is shown
};

}  // namespace dittix::training
