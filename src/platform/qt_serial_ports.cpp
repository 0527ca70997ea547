// The key port on Qt's QSerialPort: opened exclusively to raise DTR and read back the modem-status
// lines; no data is ever sent or received.
#include <QSerialPort>
#include <QString>

#include <array>
#include <utility>

#include "platform/serial_lines.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace dittix::platform {
namespace {

// The lines the key is read on, with their bits in the modem status word.
constexpr std::array<std::pair<QSerialPort::PinoutSignal, std::uint32_t>, 4> kStatusBits{{
    {QSerialPort::ClearToSendSignal, 0x10},
    {QSerialPort::DataSetReadySignal, 0x20},
    {QSerialPort::RingIndicatorSignal, 0x40},
    {QSerialPort::DataCarrierDetectSignal, 0x80},
}};

// Nothing reads the port's data, so only this much incoming data is buffered; once it is full
// the toolkit stops watching the port for data, and a chatty device costs neither memory nor
// wake-ups.
constexpr qint64 kReadBufferBytes = 64;

class QtSerialHandle final : public SerialHandle {
  public:
    explicit QtSerialHandle(std::unique_ptr<QSerialPort> port) : m_port(std::move(port)) {}

    std::uint32_t readModemStatus() override {
        // The toolkit warns on every call made on a closed port: answer those here.
        if (!m_port->isOpen()) {
            return 0;
        }
        if (m_port->error() != QSerialPort::NoError) {
            m_port->clearError();  // left by the background data watch, not by this read
        }
        const QSerialPort::PinoutSignals lines = m_port->pinoutSignals();
        if (m_port->error() != QSerialPort::NoError) {
            m_port->clearError();
            return 0;
        }
        std::uint32_t word = 0;
        for (const auto& [signal, bit] : kStatusBits) {
            if (lines.testFlag(signal)) {
                word |= bit;
            }
        }
        return word;
    }

    void close() override {
        if (m_port->isOpen()) {
            m_port->close();
        }
    }

    bool isOpen() const override { return m_port->isOpen(); }

  private:
    std::unique_ptr<QSerialPort> m_port;
};

// Whether this process may read and write the device, so that a refused open was not about
// permissions but about another owner.
bool deviceAccessible(const std::string& path) {
#ifdef _WIN32
    // Windows refuses a port open elsewhere with "access denied": that is the usual meaning.
    (void)path;
    return true;
#else
    return ::access(path.c_str(), R_OK | W_OK) == 0;
#endif
}

SerialError describeOpenError(const std::string& path, const QSerialPort& port) {
    const std::string reason = port.errorString().toStdString();
    switch (port.error()) {
        case QSerialPort::DeviceNotFoundError:
            return {SerialErrorCode::NoDevice, path + ": " + reason};
        case QSerialPort::PermissionError:
            // The toolkit reports a port locked by another program (its lock file, or the
            // device's exclusive mode) as a permission error too. When the device itself is
            // readable and writable, the lock is what refused it.
            if (deviceAccessible(path)) {
                return {SerialErrorCode::Busy,
                        path + ": in use by another program (" + reason + ")"};
            }
            return {SerialErrorCode::PermissionDenied, path + ": " + reason};
        default:
            return {SerialErrorCode::Other, path + ": " + reason};
    }
}

class QtSerialPorts final : public SerialPorts {
  public:
    SerialOpenResult open(int number) override {
        const std::string path = devicePathForPort(number);
        if (path.empty()) {
            return {nullptr,
                    {SerialErrorCode::NoDevice, "COM" + std::to_string(number) + ": no device"}};
        }
        return openToolkitSerialDevicePath(path);
    }

    std::string devicePath(int number) const override { return devicePathForPort(number); }
    // A port is an object of the thread that opened it, watched by that thread's event loop.
    bool opensOnAnyThread() const override { return false; }
};

}  // namespace

SerialOpenResult openToolkitSerialDevicePath(const std::string& path) {
    auto port = std::make_unique<QSerialPort>();
    // A full path is used as it is (no "/dev/" or "\\.\" is added to it).
    port->setPortName(QString::fromStdString(path));
    port->setReadBufferSize(kReadBufferBytes);
    // Read-write with the toolkit's exclusive open: its lock file plus the device's exclusive
    // mode. The toolkit puts the line in raw mode at its default speed and restores the
    // previous settings on close; nothing else of the configuration is touched here.
    if (!port->open(QIODevice::ReadWrite)) {
        return {nullptr, describeOpenError(path, *port)};
    }
    // DTR feeds the key's contacts. A device without modem control (a pseudo-terminal, some
    // adapters) refuses it; the port stays open and then simply reads as no line active.
    if (!port->setDataTerminalReady(true)) {
        port->clearError();
    }
    return {std::make_shared<QtSerialHandle>(std::move(port)), {}};
}

std::unique_ptr<SerialPorts> makeToolkitSerialPorts() {
    return std::make_unique<QtSerialPorts>();
}

}  // namespace dittix::platform
