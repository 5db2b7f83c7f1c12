// The properties dialog offscreen: its first state, loading and saving the store, the
// enable rules, a number that is not one, the folder chooser, where the settings went,
// and the test mail against real and scripted mail servers on loopback.

#include "settings/Torvanesettings.h"
#include "tests/support/Scriptedsmtpserver.h"
#include "tests/support/Settingsfixture.h"
#include "tests/support/Smtpserverfixture.h"
#include "ui/Dialoglayout.h"
#include "ui/Formproperties.h"
#include "ui/Messagebox.h"
#include "ui/Propertiesowner.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <memory>

using namespace TorvaneSettings;

namespace {
class TRecordingOwner final : public TPropertiesOwner
{
public:
    void SetRefreshInterval(int seconds) override { Intervals << seconds; }
    QList<int> Intervals;
};

// The alert controls that follow "Enable Email Alerts".
QList<QWidget*> AlertControls(const TFormProperties& d)
{
    return {d.cboxServerDisconnectAlert,
            d.cboxServerResponseAlert,
            d.cboxCPUUsageAlert,
            d.EditServerResponseRefresh,
            d.EditServerResponseValue,
            d.EditCPUUsageRefresh,
            d.EditCPUUsageValue,
            d.LabelEmailAddresses,
            d.LabelEmailValue,
            d.LabelNumRefreshes,
            d.LabelSMTPHost,
            d.LabelSMTPUserID,
            d.LabelFromAddress,
            d.EditEmailAddresses,
            d.EditSMTPHost,
            d.EditSMTPUserID,
            d.EditFromAddress,
            d.ButtonSMTPTest};
}

QList<QWidget*> LoggingControls(const TFormProperties& d)
{
    return {d.ButtonLogDir, d.EditLoggingDirectory, d.LabelLoggingDir,   d.LabelLogMin,
            d.LabelLogMax,  d.LabelLogRefresh,      d.TrackBarLogRefresh};
}

QList<bool> Enabled(const QList<QWidget*>& controls)
{
    QList<bool> enabled;
    for (const QWidget* control : controls)
        enabled << control->isEnabled();
    return enabled;
}

const QString ConnectHints =
    QStringLiteral("\n\nSome things to check for:\n"
                   "  - Check the name of the SMTP Host\n"
                   "  - Some SMTP servers require a value in the SMTP UserID property\n"
                   "  - The SMTP User ID might have to be a valid SMTP UserID");
} // namespace

class TestFormProperties : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void firstStart();
    void trackBarLabels_data();
    void trackBarLabels();
    void loadShowsWhatWasSaved();
    void applyThenCancel();
    void enableRules();
    void notAnIntegerWritesNothing_data();
    void notAnIntegerWritesNothing();
    void folderChooser();
    void connectionSecurity_data();
    void connectionSecurity();
    void caFileOnlyForFreeTds();
    void savedForThisUserOnly();
    void testMail_data();
    void testMail();
    void testTwiceSendsTheBodyLineTwice();
    void closingDuringATestEndsItsWait();

private:
    void FillMailFields(const QString& host, const QString& userId = QStringLiteral("torvane-tester"));
    QString Read(const char* key, const char* name) const;

    std::unique_ptr<TSettingsFixture> Settings;
    TRecordingOwner Owner;
    std::unique_ptr<TFormProperties> Dialog;
    QList<TMessageRequest> Messages;
};

void TestFormProperties::init()
{
    Settings = std::make_unique<TSettingsFixture>();
    Owner.Intervals.clear();
    Messages.clear();
    SetMessageAnswerer([this](const TMessageRequest& request) {
        Messages << request;
        return TMessageResult::Ok;
    });
    Dialog = std::make_unique<TFormProperties>(Owner);
    Dialog->ShowRefreshInterval(1);
    Dialog->LoadSettings();
    Dialog->show();
}

void TestFormProperties::cleanup()
{
    Dialog.reset();
    SetMessageAnswerer({});
    SetFolderAnswerer({});
    Settings.reset();
}

void TestFormProperties::FillMailFields(const QString& host, const QString& userId)
{
    Dialog->cboxEmailAlerts->setChecked(true);
    Dialog->EditSMTPHost->setText(host);
    Dialog->EditSMTPUserID->setText(userId);
    Dialog->EditFromAddress->setText(QStringLiteral("torvane@example.com"));
    Dialog->EditEmailAddresses->setText(QStringLiteral("The DBA <dba@example.com>"));
}

