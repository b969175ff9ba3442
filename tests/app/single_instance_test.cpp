#include <QDBusConnectionInterface>
#include <QTest>

#include "app/single_instance.h"
#include "desktop_session.h"

namespace halvo {

class SingleInstanceTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QVERIFY(bus_.start()); }

    void laterInstancesHandTheirTokenToTheFirst() {
        QStringList shown;
        auto first = std::make_unique<SingleInstance>(
            bus_.connect(QStringLiteral("first")), [&](const QString& token) { shown << token; });
        QCOMPARE(first->start(QStringLiteral("own-token")), InstanceRole::primary);
        QVERIFY(shown.isEmpty());

        SingleInstance second(bus_.connect(QStringLiteral("second")), [](const QString&) {});
        QCOMPARE(second.start(QStringLiteral("launcher-token-42")), InstanceRole::handedOver);
        QCOMPARE(shown, QStringList{"launcher-token-42"});

        first.reset();  // the name goes with it
        SingleInstance third(bus_.connect(QStringLiteral("third")), [](const QString&) {});
        QCOMPARE(third.start(QString()), InstanceRole::primary);
    }

    void aHolderThatDoesNotAnswerIsReported() {
        QDBusConnection holder = bus_.connect(QStringLiteral("holder"));
        QVERIFY(holder.registerService(QLatin1String(SingleInstance::kServiceName)));
        SingleInstance later(bus_.connect(QStringLiteral("later")), [](const QString&) {});
        QCOMPARE(later.start(QString()), InstanceRole::unanswered);
        holder.unregisterService(QLatin1String(SingleInstance::kServiceName));
    }

    void withoutABusItRunsStandalone() {
        SingleInstance alone(
            QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/halvo-bus"),
                                          QStringLiteral("none")),
            [](const QString&) {});
        QCOMPARE(alone.start(QString()), InstanceRole::standalone);
    }

  private:
    testing::PrivateBus bus_;
};

}  // namespace halvo

QTEST_GUILESS_MAIN(halvo::SingleInstanceTest)
#include "single_instance_test.moc"
