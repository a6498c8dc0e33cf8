#include "port_hints.h"

#include "com_map.h"
#include "port_facts.h"
#include "serial_port.h"
#include "text.h"

#include <QDir>
#include <QEvent>
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
        facts.lost = port->GetLost();
        label->setToolTip(FailureHint(facts, QDir::homePath()));
    });
}

// A name the layout gets wrong would leave a side without its hints and
// nobody the wiser, so it stops the window from being made at all.
template <class T>
T *Named(const QObject *hints, const char *property)
{
    const QString name = hints->property(property).toString();
    T *found = hints->parent() ? hints->parent()->findChild<T *>(name) : nullptr;
    if (!found)
        throw Exception(FromQString(QStringLiteral("%1: %2 names no suitable component (\"%3\")")
                                        .arg(hints->objectName(), QLatin1String(property), name)));
    return found;
}

} // namespace

void TPortHints::Loaded()
{
    ShowRoute(Named<QSpinBox>(this, "NumberField"));
    ExplainFailures(Named<QLabel>(this, "ErrorLabel"), Named<TCommPort>(this, "Port"));
}
