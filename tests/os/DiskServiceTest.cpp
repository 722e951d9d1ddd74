// The volume service's changes (label, format) through a stand-in for the
// desktop's disk service, registered on a private bus.
#include "platform/os/SystemVolumes.h"
#include "tests/os/FakeMachine.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QMutex>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QThread>

#include <functional>
#include <vector>

using kos::DriveType;
using kos::SystemVolumes;

namespace {

struct Call {
    QString object;  // last part of the object path: "Manager", "sdb1"
    QString member;
    QVariantList args;  // a{sv} arguments as maps
};

// Answers as the disk service does, for block devices and drives named like
// the kernel's; records every call but property reads. A member listed in
// `fail` answers that error, one in `silent` never answers.
class FakeDisks : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override
    {
        QMutexLocker lock(&mutex);
        QVariantList args;
        for (const QVariant& a : m.arguments())
            args += a.canConvert<QDBusArgument>() ? QVariant(qdbus_cast<QVariantMap>(a.value<QDBusArgument>())) : a;
        const QString object = m.path().section(QLatin1Char('/'), -1);
        const QString member = m.member();
        if (member != QLatin1String("Get"))
            calls.push_back({object, member, args});
        if (silent.contains(member))
            return true;
        if (fail.contains(member)) {
            bus.send(m.createErrorReply(fail.value(member), QStringLiteral("refused")));
            return true;
        }
        if (member == QLatin1String("ResolveDevice")) {
            const QString name = args.value(0).toMap().value(QStringLiteral("path")).toString().section(QLatin1Char('/'), -1);
            bus.send(m.createReply(QVariant::fromValue(
                QList<QDBusObjectPath> {QDBusObjectPath(QStringLiteral("/org/freedesktop/UDisks2/block_devices/") + name)})));
        } else if (member == QLatin1String("Get")) {
            const QString property = args.value(1).toString();
            QVariant value;
            if (property == QLatin1String("Drive"))
                value = QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/freedesktop/UDisks2/drives/") + object));
            else if (property == QLatin1String("MediaRemovable"))
                value = mediaRemovable.contains(object);
            else
                value = false;
            bus.send(m.createReply(QVariant::fromValue(QDBusVariant(value))));
        } else if (member == QLatin1String("Mount")) {
            bus.send(m.createReply(onMount ? onMount() : QStringLiteral("/media/u/NEW")));
        } else {
            bus.send(m.createReply());
        }
        return true;
    }

    std::vector<Call> Calls()
    {
        QMutexLocker lock(&mutex);
        return std::exchange(calls, {});
    }
    void Set(std::function<void(FakeDisks&)> change)
    {
        QMutexLocker lock(&mutex);
        change(*this);
    }

    QHash<QString, QString> fail;
    QSet<QString> silent;
    QSet<QString> mediaRemovable;  // drives (named as their block device)
    std::function<QString()> onMount;  // mounts the medium, says where

private:
    QMutex mutex;
    std::vector<Call> calls;
};

QStringList Members(const std::vector<Call>& calls)
{
    QStringList m;
    for (const Call& c : calls)
        m += c.member;
    return m;
}

const QString kDismissed = QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorizedDismissed");
const QString kFailed = QStringLiteral("org.freedesktop.UDisks2.Error.Failed");

class DiskServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "korvale-test";
        static char* argv[] = {name, nullptr};
        static auto* app = new QCoreApplication(argc, argv);
        (void)app;
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed: no private bus to stand the disk service on";
        daemon_.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                                  QStringLiteral("--print-address=1"), QStringLiteral("--address=unix:tmpdir=") + m.base});
        ASSERT_TRUE(daemon_.waitForStarted());
        while (!daemon_.canReadLine() && daemon_.waitForReadyRead(10000)) { }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        ASSERT_FALSE(address_.isEmpty()) << daemon_.readAllStandardError().toStdString();
        ASSERT_TRUE(QDBusConnection::connectToBus(address_, client_).isConnected());
        fake_.moveToThread(&thread_);
        thread_.start();

        m.Disk(QStringLiteral("sda"), FakeMachine::kSata, false);
        m.Partition(QStringLiteral("sda"), QStringLiteral("sda1"));
        m.Disk(QStringLiteral("sdb"), FakeMachine::kUsb, true);
        m.Partition(QStringLiteral("sdb"), QStringLiteral("sdb1"));
        m.Disk(QStringLiteral("sdd"), FakeMachine::kCardReader, false);
        system_ = m.Dir(QStringLiteral("system")) + QLatin1Char('/');
        stick_ = m.Dir(QStringLiteral("STICK")) + QLatin1Char('/');
        card_ = m.Dir(QStringLiteral("card")) + QLatin1Char('/');
        Mount(stick_);
    }

    // The table with the stick's medium mounted at Where.
    void Mount(const QString& where)
    {
        m.Mounts({FakeMachine::Line(system_, QStringLiteral("ext4"), QStringLiteral("/dev/sda1")),
            FakeMachine::Line(where, QStringLiteral("vfat"), QStringLiteral("/dev/sdb1")),
            FakeMachine::Line(card_, QStringLiteral("vfat"), QStringLiteral("/dev/sdd"))});
    }

    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(client_);
        QDBusConnection::disconnectFromBus(service_);
        thread_.quit();
        thread_.wait();
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.kill();
            daemon_.waitForFinished();
        }
    }

    // Puts the stand-in on the bus under the disk service's name.
    void Serve()
    {
        // Registered from the stand-in's own thread, where its calls arrive.
        bool served = false;
        QMetaObject::invokeMethod(
            &fake_,
            [&] {
                QDBusConnection bus = QDBusConnection::connectToBus(address_, service_);
                served = bus.registerVirtualObject(QStringLiteral("/org/freedesktop/UDisks2"), &fake_,
                             QDBusConnection::SubPath)
                    && bus.registerService(QStringLiteral("org.freedesktop.UDisks2"));
            },
            Qt::BlockingQueuedConnection);
        ASSERT_TRUE(served);
    }

    SystemVolumes::Sources Sources() const
    {
        SystemVolumes::Sources s = m.Sources();
        s.bus = client_;
        return s;
    }

    FakeMachine m;
    FakeDisks fake_;
    QString system_, stick_, card_;

