#include "port_hints.h"

#include "com_map.h"
#include "serial_port.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QSpinBox>

#include <functional>

namespace {

// Links can change while the window is open (a cable started later, an
// adapter plugged in), so a route is looked up again whenever it is shown.
class RefreshOnToolTip final : public QObject
{
public:
    RefreshOnToolTip(QObject *owner, std::function<void()> refresh)
        : QObject(owner), refresh_(std::move(refresh))
    {
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ToolTip)
            refresh_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> refresh_;
};

void ShowRoute(QSpinBox *field)
{
    const auto refresh = [field] {
        field->setToolTip(RouteHint(LookUpRoute(field->value()), QDir::homePath()));
    };
    refresh();
    QObject::connect(field, &QSpinBox::valueChanged, field, refresh);
    field->installEventFilter(new RefreshOnToolTip(field, refresh));
}

void ExplainFailures(QLabel *label, TCommPort *port)
{
    // A direct connection: the reason is in place before the window code
    // shows the label.
    QObject::connect(port, &TCommPort::OnFailure, label, [label, port] {
        FailureFacts facts;
        facts.route = LookUpRoute(port->GetComNumber());
        facts.kind = port->GetLastErrorKind();
        facts.reason = port->GetLastError();
        facts.serialDevices = PresentSerialDevices();
        facts.linkFolder = ComLinkFolder();
        label->setToolTip(FailureHint(facts, QDir::homePath()));
    });
}

} // namespace

RouteFacts LookUpRoute(int number)
{
    const ComRoute route = RouteCom(number);
    RouteFacts facts{number, route.device, route.link, false};
    if (route.device.isEmpty())
        return facts;
    const QFileInfo device(route.device);
    if (!route.link.isEmpty() && device.isSymLink() && !device.exists())
        facts.device = device.symLinkTarget();
    facts.present = device.exists();
    return facts;
}

QStringList PresentSerialDevices()
{
    const auto filters = QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot;
    QStringList found;
    const QDir dev(QStringLiteral("/dev"));
    for (const QString &name : dev.entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")}, filters))
        found << dev.filePath(name);
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QString &name : byId.entryList(filters))
        found << byId.filePath(name);
    return found;
}

void AttachPortHints(QWidget *form)
{
    for (QSpinBox *field : form->findChildren<QSpinBox *>())
        if (field->property("ShowsComRoute").toBool())
            ShowRoute(field);
    for (QLabel *label : form->findChildren<QLabel *>()) {
        const QString portName = label->property("ExplainsFailureOf").toString();
        if (portName.isEmpty())
            continue;
        if (auto *port = form->findChild<TCommPort *>(portName))
            ExplainFailures(label, port);
    }
}
