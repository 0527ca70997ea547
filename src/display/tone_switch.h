// Starting and stopping the sidetone, as the decode tick does it.
#pragma once

namespace dittix::display {

class ToneSwitch {
  public:
    virtual ~ToneSwitch() = default;
    virtual void toneOn() = 0;
    virtual void toneOff() = 0;

  protected:
    ToneSwitch() = default;
};

class SilentTone : public ToneSwitch {
  public:
    void toneOn() override {}
    void toneOff() override {}
};

}  // namespace dittix::display
