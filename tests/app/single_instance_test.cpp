// One instance a session: later starts hand their activation token to the
// first over the bus of scripts/desktop-session.
#include <QDBusConnectionInterface>
#include <QTest>

#include "app/single_instance.h"

namespace halvo {

class SingleInstanceTest : public QObject {
    Q_OBJECT

  private slots:
    // Its keys and bus names would reach the desktop of whoever runs it.
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("HALVO_DESKTOP_SESSION"),
                 "run it through scripts/desktop-session");
    }

    void laterInstancesHandTheirTokenToTheFirst() {
        QStringList shown;
        auto first = std::make_unique<SingleInstance>(
            ownConnection(QStringLiteral("first")), [&](const QString& token) { shown << token; });
        QCOMPARE(first->start(QStringLiteral("own-token")), InstanceRole::primary);
        QVERIFY(shown.isEmpty());

        SingleInstance second(ownConnection(QStringLiteral("second")), [](const QString&) {});
        QCOMPARE(second.start(QStringLiteral("launcher-token-42")), InstanceRole::handedOver);
        QCOMPARE(shown, QStringList{"launcher-token-42"});

        first.reset();  // the name goes with it
        SingleInstance third(ownConnection(QStringLiteral("third")), [](const QString&) {});
        QCOMPARE(third.start(QString()), InstanceRole::primary);
    }

    void aHolderThatDoesNotAnswerIsReported() {
        QDBusConnection holder = ownConnection(QStringLiteral("holder"));
        QVERIFY(holder.registerService(QLatin1String(SingleInstance::kServiceName)));
        SingleInstance later(ownConnection(QStringLiteral("later")), [](const QString&) {});
        QCOMPARE(later.start(QString()), InstanceRole::unanswered);
        holder.unregisterService(QLatin1String(SingleInstance::kServiceName));
    }

  private:
    // Each instance on a connection of its own, as separate processes would be.
    static QDBusConnection ownConnection(const QString& name) {
        return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    }
};

}  // namespace halvo

QTEST_GUILESS_MAIN(halvo::SingleInstanceTest)
#include "single_instance_test.moc"
