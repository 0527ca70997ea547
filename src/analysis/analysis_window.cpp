// The fist analysis window.
#include "analysis/analysis_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

#include "analysis/fist_advice.h"
#include "persistence/course.h"
#include "persistence/training_history.h"
#include "platform/kept_window.h"
#include "scoring/score_summary.h"
#include "training/exercise.h"

namespace dittix::analysis {

namespace {

const QColor kDotColour(37, 99, 235);
const QColor kDashColour(234, 118, 0);
const QColor kElementGapColour(120, 144, 180);
const QColor kCharacterGapColour(46, 160, 67);
const QColor kWordGapColour(142, 68, 173);
const QColor kThresholdColour(200, 0, 0);
const QColor kSuggestedColour(0, 130, 0);
const QColor kCloseColour(110, 110, 110);

const QString kNone = QStringLiteral("—");
const QString kFreeText = QStringLiteral("TESTO LIBERO");

QString toQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

std::u16string toU16(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

// A number with an Italian decimal comma.
QString decimal(double value, int decimals) {
    return QString::number(value, 'f', decimals).replace(QLatin1Char('.'), QLatin1Char(','));
}

QString percent(double value) {
    return QString::number(static_cast<int>(std::lround(value))) + QStringLiteral(" %");
}

QString ms(double ticks) {
    return QString::number(static_cast<long>(std::lround(ticks * fist::kTickMs))) +
           QStringLiteral(" ms");
}

QLabel* label(QWidget* parent, const QString& text = {}) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    // Room above and below the text, so that accents and descenders are never cut off.
    l->setContentsMargins(0, 2, 0, 2);
    return l;
}

QPushButton* button(QWidget* parent, const QString& text) {
    auto* b = new QPushButton(text, parent);
    // Clicked with the mouse; the keyboard stays with the window, whose arrow keys key.
    b->setFocusPolicy(Qt::NoFocus);
    b->setMinimumWidth(b->sizeHint().width() + 16);
    return b;
}

QString verdictFor(const FistAdvice& advice, bool paddles) {
    const QString measured = ms(advice.measuredTicks);
    const QString threshold = ms(advice.thresholdTicks);
    const QString decode =
        paddles ? QStringLiteral("Decode time P") : QStringLiteral("Decode time");
    const QString blank = paddles ? QStringLiteral("Blank time P") : QStringLiteral("Blank time");
    switch (advice.kind) {
        case AdviceKind::DotsReadAsDashes:
            return QStringLiteral(
                       "I punti (%1) non stanno sotto la soglia punto/linea (%2):\n"
                       "il decodificatore li legge come linee.")
                .arg(measured, threshold);
        case AdviceKind::DashesReadAsDots:
            return QStringLiteral(
                       "Le linee (%1) stanno sotto la soglia punto/linea (%2):\n"
                       "il decodificatore le legge come punti.")
                .arg(measured, threshold);
        case AdviceKind::CharactersBreakApart:
            return QStringLiteral(
                       "Le pause tra gli elementi (%1) arrivano a «%3» (%2):\n"
                       "i caratteri si spezzano.")
                .arg(measured, threshold, decode);
        case AdviceKind::CharactersRunTogether:
            return QStringLiteral(
                       "Le pause tra i caratteri (%1) restano sotto «%3» (%2):\n"
                       "i caratteri si uniscono, spesso in «ER».")
                .arg(measured, threshold, decode);
        case AdviceKind::WordsBreakApart:
            return QStringLiteral(
                       "Le pause tra i caratteri (%1) arrivano a «%3» (%2):\n"
                       "compaiono spazi dentro le parole.")
                .arg(measured, threshold, blank);
        case AdviceKind::WordsRunTogether:
            return QStringLiteral(
                       "Le pause tra le parole (%1) restano sotto «%3» (%2):\n"
                       "le parole si uniscono.")
                .arg(measured, threshold, blank);
        case AdviceKind::WithinThresholds:
            break;
    }
    return QStringLiteral("Punti, linee e pause cadono dalla parte giusta delle soglie.");
}

// Histogram bins as the chart draws them.
Bins binsOf(const std::array<std::uint64_t, fist::kHistogramBins>& counts) {
    return counts;
}

}  // namespace

Tanalisi::Tanalisi(AnalysisEnvironment environment, QWidget* parent)
    : QWidget(parent, Qt::Window), m_env(std::move(environment)) {
    FormCreate();
}

void Tanalisi::FormCreate() {
    setWindowTitle(QStringLiteral("ANALISI MANIPOLAZIONE"));
    setAutoFillBackground(true);

    keyDownChart = new HistogramView(this);
    gapChart = new HistogramView(this);
    recentChart = new RecentView(this);

    static constexpr std::array<const char*, kFigureRows> kCaptions{"Velocità (PARIS)",
                                                                    "Punto · linea",
                                                                    "Linea : punto",
                                                                    "Pausa tra elementi : punto",
                                                                    "Pausa tra caratteri : punto",
                                                                    "Pausa tra parole : punto",
                                                                    "Caratteri «ER»"};
    static constexpr std::array<const char*, kFigureRows> kIdeals{
        "", "", "ideale 3,0", "ideale 1,0", "ideale 3,0", "ideale 7,0", ""};
    auto* figures = new QGridLayout;
    figures->setHorizontalSpacing(14);
    figures->setVerticalSpacing(3);
    for (int row = 0; row < kFigureRows; ++row) {
        const auto r = static_cast<std::size_t>(row);
        figureCaption[r] = label(this, QString::fromUtf8(kCaptions[r]));
        figureValue[r] = label(this, kNone);
        QFont bold = figureValue[r]->font();
        bold.setBold(true);
        figureValue[r]->setFont(bold);
        figureIdeal[r] = label(this, QString::fromUtf8(kIdeals[r]));
        figureSpread[r] = label(this);
        figures->addWidget(figureCaption[r], row, 0);
        figures->addWidget(figureValue[r], row, 1);
        figures->addWidget(figureIdeal[r], row, 2);
        figures->addWidget(figureSpread[r], row, 3);
    }
    figures->setColumnStretch(3, 1);

    labVerdict = label(this);
    QFont bold = labVerdict->font();
    bold.setBold(true);
    labVerdict->setFont(bold);
    labSuggestion = label(this);
    btApplica = button(this, QStringLiteral("APPLICA"));
    btApplica->setToolTip(QStringLiteral(
        "Porta la barra «Verticale» delle impostazioni al valore consigliato e lo salva"));
    btApplica->hide();
    btAzzera = button(this, QStringLiteral("AZZERA"));
    btAzzera->setToolTip(QStringLiteral("Ricomincia le misure da zero"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btApplica);
    buttons->addWidget(btAzzera);
    buttons->addStretch(1);
    auto* advice = new QVBoxLayout;
    advice->addWidget(labVerdict);
    advice->addSpacing(6);
    advice->addWidget(labSuggestion);
    advice->addLayout(buttons);
    advice->addStretch(1);

    labDrill = label(this, QStringLiteral("ESERCIZIO DI TRASMISSIONE"));
    labDrill->setFont(bold);
    cbTesto = new QComboBox(this);
    cbTesto->setFocusPolicy(Qt::NoFocus);
    cbTesto->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    const persistence::TrainingLevels& levels = offeredLevels();
    for (std::int32_t n = 1; n <= levels.levelCount; ++n) {
        cbTesto->addItem(QStringLiteral("LIVELLO ") + QString::number(n));
    }
    cbTesto->addItem(kFreeText);
    cbTesto->setCurrentIndex(persistence::levelChoiceWithin(m_env.choices.livEs, levels) - 1);
    edTesto = new QLineEdit(this);
    edTesto->setMaxLength(kMaxTargetText);
    edTesto->setPlaceholderText(QStringLiteral("il testo da trasmettere"));
    edTesto->setEnabled(false);
    btVia = button(this, QStringLiteral("VIA"));
    btVia->setToolTip(QStringLiteral("Una nuova riga da trasmettere"));
    btFine = button(this, QStringLiteral("FINE"));
    btFine->setToolTip(QStringLiteral("Chiude la riga e ne dà il punteggio"));
    btFine->setEnabled(false);
    auto* drillRow = new QHBoxLayout;
    drillRow->addWidget(labDrill);
    drillRow->addSpacing(12);
    drillRow->addWidget(cbTesto);
    drillRow->addWidget(edTesto, 1);
    drillRow->addWidget(btVia);
    drillRow->addWidget(btFine);
    lineTarget = new MarkedLineView(QStringLiteral("Da trasmettere"), this);
    lineKeyed = new MarkedLineView(QStringLiteral("Trasmesso"), this);
    labSummary = label(this, QStringLiteral("Scegli un livello o scrivi un testo, premi VIA e "
                                            "trasmetti la riga: ogni carattere si colora "
                                            "quando è decodificato."));

    auto* charts = new QHBoxLayout;
    charts->addWidget(keyDownChart, 1);
    charts->addWidget(gapChart, 1);
    auto* middle = new QHBoxLayout;
    middle->addLayout(figures);
    middle->addSpacing(24);
    middle->addLayout(advice, 1);
    auto* all = new QVBoxLayout(this);
    all->addLayout(charts, 3);
    all->addLayout(middle);
    all->addWidget(recentChart, 2);
    all->addSpacing(6);
    all->addLayout(drillRow);
    all->addWidget(lineTarget);
    all->addWidget(lineKeyed);
    all->addWidget(labSummary);

    connect(btAzzera, &QPushButton::clicked, this, [this] { azzeraClick(); });
    connect(btApplica, &QPushButton::clicked, this, [this] { applicaClick(); });
    connect(btVia, &QPushButton::clicked, this, [this] { viaClick(); });
    connect(btFine, &QPushButton::clicked, this, [this] { fineClick(); });
    connect(cbTesto, &QComboBox::currentIndexChanged, this, [this] { cbTestoChange(); });
    // Return in the text field starts the line, as VIA does.
    connect(edTesto, &QLineEdit::returnPressed, this, [this] { viaClick(); });

    refreshTimer.setInterval(200);
    connect(&refreshTimer, &QTimer::timeout, this, [this] { refresh(); });

    resize(std::max(sizeHint().width(), 1000), sizeHint().height());
}

const persistence::TrainingLevels& Tanalisi::offeredLevels() const {
    return persistence::levelsToOffer(m_env.levels);
}

void Tanalisi::showAnalysis() {
    if (!isVisible()) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            move(screen->availableGeometry().center() - rect().center());
        }
    }
    show();
    raise();
    activateWindow();
    setFocus();
}

