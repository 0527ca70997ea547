// The receive-training window.
#include "training/training_window.h"
#include "training/fonts.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>
#include <ctime>

#include "persistence/settings_writer.h"
#include "platform/kept_window.h"
#include "platform/window_frame.h"

namespace dittix::training {

namespace {

const QStringList kSpeeds{
    "20 CPM - 4 WPM",   "25 CPM - 5 WPM",   "30 CPM - 6 WPM",   "35 CPM - 7 WPM",
    "40 CPM - 8 WPM",   "45 CPM - 9 WPM",   "50 CPM - 10 WPM",  "55 CPM - 11WPM",
    "60 CPM - 12 WPM",  "65 CPM - 13 WPM",  "70 CPM - 14 WPM",  "75 CPM - 15  WPM",
    "80 CPM - 16 WPM",  "85 CPM - 17 WPM",  "90 CPM - 18 WPM",  "95 CPM - 19 WPM",
    "100 CPM - 20 WPM", "105 CPM - 21 WPM", "110 CPM - 22 WPM", "115 CPM - 23 WPM",
    "120 CPM - 24 WPM", "125 CPM - 25 WPM", "130 CPM - 26 WPM", "135 CPM - 27 WPM",
    "140 CPM - 28 WPM", "145 CPM - 29 WPM", "150 CPM - 30 WPM"};
const QStringList kMinutes{"1 MIN", "2 MIN", "3 MIN", "4 MIN", "5 MIN"};
const QStringList kPauses{"NO", "0.5", "1.0", "1.5", "2.0", "2.5", "3.0"};
const QString kInterpausa = QStringLiteral("INTERPAUSA");
const QString kNoOutput = QStringLiteral("unable to open WAVE_MAPPER device\n");

// The top row was laid out for a client area 973 pixels wide (the scrolling panel's width); the
// window is created wider, and the controls anchored right keep their distance from the right
// edge. `kRowGap` is the room between the last control on the left and the first one on the right.
constexpr int kDesignClientWidth = 973;
constexpr int kMinimumOuterWidth = 980;
constexpr int kCreatedOuterWidth = 36 * 32 + 36;
constexpr int kRowGap = 518 - (424 + 89);

// A control of the top row as designed: its left edge and its width. Labels and the caption-less
// check box were sized to their text in Tahoma; their width here is the room they had.
struct Slot {
    int left;
    int width;
};
// PROGRESSI was added beside LIVELLI, wider where its text needs it.
constexpr std::array<Slot, 5> kLeftSlots{
    {{16, 129}, {152, 180}, {336, 81}, {424, 89}, {424 + 89 + 6, 100}}};
constexpr std::array<Slot, 5> kRightSlots{
    {{518, 638 - 518 - 4}, {638, 57}, {718, 738 - 718 - 6}, {738, 878 - 738 - 4}, {878, 81}}};

QComboBox* list(QWidget* parent, int left, int top, int width, const QStringList& items) {
    auto* box = new QComboBox(parent);
    box->setFont(tahoma(19));
    box->setStyleSheet(QStringLiteral("QComboBox { color: black; background: white; }"));
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);  // the size hint covers every item
    box->addItems(items);
    box->move(left, top);
    box->resize(width, box->sizeHint().height());
    return box;
}

// A yellow 23-pixel label, one text line high (a caption ending in a line break keeps its first
// line in view); its width follows the text, and the top row makes room for it.
QLabel* yellowLabel(QWidget* parent, const QString& text, int left, int top) {
    auto* label = new QLabel(text, parent);
    label->setFont(tahoma(23));
    label->setStyleSheet(QStringLiteral("color: rgb(255, 255, 0);"));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->move(left, top);
    return label;
}

void fitLabel(QLabel* label) {
    const QString firstLine = label->text().section(QLatin1Char('\n'), 0, 0);
    label->resize(label->sizeHint().width(), label->fontMetrics().boundingRect(firstLine).height());
}

}  // namespace

Ttraining::Ttraining(TrainingEnvironment environment, QWidget* parent)
    : QWidget(parent, Qt::Window), m_env(std::move(environment)) {
    FormCreate();
}

