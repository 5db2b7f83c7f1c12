// The logon dialog offscreen, with the saved servers in a hive of the test's own and a
// main window whose connections reach the sandbox through the real driver.

#include "settings/Registry.h"
#include "settings/Registryfiles.h"
#include "settings/Registryhive.h"
#include "settings/Savedservers.h"
#include "tests/support/Fakeserverconnector.h"
#include "tests/support/Sandboxfixture.h"
#include "tests/support/Settingsfixture.h"
#include "ui/Formlogon.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {

const QString ServersKey = QString::fromLatin1(TSavedServers::ServersKey);
constexpr int DesignFontPixels = 9;

// The values a server's key holds, by name; empty when the key does not exist.
QStringList SavedValueNames(const QString& server)
{
    TRegistry registry(TRegistryRoot::CurrentUser);
    return registry.OpenKeyReadOnly(ServersKey + server) ? registry.GetValueNames() : QStringList();
}

// Picks an entry of the server box's drop-down list with the mouse.
void ChooseFromList(QComboBox* box, const QString& server)
{
    const int index = box->findText(server, Qt::MatchFixedString);
    QVERIFY(index >= 0);
    box->showPopup();
    QAbstractItemView* list = box->view();
    QTRY_VERIFY(list->isVisible());
    const QPoint where = list->visualRect(list->model()->index(index, 0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, where);
    QTRY_VERIFY(!list->isVisible());
}

} // namespace

class TestFormLogon : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void controlsAsLaidOut_data();
    void controlsAsLaidOut();
    void wideFontScalesTheWholeDialog();
    void keyboard();
    void firstStartWithNoKeys();
    void startsWithTheDefaultServer();
    void thousandsOfSavedServersAreListed();
    void savedWindowsServerChosen_data();
    void savedWindowsServerChosen();
    void windowsLogonAfterSqlLogonLeavesOnlyUseWindowsNT();
    void uncheckedSavePasswordRemovesTheSavedOne();
    void namesDifferingInCaseShareOneKey();
    void failedLogonWritesNothing();

private:
    std::unique_ptr<TSandboxFixture> FSandbox;
    std::unique_ptr<TSettingsFixture> FSettings;
    std::unique_ptr<TFakeServerConnector> FMainWindow;
    std::unique_ptr<TFormLogon> FDialog;

    // A dialog shown as the main window shows it.
    TFormLogon& Open();
};

void TestFormLogon::initTestCase()
{
    // A font as small as the one the dialog was designed for: the layout is the design's.
    QFont designFont = QApplication::font();
    designFont.setPixelSize(DesignFontPixels);
    QApplication::setFont(designFont);
    qputenv("TORVANE_LOGIN_TIMEOUT", "5");
    qunsetenv("TORVANE_ODBC_DRIVER");
    FSandbox = std::make_unique<TSandboxFixture>();
    QVERIFY2(FSandbox->Started(), FSandbox->Error().c_str());
}

void TestFormLogon::init()
{
    FSettings = std::make_unique<TSettingsFixture>();
    FMainWindow = std::make_unique<TFakeServerConnector>(*FSandbox);
}

void TestFormLogon::cleanup()
{
    FDialog.reset();
    FMainWindow.reset();
    FSettings.reset();
}

TFormLogon& TestFormLogon::Open()
{
    FDialog = std::make_unique<TFormLogon>();
    FDialog->MainWindow = FMainWindow.get();
    FDialog->show();
    if (!QTest::qWaitForWindowActive(FDialog.get()))
        qWarning("the logon dialog did not become active");
    if (!QTest::qWaitFor([&] { return FDialog->ServersListed(); }, 10000))
        qWarning("the saved servers were not listed");
    return *FDialog;
}