void Tanalisi::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
    refreshTimer.start();
}

void Tanalisi::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    refreshTimer.stop();
}

void Tanalisi::closeEvent(QCloseEvent* event) {
    if (m_drill.running()) {
        m_drill.stop();
        btFine->setEnabled(false);
        labSummary->setText(QStringLiteral("Riga interrotta: nessun punteggio salvato."));
    }
    if (m_env.focusMainWindow) {
        m_env.focusMainWindow();
    }
    platform::hideKeepingWindow(*this, *event);
}

void Tanalisi::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Tanalisi::refresh() {
    const bool paddles = m_env.modes.paddleMode;
    fist::FistSnapshot snapshot = m_env.statistics.snapshot(m_env.speeds.dotBase);
    if (snapshot.keyerMade != paddles) {
        // Measured in the other mode: nothing of the current one yet.
        snapshot = fist::FistStatistics().snapshot(m_env.speeds.dotBase);
        snapshot.keyerMade = paddles;
    }
    showCharts(snapshot, paddles);
    showFigures(snapshot, paddles);
    showDrill();
    logFigures(snapshot, paddles);
}

void Tanalisi::showCharts(const fist::FistSnapshot& s, bool paddles) {
    const keying::TimingParameters& t = m_env.timing;
    keyDownChart->setVisible(!paddles);
    if (!paddles) {
        HistogramData down;
        down.title = QStringLiteral("TASTO GIÙ: DURATA DEGLI ELEMENTI (ms)");
        down.series = {{QStringLiteral("letto come punto"), kDotColour, binsOf(s.keyDown.dots)},
                       {QStringLiteral("letto come linea"), kDashColour, binsOf(s.keyDown.dashes)}};
        down.lines = {{QStringLiteral("Dot time"), kThresholdColour, t.dotTime, false}};
        if (s.figures) {
            // Beyond twice a heavy dash: a key held down, not an element.
            down.rangeCap = static_cast<std::int32_t>(std::ceil(8 * s.figures->dotTicks()));
        }
        if (s.suggestion && s.suggestion->dotTime != t.dotTime) {
            down.lines.push_back(
                {QStringLiteral("consigliato"), kSuggestedColour, s.suggestion->dotTime, true});
        }
        keyDownChart->setData(std::move(down));
    }

    const GapThresholds at = gapThresholds(t, paddles);
    HistogramData gaps;
    gaps.title = QStringLiteral("TASTO SU: DURATA DELLE PAUSE (ms)");
    gaps.series = {
        {QStringLiteral("tra elementi"), kElementGapColour, binsOf(s.gaps.elementGaps)},
        {QStringLiteral("fine carattere"), kCharacterGapColour, binsOf(s.gaps.characterGaps)},
        {QStringLiteral("fine parola"), kWordGapColour, binsOf(s.gaps.wordGaps)}};
    if (!paddles) {
        gaps.lines.push_back({QStringLiteral("chiusura elemento"), kCloseColour, 3, true});
    }
    gaps.lines.push_back({paddles ? QStringLiteral("Decode time P") : QStringLiteral("Decode time"),
                          kCharacterGapColour.darker(120), at.character, false});
    gaps.lines.push_back({paddles ? QStringLiteral("Blank time P") : QStringLiteral("Blank time"),
                          kWordGapColour, at.word, false});
    if (s.figures) {
        // Pauses between attempts are left out of the figures, and do not stretch the axis.
        gaps.rangeCap =
            static_cast<std::int32_t>(std::ceil(fist::kPauseDots * s.figures->dotTicks()));
    }
    gapChart->setData(std::move(gaps));

    RecentData recent;
    recent.items = s.recent;
    if (s.figures) {
        recent.ideal = s.figures->ideal;
        recent.firstDashTicks = s.figures->firstDashTicks;
    }
    recent.dotTime = std::max(paddles ? t.dotTimeP : t.dotTime, 1);
    recentChart->setData(std::move(recent));
}