void Ttraining::FormCreate() {
    m_resizeLock = true;
    setWindowTitle(QStringLiteral("ESERCIZIO RICEZIONE"));
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    cbLivello = list(this, 16, 8, 129, {});
    cbSpeed = list(this, 152, 8, 180, kSpeeds);
    cbMinuti = list(this, 336, 8, 81, kMinutes);
    showLivelli = new QPushButton(QStringLiteral("LIVELLI"), this);
    showLivelli->setFont(tahoma(13, true));
    showLivelli->setGeometry(424, 12, 89, 25);
    showProgressi = new QPushButton(QStringLiteral("PROGRESSI"), this);
    showProgressi->setFont(tahoma(13, true));
    showProgressi->setGeometry(kLeftSlots[4].left, 12, kLeftSlots[4].width, 25);
    labInter = yellowLabel(this, kInterpausa, 518, 12);
    cbInterpausa = list(this, 638, 8, 57, kPauses);
    cbMostra = new QCheckBox(this);
    cbMostra->move(718, 16);
    cbMostra->resize(cbMostra->sizeHint());
    Label1 = yellowLabel(this, QStringLiteral("MOSTRA CAR"), 738, 12);
    start = new QPushButton(QStringLiteral("START"), this);
    start->setGeometry(878, 8, 81, 33);

    scrollBox = new QScrollArea(this);
    scrollBox->setGeometry(0, 48, 973, 388);
    scrollBox->setFrameShape(QFrame::NoFrame);
    scrollBox->setPalette(black);
    scrollBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_grid = new CharacterGrid;
    m_grid->setColumns(36);
    m_grid->setToolTip(
        QStringLiteral("Durante l'esercizio scrivi ciò che senti: la copia appare in basso e "
                       "viene valutata alla fine."));
    m_layout.columns = 36;
    m_layout.rows = 25;
    scrollBox->setWidget(m_grid);
    m_strip = new CopyStrip(this);
    m_strip->hide();
    setOuterSize(QSize(kCreatedOuterWidth, 594));

    for (int n = 1; n <= m_env.levels.levelCount; ++n) {
        cbLivello->addItem(QStringLiteral("LIVELLO ") + QString::number(n));
    }
    cbLivello->setCurrentIndex(m_env.levels.levelCount > 0 ? 0 : -1);

    layoutTopRow();
    if (outerWidth() < minimumOuterWidth()) {
        setOuterSize(QSize(minimumOuterWidth(), outerHeight()));
    }
    placeAnchoredControls();

    // The last choices; setting them runs no change handler (no tones are composed here).
    const persistence::TrainingChoices& c = m_env.choices;
    cbLivello->setCurrentIndex(c.livEs - 1);
    cbSpeed->setCurrentIndex(positionForSpeed(c.velEs));
    cbMinuti->setCurrentIndex(c.tempoEs - 1);
    cbInterpausa->setCurrentIndex(c.interEs >= 0 && c.interEs < kPauses.size() ? c.interEs : 0);
    cbMostra->setChecked(c.mostraEs);
    m_grid->setShown(cbMostra->isChecked());

    // Change actions run for the operator's choices only.
    connect(cbSpeed, &QComboBox::activated, this, [this] { cbSpeedChange(); });
    connect(cbInterpausa, &QComboBox::activated, this, [this] { cbInterpausaChange(); });
    connect(cbMostra, &QCheckBox::clicked, this, [this] { cbMostraClick(); });
    connect(showLivelli, &QPushButton::clicked, this, [this] { showLivelliClick(); });
    connect(showProgressi, &QPushButton::clicked, this, [this] { showProgressiClick(); });
    connect(start, &QPushButton::clicked, this, [this] { startClick(); });
    connect(m_strip->nextLevel, &QPushButton::clicked, this, [this] { nextLevelClick(); });
    // Esc and the copy's keys reach the window from whichever of its controls has the focus (not
    // from a list's open popup, a window of its own, where Esc only closes the popup).
    installEventFilter(this);
    for (QWidget* control : findChildren<QWidget*>()) {
        if (control->window() == this) {
            control->installEventFilter(this);
        }
    }
    timer.setInterval(200);
    connect(&timer, &QTimer::timeout, this, [this] { timerTimer(); });
    timer.start();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    m_resizeLock = false;
}