void TestFormLogon::controlsAsLaidOut_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("where"); // labels: their left and top only

    QTest::newRow("Image1") << "Image1"
                            << "" << QRect(0, 0, 325, 65);
    QTest::newRow("Label1") << "Label1"
                            << "&SQL Server:" << QRect(16, 88, -1, -1);
    QTest::newRow("ComboBoxDBServers") << "ComboBoxDBServers"
                                       << "" << QRect(78, 85, 211, 21);
    QTest::newRow("ButtonListServers") << "ButtonListServers"
                                       << "..." << QRect(290, 85, 20, 21);
    QTest::newRow("CBoxWindowsNTAuth") << "CBoxWindowsNTAuth"
                                       << "Use &Windows Authentication" << QRect(80, 123, 209, 17);
    QTest::newRow("Label2") << "Label2"
                            << "SQL Server authentication" << QRect(16, 152, -1, -1);
    QTest::newRow("LabelLogonname") << "LabelLogonname"
                                    << "&Login name:" << QRect(48, 176, -1, -1);
    QTest::newRow("EditLoginname") << "EditLoginname"
                                   << "" << QRect(112, 176, 161, 19);
    QTest::newRow("LabelPassword") << "LabelPassword"
                                   << "&Password:" << QRect(48, 200, -1, -1);
    QTest::newRow("EditPassword") << "EditPassword"
                                  << "" << QRect(112, 200, 161, 19);
    QTest::newRow("CBoxSavePassword") << "CBoxSavePassword"
                                      << "Save Pass&word" << QRect(176, 224, 97, 17);
    QTest::newRow("ButtonLogon") << "ButtonLogon"
                                 << "Logon" << QRect(80, 248, 75, 25);
    QTest::newRow("ButtonCancel") << "ButtonCancel"
                                  << "Cancel" << QRect(160, 248, 75, 25);
    QTest::newRow("ButtonHelp") << "ButtonHelp"
                                << "Help" << QRect(240, 248, 75, 25);
}

void TestFormLogon::controlsAsLaidOut()
{
    QFETCH(QString, control);
    QFETCH(QString, caption);
    QFETCH(QRect, where);
    TFormLogon& dialog = Open();
    QCOMPARE(dialog.windowTitle(), QString("Velquin SQL Server Monitor"));
    QCOMPARE(dialog.size(), QSize(325, 282));

    const QWidget* widget = dialog.findChild<QWidget*>(control);
    QVERIFY(widget);
    QCOMPARE(widget->pos(), where.topLeft());
    if (where.width() > 0)
        QCOMPARE(widget->size(), where.size());
    if (const auto* label = qobject_cast<const QLabel*>(widget); label && !caption.isEmpty())
        QCOMPARE(label->text(), caption);
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        QCOMPARE(button->text(), caption);
}

void TestFormLogon::wideFontScalesTheWholeDialog()
{
    QFont wide = QApplication::font();
    wide.setPixelSize(DesignFontPixels * 2);
    // Built with the wide font as the system's.
    const QFont before = QApplication::font();
    QApplication::setFont(wide);
    TFormLogon large;
    QApplication::setFont(before);

    // Every caption fits, and the design's proportions stay.
    for (const QLabel* label : large.findChildren<QLabel*>()) {
        if (label->buddy())
            QVERIFY2(label->x() +
                             label->fontMetrics().horizontalAdvance(QString(label->text()).remove('&')) <=
                         label->buddy()->x(),
                     qPrintable(label->text()));
    }
    for (const QCheckBox* box : large.findChildren<QCheckBox*>())
        QVERIFY2(box->sizeHint().width() <= box->width(), qPrintable(box->text()));
    QVERIFY(large.width() > 325);
    QVERIFY(qAbs(large.width() * 282 - large.height() * 325) <= 325);
    QVERIFY(qAbs(large.EditLoginname->x() * 325 - 112 * large.width()) <= 325);
}

void TestFormLogon::keyboard()
{
    TFormLogon& dialog = Open();
    QCOMPARE(QApplication::focusWidget(), dialog.ComboBoxDBServers);
    const QList<QWidget*> tabOrder = {
        dialog.ButtonListServers, dialog.CBoxWindowsNTAuth, dialog.EditLoginname, dialog.EditPassword,
        dialog.CBoxSavePassword,  dialog.ButtonLogon,       dialog.ButtonCancel,  dialog.ButtonHelp};
    for (QWidget* next : tabOrder) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }

    // The mnemonics of the labels take the focus to their fields.
    QTest::keyClick(&dialog, Qt::Key_L, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), dialog.EditLoginname);
    QTest::keyClick(&dialog, Qt::Key_P, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), dialog.EditPassword);

    // Enter logs on (here: fails, nothing typed), Esc cancels without a connection.
    QVERIFY(dialog.ButtonLogon->isDefault());
    QTest::keyClick(dialog.EditPassword, Qt::Key_Return);
    QCOMPARE(FMainWindow->Calls.size(), 1u);
    QTRY_COMPARE(FMainWindow->Finished, 1);
    QVERIFY(dialog.isVisible());
    QCOMPARE(QApplication::focusWidget(), dialog.EditPassword);
    QTest::keyClick(dialog.EditPassword, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(FMainWindow->Calls.size(), 1u);
}