void Tanalisi::showFigures(const fist::FistSnapshot& s, bool paddles) {
    for (const int row : {kElementsRow, kDashToDotRow, kElementGapRow}) {
        const auto r = static_cast<std::size_t>(row);
        for (QLabel* l : {figureCaption[r], figureValue[r], figureIdeal[r], figureSpread[r]}) {
            l->setVisible(!paddles);
        }
    }
    const auto set = [this](int row, const QString& value, const QString& spread) {
        figureValue[static_cast<std::size_t>(row)]->setText(value);
        figureSpread[static_cast<std::size_t>(row)]->setText(spread);
    };
    const auto gapRow = [&](int row, const std::optional<fist::GapFigure>& gap) {
        if (gap) {
            set(row, decimal(gap->toDot, 1),
                QStringLiteral("dispersione ") + percent(gap->spreadPercent));
        } else {
            set(row, kNone, {});
        }
    };
    if (const auto& f = s.figures) {
        set(kSpeedRow,
            decimal(f->wpm, 1) + QStringLiteral(" WPM · ") +
                QString::number(static_cast<long>(std::lround(f->cpm))) + QStringLiteral(" CPM"),
            {});
        set(kElementsRow, ms(f->dotTicks()) + QStringLiteral(" · ") + ms(f->dashMs / fist::kTickMs),
            QStringLiteral("dispersione ") + percent(f->dotSpreadPercent) + QStringLiteral(" · ") +
                percent(f->dashSpreadPercent));
        set(kDashToDotRow, decimal(f->dashToDot, 1), {});
        gapRow(kElementGapRow, f->elementGap);
        gapRow(kCharacterGapRow, f->characterGap);
        gapRow(kWordGapRow, f->wordGap);
    } else {
        for (const int row : {kSpeedRow, kElementsRow, kDashToDotRow, kElementGapRow,
                              kCharacterGapRow, kWordGapRow}) {
            set(row, kNone, {});
        }
    }
    if (s.unknownPercent) {
        set(kUnknownRow, percent(*s.unknownPercent),
            QStringLiteral("%1 su %2").arg(s.unknownCharacters).arg(s.characters));
    } else {
        set(kUnknownRow, kNone, {});
    }

    // Why, and what to set.
    m_suggested.reset();
    if (!s.figures) {
        labVerdict->setText(QStringLiteral("Servono almeno %1 elementi, punti e linee,\n"
                                           "per misurare la manipolazione.")
                                .arg(fist::kMinKeyDownElements));
    } else {
        labVerdict->setText(verdictFor(adviseOn(*s.figures, m_env.timing, paddles), paddles));
    }
    const std::int32_t current = m_env.speeds.cpm;
    if (paddles) {
        labSuggestion->setText(
            QStringLiteral("Palette: i punti e le linee li forma il keyer,\n"
                           "nessun consiglio per il tasto verticale."));
    } else if (!s.suggestion) {
        labSuggestion->setText(QStringLiteral("«Verticale» consigliata: —"));
    } else if (s.suggestion->verticale != current) {
        m_suggested = s.suggestion->verticale;
        labSuggestion->setText(QStringLiteral("«Verticale» consigliata: %1 CPM (ora %2 CPM)\n"
                                              "soglia punto/linea %3 (ora %4)")
                                   .arg(s.suggestion->verticale)
                                   .arg(current)
                                   .arg(ms(s.suggestion->dotTime), ms(m_env.timing.dotTime)));
    } else {
        labSuggestion->setText(
            QStringLiteral("«Verticale» %1 CPM: è già quella adatta a questa mano.").arg(current));
    }
    btApplica->setVisible(m_suggested.has_value());
}

