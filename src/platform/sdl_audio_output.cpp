// Audio outputs on SDL's audio subsystem (PulseAudio, PipeWire or ALSA on Linux; WASAPI on
// Windows). Each output opens a device of its own on the default output.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <utility>

#if defined(__linux__)
#include <dlfcn.h>
#endif

#include "platform/audio_output.h"

namespace dittix::platform {

namespace {

constexpr Uint16 kCallbackFrames = 256;

#if defined(__linux__)
extern "C" void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// When no audio server runs, the audio system falls back to ALSA, whose library prints every
// failure to the terminal. A machine without sound is not an error here: keying stays silent
// and nothing is shown, so the library is loaded first and told to keep quiet.
void quietenAlsa() {
    static std::once_flag once;
    std::call_once(once, [] {
        void* alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_GLOBAL);
        if (alsa == nullptr) {
            return;
        }
        using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
        using SetHandler = int (*)(Handler);
        if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"))) {
            set(&ignoreAlsaError);
        }
        // The library stays loaded, so the audio system finds it with the quiet handler set.
    });
}
#else
void quietenAlsa() {}
#endif

// One opened SDL device with the audio subsystem held for it.
class SdlDevice {
  public:
    SdlDevice() = default;
    ~SdlDevice() { close(); }
    SdlDevice(const SdlDevice&) = delete;
    SdlDevice& operator=(const SdlDevice&) = delete;

    std::optional<AudioError> open(SDL_AudioCallback callback, void* userdata) {
        if (m_id != 0 && !isOpen()) {
            close();  // the device went away: start afresh
        }
        if (m_id != 0) {
            return AudioError{AudioErrorCode::AlreadyOpen, "the output is already open"};
        }
        quietenAlsa();
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            return AudioError{AudioErrorCode::NoDevice, SDL_GetError()};
        }
        SDL_AudioSpec want{};
        want.freq = kSampleRate;
        want.format = AUDIO_S16SYS;
        want.channels = 1;
        want.samples = kCallbackFrames;
        want.callback = callback;
        want.userdata = userdata;
        SDL_AudioSpec have{};
        m_id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (m_id == 0) {
            AudioError error{AudioErrorCode::NoDevice, SDL_GetError()};
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return error;
        }
        SDL_PauseAudioDevice(m_id, 0);
        return std::nullopt;
    }

    void close() {
        if (m_id != 0) {
            SDL_CloseAudioDevice(m_id);
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            m_id = 0;
        }
    }

    // False also for a device that was lost while open (unplugged, audio server gone).
    bool isOpen() const { return m_id != 0 && SDL_GetAudioDeviceStatus(m_id) != SDL_AUDIO_STOPPED; }

    // Holds off the callback while the caller changes what it reads.
    template <class F>
    void locked(F&& change) {
        if (m_id != 0) {
            SDL_LockAudioDevice(m_id);
            change();
            SDL_UnlockAudioDevice(m_id);
        } else {
            change();
        }
    }

  private:
    SDL_AudioDeviceID m_id = 0;
};

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class SdlLoopingOutput : public LoopingOutput {
  public:
    explicit SdlLoopingOutput(GateLatencyProbe* probe) : m_probe(probe) {}
    ~SdlLoopingOutput() override { m_device.close(); }

    std::optional<AudioError> open() override { return m_device.open(&callback, this); }

    void setTable(SharedSamples table) override {
        SharedSamples old;
        m_device.locked([&] {
            old = std::exchange(m_table, std::move(table));
            m_position = 0;
        });
        // `old` is released here, outside the audio lock.
    }

    void setGate(bool on) override {
        if (m_probe != nullptr && on && !m_gate.load(std::memory_order_relaxed)) {
            m_probe->gateOpenedNs.store(nowNs(), std::memory_order_relaxed);
            m_probe->openings.fetch_add(1, std::memory_order_release);
        }
        m_gate.store(on, std::memory_order_release);
    }
    void close() override { m_device.close(); }
    bool isOpen() const override { return m_device.isOpen(); }

  private:
    static void callback(void* userdata, Uint8* stream, int length) {
        static_cast<SdlLoopingOutput*>(userdata)->fill(reinterpret_cast<std::int16_t*>(stream),
                                                       static_cast<std::size_t>(length) / 2);
    }

    void fill(std::int16_t* out, std::size_t count) {
        const SampleBuffer* table = m_table.get();
        const bool gate = m_gate.load(std::memory_order_acquire);
        if (m_probe != nullptr && gate) {
            const std::uint64_t openings = m_probe->openings.load(std::memory_order_acquire);
            if (openings != m_openingsSeen) {
                m_openingsSeen = openings;
                m_probe->lastLatencyNs.store(nowNs() - m_probe->gateOpenedNs.load(),
                                             std::memory_order_relaxed);
            }
        }
        if (!gate || table == nullptr || table->empty()) {
            std::fill_n(out, count, std::int16_t{0});
            return;
        }
        while (count > 0) {
            if (m_position >= table->size()) {
                m_position = 0;
            }
            const std::size_t n = std::min(count, table->size() - m_position);
            std::memcpy(out, table->data() + m_position, n * sizeof(std::int16_t));
            out += n;
            count -= n;
            m_position += n;
        }
    }

    GateLatencyProbe* m_probe;
    std::uint64_t m_openingsSeen = 0;  // the callback's own
    SdlDevice m_device;
    std::atomic<bool> m_gate{false};
    SharedSamples m_table;       // changed only with the callback held off
    std::size_t m_position = 0;  // the callback's place in the table
};

