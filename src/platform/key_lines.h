// The key port's modem status lines as the decode tick reads them.
#pragma once

#include <cstdint>

namespace dittix::platform {

class KeyLines {
  public:
    virtual ~KeyLines() = default;
    // The modem status word; 0 when there is no port or the read fails.
    virtual std::uint32_t readKeyLines() = 0;

  protected:
    KeyLines() = default;
};

// No key port: only the keyboard keys the decoder.
class NoKeyLines : public KeyLines {
  public:
    std::uint32_t readKeyLines() override { return 0; }
};

}  // namespace dittix::platform