void Tanalisi::azzeraClick() {
    m_env.statistics.reset();
    refresh();
}

void Tanalisi::applicaClick() {
    if (!m_suggested || !m_env.applyVerticale) {
        return;
    }
    m_env.applyVerticale(*m_suggested);
    refresh();
}

void Tanalisi::cbTestoChange() {
    const bool free = cbTesto->currentText() == kFreeText;
    edTesto->setEnabled(free);
    if (free) {
        edTesto->setFocus();
    }
}

void Tanalisi::viaClick() {
    std::u16string target;
    m_drillLevel = 0;
    if (cbTesto->currentText() == kFreeText) {
        target = targetFromText(toU16(edTesto->text()));
        if (target.empty()) {
            labSummary->setText(
                QStringLiteral("Scrivi nel campo un testo con caratteri dell'alfabeto Morse."));
            edTesto->setFocus();
            return;
        }
    } else {
        const persistence::TrainingLevels& levels = offeredLevels();
        const int index = std::clamp(cbTesto->currentIndex(), 0, levels.levelCount - 1);
        const persistence::Tlivello& level = levels.records[static_cast<std::size_t>(index)];
        target = targetFromText(training::generateExercise(level, kTargetCharacters, m_env.random));
        if (target.empty()) {
            labSummary->setText(
                QStringLiteral("Questo livello non ha caratteri che si possano trasmettere."));
            return;
        }
        m_drillLevel = index + 1;
    }
    m_drill.start(std::move(target));
    btFine->setEnabled(true);
    labSummary->setText(QStringLiteral("Trasmetti la riga; FINE la chiude prima."));
    setFocus();  // the keyboard back to the window, whose arrow keys key
    showDrill();
}