void Ttraining::layoutTopRow() {
    // A control whose text needs more room than it was designed with widens: on the left it
    // pushes the controls after it further right, on the right it pushes the ones before it
    // further left. Where the two groups would then meet, the row, and with it the window's
    // narrowest width, grows instead.
    fitLabel(labInter);
    fitLabel(Label1);
    const std::array<QWidget*, kLeftSlots.size()> left{cbLivello, cbSpeed, cbMinuti, showLivelli,
                                                       showProgressi};
    int grown = 0;
    for (std::size_t i = 0; i < left.size(); ++i) {
        const Slot& slot = kLeftSlots[i];
        const int width = std::max(slot.width, left[i]->sizeHint().width());
        left[i]->setGeometry(slot.left + grown, left[i]->y(), width, left[i]->height());
        grown += width - slot.width;
    }
    const int leftEnd = showProgressi->x() + showProgressi->width();

    const auto right = anchoredControls();
    grown = 0;
    for (std::size_t i = right.size(); i-- > 0;) {
        const Slot& slot = kRightSlots[i];
        const int width = std::max(slot.width, right[i]->sizeHint().width());
        right[i]->resize(width, right[i]->height());
        m_anchoredLeft[i] = slot.left + slot.width - grown - width;
        grown += width - slot.width;
    }
    const int widening = std::max(leftEnd + kRowGap - m_anchoredLeft[0], 0);
    m_rowWidth = kDesignClientWidth + widening;
    for (int& x : m_anchoredLeft) {
        x += widening;
    }
}

std::array<QWidget*, 5> Ttraining::anchoredControls() const {
    return {labInter, cbInterpausa, cbMostra, Label1, start};
}

void Ttraining::placeAnchoredControls() {
    // The controls anchored right keep their distance from the right edge they were laid out
    // against.
    const int shift = width() - m_rowWidth;
    const auto right = anchoredControls();
    for (std::size_t i = 0; i < right.size(); ++i) {
        right[i]->move(m_anchoredLeft[i] + shift, right[i]->y());
    }
}

int Ttraining::minimumOuterWidth() const {
    return std::max(kMinimumOuterWidth, m_rowWidth + platform::frameExtent(*this).width());
}

int Ttraining::outerWidth() const {
    return platform::outerSize(*this).width();
}

int Ttraining::outerHeight() const {
    return platform::outerSize(*this).height();
}

void Ttraining::setOuterSize(QSize outer) {
    platform::setOuterSize(*this, outer);
}

void Ttraining::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

void Ttraining::FormResize() {
    if (m_resizeLock) {
        return;
    }
    if (outerWidth() < minimumOuterWidth()) {
        m_resizeLock = true;
        setOuterSize(QSize(minimumOuterWidth(), outerHeight()));
        m_resizeLock = false;
    }
    // The copy strip, when shown, takes its height from the bottom: the grid's rows are counted
    // in what remains.
    const int strip = m_stripShown ? m_strip->heightNeeded() : 0;
    m_layout = gridLayoutFor(outerWidth(), outerHeight() - strip, m_state.charCount);
    m_grid->setColumns(m_layout.columns);
    placeAnchoredControls();
    scrollBox->setGeometry(0, 48, width(), std::max(height() - 48 - strip, 0));
    m_strip->setGeometry(0, height() - strip, width(), strip);
    m_grid->resize(scrollBox->viewport()->width(),
                   m_layout.scrollBar ? m_layout.scrollRange + scrollBox->viewport()->height()
                                      : scrollBox->viewport()->height());
    scrollBox->setVerticalScrollBarPolicy(m_layout.scrollBar ? Qt::ScrollBarAlwaysOn
                                                             : Qt::ScrollBarAlwaysOff);
    scrollBox->verticalScrollBar()->setRange(0, m_layout.scrollBar ? m_layout.scrollRange : 0);
}

