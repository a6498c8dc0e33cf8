#pragma once

#include "port_lock.h"

#include <QObject>
#include <QSerialPort>
#include <QString>

#include <cstdint>
#include <vector>

// One serial port with fixed line settings (9600 8N1, no flow control) and a
// bounded input buffer the window reads byte by byte. Every failure is kept
// as a reason instead of being thrown, so the window can say why later.
class TCommPort : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int ComNumber READ GetComNumber WRITE SetComNumber)
    Q_PROPERTY(int Baud READ GetBaud WRITE SetBaud)
    Q_PROPERTY(int DataBits READ GetDataBits WRITE SetDataBits)
    Q_PROPERTY(int InSize READ GetInSize WRITE SetInSize)
public:
    explicit TCommPort(QObject *owner);
    ~TCommPort() override;

    int GetComNumber() const { return comNumber_; }
    void SetComNumber(int number) { comNumber_ = number; }
    // A device to open by its path instead of by the COM number; empty (as
    // made) means the number.
    QString GetPath() const { return path_; }
    void SetPath(const QString &path) { path_ = path; }
    int GetBaud() const { return baud_; }
    void SetBaud(int baud) { baud_ = baud; }
    int GetDataBits() const { return dataBits_; }
    void SetDataBits(int bits) { dataBits_ = bits; }
    int GetInSize() const { return int(input_.size()); }
    void SetInSize(int size);

    bool GetOpen() const { return serial_->isOpen(); }
    void SetOpen(bool open);

    std::uint32_t GetInBuffUsed() const { return std::uint32_t(end_ - begin_); }
    // 0 when nothing waits.
    char GetChar() { return begin_ < end_ ? input_[begin_++] : '\0'; }
    void PutChar(char ch);
    void PutString(const char *text);

    // Why the last open failed, or why the port closed on its own, and
    // which of the two it was.
    QString GetDevice() const { return device_; }
    QString GetLastError() const { return lastError_; }
    QSerialPort::SerialPortError GetLastErrorKind() const { return lastErrorKind_; }
    bool GetLost() const { return lost_; }
    // What the look at the device's lock found on the last open.
    const PortLock &GetLock() const { return lock_; }

signals:
    void OnDataReceived(int count);
    // An open failed, or the port closed on an error; the reason is set.
    void OnFailure();
    // The port closed on its own: its device went away or failed (an
    // adapter pulled out, a cable ended). Raised after OnFailure, once the
    // port is closed.
    void OnLost();

private:
    void Pump();
    void OnError(QSerialPort::SerialPortError error);
    void Close();
    void Fail(QSerialPort::SerialPortError kind, const QString &reason);

    QSerialPort *serial_;
    int comNumber_ = 2;
    QString path_;
    int baud_ = 9600;
    int dataBits_ = 8;
    std::vector<char> input_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool pumpQueued_ = false;
    QString device_;
    QString lastError_;
    QSerialPort::SerialPortError lastErrorKind_ = QSerialPort::NoError;
    bool lost_ = false;
    PortLock lock_;
};