void Tanalisi::fineClick() {
    if (m_drill.running()) {
        finishDrill();
    }
}

void Tanalisi::showDrill() {
    if (m_drill.revision() == m_drillShown) {
        return;
    }
    m_drillShown = m_drill.revision();
    m_scorer.score(m_drill.target(), m_drill.keyed(), m_score);
    const bool finished = !m_drill.running();
    lineTarget->setLine(m_drill.target(), targetMarks(m_score, finished));
    lineKeyed->setLine(m_drill.keyed(), keyedMarks(m_score, m_drill.keyed()));
    if (m_drill.running() && m_drill.lineComplete()) {
        finishDrill();
    }
}

void Tanalisi::finishDrill() {
    m_drill.stop();
    btFine->setEnabled(false);
    m_scorer.score(m_drill.target(), m_drill.keyed(), m_score);
    lineTarget->setLine(m_drill.target(), targetMarks(m_score, true));
    lineKeyed->setLine(m_drill.keyed(), keyedMarks(m_score, m_drill.keyed()));

    persistence::HistoryExercise exercise;
    exercise.mode = persistence::TrainingMode::Send;
    exercise.level = m_drillLevel;
    if (m_drillLevel > 0) {
        exercise.levelChars =
            offeredLevels().records[static_cast<std::size_t>(m_drillLevel - 1)].text;
    }
    exercise.cpm = m_env.modes.paddleMode ? m_env.speeds.cpmPalette : m_env.speeds.cpm;
    exercise.minutes = drillMinutes(m_drill.keyedTicks());
    const std::time_t when = m_env.clock ? m_env.clock() : std::time(nullptr);
    const persistence::HistoryRow row =
        persistence::makeHistoryRow(exercise, m_drill.target(), m_drill.keyed(), when);
    const QString summary = toQString(scoring::formatScoreSummary(m_score));
    labSummary->setText(summary);
    // The row's failure, when it comes, is added under its summary if that is still shown.
    auto done = [this, summary](const std::optional<persistence::HistoryError>& error) {
        if (error && labSummary->text() == summary) {
            labSummary->setText(summary + QStringLiteral("\n") +
                                QString::fromStdString(error->message));
        }
    };
    persistence::appendHistoryRow(
        m_env.appendHistory, persistence::historyFileFor(m_env.settingsFile), row, std::move(done));
}