void Ttraining::setListsEnabled(bool enabled) {
    cbLivello->setEnabled(enabled);
    cbSpeed->setEnabled(enabled);
    cbMinuti->setEnabled(enabled);
}

void Ttraining::showGrid() {
    m_grid->setShown(cbMostra->isChecked());
}

void Ttraining::startClick() {
    if (m_state.exerciseRunning.load()) {
        m_state.stopRequested = true;
        start->setText(QStringLiteral("START"));
        setListsEnabled(true);
        return;
    }
    const int level = cbLivello->currentIndex();
    if (level < 0 || level >= m_env.levels.levelCount) {
        return;  // no level to draw from
    }
    // The exercise before this one: scored if it ended before the timer saw it, and its last
    // row written when its copy changed after the first.
    if (m_state.playbackEnded.load()) {
        noteEnd();
    }
    m_historyError.clear();
    finalizeExercise();
    const int speed = speedForPosition(cbSpeed->currentIndex());
    m_env.choices.velEs = speed;
    m_state.levelIndex = level;
    m_state.charCount = (cbMinuti->currentIndex() + 1) * speed;
    m_state.dotMs = dotMsFor(speed);
    m_state.extraPauseMs = extraPauseMsFor(cbInterpausa->currentIndex(), m_state.dotMs);
    showGrid();
    m_state.trainingText = generateExercise(m_env.levels.records[static_cast<std::size_t>(level)],
                                            m_state.charCount, m_env.random);
    std::u16string glyphs(m_state.trainingText.substr(
        0,
        std::min<std::size_t>(m_state.trainingText.size(), static_cast<std::size_t>(kGridLabels))));
    for (char16_t& c : glyphs) {
        c = gridGlyph(c);
    }
    m_grid->setCells(glyphs);  // repaints only the cells whose look changes
    if (m_env.trace) {
        m_env.trace(QStringLiteral("exercise ") + QString::fromStdU16String(m_state.trainingText));
    }

    // A new copy; the strip stays only to tell a row of the last exercise that was not written.
    persistence::HistoryExercise exercise;
    exercise.mode = persistence::TrainingMode::Receive;
    exercise.level = level + 1;
    exercise.levelChars = m_env.levels.records[static_cast<std::size_t>(level)].text;
    exercise.cpm = speed;
    exercise.minutes = cbMinuti->currentIndex() + 1;
    exercise.interpause = std::max(cbInterpausa->currentIndex(), 0);
    m_session.begin(std::move(exercise));
    ++m_exercise;
    m_state.charactersStarted = 0;
    m_strip->setCopy({});
    m_strip->setSummary({});
    m_strip->setNextLevelOffered(false);
    m_strip->setMessage(m_historyError, true);
    m_stripShown = !m_historyError.isEmpty();
    m_strip->setVisible(m_stripShown);
    scrollBox->verticalScrollBar()->setValue(0);
    FormResize();

    m_state.stopRequested = false;
    m_state.playbackEnded = false;
    highlightCurrent(0);
    start->setText(QStringLiteral("STOP"));
    setListsEnabled(false);
    m_state.exerciseRunning = true;
    if (m_env.startPlayback) {
        m_env.startPlayback();
    }
}

void Ttraining::cbSpeedChange() {
    const int speed = speedForPosition(cbSpeed->currentIndex());
    m_env.choices.velEs = speed;
    if (m_env.compose) {
        m_env.compose(speed);
    }
}

void Ttraining::cbInterpausaChange() {
    m_state.extraPauseMs = extraPauseMsFor(cbInterpausa->currentIndex(), m_state.dotMs);
}

void Ttraining::cbMostraClick() {
    showGrid();
}

void Ttraining::showLivelliClick() {
    if (m_env.showLevels) {
        m_env.showLevels();
    }
}

void Ttraining::showProgressiClick() {
    if (m_env.showProgress) {
        m_env.showProgress();
    }
}

void Ttraining::timerTimer() {
    if (m_state.playbackEnded.load()) {
        start->setText(QStringLiteral("START"));
        setListsEnabled(true);
        m_state.playbackEnded = false;
        noteEnd();
    }
}

