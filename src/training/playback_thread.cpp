// The playback thread and the training audio.
#include "training/playback_thread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <chrono>

#include "platform/tone_synthesis.h"
#include "training/training_window.h"

namespace dittix::training {

TrainingAudio::TrainingAudio(platform::SingleShotOutput& output, std::function<double()> frequency,
                             bool shapedEdges)
    : m_output(output),
      m_frequency(std::move(frequency)),
      m_shapedEdges(shapedEdges),
      m_composer([this] { composeRequests(); }) {}

TrainingAudio::~TrainingAudio() {
    {
        const std::lock_guard lock(m_bankLock);
        m_ending = true;
    }
    m_bankChanged.notify_all();
    m_composer.join();
}

platform::ToneShape TrainingAudio::shapeAt(int rate) const {
    return platform::ToneShape{m_shapedEdges ? platform::rampSamplesFor(rate) : 0};
}

bool TrainingAudio::open(const std::function<bool()>& keepWaiting) {
    if (m_output.open([this] { m_playing.store(false); })) {
        return false;
    }
    const int rate = m_output.sampleRate();
    {
        // Under the request's lock: a request made meanwhile on another thread then carries
        // either this rate or is replaced by the one below.
        const std::lock_guard lock(m_bankLock);
        m_rate.store(rate);
    }
    const auto composed = bank();
    if (composed != nullptr && composed->rate != rate) {
        componi(composed->cpm);
    }
    // A stream runs within tens of milliseconds; a server that holds it up longer is not
    // waited for beyond a few seconds.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!m_output.running() && std::chrono::steady_clock::now() < until &&
           (!keepWaiting || keepWaiting())) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void TrainingAudio::close() {
    m_output.close();
    m_playing.store(false);
}

void TrainingAudio::componi(int cpm) {
    // The frequency is taken now, on the caller's thread: a tone changed later composes again.
    const double frequency = m_frequency ? m_frequency() : 0.0;
    {
        const std::lock_guard lock(m_bankLock);
        const Request request{cpm, frequency, m_rate.load()};
        if (m_bank != nullptr && !m_request && !m_composing && m_bankMadeFor == request) {
            // The bank is already this one: composing it again (up to 15 MB) would only load
            // the machine while the training window is shown.
            return;
        }
        m_request = request;
    }
    m_bankChanged.notify_all();
}

void TrainingAudio::composeRequests() {
    std::unique_lock lock(m_bankLock);
    for (;;) {
        m_bankChanged.wait(lock, [this] { return m_ending || m_request.has_value(); });
        if (m_ending) {
            return;
        }
        const Request request = std::move(*m_request);
        m_request.reset();
        m_composing = true;
        lock.unlock();
        std::shared_ptr<const ToneBank> bank =
            componiBank(platform::makeSineTable(request.frequency, request.rate), request.cpm,
                        request.rate, shapeAt(request.rate));
        lock.lock();
        std::swap(m_bank, bank);
        m_bankMadeFor = request;
        m_composing = false;
        m_bankChanged.notify_all();
        lock.unlock();
        bank.reset();  // the bank replaced, released outside the lock (it may be 15 MB)
        lock.lock();
    }
}

platform::SharedSamples TrainingAudio::sineTable() const {
    const int rate = m_rate.load();
    const double frequency = m_frequency ? m_frequency() : 0.0;
    const std::lock_guard lock(m_bankLock);
    if (m_leadIn == nullptr || m_leadInFrequency != frequency || m_leadInRate != rate) {
        platform::SampleBuffer tone;
        const platform::ToneShape shape = shapeAt(rate);
        platform::appendShapedTone(tone, platform::makeSineTable(frequency, rate),
                                   static_cast<std::size_t>(rate),
                                   static_cast<std::size_t>(shape.rampSamples), shape);
        m_leadIn = std::make_shared<const platform::SampleBuffer>(std::move(tone));
        m_leadInFrequency = frequency;
        m_leadInRate = rate;
    }
    return m_leadIn;
}

std::shared_ptr<const ToneBank> TrainingAudio::bank() const {
    std::unique_lock lock(m_bankLock);
    m_bankChanged.wait(lock, [this] { return m_ending || (!m_request && !m_composing); });
    return m_bank;
}

void TrainingAudio::submit(platform::SharedSamples samples) {
    if (samples == nullptr) {
        return;  // nothing composed: a silent character
    }
    m_playing.store(true);
    m_output.submit(std::move(samples));
}

namespace {

class ThreadPort : public PlaybackPort {
  public:
    ThreadPort(TrainingAudio& audio, Ttraining& window, const std::atomic<bool>& abort)
        : m_audio(audio), m_window(window), m_abort(abort) {}

    void submit(platform::SharedSamples samples) override { m_audio.submit(std::move(samples)); }
    bool playing() const override { return m_audio.playing(); }
    void reset() override { m_audio.reset(); }

    void sleepMs(int ms) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!m_abort.load() && std::chrono::steady_clock::now() < until) {
            const auto left = until - std::chrono::steady_clock::now();
            std::this_thread::sleep_for(
                std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(5)));
        }
    }

    void highlight(int current) override {
        onInterfaceThread([this, current] { m_window.highlightCurrent(current); });
    }
    void setYellow(int label) override {
        onInterfaceThread([this, label] { m_window.setLabelYellow(label); });
    }
    bool aborted() const override { return m_abort.load(); }
    std::shared_ptr<const ToneBank> bank() const override { return m_audio.bank(); }
    platform::SharedSamples sineTable() const override { return m_audio.sineTable(); }

  private:
    template <class F>
    void onInterfaceThread(F&& change) {
        if (!m_abort.load()) {
            QMetaObject::invokeMethod(&m_window, std::forward<F>(change),
                                      Qt::BlockingQueuedConnection);
        }
    }

    TrainingAudio& m_audio;
    Ttraining& m_window;
    const std::atomic<bool>& m_abort;
};

}  // namespace

TtxCW::TtxCW(TrainingState& state, TrainingAudio& audio, Ttraining& window)
    : m_state(state), m_audio(audio), m_window(window) {}

TtxCW::~TtxCW() {
    abortAndJoin();
}

void TtxCW::start() {
    m_thread = std::thread([this] { run(); });
}

void TtxCW::run() {
    ThreadPort port(m_audio, m_window, m_abort);
    // The output opens for the exercise, and the lead-in starts once it runs. When it cannot be
    // opened the window says so, and the playback waits at its first tone until it is stopped.
    if (!m_audio.open([this] { return !m_abort.load() && !m_state.stopRequested.load(); })) {
        if (!m_abort.load()) {
            QMetaObject::invokeMethod(
                &m_window, [this] { m_window.showNoOutput(); }, Qt::BlockingQueuedConnection);
        }
    }
    runPlayback(m_state, port);
    m_audio.close();
    m_finished.store(true);
}

void TtxCW::wait() {
    // The flags are set last in the playback: at most its final call is still on the way.
    while (m_thread.joinable() && !m_finished.load()) {
        QCoreApplication::sendPostedEvents(&m_window, QEvent::MetaCall);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void TtxCW::abortAndJoin() {
    m_abort.store(true);
    // The playback may be waiting for a call on this thread: serve it until the thread is done.
    wait();
}

}  // namespace dittix::training