void Tanalisi::logFigures(const fist::FistSnapshot& s, bool paddles) {
    if (!m_env.figuresShown) {
        return;
    }
    const auto number = [](const std::optional<double>& v, int decimals) {
        return v ? QString::number(*v, 'f', decimals) : QStringLiteral("-");
    };
    const auto gap = [&](const std::optional<fist::GapFigure>& g) {
        return number(g ? std::optional<double>(g->toDot) : std::nullopt, 2);
    };
    const fist::FistFigures* f = s.figures ? &*s.figures : nullptr;
    QString line = QStringLiteral(
                       "mode=%1 elements=%2 wpm=%3 cpm=%4 dot_ms=%5 dash_dot=%6 element_gap=%7 "
                       "character_gap=%8 word_gap=%9")
                       .arg(paddles ? QStringLiteral("paddles") : QStringLiteral("straight"))
                       .arg(s.keyDown.total())
                       .arg(number(f ? std::optional<double>(f->wpm) : std::nullopt, 1),
                            number(f ? std::optional<double>(f->cpm) : std::nullopt, 0),
                            number(f ? std::optional<double>(f->dotMs) : std::nullopt, 0),
                            number(f ? std::optional<double>(f->dashToDot) : std::nullopt, 2),
                            f ? gap(f->elementGap) : QStringLiteral("-"),
                            f ? gap(f->characterGap) : QStringLiteral("-"),
                            f ? gap(f->wordGap) : QStringLiteral("-"));
    line += QStringLiteral(" er_percent=%1 suggestion=%2 verticale=%3")
                .arg(number(s.unknownPercent, 1),
                     s.suggestion ? QString::number(s.suggestion->verticale) : QStringLiteral("-"))
                .arg(m_env.speeds.cpm);
    // Where the buttons are, for a test that clicks them.
    if (layout() != nullptr) {
        layout()->activate();  // APPLICA may have been shown just now
    }
    const auto at = [](const QWidget* w) {
        const QPoint centre = w->geometry().center();
        return w->isHidden() ? QStringLiteral("-")
                             : QStringLiteral("%1,%2").arg(centre.x()).arg(centre.y());
    };
    line +=
        QStringLiteral(" applica=%1 azzera=%2 via=%3").arg(at(btApplica), at(btAzzera), at(btVia));
    // The drill: its target and what was keyed (blanks as '_'), and the summary at the end.
    const auto field = [](std::u16string_view text) {
        QString shown = toQString(text);
        return shown.isEmpty() ? QStringLiteral("-")
                               : shown.replace(QLatin1Char(' '), QLatin1Char('_'));
    };
    line += QStringLiteral(" target=%1 keyed=%2 summary=%3")
                .arg(field(m_drill.target()), field(m_drill.keyed()),
                     labSummary->text().replace(QLatin1Char('\n'), QLatin1Char(' ')));
    if (line != m_figuresLine) {
        m_figuresLine = line;
        m_env.figuresShown(line);
    }
}

}  // namespace dittix::analysis