std::filesystem::path Ttraining::historyFile() const {
    return persistence::historyFileFor(m_env.settingsFile);
}

bool Ttraining::copyKey(const QKeyEvent& key) {
    if (!m_session.active()) {
        return false;  // before the first START the keys do what they always did
    }
    // A key with Ctrl, Alt or the system key is a command, not copy (Ctrl+Alt is AltGr on
    // Windows).
    const Qt::KeyboardModifiers held =
        key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (held != Qt::NoModifier && held != (Qt::ControlModifier | Qt::AltModifier)) {
        return false;
    }
    if (key.key() == Qt::Key_Backspace) {
        if (m_session.erase()) {
            copyChanged();
        }
        return true;
    }
    const QString text = key.text();
    if (text.size() != 1 || !m_session.type(text.front().unicode())) {
        return false;
    }
    copyChanged();
    return true;
}

void Ttraining::copyChanged() {
    m_strip->setCopy(QString::fromStdU16String(m_session.copy()));
    if (m_env.trace) {
        m_env.trace(QStringLiteral("copy ") + m_strip->copy());
    }
    if (!m_stripShown) {
        setStripShown(true);
    }
    if (m_session.ended() && m_session.rescore()) {
        scored();
    }
}

void Ttraining::setStripShown(bool shown) {
    m_stripShown = shown;
    m_strip->setVisible(shown);
    FormResize();
}

void Ttraining::noteEnd() {
    if (!m_session.active() || m_session.ended()) {
        return;
    }
    const auto started = static_cast<std::size_t>(std::max(m_state.charactersStarted.load(), 0));
    m_session.end(m_state.trainingText.substr(0, std::min(started, m_state.trainingText.size())));
    if (m_session.rescore()) {
        scored();
    }
}

void Ttraining::scored() {
    // The first score writes the exercise's row; later ones (the copy edited after the end)
    // only show the new score.
    if (auto row = m_session.firstRow(std::time(nullptr))) {
        appendRow(*row);
    }
    showScore();
}

void Ttraining::showScore() {
    const scoring::CopyScore* score = m_session.score();
    if (score == nullptr) {
        return;
    }
    // Every sent character is marked, and shown whatever the show box says.
    const std::size_t marked = std::min(score->marks.size(), static_cast<std::size_t>(kGridLabels));
    for (std::size_t k = 0; k < marked; ++k) {
        const scoring::CharacterMark& mark = score->marks[k];
        const int cell = static_cast<int>(k);
        switch (mark.mark) {
            case scoring::Mark::None:
                break;
            case scoring::Mark::Right:
                m_grid->setMark(cell, CellColour::Right, 0);
                break;
            case scoring::Mark::Wrong:
                m_grid->setMark(cell, CellColour::Wrong, mark.typed);
                break;
            case scoring::Mark::Missed:
                m_grid->setMark(cell, CellColour::Missed, 0);
                break;
        }
    }
    const int before = m_strip->heightNeeded();
    m_strip->setSummary(QString::fromStdU16String(scoreSummary(*score)));
    if (m_env.trace) {
        m_env.trace(QStringLiteral("summary ") + m_strip->summary());
    }
    const NextLevel next =
        nextLevelFor(*score, m_session.exercise().level, m_env.levels.levelCount);
    m_strip->setNextLevelOffered(next.offered && !m_session.isNextLevelTaken());
    if (!m_historyError.isEmpty()) {
        m_strip->setMessage(m_historyError, true);
    } else if (m_session.isNextLevelTaken()) {
        m_strip->setMessage(QStringLiteral("Livello %1 scelto: premi START per cominciare.")
                                .arg(m_session.exercise().level + 1),
                            false);
    } else {
        m_strip->setMessage(QString::fromStdU16String(nextLevelMessage(*score, next)), false);
    }
    if (!m_stripShown) {
        setStripShown(true);
    } else if (m_strip->heightNeeded() != before) {
        FormResize();
    }
}