// The saved value as text ("-" when missing), as the store holds it.
QString TestFormProperties::Read(const char* key, const char* name) const
{
    TRegistry registry(TRegistryRoot::LocalMachine);
    if (!registry.OpenKeyReadOnly(key) || !registry.ValueExists(name))
        return QStringLiteral("-");
    if (const auto number = registry.ReadInteger(name))
        return QString::number(*number);
    return *registry.ReadString(name);
}

void TestFormProperties::firstStart()
{
    const TFormProperties& d = *Dialog;
    QCOMPARE(d.windowTitle(), QStringLiteral("Torvane Properties"));
    // Taller than the 645 x 289 of old by the connection security group.
    const double scale = LayoutScale(d.font());
    QCOMPARE(d.size(), QSize(LayoutPixels(645, scale), LayoutPixels(383, scale)));
    QCOMPARE(d.GroupBox1->title(), QStringLiteral(" Server Refresh Times (Seconds) "));
    QCOMPARE(d.GroupBox3->title(), QStringLiteral(" File Logging "));
    QCOMPARE(d.GroupBox2->title(), QStringLiteral(" System Email Alerts "));
    QCOMPARE(d.TrackBarRefresh->value(), 1);
    QCOMPARE(d.LabelRefresh->text(), QStringLiteral("Every Second"));
    QCOMPARE(d.TrackBarLogRefresh->value(), 1);
    QCOMPARE(d.LabelLogRefresh->text(), QStringLiteral("Every Refresh"));
    QCOMPARE((QStringList{d.EditServerResponseRefresh->text(), d.EditServerResponseValue->text(),
                          d.EditCPUUsageRefresh->text(), d.EditCPUUsageValue->text()}),
             (QStringList{"5", "500", "5", "98"}));
    QVERIFY(!d.cboxEmailAlerts->isChecked());
    QVERIFY(!d.cboxLoggingEnabled->isChecked());
    QVERIFY(d.cboxEmailAlerts->isEnabled());
    // The enabling rules have not run: the logging controls are still enabled.
    QCOMPARE(Enabled(AlertControls(d)), QList<bool>(AlertControls(d).size(), false));
    QCOMPARE(Enabled(LoggingControls(d)), QList<bool>(LoggingControls(d).size(), true));
    QVERIFY(d.EditLoggingDirectory->text().isEmpty());
    QVERIFY(Messages.isEmpty());
}

void TestFormProperties::trackBarLabels_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<QString>("refreshLabel");
    QTest::addColumn<int>("logCount");
    QTest::addColumn<QString>("logLabel");

    QTest::newRow("1") << 1 << "Every Second" << 1 << "Every Refresh";
    QTest::newRow("20 and 4") << 20 << "20 Seconds" << 4 << "Every 4 Refreshes";
    QTest::newRow("out of range, kept in it") << 250 << "100 Seconds" << 0 << "Every Refresh";
}

void TestFormProperties::trackBarLabels()
{
    QFETCH(int, interval);
    QFETCH(QString, refreshLabel);
    QFETCH(int, logCount);
    QFETCH(QString, logLabel);

    Dialog->ShowRefreshInterval(interval);
    Dialog->TrackBarLogRefresh->setValue(logCount);
    QCOMPARE(Dialog->LabelRefresh->text(), refreshLabel);
    QCOMPARE(Dialog->LabelLogRefresh->text(), logLabel);
}

void TestFormProperties::loadShowsWhatWasSaved()
{
    Settings->Save(RootKey, EmailAlerts, 1);
    Settings->Save(RootKey, Logging, 0);
    Settings->Save(AlertsKey, ServerDisconnect, 1);
    Settings->Save(AlertsKey, CPUUsageValue, 90);
    Settings->Save(AlertsKey, SMTPHost, QStringLiteral("mail.example.com"));
    Settings->Save(LoggingKey, LoggingDirectory, QStringLiteral("/var/log/torvane"));
    Settings->Save(LoggingKey, RefreshCount, 7);

    TFormProperties dialog(Owner);
    dialog.LoadSettings();
    QVERIFY(dialog.cboxEmailAlerts->isChecked());
    QVERIFY(dialog.cboxServerDisconnectAlert->isChecked());
    QVERIFY(!dialog.cboxCPUUsageAlert->isChecked());
    QCOMPARE(dialog.EditCPUUsageValue->text(), QStringLiteral("90"));
    QCOMPARE(dialog.EditCPUUsageRefresh->text(), QStringLiteral("5")); // not saved: as it was
    QCOMPARE(dialog.EditSMTPHost->text(), QStringLiteral("mail.example.com"));
    QCOMPARE(dialog.EditLoggingDirectory->text(), QStringLiteral("/var/log/torvane"));
    QCOMPARE(dialog.LabelLogRefresh->text(), QStringLiteral("Every 7 Refreshes"));
    QCOMPARE(Enabled(AlertControls(dialog)), QList<bool>(AlertControls(dialog).size(), true));
    QCOMPARE(Enabled(LoggingControls(dialog)), QList<bool>(LoggingControls(dialog).size(), false));
}

