// Audio outputs on PipeWire's own stream API. The stream's process callback runs on PipeWire's
// real-time thread (the audio system's PipeWire backend runs it on an ordinary thread, which a
// busy machine makes miss the short cycles a prompt sidetone needs), at the graph's own rate.
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <mutex>
#include <utility>

#include "platform/audio_output.h"
#include "platform/keyed_tone.h"

namespace dittix::platform {

namespace {

// The stream's cycle: 128 frames, 2.7 ms at 48 kHz.
constexpr int kQuantumFrames = 128;
// How long an opening waits for the server to agree on the stream's format.
constexpr int kOpenTimeoutSeconds = 3;

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Fills a stream's buffers; runs on the real-time thread, so it neither waits nor allocates.
class Filler {
  public:
    virtual void fill(std::int16_t* out, std::size_t frames, std::int64_t nowNs) = 0;

  protected:
    ~Filler() = default;
};

// One playback stream on the default sink, one channel of 16-bit samples.
class PwStream {
  public:
    ~PwStream() { close(); }
    PwStream(const PwStream&) = delete;
    PwStream& operator=(const PwStream&) = delete;

    explicit PwStream(const char* name) : m_name(name) {}

    // Connects and waits until the server has agreed on the format; the filler is called only
    // after `start`.
    std::optional<AudioError> open(Filler& filler) {
        close();
        static std::once_flag once;
        std::call_once(once, [] { pw_init(nullptr, nullptr); });
        m_filler = &filler;
        m_started.store(false);
        m_failed.store(false);
        m_rate.store(0);
        m_loop = pw_thread_loop_new("dittix-audio", nullptr);
        if (m_loop == nullptr || pw_thread_loop_start(m_loop) != 0) {
            close();
            return AudioError{AudioErrorCode::NoDevice, "no PipeWire loop"};
        }
        pw_thread_loop_lock(m_loop);
        pw_properties* props = pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE,
            "Game", PW_KEY_APP_NAME, "Dittix", PW_KEY_NODE_NAME, m_name, PW_KEY_MEDIA_NAME, m_name,
            PW_KEY_NODE_ALWAYS_PROCESS, "true", nullptr);
        pw_properties_setf(props, PW_KEY_NODE_LATENCY, "%d/48000", kQuantumFrames);
        m_stream =
            pw_stream_new_simple(pw_thread_loop_get_loop(m_loop), "Dittix", props, &kEvents, this);
        int result = -1;
        if (m_stream != nullptr) {
            std::uint8_t buffer[1024];
            spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
            spa_audio_info_raw info{};
            info.format = SPA_AUDIO_FORMAT_S16;
            info.channels = 1;
            info.position[0] = SPA_AUDIO_CHANNEL_MONO;
            // No rate: the stream runs at the graph's own, and nothing resamples.
            const spa_pod* params[1] = {
                spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
            result = pw_stream_connect(m_stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                                       static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                                    PW_STREAM_FLAG_MAP_BUFFERS |
                                                                    PW_STREAM_FLAG_RT_PROCESS),
                                       params, 1);
        }
        // One deadline for the whole wait: each state change wakes it, and a server that keeps
        // changing without agreeing on a format must not hold the caller longer.
        timespec deadline{};
        if (result == 0) {
            result = pw_thread_loop_get_time(m_loop, &deadline,
                                             std::int64_t{kOpenTimeoutSeconds} * SPA_NSEC_PER_SEC);
        }
        while (result == 0 && m_rate.load() == 0 && !m_failed.load()) {
            if (pw_thread_loop_timed_wait_full(m_loop, &deadline) != 0) {
                break;  // timed out
            }
        }
        const bool agreed = result == 0 && m_rate.load() > 0 && !m_failed.load();
        pw_thread_loop_unlock(m_loop);
        if (!agreed) {
            close();
            return AudioError{AudioErrorCode::NoDevice, "no PipeWire stream"};
        }
        return std::nullopt;
    }

    // From now on the filler plays.
    void start() { m_started.store(true, std::memory_order_release); }

    void close() {
        if (m_loop != nullptr) {
            pw_thread_loop_lock(m_loop);
            if (m_stream != nullptr) {
                pw_stream_destroy(m_stream);
                m_stream = nullptr;
            }
            pw_thread_loop_unlock(m_loop);
            pw_thread_loop_stop(m_loop);
            pw_thread_loop_destroy(m_loop);
            m_loop = nullptr;
        }
        m_started.store(false);
        m_rate.store(0);
    }

    bool isOpen() const { return m_loop != nullptr && !m_failed.load(); }
    int rate() const { return m_rate.load() > 0 ? m_rate.load() : kSampleRate; }

