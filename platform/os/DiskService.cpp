// The desktop's disk service over D-Bus, each call bounded in time.
#include "platform/os/DiskService.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QVariantMap>

namespace kos {

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kManager = QStringLiteral("org.freedesktop.UDisks2.Manager");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

DiskCall Outcome(const QDBusMessage& reply)
{
    if (reply.type() == QDBusMessage::ReplyMessage)
        return DiskCall::Done;
    const QString name = reply.errorName();
    if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
        || name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")
        || name == QLatin1String("org.freedesktop.DBus.Error.Disconnected"))
        return DiskCall::Absent;
    if (name == QLatin1String("org.freedesktop.UDisks2.Error.NotAuthorizedDismissed")
        || name == QLatin1String("org.freedesktop.UDisks2.Error.Cancelled")
        || name == QLatin1String("org.freedesktop.PolicyKit1.Error.Cancelled"))
        return DiskCall::Dismissed;
    return DiskCall::Failed;
}

// The first argument of a reply, unwrapped from a variant ("v") if it is one.
QVariant FirstArgument(const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    QVariant v = reply.arguments().constFirst();
    if (v.canConvert<QDBusVariant>())
        v = v.value<QDBusVariant>().variant();
    return v;
}

class Session {
public:
    Session(const QString& bus, int quickMs, int slowMs) : quickMs_(quickMs), slowMs_(slowMs)
    {
        // The system bus wants an application object to deliver its messages.
        if (!bus.isEmpty())
            connection_ = QDBusConnection(bus);
        else if (QCoreApplication::instance())
            connection_ = QDBusConnection::systemBus();
    }

    QDBusMessage Call(const QString& path, const QString& iface, const QString& method, const QVariantList& args,
        bool slow = false) const
    {
        if (!connection_.isConnected())
            return QDBusMessage::createError(QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
                QStringLiteral("no bus"));
        QDBusMessage m = QDBusMessage::createMethodCall(kService, path, iface, method);
        m.setArguments(args);
        m.setInteractiveAuthorizationAllowed(true);
        return connection_.call(m, QDBus::Block, slow ? slowMs_ : quickMs_);
    }

    // The service's object for Device ("/dev/sdb1"); Outcome says why none.
    QString BlockObject(const QString& device, DiskCall& outcome) const
    {
        const QDBusMessage reply = Call(QStringLiteral("/org/freedesktop/UDisks2/Manager"), kManager,
            QStringLiteral("ResolveDevice"), {QVariantMap{{QStringLiteral("path"), device}}, QVariantMap()});
        outcome = Outcome(reply);
        const QVariant v = FirstArgument(reply);
        if (v.canConvert<QDBusArgument>()) {
            const auto paths = qdbus_cast<QList<QDBusObjectPath>>(v.value<QDBusArgument>());
            if (!paths.isEmpty())
                return paths.constFirst().path();
        } else if (v.canConvert<QList<QDBusObjectPath>>()) {
            const auto paths = v.value<QList<QDBusObjectPath>>();
            if (!paths.isEmpty())
                return paths.constFirst().path();
        }
        if (outcome == DiskCall::Done)
            outcome = DiskCall::Failed;
        return {};
    }

    QVariant Property(const QString& path, const QString& iface, const QString& name) const
    {
        return FirstArgument(Call(path, kProperties, QStringLiteral("Get"), {iface, name}));
    }

private:
    QDBusConnection connection_ {QString()};
    int quickMs_;
    int slowMs_;
};

}  // namespace

DiskService::DiskService(const QString& bus, int quickMs, int slowMs) : bus_(bus), quickMs_(quickMs), slowMs_(slowMs)
{
}

std::optional<bool> DiskService::Removable(const QString& device)
{
    Session s(bus_, quickMs_, slowMs_);
    DiskCall outcome;
    const QString block = s.BlockObject(device, outcome);
    if (block.isEmpty())
        return std::nullopt;
    const QVariant drive = s.Property(block, kBlock, QStringLiteral("Drive"));
    if (!drive.canConvert<QDBusObjectPath>())
        return std::nullopt;
    const QString path = drive.value<QDBusObjectPath>().path();
    if (path.isEmpty() || path == QLatin1String("/"))
        return false;  // no drive behind it (a loop or mapped device)
    const QVariant removable = s.Property(path, kDrive, QStringLiteral("Removable"));
    const QVariant media = s.Property(path, kDrive, QStringLiteral("MediaRemovable"));
    if (!removable.isValid() && !media.isValid())
        return std::nullopt;
    return removable.toBool() || media.toBool();
}

DiskCall DiskService::SetLabel(const QString& device, const QString& label)
{
    Session s(bus_, quickMs_, slowMs_);
    DiskCall outcome;
    const QString block = s.BlockObject(device, outcome);
    if (block.isEmpty())
        return outcome;
    return Outcome(s.Call(block, kFilesystem, QStringLiteral("SetLabel"), {label, QVariantMap()}, true));
}

DiskCall DiskService::Format(const QString& device, const QString& label, bool mounted, QString& where)
{
    where.clear();
    Session s(bus_, quickMs_, slowMs_);
    DiskCall outcome;
    const QString block = s.BlockObject(device, outcome);
    if (block.isEmpty())
        return outcome;
    if (mounted) {
        const QDBusMessage reply = s.Call(block, kFilesystem, QStringLiteral("Unmount"), {QVariantMap()}, true);
        outcome = Outcome(reply);
        if (outcome != DiskCall::Done && reply.errorName() != QLatin1String("org.freedesktop.UDisks2.Error.NotMounted"))
            return outcome;
    }
    outcome = Outcome(s.Call(block, kBlock, QStringLiteral("Format"),
        {QStringLiteral("vfat"), QVariantMap{{QStringLiteral("label"), label}}}, true));
    if (outcome != DiskCall::Done && !mounted)
        return outcome;
    const QDBusMessage reply = s.Call(block, kFilesystem, QStringLiteral("Mount"), {QVariantMap()}, true);
    if (outcome != DiskCall::Done)
        return outcome;
    where = FirstArgument(reply).toString();
    return Outcome(reply);
}

}  // namespace kos
