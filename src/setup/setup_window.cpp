// The setup window.
#include "setup/setup_window.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

#include <algorithm>

#include "persistence/settings_writer.h"
#include "platform/kept_window.h"
#include "platform/window_frame.h"

namespace dittix::setup {

namespace {

constexpr int kMinSpeed = 25;
constexpr int kMaxSpeed = 120;
constexpr std::array<int, kMaxFoundPorts> kRowTops{240, 272, 304, 336, 368};
constexpr QSize kDesignSize(348, 399);
// Room kept between the rightmost control and the window's right edge, as designed beside the
// speed labels.
constexpr int kRightMargin = 348 - (304 + 36);
const QColor kActiveGreen(0, 128, 0);

QFont windowFont() {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    return font;
}

QFont boldFont() {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(16);
    font.setBold(true);
    return font;
}

template <class W>
W* place(W* widget, int left, int top, int width, int height) {
    widget->setGeometry(left, top, width, height);
    return widget;
}

// Labels and check boxes are laid out for an 8-point Tahoma; where the face in use is wider they
// grow from their designed place to fit their text instead of cutting it off.
template <class W>
W* fit(W* widget) {
    widget->resize(widget->size().expandedTo(widget->sizeHint()));
    return widget;
}

QScrollBar* speedBar(QWidget* parent) {
    auto* bar = new QScrollBar(Qt::Horizontal, parent);
    bar->setRange(kMinSpeed, kMaxSpeed);
    bar->setValue(50);
    bar->setSingleStep(1);
    bar->setPageStep(5);
    bar->setFocusPolicy(Qt::StrongFocus);
    return bar;
}

QString cpmText(int cpm) {
    return QString::number(cpm) + QStringLiteral(" CPM");
}

// Widens a label so that `widest` fits in it as well as its own text: the speed labels keep one
// width while the bars move, instead of growing at 100.
QLabel* reserveFor(QLabel* label, const QString& widest) {
    const int frame = label->width() - label->contentsRect().width();
    // Measured as the label measures its own text for its size hint.
    const QRect text = label->fontMetrics().boundingRect(0, 0, QWIDGETSIZE_MAX, QWIDGETSIZE_MAX,
                                                         Qt::AlignLeft | Qt::AlignTop, widest);
    label->resize(std::max(label->width(), text.width() + frame), label->height());
    return label;
}

}  // namespace

LineIndicator::LineIndicator(QWidget* parent) : QWidget(parent) {}

void LineIndicator::setActive(bool active) {
    if (active != m_active) {
        m_active = active;
        update();
    }
}

void LineIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), m_active ? kActiveGreen : palette().color(QPalette::Button));
    painter.setPen(Qt::black);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