void TestFormProperties::applyThenCancel()
{
    Dialog->ShowRefreshInterval(1);
    Dialog->TrackBarRefresh->setValue(30);
    Dialog->cboxLoggingEnabled->setChecked(true);
    Dialog->TrackBarLogRefresh->setValue(3);
    FillMailFields(QStringLiteral("mail.example.com:2525"), QString());
    Dialog->cboxCPUUsageAlert->setChecked(true);
    Dialog->EditCPUUsageValue->setText(QStringLiteral(" 95 "));

    Dialog->ButtonApply->click();
    QVERIFY(Dialog->isVisible());
    QCOMPARE(Owner.Intervals, QList<int>{30});
    QCOMPARE(Dialog->LabelSavedTo->toolTip(), "Saved to " + Settings->Folder() + "/machine.reg");
    QVERIFY(Dialog->LabelSavedTo->text().startsWith("Saved to "));
    Dialog->TrackBarRefresh->setValue(50);
    Dialog->ButtonCancel->click();

    QCOMPARE(Dialog->result(), int(QDialog::Rejected));
    QCOMPARE(Owner.Intervals, QList<int>{30});
    QCOMPARE(ReadRefreshInterval(), std::optional<std::int32_t>(30));
    QCOMPARE(ReadLogSettings()->RefreshCount, 3);
    QCOMPARE(ReadCpuAlertRule()->Threshold, 95);
    QCOMPARE(ReadSmtpSettings()->Host, QStringLiteral("mail.example.com:2525"));
    QCOMPARE(Read(AlertsKey, SMTPUser), QString()); // saved, though empty
    QCOMPARE(Read(AlertsKey, ServerResponseValue), QStringLiteral("500"));
    QVERIFY(Messages.isEmpty());
}

void TestFormProperties::enableRules()
{
    Dialog->cboxEmailAlerts->click();
    QCOMPARE(Enabled(AlertControls(*Dialog)), QList<bool>(AlertControls(*Dialog).size(), true));
    Dialog->cboxLoggingEnabled->click();
    Dialog->cboxLoggingEnabled->click();
    QCOMPARE(Enabled(LoggingControls(*Dialog)), QList<bool>(LoggingControls(*Dialog).size(), false));
    Dialog->cboxEmailAlerts->click();
    QCOMPARE(Enabled(AlertControls(*Dialog)), QList<bool>(AlertControls(*Dialog).size(), false));
    QVERIFY(Dialog->cboxEmailAlerts->isEnabled());
}

void TestFormProperties::notAnIntegerWritesNothing_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("text");

    QTest::newRow("CPU refreshes") << "EditCPUUsageRefresh"
                                   << "five";
    QTest::newRow("CPU value, a fraction") << "EditCPUUsageValue"
                                           << "97.5";
    QTest::newRow("response refreshes, empty") << "EditServerResponseRefresh"
                                               << "";
    QTest::newRow("response value, too large") << "EditServerResponseValue"
                                               << "99999999999";
}

void TestFormProperties::notAnIntegerWritesNothing()
{
    QFETCH(QString, edit);
    QFETCH(QString, text);

    Dialog->cboxEmailAlerts->setChecked(true);
    Dialog->findChild<QLineEdit*>(edit)->setText(text);
    Dialog->ButtonOK->click();

    QCOMPARE(Messages.size(), 1);
    QCOMPARE(Messages.first().Text, QStringLiteral("'%1' is not a valid integer value").arg(text));
    QVERIFY(Dialog->isVisible());
    QVERIFY(Owner.Intervals.isEmpty());
    QVERIFY(!QFile::exists(Settings->Folder() + QStringLiteral("/machine.reg")));
}

