// The progress window.
#include "training/progress_window.h"
#include "training/fonts.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSet>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QStackedBarSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

#include "persistence/training_progress.h"
#include "platform/kept_window.h"
#include "training/exercise.h"

namespace dittix::training {

namespace {

const QString kReading = QStringLiteral("Lettura dello storico in corso\u2026");
const QString kEmpty = QStringLiteral(
    "Lo storico non ha ancora esercizi di ricezione: fai un esercizio scrivendo la copia di "
    "ci\u00f2 "
    "che senti, e qui vedrai i tuoi progressi.");

// More points than this in a level's line are drawn without their markers.
constexpr int kMarkedPoints = 300;
constexpr qreal kMarkerRadius = 9.0;   // in pixels
constexpr qsizetype kNamedLevels = 8;  // levels named in the legend, the highest
constexpr double kPassLine = 90.0;

QChart* newChart(const QString& title) {
    auto* chart = new QChart;
    chart->setTheme(QChart::ChartThemeDark);
    chart->setBackgroundRoundness(0);
    chart->setTitle(title);
    chart->setTitleFont(tahoma(17, true));
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->legend()->setFont(tahoma(13));
    return chart;
}

// 0 to 100 % in `ticks` - 1 steps.
QValueAxis* percentAxis(int ticks) {
    auto* axis = new QValueAxis;
    axis->setRange(0, 100);
    axis->setTickCount(ticks);
    axis->setLabelFormat(QStringLiteral("%.0f %%"));
    axis->setLabelsFont(tahoma(12));
    return axis;
}

// A level's marker: a disc of the line's colour, drawn once and copied to each point. Drawing
// the disc anew at every point was most of the time spent painting a long history.
QImage markerDisc(const QColor& colour, qreal pixelRatio) {
    const qreal radius = kMarkerRadius * pixelRatio;
    const auto side = static_cast<int>(std::ceil(2 * radius));
    QImage disc(side, side, QImage::Format_ARGB32_Premultiplied);
    disc.fill(Qt::transparent);
    QPainter painter(&disc);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QPointF(side / 2.0, side / 2.0), radius, radius);
    return disc;
}

QChart* accuracyChart(const std::vector<persistence::LevelSeries>& levels, qreal pixelRatio) {
    QChart* chart = newChart(QStringLiteral("Precisione di ogni esercizio, per livello"));
    auto* time = new QDateTimeAxis;
    auto* percent = percentAxis(11);
    chart->addAxis(time, Qt::AlignBottom);
    chart->addAxis(percent, Qt::AlignLeft);

    std::int64_t first = std::numeric_limits<std::int64_t>::max();
    std::int64_t last = std::numeric_limits<std::int64_t>::min();
    for (const persistence::LevelSeries& level : levels) {
        auto* line = new QLineSeries;
        line->setName(QStringLiteral("Liv. %1").arg(level.level));
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(level.points.size()));
        for (const persistence::AccuracyPoint& point : level.points) {
            points.append(QPointF(static_cast<double>(point.unixSeconds) * 1000.0,
                                  point.accuracyTenths / 10.0));
            first = std::min(first, point.unixSeconds);
            last = std::max(last, point.unixSeconds);
        }
        line->replace(points);
        chart->addSeries(line);
        // Bevelled joins on the theme's pen: round ones turn every one of thousands of corners
        // into curves, which made drawing a long history the slowest part of opening the window.
        QPen pen = line->pen();
        pen.setJoinStyle(Qt::BevelJoin);
        pen.setCapStyle(Qt::FlatCap);
        line->setPen(pen);
        if (points.size() <= kMarkedPoints) {
            // The disc is drawn in a square of the marker's size around each point.
            line->setMarkerSize(2 * kMarkerRadius);
            line->setLightMarker(markerDisc(pen.color(), pixelRatio));
        }
        line->attachAxis(time);
        line->attachAxis(percent);
    }
    // A margin on both sides, and an hour at least, so that a single exercise stands inside.
    const std::int64_t margin = std::max<std::int64_t>((last - first) / 40, 1800);
    const QDateTime from = QDateTime::fromSecsSinceEpoch(first - margin);
    const QDateTime to = QDateTime::fromSecsSinceEpoch(last + margin);
    time->setRange(from, to);
    time->setFormat(last - first > 2 * 24 * 3600 ? QStringLiteral("dd/MM/yy")
                                                 : QStringLiteral("dd/MM HH:mm"));
    time->setTickCount(7);
    time->setLabelsFont(tahoma(12));