void TestFormLogon::firstStartWithNoKeys()
{
    TFormLogon& dialog = Open();
    QCOMPARE(dialog.ComboBoxDBServers->count(), 0);
    QCOMPARE(dialog.ComboBoxDBServers->currentText(), QString());
    QVERIFY(!dialog.CBoxWindowsNTAuth->isChecked());
    QVERIFY(!dialog.CBoxSavePassword->isChecked());
    QCOMPARE(dialog.EditLoginname->text(), QString());
    QCOMPARE(dialog.EditPassword->text(), QString());
    QCOMPARE(dialog.EditPassword->echoMode(), QLineEdit::Password);
}

void TestFormLogon::startsWithTheDefaultServer()
{
    TSavedServers saved;
    QVERIFY(saved.SaveLogon("zeta", false, "z", "", false));
    QVERIFY(saved.SaveLogon("Alpha", true, "", "", false));
    QVERIFY(saved.SaveLogon("beta\\inst", false, "dba", "p\xc3\xa4ss", true));

    TFormLogon& dialog = Open();
    QStringList listed;
    for (int i = 0; i < dialog.ComboBoxDBServers->count(); ++i)
        listed << dialog.ComboBoxDBServers->itemText(i);
    QCOMPARE(listed, QStringList({"Alpha", "beta\\inst", "zeta"}));
    QCOMPARE(dialog.ComboBoxDBServers->currentText(), QString("beta\\inst"));
    QCOMPARE(dialog.EditLoginname->text(), QString("dba"));
    QCOMPARE(dialog.EditPassword->text(), QString::fromUtf8("päss"));
    QVERIFY(dialog.CBoxSavePassword->isChecked());
    QVERIFY(!dialog.CBoxWindowsNTAuth->isChecked());
}

// A user who has logged on to many servers: each is listed once (names differing only in
// case are one server), in order, whatever order the hive lists them in.
void TestFormLogon::thousandsOfSavedServersAreListed()
{
    constexpr int Servers = 20000;
    QVERIFY(UpdateHive(TRegistryRoot::CurrentUser, TRegistryPaths::FromEnvironment(), [](TRegistryHive& hive) {
        const QString list = QStringLiteral("Software\\Velquin\\Servers\\List Of Servers");
        for (int i = Servers - 1; i >= 0; --i) {
            const QString name = QStringLiteral("db%1").arg(i, 5, 10, QLatin1Char('0'));
            hive.SetValue(list, TRegistryValue::FromString(name, QString()));
            hive.SetValue(QStringLiteral("Software\\Velquin\\Servers\\") + name,
                          TRegistryValue::FromString(QStringLiteral("UserID"), QStringLiteral("sa")));
        }
        hive.SetValue(list, TRegistryValue::FromString(QStringLiteral("DB00007"), QString()));
        hive.SetValue(QStringLiteral("Software\\Velquin\\Servers"),
                      TRegistryValue::FromString(QStringLiteral("Default Server"), QStringLiteral("db00042")));
    }));

    TFormLogon& dialog = Open();
    QCOMPARE(dialog.ComboBoxDBServers->count(), Servers);
    QCOMPARE(dialog.ComboBoxDBServers->itemText(0), QStringLiteral("db00000"));
    QCOMPARE(dialog.ComboBoxDBServers->itemText(7), QStringLiteral("db00007"));
    QCOMPARE(dialog.ComboBoxDBServers->itemText(Servers - 1), QStringLiteral("db19999"));
    QCOMPARE(dialog.ComboBoxDBServers->currentText(), QStringLiteral("db00042"));
    QCOMPARE(dialog.EditLoginname->text(), QStringLiteral("sa"));
}

void TestFormLogon::savedWindowsServerChosen_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<bool>("windowsAuthentication");
    // Emptying the login field is a change, and a change unchecks the box.
    QTest::newRow("login field holds text") << "someone" << false;
    QTest::newRow("login field empty") << "" << true;
}