void Ttraining::nextLevelClick() {
    const scoring::CopyScore* score = m_session.score();
    if (score == nullptr || m_session.isNextLevelTaken() || m_state.exerciseRunning.load()) {
        return;
    }
    const NextLevel next =
        nextLevelFor(*score, m_session.exercise().level, m_env.levels.levelCount);
    if (!next.offered) {
        return;
    }
    cbLivello->setCurrentIndex(next.level - 1);
    m_session.nextLevelTaken();
    showScore();
}

void Ttraining::appendRow(const persistence::HistoryRow& row) {
    // Counted as written from now: a final row with the same copy is not asked for again. If the
    // append fails, rowAppended takes that back (for the exercise still shown).
    m_session.rowWritten(row);
    auto done = [this, row,
                 exercise = m_exercise](const std::optional<persistence::HistoryError>& error) {
        rowAppended(row, exercise, error);
    };
    persistence::appendHistoryRow(m_env.appendHistory, historyFile(), row, std::move(done));
}

void Ttraining::rowAppended(const persistence::HistoryRow& row, std::uint64_t exercise,
                            const std::optional<persistence::HistoryError>& error) {
    if (!error) {
        if (exercise == m_exercise) {
            m_historyError.clear();
        }
        if (m_env.historyChanged) {
            m_env.historyChanged();
        }
        return;
    }
    if (exercise == m_exercise) {
        m_session.rowFailed(row);  // its final row is tried again at the next START or close
    }
    m_historyError = QString::fromStdString(error->message);
    // A window closed (or closing) may not be seen again: the operator is told now.
    if (m_closing || !isVisible()) {
        if (m_env.historyFailed) {
            m_env.historyFailed(error->message);
        }
        return;
    }
    if (exercise == m_exercise && m_session.score() != nullptr) {
        showScore();
        return;
    }
    m_strip->setMessage(m_historyError, true);
    setStripShown(true);
}

void Ttraining::finalizeExercise() {
    if (const auto row = m_session.finalRow()) {
        appendRow(*row);
        showScore();
    }
}

void Ttraining::escape() {
    if (m_state.exerciseRunning.load()) {
        m_state.stopRequested = true;
        start->setText(QStringLiteral("START"));
        setListsEnabled(true);
        showGrid();
        m_grid->update();
    } else {
        close();
    }
}

void Ttraining::showNoOutput() {
    labInter->setText(kNoOutput);
    // The message is wider than "INTERPAUSA": the top row makes room for it.
    layoutTopRow();
    if (outerWidth() < minimumOuterWidth()) {
        setOuterSize(QSize(minimumOuterWidth(), outerHeight()));
    }
    placeAnchoredControls();
}

void Ttraining::highlightCurrent(int current) {
    if (current > 0) {
        setLabelYellow(current - 1);
    }
    m_grid->setColour(current, CellColour::Highlight);
    if (m_env.trace) {
        m_env.trace(QStringLiteral("sending ") + QString::number(current));
    }
}

void Ttraining::setLabelYellow(int label) {
    m_grid->setColour(label, CellColour::Yellow);
}

void Ttraining::FormClose() {
    m_state.stopRequested = true;
    // The window may not be seen again: a row that cannot be written is told, not shown.
    m_closing = true;
    finalizeExercise();
    m_closing = false;
    persistence::TrainingChoices& c = m_env.choices;
    c.livEs = cbLivello->currentIndex() + 1;
    c.velEs = speedForPosition(cbSpeed->currentIndex());
    c.tempoEs = cbMinuti->currentIndex() + 1;
    c.interEs = cbInterpausa->currentIndex();
    c.mostraEs = cbMostra->isChecked();
    m_env.save(persistence::trainingSaveEntries(c), m_env.saveFailed);
    if (m_env.returnFocus) {
        m_env.returnFocus();
    }
}

void Ttraining::closeEvent(QCloseEvent* event) {
    FormClose();
    platform::hideKeepingWindow(*this, *event);  // the grid and the text stay
}

void Ttraining::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        escape();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool Ttraining::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            escape();
            return true;  // consumed
        }
        if (copyKey(*key)) {
            return true;  // taken as copy: no list search, no button pressed by Space
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace dittix::training
