// The program's choice of outputs: PipeWire's own API first where it is built in and a server
// answers, the audio system's backends otherwise.
#include <cstdlib>
#include <memory>

#include "platform/audio_output.h"

namespace dittix::platform {

namespace {

// SDL_AUDIODRIVER set by the operator (or a test) names the audio system's backend to use.
bool audioSystemChosen() {
    const char* driver = std::getenv("SDL_AUDIODRIVER");
    return driver != nullptr && *driver != 0;
}

#if defined(DITTIX_HAVE_PIPEWIRE)

class PreferredLoopingOutput : public LoopingOutput {
  public:
    std::optional<AudioError> open(KeyedTone& tone, const Prepare& prepare) override {
        if (m_active != nullptr && m_active->isOpen()) {
            return AudioError{AudioErrorCode::AlreadyOpen, "the output is already open"};
        }
        close();
        if (!audioSystemChosen() && !m_native->open(tone, prepare)) {
            m_active = m_native.get();
            return std::nullopt;
        }
        auto error = m_system->open(tone, prepare);
        if (!error) {
            m_active = m_system.get();
        }
        return error;
    }
    void close() override {
        if (m_active != nullptr) {
            m_active->close();
            m_active = nullptr;
        }
    }
    bool isOpen() const override { return m_active != nullptr && m_active->isOpen(); }
    std::string backend() const override { return m_active != nullptr ? m_active->backend() : ""; }

  private:
    std::unique_ptr<LoopingOutput> m_native = makePipeWireLoopingOutput();
    std::unique_ptr<LoopingOutput> m_system = makeSdlLoopingOutput();
    LoopingOutput* m_active = nullptr;
};

class PreferredSingleShotOutput : public SingleShotOutput {
  public:
    std::optional<AudioError> open(Completed completed) override {
        if (m_active != nullptr && m_active->isOpen()) {
            return AudioError{AudioErrorCode::AlreadyOpen, "the output is already open"};
        }
        close();
        if (!audioSystemChosen() && !m_native->open(completed)) {
            m_active = m_native.get();
            return std::nullopt;
        }
        auto error = m_system->open(std::move(completed));
        // A failed opening leaves the audio system's output in place: what is submitted to it
        // then goes nowhere and never completes.
        m_active = m_system.get();
        return error;
    }
    void submit(SharedSamples samples) override { active().submit(std::move(samples)); }
    void reset() override { active().reset(); }
    void close() override {
        if (m_active != nullptr) {
            m_active->close();
            m_active = nullptr;
        }
    }
    bool isOpen() const override { return m_active != nullptr && m_active->isOpen(); }
    int sampleRate() const override {
        return m_active != nullptr ? m_active->sampleRate() : kSampleRate;
    }
    bool running() const override { return m_active != nullptr && m_active->running(); }
    std::string backend() const override { return m_active != nullptr ? m_active->backend() : ""; }

  private:
    SingleShotOutput& active() { return m_active != nullptr ? *m_active : *m_system; }

    std::unique_ptr<SingleShotOutput> m_native = makePipeWireSingleShotOutput();
    std::unique_ptr<SingleShotOutput> m_system = makeSdlSingleShotOutput();
    SingleShotOutput* m_active = nullptr;
};

#endif

}  // namespace

std::unique_ptr<LoopingOutput> makeLoopingOutput() {
#if defined(DITTIX_HAVE_PIPEWIRE)
    return std::make_unique<PreferredLoopingOutput>();
#else
    return makeSdlLoopingOutput();
#endif
}

std::unique_ptr<SingleShotOutput> makeSingleShotOutput() {
#if defined(DITTIX_HAVE_PIPEWIRE)
    return std::make_unique<PreferredSingleShotOutput>();
#else
    return makeSdlSingleShotOutput();
#endif
}

}  // namespace dittix::platform