  private:
    static void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char*) {
        auto* self = static_cast<PwStream*>(data);
        if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
            self->m_failed.store(true);
        }
        pw_thread_loop_signal(self->m_loop, false);
    }

    static void onParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
        auto* self = static_cast<PwStream*>(data);
        if (param == nullptr || id != SPA_PARAM_Format) {
            return;
        }
        spa_audio_info_raw info{};
        if (spa_format_audio_raw_parse(param, &info) >= 0 && info.rate > 0) {
            self->m_rate.store(static_cast<int>(info.rate));
        }
        pw_thread_loop_signal(self->m_loop, false);
    }

    static void onProcess(void* data) {
        auto* self = static_cast<PwStream*>(data);
        pw_buffer* buffer = pw_stream_dequeue_buffer(self->m_stream);
        if (buffer == nullptr) {
            return;
        }
        spa_data& d = buffer->buffer->datas[0];
        if (d.data == nullptr) {
            // Given back empty: a buffer kept would be one fewer for the stream from now on.
            if (d.chunk != nullptr) {
                d.chunk->size = 0;
            }
            pw_stream_queue_buffer(self->m_stream, buffer);
            return;
        }
        std::size_t frames = d.maxsize / sizeof(std::int16_t);
        if (buffer->requested > 0) {
            frames = std::min<std::size_t>(frames, buffer->requested);
        }
        auto* out = static_cast<std::int16_t*>(d.data);
        if (self->m_started.load(std::memory_order_acquire)) {
            self->m_filler->fill(out, frames, nowNs());
        } else {
            std::fill_n(out, frames, std::int16_t{0});
        }
        d.chunk->offset = 0;
        d.chunk->stride = sizeof(std::int16_t);
        d.chunk->size = static_cast<std::uint32_t>(frames * sizeof(std::int16_t));
        pw_stream_queue_buffer(self->m_stream, buffer);
    }

    static constexpr pw_stream_events kEvents = [] {
        pw_stream_events events{};
        events.version = PW_VERSION_STREAM_EVENTS;
        events.state_changed = &PwStream::onStateChanged;
        events.param_changed = &PwStream::onParamChanged;
        events.process = &PwStream::onProcess;
        return events;
    }();

    const char* m_name;
    pw_thread_loop* m_loop = nullptr;
    pw_stream* m_stream = nullptr;
    Filler* m_filler = nullptr;
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_failed{false};
    std::atomic<int> m_rate{0};
};

class PwLoopingOutput : public LoopingOutput, private Filler {
  public:
    ~PwLoopingOutput() override { m_stream.close(); }

    std::optional<AudioError> open(KeyedTone& tone, const Prepare& prepare) override {
        if (m_stream.isOpen()) {
            return AudioError{AudioErrorCode::AlreadyOpen, "the output is already open"};
        }
        m_tone.store(&tone, std::memory_order_release);
        if (auto error = m_stream.open(*this)) {
            return error;
        }
        if (prepare) {
            prepare(m_stream.rate());
        }
        tone.restart(m_stream.rate());
        m_stream.start();
        return std::nullopt;
    }
    void close() override { m_stream.close(); }
    bool isOpen() const override { return m_stream.isOpen(); }
    std::string backend() const override { return m_stream.isOpen() ? "pipewire-native" : ""; }

  private:
    void fill(std::int16_t* out, std::size_t frames, std::int64_t now) override {
        m_tone.load(std::memory_order_acquire)->render(out, frames, now);
    }

    PwStream m_stream{"Dittix sidetone"};
    std::atomic<KeyedTone*> m_tone{nullptr};
};

class PwSingleShotOutput : public SingleShotOutput, private Filler {
  public:
    ~PwSingleShotOutput() override { m_stream.close(); }

    std::optional<AudioError> open(Completed completed) override {
        m_completed = std::move(completed);
        m_callbacks.store(0);
        if (auto error = m_stream.open(*this)) {
            return error;
        }
        m_stream.start();
        return std::nullopt;
    }

    void submit(SharedSamples samples) override {
        bool replaced = false;
        SharedSamples old;
        SharedSamples finished;
        {
            const std::lock_guard lock(m_lock);
            replaced = m_current != nullptr;
            old = std::exchange(m_current, std::move(samples));
            finished = std::exchange(m_finished, nullptr);
            m_position = 0;
        }
        if (replaced && m_completed) {
            m_completed();
        }
    }

    void reset() override {
        bool dropped = false;
        SharedSamples old;
        SharedSamples finished;
        {
            const std::lock_guard lock(m_lock);
            dropped = m_current != nullptr;
            old = std::exchange(m_current, nullptr);
            finished = std::exchange(m_finished, nullptr);
            m_position = 0;
        }
        if (dropped && m_completed) {
            m_completed();
        }
    }

    void close() override {
        m_stream.close();
        const std::lock_guard lock(m_lock);
        m_current.reset();
        m_finished.reset();
    }
    bool isOpen() const override { return m_stream.isOpen(); }
    int sampleRate() const override { return m_stream.rate(); }
    bool running() const override { return m_callbacks.load(std::memory_order_acquire) > 0; }
    std::string backend() const override { return m_stream.isOpen() ? "pipewire-native" : ""; }

  private:
    void fill(std::int16_t* out, std::size_t count, std::int64_t) override {
        std::size_t written = 0;
        bool completed = false;
        // Never waits on the real-time thread: while a submit holds the lock, this cycle is
        // silent and the new buffer starts with the next one.
        if (std::unique_lock lock(m_lock, std::try_to_lock); lock.owns_lock()) {
            if (m_current != nullptr) {
                written = std::min(count, m_current->size() - m_position);
                std::memcpy(out, m_current->data() + m_position, written * sizeof(std::int16_t));
                m_position += written;
                if (m_position >= m_current->size()) {
                    // Released by the next submit or reset, never on this thread.
                    m_finished = std::exchange(m_current, nullptr);
                    completed = true;
                }
            }
        }
        std::fill(out + written, out + count, std::int16_t{0});
        if (completed && m_completed) {
            m_completed();
        }
        m_callbacks.fetch_add(1, std::memory_order_release);
    }

    PwStream m_stream{"Dittix training"};
    Completed m_completed;
    std::mutex m_lock;  // guards what follows
    SharedSamples m_current;
    SharedSamples m_finished;
    std::size_t m_position = 0;
    std::atomic<std::uint64_t> m_callbacks{0};
};

}  // namespace

std::unique_ptr<LoopingOutput> makePipeWireLoopingOutput() {
    return std::make_unique<PwLoopingOutput>();
}

std::unique_ptr<SingleShotOutput> makePipeWireSingleShotOutput() {
    return std::make_unique<PwSingleShotOutput>();
}

}  // namespace dittix::platform