private:
    QProcess daemon_;
    QThread thread_;
    QString address_;
    const QString client_ = QStringLiteral("korvale-volumes-client");
    const QString service_ = QStringLiteral("korvale-volumes-service");
};

}  // namespace

TEST_F(DiskServiceTest, FormatUnmountsFormatsAndMountsAndTheNewRootFollows)
{
    Serve();
    const QString fresh = m.Dir(QStringLiteral("PKBACK# 001")) + QLatin1Char('/');
    fake_.Set([&](FakeDisks& f) {
        f.onMount = [&] {
            Mount(fresh);
            return fresh.chopped(1);
        };
    });
    SystemVolumes v(Sources());
    ASSERT_EQ(v.RootOf(stick_), stick_);

    EXPECT_EQ(v.Format(stick_, QStringLiteral("PKBACK# 001")), 0);
    const auto calls = fake_.Calls();
    ASSERT_EQ(Members(calls), QStringList({"ResolveDevice", "Unmount", "Format", "Mount"}));
    EXPECT_EQ(calls[0].args.value(0).toMap().value("path").toString(), "/dev/sdb1");
    for (size_t i = 1; i < calls.size(); ++i)
        EXPECT_EQ(calls[i].object, "sdb1");
    EXPECT_EQ(calls[2].args.value(0).toString(), "vfat");
    EXPECT_EQ(calls[2].args.value(1).toMap().value("label").toString(), "PKBACK# 001");
    EXPECT_EQ(v.CurrentRoot(stick_), fresh);

    EXPECT_TRUE(v.SetLabel(fresh, QStringLiteral("PKBACK# 002")));
    const auto label = fake_.Calls();
    ASSERT_EQ(Members(label), QStringList({"ResolveDevice", "SetLabel"}));
    EXPECT_EQ(label[1].object, "sdb1");
    EXPECT_EQ(label[1].args.value(0).toString(), "PKBACK# 002");

    // A disk that calls itself fixed is removable when the service says so.
    fake_.Set([](FakeDisks& f) { f.mediaRemovable = {QStringLiteral("sdd")}; });
    EXPECT_EQ(v.TypeOf(card_), DriveType::Removable);
    EXPECT_EQ(v.TypeOf(system_), DriveType::Fixed);
}

TEST_F(DiskServiceTest, RefusalsAreToldApartAndNothingTouchesAFixedDisk)
{
    Serve();
    SystemVolumes v(Sources());

    fake_.Set([](FakeDisks& f) { f.fail = {{QStringLiteral("Format"), kDismissed}}; });
    EXPECT_EQ(v.Format(stick_, QStringLiteral("X")), -2);
    // The medium is mounted back as it was.
    EXPECT_EQ(Members(fake_.Calls()), QStringList({"ResolveDevice", "Unmount", "Format", "Mount"}));

    fake_.Set([](FakeDisks& f) { f.fail = {{QStringLiteral("Format"), kFailed}}; });
    EXPECT_EQ(v.Format(stick_, QStringLiteral("X")), -1);

    fake_.Set([](FakeDisks& f) { f.fail = {{QStringLiteral("Unmount"), kFailed}}; });
    EXPECT_EQ(v.Format(stick_, QStringLiteral("X")), -1);
    EXPECT_EQ(Members(fake_.Calls()).count(QStringLiteral("Format")), 1);  // the earlier one only

    fake_.Set([](FakeDisks& f) { f.fail = {{QStringLiteral("SetLabel"), kFailed}}; });
    EXPECT_FALSE(v.SetLabel(stick_, QStringLiteral("X")));

    fake_.Calls();
    EXPECT_EQ(v.Format(system_, QStringLiteral("X")), -3);
    const QStringList asked = Members(fake_.Calls());
    EXPECT_FALSE(asked.contains(QStringLiteral("Unmount")) || asked.contains(QStringLiteral("Format"))) << asked.join(' ').toStdString();

    // A service that never answers is a failure after the time allowed.
    SystemVolumes::Sources s = Sources();
    s.quickTimeoutMs = s.slowTimeoutMs = 300;
    SystemVolumes hasty(s);
    fake_.Set([](FakeDisks& f) {
        f.fail.clear();
        f.silent = {QStringLiteral("Unmount")};
    });
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(hasty.Format(stick_, QStringLiteral("X")), -1);
    EXPECT_LT(t.elapsed(), 5000);
}

TEST_F(DiskServiceTest, NoServiceOnTheBus)
{
    SystemVolumes v(Sources());
    EXPECT_EQ(v.Format(stick_, QStringLiteral("X")), -3);
    EXPECT_FALSE(v.SetLabel(stick_, QStringLiteral("X")));
    EXPECT_EQ(v.TypeOf(card_), DriveType::Fixed);
    EXPECT_EQ(v.TypeOf(stick_), DriveType::Removable);
}
