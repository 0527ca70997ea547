// What the decode tick may reach of its surroundings: the keyboard query, the key port's status
// lines, the sidetone switch, the tape display's operations and its measurements. Nothing else.
#pragma once

#include <cstdint>
#include <string_view>

#include "keying/measurement.h"

namespace dittix::keying {

// Bits of the key port's modem status word.
inline constexpr std::uint32_t kModemCts = 0x10;
inline constexpr std::uint32_t kModemDsr = 0x20;
inline constexpr std::uint32_t kModemRing = 0x40;
inline constexpr std::uint32_t kModemRlsd = 0x80;

// The four keyboard keys that stand in for the key.
enum class KeyboardKey { RightControl, Right, LeftControl, Left };

class TickPort {
  public:
    virtual ~TickPort() = default;

    // True when the key is down now or was pressed since the previous query of the same key.
    virtual bool keyPressed(KeyboardKey key) = 0;
    // The key port's modem status word; 0 when there is no port or the read fails.
    virtual std::uint32_t readKeyLines() = 0;

    virtual void toneOn() = 0;
    virtual void toneOff() = 0;

    virtual void advanceTrace() = 0;
    virtual void markTrace() = 0;
    virtual void moveTrace() = 0;
    virtual void wrapTrace() = 0;
    virtual void checkTraceScroll() = 0;
    virtual void emitCharacter(std::u16string_view text) = 0;
    virtual void emitWordSpace() = 0;

    // An element, gap or character as the tick measured it. Changes nothing of the decoding;
    // called besides the operations above, never instead of one.
    virtual void measured(const Measurement& measurement) = 0;

  protected:
    TickPort() = default;
    TickPort(const TickPort&) = default;
    TickPort& operator=(const TickPort&) = default;
};

}  // namespace dittix::keying
