// The settings-backed defaults store, always over temporary files: the user's
// real settings are never read or written.
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <string>

#include "state/settings_defaults_store.h"

using halvo::SettingsDefaultsStore;

class SettingsDefaultsStoreTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir home_;

  private slots:
    void initTestCase() {
        QVERIFY(home_.isValid());
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home_.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home_.path());
    }

    void valuesSurviveARestart_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("ini syntax") << QByteArray("@ByteArray(x)\n[group]\nkey=\"a, b\";#\\");
        QTest::newRow("nul inside") << QByteArray("a\0b", 3);
        QTest::newRow("not utf-8") << QByteArray("\xff\xfe\x80 end");
    }
    void valuesSurviveARestart() {
        QFETCH(QByteArray, value);
        const QString file = home_.filePath(QTest::currentDataTag() + QString(".ini"));
        const std::string bytes = value.toStdString();
        {
            SettingsDefaultsStore store(file);
            store.setValue("tavlabs.halvo.recentKills", bytes);
            QCOMPARE(store.value("tavlabs.halvo.recentKills"), bytes);
        }
        SettingsDefaultsStore reopened(file);
        QCOMPARE(reopened.value("tavlabs.halvo.recentKills"), bytes);
        QCOMPARE(reopened.value("tavlabs.halvo.killMode"), std::nullopt);
    }

    void theFileIsPlainIniWithDottedKeys() {
        const QString file = home_.filePath("plain.ini");
        QFile ini(file);
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[General]\ntavlabs.halvo.killMode=safe\n");
        ini.close();
        {
            // Values written by hand read as their text.
            SettingsDefaultsStore store(file);
            QCOMPARE(store.value("tavlabs.halvo.killMode"), std::string("safe"));
            store.setValue("tavlabs.halvo.killMode", "force");
        }
        QSettings raw(file, QSettings::IniFormat);
        QCOMPARE(raw.value("tavlabs.halvo.killMode").toString(), QString("force"));
    }
};

QTEST_GUILESS_MAIN(SettingsDefaultsStoreTest)
#include "settings_defaults_store_test.moc"