    // The legend names the latest levels only: forty names do not fit one line, and a cut name
    // tells nothing.
    const QList<QLegendMarker*> markers = chart->legend()->markers();
    for (qsizetype k = 0; k + kNamedLevels < markers.size(); ++k) {
        markers[k]->setVisible(false);
    }

    auto* pass = new QLineSeries;
    pass->setName(QStringLiteral("90 %"));
    pass->append(static_cast<double>(from.toMSecsSinceEpoch()), kPassLine);
    pass->append(static_cast<double>(to.toMSecsSinceEpoch()), kPassLine);
    QPen dashed(QColor(255, 255, 0));
    dashed.setWidth(2);
    dashed.setStyle(Qt::DashLine);
    pass->setPen(dashed);
    chart->addSeries(pass);
    pass->attachAxis(time);
    pass->attachAxis(percent);
    return chart;
}

QChart* characterChart(const std::vector<persistence::CharacterAccuracy>& characters,
                       std::size_t exercises) {
    QChart* chart = newChart(
        exercises == 1
            ? QStringLiteral("Precisione per carattere nell'ultimo esercizio, dal pi\u00f9 debole")
            : QStringLiteral(
                  "Precisione per carattere negli ultimi %1 esercizi, dal pi\u00f9 debole")
                  .arg(exercises));
    // Two sets stacked, one of them zero in each column: the bars below 90 % stand out.
    auto* weak = new QBarSet(QStringLiteral("sotto il 90 %"));
    auto* strong = new QBarSet(QStringLiteral("dal 90 % in su"));
    weak->setColor(QColor(230, 80, 80));
    strong->setColor(QColor(80, 200, 100));
    QStringList names;
    for (const persistence::CharacterAccuracy& c : characters) {
        names.append(QString(QChar(gridGlyph(c.character))));
        const double percent = c.accuracyTenths / 10.0;
        const bool below = percent < kPassLine;
        weak->append(below ? percent : 0.0);
        strong->append(below ? 0.0 : percent);
    }
    auto* bars = new QStackedBarSeries;
    bars->append(weak);
    bars->append(strong);
    bars->setBarWidth(0.7);
    chart->addSeries(bars);
    auto* categories = new QBarCategoryAxis;
    categories->append(names);
    categories->setLabelsFont(tahoma(15, true));
    auto* percent = percentAxis(6);
    chart->addAxis(categories, Qt::AlignBottom);
    chart->addAxis(percent, Qt::AlignLeft);
    bars->attachAxis(categories);
    bars->attachAxis(percent);
    return chart;
}

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

// The view gives up the chart it had without deleting it: the chart is handed back.
std::unique_ptr<QChart> replaceChart(QChartView* view, QChart* chart) {
    std::unique_ptr<QChart> old(view->chart());
    view->setChart(chart);
    return old;
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

    m_sentence = new QLabel(this);
    m_sentence->setFont(tahoma(21));
    m_sentence->setAlignment(Qt::AlignCenter);
    m_sentence->setMargin(40);
    m_accuracyView = new QChartView(this);
    m_accuracyView->setRenderHint(QPainter::Antialiasing);
    m_characterView = new QChartView(this);
    m_characterView->setRenderHint(QPainter::Antialiasing);
    m_status = new QLabel(this);
    m_status->setFont(tahoma(15));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(m_sentence, 1);
    layout->addWidget(m_accuracyView, 3);
    layout->addWidget(m_characterView, 2);
    layout->addWidget(m_status);
    resize(1100, 800);
    showSentence(kReading);
}

ProgressWindow::~ProgressWindow() {
    m_ending.store(true);
}

bool ProgressWindow::showsCharts() const {
    return !m_accuracyView->isHidden();
}

void ProgressWindow::showSentence(const QString& sentence) {
    dropIncoming();
    m_sentenceText = sentence;
    fitSentence();
    m_sentence->show();
    m_accuracyView->hide();
    m_characterView->hide();
}

void ProgressWindow::fitSentence() {
    const QString lines =
        fittedLines(m_sentenceText, m_sentence->fontMetrics(),
                    m_sentence->contentsRect().width() - 2 * m_sentence->margin());
    m_sentence->setText(lines);
    m_sentence->setToolTip(lines == m_sentenceText ? QString() : m_sentenceText);
}

void ProgressWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitSentence();
}

void ProgressWindow::refresh() {
    {
        const std::lock_guard lock(m_lock);
        if (m_readWaiting) {
            return;  // a read not yet begun will find what this one would
        }
        m_readWaiting = true;
    }
    ++m_reads;
    m_readJobs.post([this] {
        {
            const std::lock_guard lock(m_lock);
            m_readWaiting = false;
        }
        if (m_ending.load()) {
            return;
        }
        ProgressFigures figures = readFigures(m_reader, m_file);
        {
            const std::lock_guard lock(m_lock);
            m_figures = std::move(figures);
        }
        QMetaObject::invokeMethod(
            &m_receiver, [this] { readEnded(); }, Qt::QueuedConnection);
    });
}

void ProgressWindow::finishReads() {
    m_readJobs.finish();
    do {
        QCoreApplication::sendPostedEvents(&m_receiver, QEvent::MetaCall);
    } while (m_placing);
}

void ProgressWindow::readEnded() {
    // Each read leaves its figures in place of the last one's: when two reads have ended before
    // this runs, the first call draws the later figures and the second finds none.
    std::optional<ProgressFigures> figures;
    {
        const std::lock_guard lock(m_lock);
        figures.swap(m_figures);
    }
    if (figures) {
        showFigures(*figures);
    }
}

void ProgressWindow::retire(std::unique_ptr<QChart> chart) {
    // Deleting a chart takes as long as a good part of building one: it is done in an event of
    // its own, so that the interface thread is held for less at a time.
    if (!chart) {
        return;
    }
    if (m_retired.empty()) {
        QMetaObject::invokeMethod(
            &m_receiver, [this] { m_retired.clear(); }, Qt::QueuedConnection);
    }
    m_retired.push_back(std::move(chart));
}

void ProgressWindow::showFigures(const ProgressFigures& figures) {
    const QString damaged =
        figures.skipped > 0
            ? QStringLiteral("%1 righe danneggiate dello storico non sono state lette.")
                  .arg(figures.skipped)
            : QString();
    if (figures.error) {
        showSentence(QString::fromStdString(figures.error->message));
        m_status->setText(QString());
        return;
    }
    if (figures.levels.empty()) {
        showSentence(kEmpty);
        m_status->setText(damaged);
        return;
    }
    std::size_t exercises = 0;
    for (const persistence::LevelSeries& level : figures.levels) {
        exercises += level.points.size();
    }
    dropIncoming();
    m_incoming = Incoming{
        std::unique_ptr<QChart>(accuracyChart(figures.levels, m_accuracyView->devicePixelRatioF())),
        std::unique_ptr<QChart>(
            characterChart(figures.characters, std::min(exercises, persistence::kRecentExercises))),
        (exercises == 1
             ? QStringLiteral("1 esercizio di ricezione nello storico.")
             : QStringLiteral("%1 esercizi di ricezione nello storico.").arg(exercises)) +
            (damaged.isEmpty() ? QString() : QStringLiteral(" ") + damaged)};
    // Charts already shown keep their picture until both new ones are in place.
    setUpdatesEnabled(false);
    postPlacing();
}

void ProgressWindow::postPlacing() {
    if (!m_placing) {
        m_placing = true;
        QMetaObject::invokeMethod(
            &m_receiver, [this] { placeNext(); }, Qt::QueuedConnection);
    }
}

void ProgressWindow::placeNext() {
    m_placing = false;
    if (!m_incoming) {
        return;
    }
    if (m_incoming->accuracy) {
        retire(replaceChart(m_accuracyView, m_incoming->accuracy.release()));
        postPlacing();
        return;
    }
    retire(replaceChart(m_characterView, m_incoming->characters.release()));
    m_status->setText(m_incoming->status);
    m_incoming.reset();
    m_sentence->hide();
    m_accuracyView->show();
    m_characterView->show();
    setUpdatesEnabled(true);
}

void ProgressWindow::dropIncoming() {
    // The window's updates are held exactly while charts are waiting.
    if (m_incoming) {
        retire(std::move(m_incoming->accuracy));
        retire(std::move(m_incoming->characters));
        m_incoming.reset();
        setUpdatesEnabled(true);
    }
}

void ProgressWindow::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
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
