#pragma once

#include "com_map.h"
#include "port_failure.h"
#include "port_lock.h"
#include "serial_device.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One serial port on the line it is given (as made, the window's 9600 8N1)
// and a bounded input buffer the window reads byte by byte.
// Every failure is kept as facts instead of being thrown, so the window can
// say why later.
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
    // The line the next open sets up; Baud and DataBits are its parts the
    // window's layout sets.
    const LineSettings &GetSettings() const { return settings_; }
    void SetSettings(const LineSettings &settings) { settings_ = settings; }
    int GetBaud() const { return settings_.baud; }
    void SetBaud(int baud) { settings_.baud = baud; }
    int GetDataBits() const { return settings_.dataBits; }
    void SetDataBits(int bits) { settings_.dataBits = bits; }
    int GetInSize() const { return int(input_.size()); }
    void SetInSize(int size);

    bool GetOpen() const { return device_ != nullptr; }
    void SetOpen(bool open);

    std::uint32_t GetInBuffUsed() const { return std::uint32_t(end_ - begin_); }
    // 0 when nothing waits.
    char GetChar()
    {
        if (begin_ == end_)
            return '\0';
        if (readsPaused_)
            ResumeReads();
        return input_[begin_++];
    }
    // Queued in order, and sent as soon as the device takes them.
    void PutChar(char ch);
    void PutString(const char *text);
    // Bytes queued here or in the driver that are not on the line yet.
    std::uint32_t GetOutBuffUsed();

    // Where the last open led: the number or path, the device, the link.
    const ComRoute &GetRoute() const { return route_; }
    QString GetDevice() const { return route_.device; }
    // Why the last open failed, or why the port closed on its own.
    const PortFailure &GetFailure() const { return failure_; }
    // What the look at the device's lock found on the last open.
    const PortLock &GetLock() const { return lock_; }
    // The open device itself, for what only it can tell or do (its
    // counters, its handshake lines); null while closed.
    TSerialDevice *GetLine() const { return device_; }

signals:
    void OnDataReceived(int count);
    // An open failed, or the port closed on a failure; GetFailure says why.
    void OnFailure();
    // The port closed on its own: its device went away or failed (an
    // adapter pulled out, a cable ended, a write the driver refused).
    // Raised after OnFailure, once the port is closed.
    void OnLost();

private:
    void Pump();
    void Deliver();
    void Queue(std::string_view bytes);
    void Flush();
    void ResumeReads();
    void LookWhilePaused();
    void LoseSoon();
    void Lose();
    void Close();
    void Fail(const PortFailure &failure);

    TSerialDevice *device_ = nullptr;
    int comNumber_ = 2;
    QString path_;
    LineSettings settings_;
    std::vector<char> input_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    // What one read brought that the input buffer has not taken yet.
    std::vector<char> read_;
    std::size_t readBegin_ = 0;
    std::size_t readEnd_ = 0;
    bool readsPaused_ = false;
    // While reads pause, the line is asked now and then whether it hung
    // up: a port nobody reads (the window's slave) would otherwise never
    // hear its device go.
    QTimer pausedLook_;
    std::string output_;
    ComRoute route_;
    PortFailure failure_;
    PortLock lock_;
};
