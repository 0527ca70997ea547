// Which rows of a window's client area can actually be seen: not below the screen's available
// area, not under a panel, and inside the client area itself.
#pragma once

class QWidget;

namespace dittix::platform {

class ScreenProbe {
  public:
    virtual ~ScreenProbe() = default;
    virtual bool rowVisible(int clientRow) const = 0;

  protected:
    ScreenProbe() = default;
};

// Probes a real window against the available geometry of the screen it is on.
class WidgetScreenProbe : public ScreenProbe {
  public:
    explicit WidgetScreenProbe(const QWidget& window) : m_window(window) {}
    bool rowVisible(int clientRow) const override;

  private:
    const QWidget& m_window;
};

}  // namespace dittix::platform
