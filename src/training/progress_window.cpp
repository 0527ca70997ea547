// The progress window.
#include "training/progress_window.h"
#include "training/fonts.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "persistence/training_progress.h"
#include "platform/kept_window.h"

namespace dittix::training {

namespace {

const QString kReading = QStringLiteral("Lettura dello storico in corso\u2026");
const QString kEmpty = QStringLiteral(
    "Lo storico non ha ancora esercizi di ricezione: fai un esercizio scrivendo la copia di "
    "ci\u00f2 "
    "che senti, e qui vedrai i tuoi progressi.");

constexpr int kChartSpacing = 8;  // between the two charts

// The sentence in lines that fit `width`: a line too wide is broken after its last ": " (an
// error's file name and its reason), and a part still too wide is shortened in the middle.
QString fittedLines(const QString& sentence, const QFontMetrics& metrics, int width) {
    QStringList lines;
    for (const QString& line : sentence.split(QLatin1Char('\n'))) {
        const qsizetype colon = line.lastIndexOf(QStringLiteral(": "));
        if (metrics.horizontalAdvance(line) > width && colon > 0) {
            lines.append(line.left(colon + 1));
            lines.append(line.mid(colon + 2));
        } else {
            lines.append(line);
        }
    }
    for (QString& line : lines) {
        line = metrics.elidedText(line, Qt::ElideMiddle, width);
    }
    return lines.join(QLatin1Char('\n'));
}

// Read and both aggregations: what the window's thread does for one refresh.
ProgressFigures readFigures(const ProgressWindow::Reader& reader,
                            const std::filesystem::path& file) {
    persistence::HistoryReadResult read = reader(file);
    ProgressFigures figures;
    figures.skipped = read.skipped;
    if (read.error) {
        figures.error = std::move(read.error);
        return figures;
    }
    figures.levels = persistence::accuracyByLevel(read.rows, persistence::TrainingMode::Receive);
    if (!figures.levels.empty()) {
        figures.characters = persistence::characterAccuracy(read.rows);
    }
    return figures;
}

}  // namespace

ChartsPage::ChartsPage(QWidget* parent) : QWidget(parent) {}

QRect ChartsPage::accuracyArea(QSize size) {
    return {0, 0, size.width(), std::max(0, size.height() - kChartSpacing) * 3 / 5};
}

QRect ChartsPage::characterArea(QSize size) {
    const int top = accuracyArea(size).height() + kChartSpacing;
    return {0, top, size.width(), std::max(0, size.height() - top)};
}

void ChartsPage::setImages(QImage accuracy, QImage characters) {
    m_accuracy = std::move(accuracy);
    m_characters = std::move(characters);
    update();
}

void ChartsPage::paintEvent(QPaintEvent* /*event*/) {
    // An image drawn for another size (the window was resized since) is stretched to its place
    // until the one drawn for the size now arrives.
    QPainter painter(this);
    if (!m_accuracy.isNull()) {
        painter.drawImage(QRectF(accuracyArea(size())), m_accuracy);
    }
    if (!m_characters.isNull()) {
        painter.drawImage(QRectF(characterArea(size())), m_characters);
    }
}

ProgressWindow::ProgressWindow(std::filesystem::path historyFile, QWidget* parent, Reader reader)
    : QWidget(parent, Qt::Window),
      m_file(std::move(historyFile)),
      m_reader(reader ? std::move(reader) : Reader([](const std::filesystem::path& file) {
          return persistence::readProgressHistory(file);
      })) {
    setWindowTitle(QStringLiteral("PROGRESSI"));
    QPalette dark = palette();
    dark.setColor(QPalette::Window, Qt::black);
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    setPalette(dark);
    setAutoFillBackground(true);

    m_pages = new QStackedWidget(this);
    m_sentence = new QLabel(m_pages);
    m_sentence->setFont(tahoma(21));
    m_sentence->setAlignment(Qt::AlignCenter);
    m_sentence->setMargin(40);
    // Its lines are fitted to the width it is given: its text's width does not hold the window
    // wider.
    m_sentence->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_charts = new ChartsPage(m_pages);
    m_pages->addWidget(m_sentence);
    m_pages->addWidget(m_charts);
    m_status = new QLabel(this);
    m_status->setFont(tahoma(15));
    // Its line is kept when it is empty, so that the charts' size does not change with it.
    m_status->setFixedHeight(m_status->fontMetrics().height());
    // The page shown takes the pages' size, the other keeps its last one: the charts are drawn
    // for the pages' size, followed here.
    m_pages->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(m_pages, 1);
    layout->addWidget(m_status);
    resize(1100, 800);
    // The pages take their size now, so that a read before the first showing draws the charts
    // at the size they will be shown at.
    layout->activate();
    noteChartSize();
    showSentence(kReading);
}

ProgressWindow::~ProgressWindow() {
    m_ending.store(true);
}

bool ProgressWindow::showsCharts() const {
    return m_pages->currentWidget() == m_charts;
}

QRect ProgressWindow::accuracyArea() const {
    return ChartsPage::accuracyArea(m_charts->size()).translated(m_charts->mapTo(this, QPoint()));
}

QRect ProgressWindow::characterArea() const {
    return ChartsPage::characterArea(m_charts->size()).translated(m_charts->mapTo(this, QPoint()));
}

void ProgressWindow::showSentence(const QString& sentence) {
    m_sentenceText = sentence;
    fitSentence();
    m_pages->setCurrentWidget(m_sentence);
    m_shown = ProgressPictures{};
    m_charts->setImages({}, {});
}

void ProgressWindow::fitSentence() {
    // The pages' width: the sentence's page keeps an older size while the charts are shown.
    const QString lines = fittedLines(m_sentenceText, m_sentence->fontMetrics(),
                                      chartSize().width() - 2 * m_sentence->margin());
    m_sentence->setText(lines);
    m_sentence->setToolTip(lines == m_sentenceText ? QString() : m_sentenceText);
}

QSize ProgressWindow::chartSize() const {
    return m_pages->contentsRect().size();
}

void ProgressWindow::noteChartSize() {
    const std::lock_guard lock(m_lock);
    m_chartSize = chartSize();
    m_pixelRatio = devicePixelRatioF();
}

bool ProgressWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pages && event->type() == QEvent::Resize) {
        fitSentence();
        noteChartSize();
        if (showsCharts()) {
            redraw();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ProgressWindow::refresh() {
    if (post(&ProgressWindow::m_readWaiting, true)) {
        ++m_reads;
    }
}

void ProgressWindow::redraw() {
    if (post(&ProgressWindow::m_drawWaiting, false)) {
        ++m_drawings;
    }
}

bool ProgressWindow::post(bool ProgressWindow::*waiting, bool read) {
    {
        const std::lock_guard lock(m_lock);
        if (this->*waiting) {
            return false;  // the job not yet begun finds the file and the size as they are
        }
        this->*waiting = true;
    }
    m_readJobs.post([this, waiting, read] {
        {
            const std::lock_guard lock(m_lock);
            this->*waiting = false;
        }
        if (m_ending.load()) {
            return;
        }
        if (read) {
            m_lastRead = readFigures(m_reader, m_file);
        }
        if (!m_lastRead) {
            return;
        }
        ProgressPictures made = picture(*m_lastRead);
        {
            const std::lock_guard lock(m_lock);
            m_made = std::move(made);
        }
        QMetaObject::invokeMethod(
            &m_receiver, [this] { jobEnded(); }, Qt::QueuedConnection);
    });
    return true;
}

ProgressPictures ProgressWindow::picture(const ProgressFigures& figures) {
    ProgressPictures made;
    const QString damaged =
        figures.skipped > 0
            ? QStringLiteral("%1 righe danneggiate dello storico non sono state lette.")
                  .arg(figures.skipped)
            : QString();
    if (figures.error) {
        made.sentence = QString::fromStdString(figures.error->message);
        return made;
    }
    if (figures.levels.empty()) {
        made.sentence = kEmpty;
        made.status = damaged;
        return made;
    }
    std::size_t exercises = 0;
    for (const persistence::LevelSeries& level : figures.levels) {
        exercises += level.points.size();
    }
    QSize size;
    qreal pixelRatio = 1.0;
    {
        const std::lock_guard lock(m_lock);
        size = m_chartSize;
        pixelRatio = m_pixelRatio;
    }
    made.accuracy.emplace(figures.levels, ChartsPage::accuracyArea(size).size());
    made.characters.emplace(figures.characters, std::min(exercises, persistence::kRecentExercises),
                            ChartsPage::characterArea(size).size());
    made.accuracyImage = made.accuracy->draw(pixelRatio);
    made.characterImage = made.characters->draw(pixelRatio);
    made.status = (exercises == 1
                       ? QStringLiteral("1 esercizio di ricezione nello storico.")
                       : QStringLiteral("%1 esercizi di ricezione nello storico.").arg(exercises)) +
                  (damaged.isEmpty() ? QString() : QStringLiteral(" ") + damaged);
    return made;
}

void ProgressWindow::finishReads() {
    for (;;) {
        m_readJobs.finish();
        QCoreApplication::sendPostedEvents(&m_receiver, QEvent::MetaCall);
        const std::lock_guard lock(m_lock);
        if (!m_readWaiting && !m_drawWaiting && !m_made) {
            return;
        }
    }
}

void ProgressWindow::jobEnded() {
    // Each job leaves what it made in place of the last one's: when two have ended before this
    // runs, the first call shows the later pictures and the second finds none.
    std::optional<ProgressPictures> made;
    {
        const std::lock_guard lock(m_lock);
        made.swap(m_made);
    }
    if (!made) {
        return;
    }
    if (!made->sentence.isEmpty()) {
        showSentence(made->sentence);
        m_status->setText(made->status);
        return;
    }
    m_shown = std::move(*made);
    m_charts->setImages(m_shown.accuracyImage, m_shown.characterImage);
    m_status->setText(m_shown.status);
    m_pages->setCurrentWidget(m_charts);
    if (m_shown.accuracy->size() != ChartsPage::accuracyArea(chartSize()).size() ||
        !qFuzzyCompare(m_shown.accuracyImage.devicePixelRatio(), devicePixelRatioF())) {
        redraw();  // the window was resized while they were drawn
    }
}

void ProgressWindow::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        noteChartSize();
        refresh();
        if (const QScreen* screen = QGuiApplication::primaryScreen(); screen && !m_placed) {
            m_placed = true;
            move(screen->availableGeometry().center() - rect().center());
        }
    }
    QWidget::showEvent(event);
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
    platform::hideKeepingWindow(*this, *event);
}

void ProgressWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace dittix::training
