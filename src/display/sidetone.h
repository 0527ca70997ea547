// The sidetone: a one-second sine table played in a loop on its own output, gated on and off
// by the decode tick. The keys 9 and 0 lower and raise the frequency in 10 Hz steps.
#pragma once

#include "display/tone_switch.h"
#include "platform/audio_output.h"

namespace dittix::display {

inline constexpr double kMinTone = 250.0;
inline constexpr double kMaxTone = 1000.0;

// One second of the tone from phase 0: 32 768 × sin(2π f / 44 100 × i), truncated toward zero
// and limited to 32 767. A whole-number frequency loops without a seam.
platform::SampleBuffer makeSineTable(double frequency);

class Sidetone : public ToneSwitch {
  public:
    Sidetone(platform::LoopingOutput& output, double frequency);

    // Opens the output (unless it is open already) and fills the sine table at the current
    // frequency, tone off: 0 on success, 1 when the output cannot be opened (the table keeps
    // what it held, and keying stays silent).
    int openSidetone();
    void toneOn() override;
    void toneOff() override;

    // A key-down in the main window: '9' lowers, '0' raises (digit row only). A step within
    // 250 .. 1000 Hz stops the tone, opens the sidetone again at the new frequency (a lost or
    // never opened output is opened anew) and, when the keyboard is keying, turns the tone back
    // on; a step beyond a bound only sets the bound.
    void changeTone(int keyCode, bool keyboardKeyDown);

    double frequency() const { return m_frequency; }
    // The sine table as last filled (silence before the first successful open). Never written
    // again: a tone change makes a new one.
    platform::SharedSamples sineTable() const { return m_sineTable; }

  private:
    platform::LoopingOutput& m_output;
    double m_frequency;
    platform::SharedSamples m_sineTable;
};

}  // namespace dittix::display
