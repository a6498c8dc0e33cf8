#include "serial_port.h"

#include "com_map.h"

#include <cstring>

TCommPort::TCommPort(QObject *owner)
    : QObject(owner), serial_(new QSerialPort(this)), input_(2048)
{
    connect(serial_, &QSerialPort::readyRead, this, &TCommPort::Pump);
    connect(serial_, &QSerialPort::errorOccurred, this, &TCommPort::OnError);
}

TCommPort::~TCommPort()
{
    Close();
}

void TCommPort::SetInSize(int size)
{
    if (serial_->isOpen() || size < 1)
        return;
    input_.assign(std::size_t(size), '\0');
}

void TCommPort::SetOpen(bool open)
{
    if (!open) {
        Close();
        return;
    }
    if (serial_->isOpen())
        return;

    lastError_.clear();
    lastErrorKind_ = QSerialPort::NoError;
    lost_ = false;
    lock_ = {};
    const ComRoute route = path_.isEmpty() ? RouteCom(comNumber_) : RoutePath(path_);
    device_ = route.device;
    if (route.device.isEmpty()) {
        Fail(QSerialPort::DeviceNotFoundError,
             tr("COM%1 names no port: numbers start at 1").arg(comNumber_));
        return;
    }

    lock_ = CheckLock(route.device);
    if (lock_.state != PortLock::Free) {
        Fail(QSerialPort::PermissionError, LockReason(route.device, lock_));
        return;
    }

    serial_->setPortName(route.device);
    serial_->setBaudRate(baud_);
    serial_->setDataBits(QSerialPort::DataBits(dataBits_));
    serial_->setParity(QSerialPort::NoParity);
    serial_->setStopBits(QSerialPort::OneStop);
    serial_->setFlowControl(QSerialPort::NoFlowControl);
    // Bounds what Qt itself holds on top of our own buffer; the rest waits in
    // the driver until the window has taken what it has.
    serial_->setReadBufferSize(qint64(input_.size()));
    if (!serial_->open(QIODevice::ReadWrite)) {
        Fail(serial_->error(), serial_->errorString());
        serial_->clearError();
        return;
    }
    // Whatever the line carried before the open belongs to nobody.
    serial_->clear();
    begin_ = end_ = 0;
}

void TCommPort::Close()
{
    if (serial_->isOpen())
        serial_->close();
    begin_ = end_ = 0;
}

void TCommPort::Fail(QSerialPort::SerialPortError kind, const QString &reason)
{
    lastErrorKind_ = kind;
    lastError_ = reason;
    emit OnFailure();
}

void TCommPort::OnError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !serial_->isOpen())
        return;
    // A vanished device keeps reporting the same error from every wake-up of
    // the event loop until the port is closed, so close at the first one.
    lost_ = true;
    Fail(error, serial_->errorString());
    Close();
    serial_->clearError();
    emit OnLost();
}

void TCommPort::Pump()
{
    pumpQueued_ = false;
    if (!serial_->isOpen())
        return;
    if (begin_ > 0) {
        std::memmove(input_.data(), input_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    const qint64 got = serial_->read(input_.data() + end_, qint64(input_.size() - end_));
    if (got <= 0)
        return;
    end_ += std::size_t(got);
    emit OnDataReceived(int(got));

    // More may wait in Qt's buffer than ours could take. Come back for it
    // through the event loop, so the timer and repaints go on meanwhile.
    if (!pumpQueued_ && serial_->isOpen() && serial_->bytesAvailable() > 0) {
        pumpQueued_ = true;
        QMetaObject::invokeMethod(this, &TCommPort::Pump, Qt::QueuedConnection);
    }
}

void TCommPort::PutChar(char ch)
{
    if (serial_->isOpen())
        serial_->putChar(ch);
}

void TCommPort::PutString(const char *text)
{
    if (serial_->isOpen() && text)
        serial_->write(text, qint64(std::strlen(text)));
}
