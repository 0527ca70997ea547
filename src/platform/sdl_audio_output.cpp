// Audio outputs on SDL's audio subsystem (PulseAudio, PipeWire or ALSA on Linux; WASAPI on
// Windows). Each output opens a device of its own on the default output.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

#if defined(__linux__)
#include <dlfcn.h>
#endif

#include "platform/audio_output.h"
#include "platform/keyed_tone.h"

namespace dittix::platform {

namespace {

// The callback's length: the smallest each backend plays without gaps on a busy machine. PipeWire
// runs its graph in quanta of that length (128 frames, 2.7 ms at 48 kHz); SDL's PulseAudio
// backend asks the server to hold no more than one callback, which needs 256 frames (5.8 ms at
// 44.1 kHz) to ride out a busy machine's scheduling.
constexpr Uint16 kPipeWireCallbackFrames = 128;
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
constexpr const char* kDriverOrder = "pipewire,pulseaudio,alsa";
#elif defined(_WIN32)
void quietenAlsa() {}
constexpr const char* kDriverOrder = "wasapi,directsound,winmm";
#else
void quietenAlsa() {}
constexpr const char* kDriverOrder = nullptr;
#endif

// The audio system's start, stop, open and close are not safe from two threads at once (the
// sidetone's worker and the playback thread both open streams): one lock for all of them.
std::mutex& sdlLock() {
    static std::mutex lock;
    return lock;
}

bool usableRate(int rate) {
    return rate >= 8000 && rate <= 384000;
}

// The default output's own rate, so that nothing resamples, when it can be known safely. SDL's
// PulseAudio backend answers the default device's question by comparing names that its hotplug
// thread frees and replaces at the same time, so there the devices' list (which SDL guards) is
// read instead, and its rate is used only when every output agrees on one.
std::optional<int> deviceRate(const char* driver) {
    if (driver == nullptr || std::strcmp(driver, "pulseaudio") != 0) {
        SDL_AudioSpec device{};
        char* name = nullptr;
        if (SDL_GetDefaultAudioInfo(&name, &device, 0) != 0) {
            return std::nullopt;
        }
        SDL_free(name);
        return usableRate(device.freq) ? std::optional<int>(device.freq) : std::nullopt;
    }
    std::optional<int> shared;
    const int count = SDL_GetNumAudioDevices(0);
    for (int i = 0; i < count; ++i) {
        SDL_AudioSpec device{};
        if (SDL_GetAudioDeviceSpec(i, 0, &device) != 0 || !usableRate(device.freq)) {
            continue;
        }
        if (shared && *shared != device.freq) {
            return std::nullopt;
        }
        shared = device.freq;
    }
    return shared;
}

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One opened SDL device with the audio subsystem held for it.
class SdlDevice {
  public:
    ~SdlDevice() { close(); }
    SdlDevice(const SdlDevice&) = delete;
    SdlDevice& operator=(const SdlDevice&) = delete;

    explicit SdlDevice(const char* name) : m_name(name) {}

    // Opens the device paused, at the default device's own rate when it tells one.
    std::optional<AudioError> open(SDL_AudioCallback callback, void* userdata) {
        if (m_id != 0 && !isOpen()) {
            close();  // the device went away: start afresh
        }
        if (m_id != 0) {
            return AudioError{AudioErrorCode::AlreadyOpen, "the output is already open"};
        }
        const std::lock_guard lock(sdlLock());
        quietenAlsa();
        if (kDriverOrder != nullptr) {
            // A hint of normal priority: the environment variable SDL_AUDIODRIVER still wins.
            SDL_SetHint(SDL_HINT_AUDIODRIVER, kDriverOrder);
        }
        SDL_SetHint(SDL_HINT_APP_NAME, "Dittix");
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, m_name);
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            return AudioError{AudioErrorCode::NoDevice, SDL_GetError()};
        }
        const char* driver = SDL_GetCurrentAudioDriver();
        SDL_AudioSpec want{};
        want.freq = deviceRate(driver).value_or(kSampleRate);
        want.format = AUDIO_S16SYS;
        want.channels = 1;
        want.samples = driver != nullptr && std::strcmp(driver, "pipewire") == 0
                           ? kPipeWireCallbackFrames
                           : kCallbackFrames;
        want.callback = callback;
        want.userdata = userdata;
        SDL_AudioSpec have{};
        m_id =
            SDL_OpenAudioDevice(nullptr, 0, &want, &have,
                                SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
        if (m_id == 0) {
            AudioError error{AudioErrorCode::NoDevice, SDL_GetError()};
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return error;
        }
        m_rate = have.freq;
        return std::nullopt;
    }