Tsetup::Tsetup(SetupState state, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_state(std::move(state)),
      m_scan(m_state.keyPort.ports(), [this] { scanReady(); }) {
    FormCreate();
}

Tsetup::~Tsetup() {
    // The program lets a running scan finish before it ends (finishScan); a window destroyed
    // during one still makes the saves that waited for it, with the port as it stands. The scan
    // itself is stopped and its ports closed as it goes.
    for (const Waiting& waiting : m_waiting) {
        if (waiting.kind == Waiting::Kind::Save) {
            save(waiting, false);
        }
    }
}

void Tsetup::FormCreate() {
    setWindowTitle(QStringLiteral("Settings"));
    setFont(windowFont());
    setFixedSize(kDesignSize);
    setAutoFillBackground(true);

    Label1 = fit(place(new QLabel(QStringLiteral("Verticale"), this), 16, 16, 41, 13));
    sbCPM = place(speedBar(this), 72, 16, 217, 17);
    // The widest speed the labels show in use: the straight-key speed is stored up to 150.
    const QString widestSpeed = cpmText(150);
    lcpm = fit(place(new QLabel(QStringLiteral("40 CPM"), this), 304, 18, 36, 13));
    reserveFor(lcpm, widestSpeed);
    Label2 = fit(place(new QLabel(QStringLiteral("Palette"), this), 16, 40, 34, 13));
    sbCPMpalette = place(speedBar(this), 72, 40, 217, 17);
    lcpmPalette = fit(place(new QLabel(QStringLiteral("40 CPM"), this), 304, 42, 36, 13));
    reserveFor(lcpmPalette, widestSpeed);
    cbPalette = fit(place(new QCheckBox(QStringLiteral("Palette"), this), 16, 72, 57, 17));
    cbMemoriaPunto =
        fit(place(new QCheckBox(QStringLiteral("Memoria Punto Palette"), this), 88, 72, 137, 17));
    cbMemoriaPunto->setChecked(true);
    cbLento = fit(place(new QCheckBox(QStringLiteral("Verticale Lento"), this), 16, 96, 89, 17));
    Label4 = fit(place(new QLabel(QStringLiteral("Porta Seriale"), this), 16, 140, 61, 13));
    seriale = place(new QComboBox(this), 88, 136, 113, 21);
    unable = place(new QLabel(this), 92, 160, 229, 13);
    ricercaSer =
        place(new QPushButton(QStringLiteral("Ricerca Porta Seriale"), this), 16, 176, 185, 25);
    ricercaSer->setFont(boldFont());
    ricercaSer->hide();
    labTitolo = place(new QLabel(QStringLiteral("PORTA SERIALE TASTO"), this), 16, 217, 194, 19);
    labTitolo->setFont(boldFont());
    fit(labTitolo);

    m_rows = new QButtonGroup(this);
    for (int i = 0; i < kMaxFoundPorts; ++i) {
        const auto row = static_cast<std::size_t>(i);
        rbCom[row] = place(new QRadioButton(this), 32, kRowTops[row], 17, 25);
        m_rows->addButton(rbCom[row]);
        labCom[row] = place(new QLabel(QStringLiteral("COM"), this), 72, kRowTops[row] + 2, 37, 19);
        labCom[row]->setFont(boldFont());
        fit(labCom[row]);
        shCom[row] = place(new LineIndicator(this), 172, kRowTops[row], 25, 25);
        rbCom[row]->hide();
        labCom[row]->hide();
        shCom[row]->hide();
    }
    rbCom[0]->setChecked(true);

    for (int n = platform::kFirstPortNumber; n <= platform::kLastPortNumber; ++n) {
        seriale->addItem(QStringLiteral("COM") + QString::number(n));
        seriale->setItemData(n - 1, QString::fromStdString(m_state.keyPort.devicePath(n)),
                             Qt::ToolTipRole);
    }
    seriale->setCurrentIndex(-1);
    fitWidth();

    // Keyboard order of the controls that take the focus.
    QWidget* order[] = {sbCPM,      seriale,  rbCom[0], rbCom[1],  rbCom[2],       rbCom[3],
                        ricercaSer, rbCom[4], cbLento,  cbPalette, cbMemoriaPunto, sbCPMpalette};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
    for (QWidget* control : order) {
        control->installEventFilter(this);
    }

    connect(sbCPM, &QScrollBar::valueChanged, this, [this] { sbCPMChange(); });
    connect(sbCPMpalette, &QScrollBar::valueChanged, this, [this] { sbCPMChange(); });
    // A box's click action runs whenever its state changes, also when set by the program.
    connect(cbLento, &QCheckBox::toggled, this, [this] { cbLentoClick(); });
    connect(cbPalette, &QCheckBox::toggled, this, [this] { cbPaletteClick(); });
    connect(cbMemoriaPunto, &QCheckBox::toggled, this, [this] { cbMemoriaPuntoClick(); });
    // Only a pick by the operator changes the port; the program's selections do not.
    connect(seriale, &QComboBox::activated, this, [this](int p) { serialeChange(p); });
    for (QRadioButton* button : rbCom) {
        connect(button, &QRadioButton::toggled, this, [this, button](bool on) {
            if (on) {
                rbComClick(button);
            }
        });
    }
    connect(ricercaSer, &QPushButton::clicked, this, [this] { ricercaSerClick(); });

    Timer1.setInterval(50);
    connect(&Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    Timer1.start();
}

void Tsetup::showSetup() {
    if (!m_shownBefore) {
        m_shownBefore = true;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            move(screen->availableGeometry().center() - rect().center());
        }
    }
    show();
    raise();
    activateWindow();
    refreshControls();

    selectPort(m_state.keyPort.number());
    // The scan; when it is applied, a key port left without a port is told on the message line.
    requestScan(true);
}

void Tsetup::refreshControls() {
    m_updating = true;
    sbCPM->setValue(m_state.speeds.cpm);  // the bar keeps the value inside its range
    sbCPMpalette->setValue(m_state.speeds.cpmPalette);
    lcpm->setText(cpmText(m_state.speeds.cpm));
    lcpmPalette->setText(cpmText(m_state.speeds.cpmPalette));
    fit(lcpm);
    fit(lcpmPalette);
    fitWidth();
    m_updating = false;

    cbLento->setChecked(m_state.speeds.lento);
    cbPalette->setChecked(m_state.modes.paddleMode);
    cbMemoriaPunto->setChecked(m_state.modes.memoriaPunto);
}

void Tsetup::applyVerticale(int cpm) {
    // The controls first show the shared settings, as when the window opens, so that the
    // handler reads the paddle bar and the slow box as they stand.
    refreshControls();
    m_updating = true;
    sbCPM->setValue(cpm);
    m_updating = false;
    sbCPMChange();
    saveKeys();
}

void Tsetup::sbCPMChange() {
    if (m_updating) {
        return;
    }
    keying::recomputeTimes(m_state.speeds, m_state.timing, cbLento->isChecked(), sbCPM->value(),
                           sbCPMpalette->value());
    lcpm->setText(cpmText(m_state.speeds.cpm));
    lcpmPalette->setText(cpmText(m_state.speeds.cpmPalette));
}

void Tsetup::cbLentoClick() {
    keying::recomputeSlowTimes(m_state.speeds, m_state.timing, cbLento->isChecked());
}

void Tsetup::cbPaletteClick() {
    m_state.modes.paddleMode = cbPalette->isChecked();
    if (m_state.captionChanged) {
        m_state.captionChanged();
    }
}

void Tsetup::cbMemoriaPuntoClick() {
    m_state.modes.memoriaPunto = cbMemoriaPunto->isChecked();
}

void Tsetup::serialeChange(int position) {
    if (m_updating) {
        return;
    }
    if (m_scan.running()) {
        Waiting pick{Waiting::Kind::Pick};
        pick.position = position;
        m_waiting.push_back(pick);
        return;
    }
    m_updating = true;
    showMessage(m_state.keyPort.serialeChange(position));
    m_updating = false;
}

void Tsetup::pickPort(int position) {
    // The list may show the scan's fallback by now: it shows the pick again.
    m_updating = true;
    seriale->setCurrentIndex(position);
    m_updating = false;
    serialeChange(position);
}

void Tsetup::chooseRowOf(int number) {
    // The rows may show other ports by now: the choice holds for the row of the same port, and
    // lapses when the scan did not find it again.
    const FoundPorts& found = m_state.keyPort.found();
    for (int i = 0; i < found.count; ++i) {
        const auto row = static_cast<std::size_t>(i);
        if (found.entries[row].number == number) {
            rbCom[row]->setChecked(true);  // runs the click action if it was off
            rbComClick(rbCom[row]);
            return;
        }
    }
}

void Tsetup::rbComClick(QRadioButton* sender) {
    const auto it = std::find(rbCom.begin(), rbCom.end(), sender);
    if (it == rbCom.end()) {
        return;
    }
    const auto row = static_cast<std::size_t>(it - rbCom.begin());
    if (m_scan.running()) {
        Waiting choice{Waiting::Kind::Row};
        choice.number = m_rowNumbers[row];
        m_waiting.push_back(choice);
        return;
    }
    m_updating = true;
    m_state.keyPort.rbComClick(static_cast<int>(row));
    selectPort(m_state.keyPort.number());
    m_updating = false;
}

void Tsetup::ricercaSerClick() {
    requestScan(false);
}

void Tsetup::requestScan(bool report) {
    if (m_scan.running()) {
        if (!m_waiting.empty() && m_waiting.back().kind == Waiting::Kind::Scan) {
            m_waiting.back().report = m_waiting.back().report || report;
        } else {
            Waiting scan{Waiting::Kind::Scan};
            scan.report = report;
            m_waiting.push_back(scan);
        }
        return;
    }
    m_numberBefore = m_state.keyPort.number();
    m_reportAfterScan = report;
    m_scan.start(m_state.keyPort.beginScan());
}

void Tsetup::scanReady() {
    std::optional<FoundPorts> found = m_scan.take();
    if (!found) {
        return;  // already taken by finishScan
    }
    showScan(std::move(*found));
    runWaiting();
}

void Tsetup::finishScan() {
    while (m_scan.running()) {
        m_scan.finish();
        scanReady();
    }
}

void Tsetup::runWaiting() {
    while (!m_waiting.empty() && !m_scan.running()) {
        const Waiting next = m_waiting.front();
        m_waiting.pop_front();
        switch (next.kind) {
            case Waiting::Kind::Scan:
                requestScan(next.report);
                break;
            case Waiting::Kind::Pick:
                pickPort(next.position);
                break;
            case Waiting::Kind::Row:
                chooseRowOf(next.number);
                break;
            case Waiting::Kind::Save:
                save(next, true);
                break;
        }
    }
}

void Tsetup::showScan(FoundPorts result) {
    KeyPort& key = m_state.keyPort;
    // Rows are hidden and the radio buttons all turned off first, so that turning the key
    // port's row on below runs its click action.
    m_rows->setExclusive(false);
    for (int i = 0; i < kMaxFoundPorts; ++i) {
        const auto row = static_cast<std::size_t>(i);
        rbCom[row]->setChecked(false);
        rbCom[row]->hide();
        labCom[row]->hide();
        shCom[row]->hide();
    }
    m_rows->setExclusive(true);

    const KeyPort::ScanOutcome outcome = key.applyScan(std::move(result));
    const FoundPorts& found = key.found();
    for (int i = 0; i < found.count; ++i) {
        const auto row = static_cast<std::size_t>(i);
        const int number = found.entries[row].number;
        m_rowNumbers[row] = number;
        const QString device = QString::fromStdString(key.devicePath(number));
        labCom[row]->setText(QStringLiteral("COM") + QString::number(number));
        fit(labCom[row]);
        labCom[row]->setToolTip(device);
        rbCom[row]->setToolTip(device);
        rbCom[row]->show();
        labCom[row]->show();
        shCom[row]->setActive(false);
        shCom[row]->show();
        if (number == m_numberBefore) {
            rbCom[row]->setChecked(true);
        }
    }
    setOuterHeight(found.count == 0 ? 264
                                    : kRowTops[static_cast<std::size_t>(found.count - 1)] + 56);
    labTitolo->setText(found.count > 0 ? QStringLiteral("SERIAL PORT     KEY: ")
                                       : QStringLiteral("NO SERIAL PORT FOUND"));
    fit(labTitolo);
    fitWidth();
    if (outcome.fellBack) {
        m_updating = true;
        selectPort(key.number());
        m_updating = false;
    }
    // A window closed while the scan ran stays closed and leaves the focus where it is.
    if (isVisible()) {
        activateWindow();
        setFocus();
    }
    if (m_reportAfterScan && !key.isOpen()) {
        showMessage(key.unableMessage());
    }
}

void Tsetup::Timer1Timer() {
    const auto active = m_state.keyPort.monitor();
    for (int i = 0; i < m_state.keyPort.found().count; ++i) {
        shCom[static_cast<std::size_t>(i)]->setActive(active[static_cast<std::size_t>(i)]);
    }
}

void Tsetup::FormClose() {
    saveKeys();
    if (m_state.focusMainWindow) {
        m_state.focusMainWindow();
    }
}

void Tsetup::saveKeys() {
    if (m_scan.running()) {
        m_waiting.push_back(closingSettings());  // saved with the scan's port
    } else {
        save(closingSettings(), true);
    }
}

Tsetup::Waiting Tsetup::closingSettings() const {
    Waiting settings{Waiting::Kind::Save};
    settings.timing = m_state.timing;
    settings.speeds = m_state.speeds;
    settings.paddleMode = m_state.modes.paddleMode;
    settings.memoriaPunto = m_state.modes.memoriaPunto;
    return settings;
}

void Tsetup::save(const Waiting& settings, bool tell) {
    const auto entries =
        persistence::setupSaveEntries(m_state.keyPort.number(), settings.timing,
                                      settings.paddleMode, settings.speeds, settings.memoriaPunto);
    m_state.save(entries, tell ? m_state.saveFailed : persistence::SaveFailed());
}

void Tsetup::closeEvent(QCloseEvent* event) {
    FormClose();
    platform::hideKeepingWindow(*this, *event);
}

void Tsetup::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool Tsetup::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        close();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Tsetup::showMessage(const PortMessage& message) {
    unable->setText(QString::fromStdString(message.text));
    unable->setToolTip(QString::fromStdString(message.detail));
}

void Tsetup::selectPort(int number) {
    const bool inList = number >= platform::kFirstPortNumber && number <= platform::kLastPortNumber;
    seriale->setCurrentIndex(inList ? number - 1 : -1);
}

void Tsetup::fitWidth() {
    // As designed where everything fits; wider where a text needs it (a wider face, or a stored
    // paddle speed of four digits).
    int right = 0;
    for (const QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        right = std::max(right, control->x() + control->width());
    }
    setFixedWidth(std::max(kDesignSize.width(), right + kRightMargin));
}

int Tsetup::outerHeight() const {
    return platform::outerSize(*this).height();
}

void Tsetup::setOuterHeight(int outer) {
    platform::setOuterSize(*this, QSize(platform::outerSize(*this).width(), outer), true);
}

}  // namespace dittix::setup
