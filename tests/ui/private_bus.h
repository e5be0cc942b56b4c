#pragma once

// A session bus of the test's own (a real dbus-daemon) on which a test plays
// the desktop's portals.

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <QDBusConnection>
#include <QDBusError>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace corvalent::testing {

// A session bus of the test's own that starts nothing on demand, so that a
// name nobody has taken stays without an owner.
class PrivateBus {
public:
    PrivateBus()
    {
        const auto config = folder_.filePath("bus.conf");
        QFile file(config);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                                  "<auth>EXTERNAL</auth><policy context=\"default\">"
                                  "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                  "<allow own=\"*\"/></policy></busconfig>")
                       .arg(folder_.path())
                       .toUtf8());
        file.close();
        // The bus goes with the test process, even when that crashes.
        daemon_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        daemon_.start("dbus-daemon", {"--config-file=" + config, "--print-address", "--nofork"});
        EXPECT_TRUE(QTest::qWaitFor([this] { return daemon_.canReadLine(); }, 10'000))
            << "dbus-daemon (Debian package dbus-daemon) did not start";
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        for (const auto& name : names_) QDBusConnection::disconnectFromBus(name);
        daemon_.terminate();
        daemon_.waitForFinished(10'000);
    }

    // A connection of its own, as another program would have.
    QDBusConnection connect()
    {
        static int connections = 0;
        names_ << QStringLiteral("private-bus-%1").arg(++connections);
        auto connection = QDBusConnection::connectToBus(address_, names_.back());
        EXPECT_TRUE(connection.isConnected()) << connection.lastError().message().toStdString();
        return connection;
    }

private:
    QTemporaryDir folder_;
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

}  // namespace corvalent::testing
