#include "port_tooltips.h"

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

// The number under which another port of the same form holds `port`'s
// device: the other side of the window.
int OtherSideNumber(const TCommPort *port)
{
    for (const TCommPort *other : port->parent()->findChildren<TCommPort *>())
        if (other != port && other->GetOpen() && other->GetDevice() == port->GetDevice())
            return other->GetComNumber();
    return 0;
}

void ExplainFailures(QLabel *label, TCommPort *port)
{
    // A direct connection: the reason is in place before the window code
    // shows the label. A screen reader reads the description, so it carries
    // the reason too.
    QObject::connect(port, &TCommPort::OnFailure, label, [label, port] {
        FailureFacts facts = LookUpFailure(*port);
        facts.otherSide = OtherSideNumber(port);
        const QString hint = FailureHint(facts, QDir::homePath());
        label->setToolTip(hint);
        label->setAccessibleDescription(hint);
    });
}

// A name the layout gets wrong would leave a side without its tooltips and
// nobody the wiser, so it stops the window from being made at all.
template <class T>
T *Named(const QObject *tooltips, const char *property)
{
    const QString name = tooltips->property(property).toString();
    T *found = tooltips->parent() ? tooltips->parent()->findChild<T *>(name) : nullptr;
    if (!found)
        throw Exception(FromQString(QStringLiteral("%1: %2 names no suitable component (\"%3\")")
                                        .arg(tooltips->objectName(), QLatin1String(property), name)));
    return found;
}

} // namespace

void TPortTooltips::Loaded()
{
    ShowRoute(Named<QSpinBox>(this, "NumberField"));
    ExplainFailures(Named<QLabel>(this, "ErrorLabel"), Named<TCommPort>(this, "Port"));
}