    void start() {
        if (m_id != 0) {
            SDL_PauseAudioDevice(m_id, 0);
        }
    }

    void close() {
        if (m_id != 0) {
            const std::lock_guard lock(sdlLock());
            SDL_CloseAudioDevice(m_id);
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            m_id = 0;
            m_rate = kSampleRate;
        }
    }

    // False also for a device that was lost while open (unplugged, audio server gone).
    bool isOpen() const { return m_id != 0 && SDL_GetAudioDeviceStatus(m_id) != SDL_AUDIO_STOPPED; }
    int rate() const { return m_rate; }

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
    const char* m_name;
    SDL_AudioDeviceID m_id = 0;
    int m_rate = kSampleRate;
};

class SdlLoopingOutput : public LoopingOutput {
  public:
    ~SdlLoopingOutput() override { m_device.close(); }

    std::optional<AudioError> open(KeyedTone& tone, const Prepare& prepare) override {
        if (m_device.isOpen()) {
            return AudioError{AudioErrorCode::AlreadyOpen, "the output is already open"};
        }
        m_device.close();
        m_tone.store(&tone, std::memory_order_release);
        if (auto error = m_device.open(&callback, this)) {
            return error;
        }
        if (prepare) {
            prepare(m_device.rate());
        }
        tone.restart(m_device.rate());
        m_device.start();
        return std::nullopt;
    }

    void close() override { m_device.close(); }
    bool isOpen() const override { return m_device.isOpen(); }
    std::string backend() const override { return m_device.isOpen() ? sdlAudioDriverInUse() : ""; }

  private:
    static void callback(void* userdata, Uint8* stream, int length) {
        auto* self = static_cast<SdlLoopingOutput*>(userdata);
        self->m_tone.load(std::memory_order_acquire)
            ->render(reinterpret_cast<std::int16_t*>(stream), static_cast<std::size_t>(length) / 2,
                     nowNs());
    }

    SdlDevice m_device{"Dittix sidetone"};
    std::atomic<KeyedTone*> m_tone{nullptr};
};

class SdlSingleShotOutput : public SingleShotOutput {
  public:
    ~SdlSingleShotOutput() override { m_device.close(); }

    std::optional<AudioError> open(Completed completed) override {
        m_completed = std::move(completed);
        m_callbacks.store(0, std::memory_order_relaxed);
        if (auto error = m_device.open(&callback, this)) {
            return error;
        }
        m_device.start();
        return std::nullopt;
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
    int sampleRate() const override { return m_device.rate(); }
    bool running() const override { return m_callbacks.load(std::memory_order_acquire) > 0; }
    std::string backend() const override { return m_device.isOpen() ? sdlAudioDriverInUse() : ""; }

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
            // The last sample has been handed over. The buffer is released on the submitting
            // thread by the next submit or reset (which empty m_finished first), never here.
            m_finished = std::exchange(m_current, nullptr);
            if (m_completed) {
                m_completed();
            }
        }
        m_callbacks.fetch_add(1, std::memory_order_release);
    }

    SdlDevice m_device{"Dittix training"};
    Completed m_completed;
    SharedSamples m_current;   // changed only with the callback held off
    SharedSamples m_finished;  // kept until the next change, see fill
    std::size_t m_position = 0;
    std::atomic<std::uint64_t> m_callbacks{0};
};

}  // namespace

std::unique_ptr<LoopingOutput> makeSdlLoopingOutput() {
    return std::make_unique<SdlLoopingOutput>();
}

std::unique_ptr<SingleShotOutput> makeSdlSingleShotOutput() {
    return std::make_unique<SdlSingleShotOutput>();
}

std::string sdlAudioDriverInUse() {
    const std::lock_guard lock(sdlLock());
    const char* driver = SDL_WasInit(SDL_INIT_AUDIO) != 0 ? SDL_GetCurrentAudioDriver() : nullptr;
    return driver != nullptr ? driver : "";
}

}  // namespace dittix::platform