void TestFormLogon::savedWindowsServerChosen()
{
    QFETCH(QString, login);
    QFETCH(bool, windowsAuthentication);
    TSavedServers saved;
    QVERIFY(saved.SaveLogon("DB1", true, "", "", false));
    QVERIFY(saved.SaveLogon("OTHER", false, "dba", "", false));

    TFormLogon& dialog = Open();
    dialog.EditLoginname->setText(login);
    ChooseFromList(dialog.ComboBoxDBServers, "DB1");
    QCOMPARE(dialog.ComboBoxDBServers->currentText(), QString("DB1"));
    QCOMPARE(dialog.CBoxWindowsNTAuth->isChecked(), windowsAuthentication);
    QCOMPARE(dialog.EditLoginname->text(), QString());
}

void TestFormLogon::windowsLogonAfterSqlLogonLeavesOnlyUseWindowsNT()
{
    QVERIFY(TSavedServers().SaveLogon("DB1", false, "sa", "torvane", true));
    TFormLogon& dialog = Open();
    QCOMPARE(dialog.EditLoginname->text(), QString("sa"));
    dialog.CBoxWindowsNTAuth->click();
    dialog.ButtonLogon->click();
    QTRY_COMPARE(FMainWindow->Finished, 1);

    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(FMainWindow->Calls.at(0).UseWindowsAuthentication);
    QCOMPARE(SavedValueNames("DB1"), QStringList("UseWindowsNT"));
    QCOMPARE(TSavedServers().Load("DB1")->UseWindowsNT, std::optional<std::int32_t>(1));
}

void TestFormLogon::uncheckedSavePasswordRemovesTheSavedOne()
{
    QVERIFY(TSavedServers().SaveLogon("DB1", false, "sa", "torvane", true));
    TFormLogon& dialog = Open();
    QCOMPARE(dialog.EditPassword->text(), QString("torvane"));
    QVERIFY(dialog.CBoxSavePassword->isChecked());
    dialog.CBoxSavePassword->click();
    dialog.ButtonLogon->click();
    QTRY_COMPARE(FMainWindow->Finished, 1);

    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(FMainWindow->Calls.at(0).Password, QString("torvane"));
    QCOMPARE(SavedValueNames("DB1"), QStringList({"UseWindowsNT", "UserID"}));
    QCOMPARE(TSavedServers().Load("DB1")->UserID, std::optional<QString>("sa"));
}

void TestFormLogon::namesDifferingInCaseShareOneKey()
{
    for (const QString& server : {QStringLiteral("db1"), QStringLiteral("DB1")}) {
        TFormLogon& dialog = Open();
        dialog.ComboBoxDBServers->setEditText(server);
        dialog.EditLoginname->setText("sa");
        dialog.EditPassword->setText("torvane");
        dialog.ButtonLogon->click();
        QTRY_VERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    TRegistry registry(TRegistryRoot::CurrentUser);
    QVERIFY(registry.OpenKeyReadOnly(ServersKey));
    QCOMPARE(registry.GetKeyNames(), QStringList({"db1", "List Of Servers"}));
    QCOMPARE(TSavedServers().ListOfServers(), QStringList("db1"));
    QCOMPARE(TSavedServers().DefaultServer(), std::optional<QString>("DB1"));

    TFormLogon& dialog = Open();
    QCOMPARE(dialog.ComboBoxDBServers->count(), 1);
    QCOMPARE(dialog.ComboBoxDBServers->currentText(), QString("DB1"));
    QCOMPARE(dialog.EditLoginname->text(), QString("sa"));
}

void TestFormLogon::failedLogonWritesNothing()
{
    TFormLogon& dialog = Open();
    dialog.ComboBoxDBServers->setEditText("DB1");
    dialog.EditLoginname->setText("sa");
    dialog.EditPassword->setText("wrong");
    dialog.CBoxSavePassword->click();
    dialog.ButtonLogon->click();

    // While the main window connects, nothing can be changed but Cancel still answers.
    QVERIFY(!dialog.EditPassword->isEnabled());
    QVERIFY(!dialog.ButtonLogon->isEnabled());
    QVERIFY(dialog.ButtonCancel->isEnabled());
    QCOMPARE(dialog.cursor().shape(), Qt::WaitCursor);

    QTRY_COMPARE(FMainWindow->Finished, 1);
    QCOMPARE(FMainWindow->Calls.size(), 1u);
    QCOMPARE(FMainWindow->Owner.MessageBoxes.size(), 1u);
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.EditPassword->isEnabled());
    QCOMPARE(dialog.cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(dialog.EditPassword->text(), QString("wrong"));
    QVERIFY(!QFileInfo::exists(FSettings->Folder() + "/user/user.reg"));
}

QTEST_MAIN(TestFormLogon)
#include "tst_formlogon.moc"