void TestFormProperties::folderChooser()
{
    QStringList titles;
    QString answer = QStringLiteral("/srv/torvane logs");
    SetFolderAnswerer([&](const QString& title) {
        titles << title;
        return answer;
    });
    Dialog->EditLoggingDirectory->setText(QStringLiteral("/old"));
    Dialog->ButtonLogDir->click();
    QCOMPARE(Dialog->EditLoggingDirectory->text(), QStringLiteral("/srv/torvane logs"));
    answer.clear(); // cancelled
    Dialog->ButtonLogDir->click();
    QCOMPARE(Dialog->EditLoggingDirectory->text(), QString());
    QCOMPARE(titles, QStringList(2, QStringLiteral("Select Logging Directory!")));
}

void TestFormProperties::connectionSecurity_data()
{
    QTest::addColumn<int>("encrypt");
    QTest::addColumn<int>("certificate");
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<QStringList>("saved"); // Encrypt, TrustServerCertificate, CAFile; "-" missing

    QTest::newRow("the drivers' defaults store nothing") << 0 << 0 << "" << QStringList{"-", "-", "-"};
    QTest::newRow("required, validated against a CA file")
        << 3 << 1 << "/etc/ssl/corp-ca.pem" << QStringList{"2", "0", "/etc/ssl/corp-ca.pem"};
    QTest::newRow("when offered, trusted") << 2 << 2 << "" << QStringList{"1", "1", "-"};
    QTest::newRow("off") << 1 << 0 << "" << QStringList{"0", "-", "-"};
}

void TestFormProperties::connectionSecurity()
{
    QFETCH(int, encrypt);
    QFETCH(int, certificate);
    QFETCH(QString, caFile);
    QFETCH(QStringList, saved);

    // Values saved before are replaced, or removed where the driver is to choose.
    Settings->Save(RootKey, Encrypt, 1);
    Settings->Save(RootKey, TrustServerCertificate, 1);
    Settings->Save(RootKey, CAFile, QStringLiteral("/old/ca.pem"));
    TFormProperties dialog(Owner);
    dialog.LoadSettings();
    QCOMPARE(dialog.ComboEncrypt->currentText(), QStringLiteral("When the server offers"));
    QCOMPARE(dialog.ComboCertificate->currentText(), QStringLiteral("Trust"));
    QCOMPARE(dialog.EditCAFile->text(), QStringLiteral("/old/ca.pem"));
    QVERIFY(dialog.EditCAFile->isEnabled()); // FreeTDS, the default driver, takes it

    dialog.ComboEncrypt->setCurrentIndex(encrypt);
    dialog.ComboCertificate->setCurrentIndex(certificate);
    dialog.EditCAFile->setText(caFile);
    dialog.ButtonApply->click();
    QCOMPARE(
        (QStringList{Read(RootKey, Encrypt), Read(RootKey, TrustServerCertificate), Read(RootKey, CAFile)}),
        saved);

    TFormProperties again(Owner);
    again.LoadSettings();
    QCOMPARE(again.ComboEncrypt->currentIndex(), encrypt);
    QCOMPARE(again.ComboCertificate->currentIndex(), certificate);
    QCOMPARE(again.EditCAFile->text(), caFile);

    // The file chooser fills the CA file; cancelling it keeps what was there.
    QString answer = QStringLiteral("/srv/ca.pem");
    SetFolderAnswerer([&](const QString& title) {
        [&] { QCOMPARE(title, QStringLiteral("Select CA File")); }();
        return answer;
    });
    again.ButtonCAFile->click();
    QCOMPARE(again.EditCAFile->text(), QStringLiteral("/srv/ca.pem"));
    answer.clear();
    again.ButtonCAFile->click();
    QCOMPARE(again.EditCAFile->text(), QStringLiteral("/srv/ca.pem"));
}

void TestFormProperties::caFileOnlyForFreeTds()
{
    const auto restore = qScopeGuard([] { qunsetenv("TORVANE_ODBC_DRIVER"); });
    qputenv("TORVANE_ODBC_DRIVER", "ODBC Driver 18 for SQL Server");
    TFormProperties dialog(Owner);
    QVERIFY(!dialog.EditCAFile->isEnabled());
    QVERIFY(!dialog.ButtonCAFile->isEnabled());
    QCOMPARE(dialog.LabelCAFileNote->text(),
             QStringLiteral("Does not apply to ODBC Driver 18 for SQL Server, which uses the system's trust store."));
}