class SdlSingleShotOutput : public SingleShotOutput {
  public:
    ~SdlSingleShotOutput() override { m_device.close(); }

    std::optional<AudioError> open(Completed completed) override {
        m_completed = std::move(completed);
        return m_device.open(&callback, this);
    }

    void submit(SharedSamples samples) override {
        bool replaced = false;
        SharedSamples old;
        SharedSamples finished;
        m_device.locked([&] {
            replaced = m_current != nullptr;
            old = std::exchange(m_current, std::move(samples));
            finished = std::exchange(m_finished, nullptr);
            m_position = 0;
        });
        if (replaced && m_completed) {
            m_completed();
        }
    }

    void reset() override {
        bool dropped = false;
        SharedSamples old;
        SharedSamples finished;
        m_device.locked([&] {
            dropped = m_current != nullptr;
            old = std::exchange(m_current, nullptr);
            finished = std::exchange(m_finished, nullptr);
            m_position = 0;
        });
        if (dropped && m_completed) {
            m_completed();
        }
    }

    void close() override {
        m_device.close();
        m_current.reset();
        m_finished.reset();
    }
    bool isOpen() const override { return m_device.isOpen(); }

  private:
    static void callback(void* userdata, Uint8* stream, int length) {
        static_cast<SdlSingleShotOutput*>(userdata)->fill(reinterpret_cast<std::int16_t*>(stream),
                                                          static_cast<std::size_t>(length) / 2);
    }

    void fill(std::int16_t* out, std::size_t count) {
        std::size_t written = 0;
        if (m_current != nullptr) {
            written = std::min(count, m_current->size() - m_position);
            if (written > 0) {
                std::memcpy(out, m_current->data() + m_position, written * sizeof(std::int16_t));
                m_position += written;
            }
        }
        std::fill(out + written, out + count, std::int16_t{0});
        if (m_current != nullptr && m_position >= m_current->size()) {
            // The last sample has been handed over. The buffer is released on the interface
            // thread by the next submit or reset (which empty m_finished first), never here.
            m_finished = std::exchange(m_current, nullptr);
            if (m_completed) {
                m_completed();
            }
        }
    }

    SdlDevice m_device;
    Completed m_completed;
    SharedSamples m_current;   // changed only with the callback held off
    SharedSamples m_finished;  // kept until the next change, see fill
    std::size_t m_position = 0;
};

}  // namespace

std::unique_ptr<LoopingOutput> makeSdlLoopingOutput(GateLatencyProbe* probe) {
    return std::make_unique<SdlLoopingOutput>(probe);
}

std::unique_ptr<SingleShotOutput> makeSdlSingleShotOutput() {
    return std::make_unique<SdlSingleShotOutput>();
}

}  // namespace dittix::platform