void TestFormProperties::savedForThisUserOnly()
{
    // A folder that is a file: the shared hive cannot be written, whoever runs the test.
    QFile blocker(Settings->Folder() + QStringLiteral("/blocked"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    const QString shared = Settings->Folder() + QStringLiteral("/blocked/machine.reg");
    qputenv("TORVANE_HKLM_FILE", QFile::encodeName(shared));

    Dialog->TrackBarRefresh->setValue(12);
    Dialog->ButtonApply->click();
    Dialog->ButtonApply->click();

    QCOMPARE(Messages.size(), 1); // told once
    QCOMPARE(Messages.first().Text,
             QStringLiteral("%1 cannot be written, so the settings were saved for this user only, in %2.")
                 .arg(shared, Settings->Folder() + QStringLiteral("/user/machine.reg")));
    QCOMPARE(Dialog->LabelSavedTo->toolTip(),
             "Saved for this user only, to " + Settings->Folder() + "/user/machine.reg");
    QCOMPARE(ReadRefreshInterval(), std::optional<std::int32_t>(12));
    QCOMPARE(Owner.Intervals, (QList<int>{12, 12}));
}

void TestFormProperties::testMail_data()
{
    QTest::addColumn<QString>("userId");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("mails");

    QTest::newRow("sent") << "torvane-tester"
                          << "SMTP Server Connected"
                          << "Test email sent" << 1;
    QTest::newRow("HELO refused") << "intruder"
                                  << "Server connect error"
                                  << "Could not connect to SMTP server:\n\nAuthentication failed" +
                                         ConnectHints
                                  << 0;
}

void TestFormProperties::testMail()
{
    QFETCH(QString, userId);
    QFETCH(QString, caption);
    QFETCH(QString, text);
    QFETCH(int, mails);

    TSmtpServerFixture server(QStringLiteral("intruder"));
    QVERIFY2(server.Started(), qPrintable(server.Error()));
    FillMailFields(server.Host(), userId);
    Dialog->ButtonSMTPTest->click();

    QTRY_COMPARE(Messages.size(), 1);
    QCOMPARE(Messages.first().Caption, caption);
    QCOMPARE(Messages.first().Text, text);
    QCOMPARE(server.Mails().size(), mails);
    if (mails) {
        const TReceivedMail& mail = server.Mails().first();
        QCOMPARE(mail.Subject, QStringLiteral("Test Message"));
        QCOMPARE(mail.To, QStringList{"dba@example.com"});
        QCOMPARE(mail.RawBody(), QByteArray("\r\nTest Message\r\n"));
    }
    QVERIFY(Dialog->ButtonSMTPTest->isEnabled());
    QVERIFY(!QFile::exists(Settings->Folder() + QStringLiteral("/machine.reg"))); // typed, not saved
}

void TestFormProperties::testTwiceSendsTheBodyLineTwice()
{
    TSmtpServerFixture server;
    QVERIFY2(server.Started(), qPrintable(server.Error()));
    FillMailFields(server.Host());
    Dialog->ButtonSMTPTest->click();
    QTRY_COMPARE(Messages.size(), 1);
    Dialog->ButtonSMTPTest->click();
    QTRY_COMPARE(Messages.size(), 2);

    QTRY_COMPARE(server.Mails().size(), 2);
    QCOMPARE(server.Mails().at(1).RawBody(), QByteArray("\r\nTest Message\r\nTest Message\r\n"));
    QCOMPARE(Messages.at(1).Text, QStringLiteral("Test email sent"));
}

// The dialog answers while the mail server does not, and closing it does not sit out
// the mail server's time-out.
void TestFormProperties::closingDuringATestEndsItsWait()
{
    TScriptedSmtpServer silent;
    silent.Greeting.clear();
    QVERIFY(silent.Start());
    FillMailFields(silent.Host());
    Dialog->ButtonSMTPTest->click();
    QVERIFY(!Dialog->ButtonSMTPTest->isEnabled());
    QVERIFY(silent.WaitForConnection(10000));
    Dialog->ButtonApply->click(); // the window is not blocked
    QCOMPARE(Owner.Intervals, QList<int>{1});

    Dialog.reset();
    QVERIFY(silent.ClosedByClient(5000));
    QVERIFY(Messages.isEmpty());
}

QTEST_MAIN(TestFormProperties)
#include "tst_formproperties.moc"
