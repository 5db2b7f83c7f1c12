#include "ui/Formproperties.h"

#include "alerts/Smtperror.h"
#include "engine/Dbconnectionstring.h"
#include "engine/Odbcdriver.h"
#include "settings/Registry.h"
#include "settings/Torvanesettings.h"
#include "ui/Dialoglayout.h"
#include "ui/Manual.h"
#include "ui/Messagebox.h"
#include "ui/Propertiesowner.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <optional>

using namespace TorvaneSettings;

namespace {

constexpr int EditHeight = 21;
// The alert check boxes end before the count edits (at 206).
constexpr int AlertBoxWidth = 153;
const QString ConnectErrorCaption = QStringLiteral("Server connect error");
// The caption of the program's own error reports.
const QString ErrorCaption = QStringLiteral("Torvane");

template <typename T> T* Place(T* widget, int left, int top, int width = -1, int height = -1)
{
    if (width < 0) {
        widget->adjustSize();
        width = widget->width();
    }
    widget->setGeometry(left, top, width, height < 0 ? widget->sizeHint().height() : height);
    return widget;
}

// A heading of two lines centred over its column of edits, at least width wide and as
// wide as its longest word needs.
void CentreHeading(QLabel* heading, int top, int width, int columnCentre)
{
    heading->setWordWrap(true);
    heading->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    for (const QString& word : heading->text().split(u' '))
        width = std::max(width, heading->fontMetrics().horizontalAdvance(word) + 2);
    Place(heading, columnCentre - width / 2, top, width, 2 * heading->fontMetrics().height());
}

QLabel* NewLabel(const QString& text, QWidget* parent, const char* name)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QSlider* NewTrackBar(QWidget* parent, const char* name)
{
    auto* trackBar = new QSlider(Qt::Horizontal, parent);
    trackBar->setObjectName(QString::fromLatin1(name));
    trackBar->setRange(1, 100);
    trackBar->setPageStep(10);
    trackBar->setTickInterval(10);
    trackBar->setTickPosition(QSlider::TicksBelow);
    return trackBar;
}

template <typename T> T* Named(T* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

void ShowError(QWidget* parent, const QString& text, const QString& caption)
{
    ShowMessage(parent, {text, caption, TMessageButtons::Ok, TMessageIcon::Error});
}

// A whole decimal number as typed, surrounding blanks aside.
std::optional<std::int32_t> Integer(const QLineEdit* edit)
{
    bool ok = false;
    const int value = edit->text().trimmed().toInt(&ok, 10);
    return ok ? std::optional<std::int32_t>(value) : std::nullopt;
}

} // namespace

// What a test mail came to, carried from the client's thread to the dialog.
struct TFormProperties::TTestOutcome
{
    enum TStep
    {
        Sent,
        ConnectFailed,
        NotConnected,
        SendSocketError,
        SendError,
    };
    TStep Step = Sent;
    QString Text;
    QString GoodbyeError; // QUIT refused after the mail went
};

TFormProperties::TFormProperties(TPropertiesOwner& mainWindow, QWidget* parent)
    : QDialog(parent), MainWindow(mainWindow), QuorSMTP1(1)
{
    setObjectName(QStringLiteral("FormProperties"));
    setWindowTitle(QStringLiteral("Torvane Properties"));
    // The system's UI font at the dialog's 8 points; the layout is in its unit.
    setFont(DesignFont());

    ImageBanner = Named(new QLabel(this), "ImageBanner");
    ImageBanner->setStyleSheet(QStringLiteral(
        "QLabel { border-image: url(:/torvane/properties-banner.svg) 0 0 0 0 stretch stretch; }"));
    ImageBanner->setGeometry(0, 0, 645, 65);

    BuildRefreshGroup();
    BuildLoggingGroup();
    BuildAlertsGroup();
    BuildSecurityGroup();
    BuildButtons();
    FitDialogToCaptions(this, 645, 383);
}

TFormProperties::~TFormProperties() = default;

void TFormProperties::BuildRefreshGroup()
{
    GroupBox1 =
        Place(Named(new QGroupBox(QStringLiteral(" Server Refresh Times (Seconds) "), this), "GroupBox1"), 5,
              71, 316, 65);
    Label1 = Place(NewLabel(QStringLiteral("Min 1"), GroupBox1, "Label1"), 43, 15);
    // Centred over the track bar, as the text changes with it.
    LabelRefresh = Place(NewLabel(QStringLiteral("1 Second"), GroupBox1, "LabelRefresh"), 57, 14, 220);
    LabelRefresh->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label2 = Place(NewLabel(QStringLiteral("Max 100"), GroupBox1, "Label2"), 271, 16);
    TrackBarRefresh = Place(NewTrackBar(GroupBox1, "TrackBarRefresh"), 57, 27, 220, 30);
    connect(TrackBarRefresh, &QSlider::valueChanged, this, [this] { TrackBarRefreshChange(); });
}

void TFormProperties::BuildLoggingGroup()
{
    GroupBox3 =
        Place(Named(new QGroupBox(QStringLiteral(" File Logging "), this), "GroupBox3"), 5, 137, 316, 123);
    cboxLoggingEnabled =
        Place(Named(new QCheckBox(QStringLiteral("Enable Logging"), GroupBox3), "cboxLoggingEnabled"), 22, 17,
              229, 18);
    LabelLogMin = Place(NewLabel(QStringLiteral("Min 1"), GroupBox3, "LabelLogMin"), 39, 37);
    LabelLogRefresh =
        Place(NewLabel(QStringLiteral("Every Refresh"), GroupBox3, "LabelLogRefresh"), 64, 35, 210);
    LabelLogRefresh->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    LabelLogMax = Place(NewLabel(QStringLiteral("Max 100"), GroupBox3, "LabelLogMax"), 273, 36);
    TrackBarLogRefresh = Place(NewTrackBar(GroupBox3, "TrackBarLogRefresh"), 57, 48, 220, 30);
    LabelLoggingDir =
        Place(NewLabel(QStringLiteral("Logging Directory"), GroupBox3, "LabelLoggingDir"), 16, 80);
    EditLoggingDirectory =
        Place(Named(new QLineEdit(GroupBox3), "EditLoggingDirectory"), 16, 96, 269, EditHeight);
    ButtonLogDir =
        Place(Named(new QPushButton(QStringLiteral("..."), GroupBox3), "ButtonLogDir"), 285, 96, 22, 21);
    connect(cboxLoggingEnabled, &QCheckBox::toggled, this, [this] { UpdateLoggingControls(); });
    connect(TrackBarLogRefresh, &QSlider::valueChanged, this, [this] { TrackBarLogRefreshChange(); });
    connect(ButtonLogDir, &QPushButton::clicked, this, [this] { ButtonLogDirClick(); });
}

void TFormProperties::BuildAlertsGroup()
{
    GroupBox2 = Place(Named(new QGroupBox(QStringLiteral(" System Email Alerts "), this), "GroupBox2"), 325,
                      71, 316, 189);
    cboxEmailAlerts =
        Place(Named(new QCheckBox(QStringLiteral("Enable Email Alerts"), GroupBox2), "cboxEmailAlerts"), 20,
              15, 131, 17);
    LabelNumRefreshes = NewLabel(QStringLiteral("# Refreshes"), GroupBox2, "LabelNumRefreshes");
    LabelEmailValue = NewLabel(QStringLiteral("EMail Value"), GroupBox2, "LabelEmailValue");
    CentreHeading(LabelNumRefreshes, 13, 49, 225); // over the count edits, 206 to 244
    CentreHeading(LabelEmailValue, 15, 31, 286);   // over the value edits, 267 to 305
    cboxServerDisconnectAlert =
        Place(Named(new QCheckBox(QStringLiteral("Server Disconnect Alert"), GroupBox2),
                    "cboxServerDisconnectAlert"),
              51, 30, AlertBoxWidth, 17);
    cboxServerResponseAlert =
        Place(Named(new QCheckBox(QStringLiteral("Server Response Time Alert"), GroupBox2),
                    "cboxServerResponseAlert"),
              51, 51, AlertBoxWidth, 17);
    EditServerResponseRefresh =
        Place(Named(new QLineEdit(QStringLiteral("5"), GroupBox2), "EditServerResponseRefresh"), 206, 49, 38,
              EditHeight);
    EditServerResponseValue =
        Place(Named(new QLineEdit(QStringLiteral("500"), GroupBox2), "EditServerResponseValue"), 267, 48, 38,
              EditHeight);
    cboxCPUUsageAlert = Place(
        Named(new QCheckBox(QStringLiteral("CPU Usage Alert"), GroupBox2), "cboxCPUUsageAlert"), 51, 73,
        AlertBoxWidth, 17);
    EditCPUUsageRefresh = Place(Named(new QLineEdit(QStringLiteral("5"), GroupBox2), "EditCPUUsageRefresh"),
                                206, 72, 38, EditHeight);
    EditCPUUsageValue = Place(Named(new QLineEdit(QStringLiteral("98"), GroupBox2), "EditCPUUsageValue"), 267,
                              71, 38, EditHeight);
    LabelEmailAddresses =
        Place(NewLabel(QStringLiteral("Email Address:"), GroupBox2, "LabelEmailAddresses"), 15, 98);
    EditEmailAddresses =
        Place(Named(new QLineEdit(GroupBox2), "EditEmailAddresses"), 89, 94, 218, EditHeight);
    LabelSMTPHost = Place(NewLabel(QStringLiteral("SMTP Host:"), GroupBox2, "LabelSMTPHost"), 15, 118);
    EditSMTPHost = Place(Named(new QLineEdit(GroupBox2), "EditSMTPHost"), 89, 116, 218, EditHeight);
    LabelFromAddress = Place(NewLabel(QStringLiteral("From Email:"), GroupBox2, "LabelFromAddress"), 15, 140);
    EditFromAddress = Place(Named(new QLineEdit(GroupBox2), "EditFromAddress"), 89, 138, 218, EditHeight);
    LabelSMTPUserID = Place(NewLabel(QStringLiteral("SMTP UserID:"), GroupBox2, "LabelSMTPUserID"), 15, 163);
    EditSMTPUserID = Place(Named(new QLineEdit(GroupBox2), "EditSMTPUserID"), 89, 160, 168, EditHeight);
    ButtonSMTPTest =
        Place(Named(new QPushButton(QStringLiteral("Test"), GroupBox2), "ButtonSMTPTest"), 258, 160, 51, 22);
    // The captions end before their edits (the dialog's scale sees to it).
    LabelEmailAddresses->setBuddy(EditEmailAddresses);
    LabelSMTPHost->setBuddy(EditSMTPHost);
    LabelFromAddress->setBuddy(EditFromAddress);
    LabelSMTPUserID->setBuddy(EditSMTPUserID);
    connect(cboxEmailAlerts, &QCheckBox::toggled, this, [this] { UpdateAlertControls(); });
    connect(ButtonSMTPTest, &QPushButton::clicked, this, [this] { ButtonSMTPTestClick(); });
    UpdateAlertControls();
}

void TFormProperties::BuildSecurityGroup()
{
    GroupBox4 =
        Place(Named(new QGroupBox(QStringLiteral(" Connection Security (every server) "), this), "GroupBox4"),
              5, 262, 636, 92);
    LabelEncrypt = Place(NewLabel(QStringLiteral("Encrypt:"), GroupBox4, "LabelEncrypt"), 16, 22);
    ComboEncrypt = Place(Named(new QComboBox(GroupBox4), "ComboEncrypt"), 120, 18, 190, 22);
    ComboEncrypt->addItems({QStringLiteral("The driver's default"), QStringLiteral("Off"),
                            QStringLiteral("When the server offers"), QStringLiteral("Required")});
    LabelCertificate =
        Place(NewLabel(QStringLiteral("Server certificate:"), GroupBox4, "LabelCertificate"), 330, 22);
    ComboCertificate = Place(Named(new QComboBox(GroupBox4), "ComboCertificate"), 436, 18, 190, 22);
    ComboCertificate->addItems(
        {QStringLiteral("The driver's default"), QStringLiteral("Validate"), QStringLiteral("Trust")});
    LabelCAFile = Place(NewLabel(QStringLiteral("CA file:"), GroupBox4, "LabelCAFile"), 16, 48);
    EditCAFile = Place(Named(new QLineEdit(GroupBox4), "EditCAFile"), 120, 45, 484, EditHeight);
    ButtonCAFile =
        Place(Named(new QPushButton(QStringLiteral("..."), GroupBox4), "ButtonCAFile"), 604, 45, 22, 21);
    LabelCAFileNote = Place(NewLabel(QString(), GroupBox4, "LabelCAFileNote"), 120, 69, 506);
    LabelEncrypt->setBuddy(ComboEncrypt);
    LabelCertificate->setBuddy(ComboCertificate);
    LabelCAFile->setBuddy(EditCAFile);
    // The CA file is FreeTDS's: Microsoft's drivers check against the system's store.
    const std::string driver = ChosenOdbcDriver();
    const bool freeTds = IsFreeTdsDriver(driver);
    LabelCAFileNote->setText(
        freeTds
            ? QStringLiteral("FreeTDS checks the certificate against this file; empty: the system's store.")
            : QStringLiteral("Does not apply to %1, which uses the system's trust store.")
                  .arg(QString::fromStdString(driver)));
    EditCAFile->setEnabled(freeTds);
    ButtonCAFile->setEnabled(freeTds);
    connect(ButtonCAFile, &QPushButton::clicked, this, [this] { ButtonCAFileClick(); });
}

void TFormProperties::ButtonCAFileClick()
{
    // Cancelling keeps the file named before.
    if (const QString file = ChooseFile(this, QStringLiteral("Select CA File"), EditCAFile->text());
        !file.isEmpty())
        EditCAFile->setText(file);
}

void TFormProperties::BuildButtons()
{
    LabelSavedTo = Place(NewLabel(QString(), this, "LabelSavedTo"), 8, 358, 310, 21);
    ButtonApply =
        Place(Named(new QPushButton(QStringLiteral("Apply"), this), "ButtonApply"), 324, 358, 71, 21);
    ButtonOK = Place(Named(new QPushButton(QStringLiteral("OK"), this), "ButtonOK"), 402, 358, 71, 21);
    ButtonCancel =
        Place(Named(new QPushButton(QStringLiteral("Cancel"), this), "ButtonCancel"), 478, 358, 71, 21);
    ButtonHelp = Place(Named(new QPushButton(QStringLiteral("Help"), this), "ButtonHelp"), 556, 358, 71, 21);
    for (QPushButton* button :
         {ButtonApply, ButtonOK, ButtonCancel, ButtonHelp, ButtonLogDir, ButtonSMTPTest, ButtonCAFile})
        button->setAutoDefault(false);
    connect(ButtonApply, &QPushButton::clicked, this, [this] { ButtonApplyClick(); });
    connect(ButtonOK, &QPushButton::clicked, this, [this] { ButtonOKClick(); });
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ButtonHelp, &QPushButton::clicked, this, [] { OpenManual(); });
}

void TFormProperties::ShowRefreshInterval(int seconds)
{
    TrackBarRefresh->setValue(seconds);
    TrackBarRefreshChange();
}

void TFormProperties::TrackBarRefreshChange()
{
    const int position = TrackBarRefresh->value();
    LabelRefresh->setText(position == 1 ? QStringLiteral("Every Second")
                                        : QStringLiteral("%1 Seconds").arg(position));
}

void TFormProperties::TrackBarLogRefreshChange()
{
    const int position = TrackBarLogRefresh->value();
    LabelLogRefresh->setText(position == 1 ? QStringLiteral("Every Refresh")
                                           : QStringLiteral("Every %1 Refreshes").arg(position));
}

void TFormProperties::UpdateAlertControls()
{
    const bool enabled = cboxEmailAlerts->isChecked();
    for (QWidget* control : std::initializer_list<QWidget*>{
             cboxServerDisconnectAlert, cboxServerResponseAlert, cboxCPUUsageAlert, EditServerResponseRefresh,
             EditServerResponseValue, EditCPUUsageRefresh, EditCPUUsageValue, LabelEmailAddresses,
             LabelEmailValue, LabelNumRefreshes, LabelSMTPHost, LabelSMTPUserID, LabelFromAddress,
             EditEmailAddresses, EditSMTPHost, EditSMTPUserID, EditFromAddress})
        control->setEnabled(enabled);
    ButtonSMTPTest->setEnabled(enabled && !TestUnderway);
}

void TFormProperties::UpdateLoggingControls()
{
    const bool enabled = cboxLoggingEnabled->isChecked();
    for (QWidget* control :
         std::initializer_list<QWidget*>{ButtonLogDir, EditLoggingDirectory, LabelLoggingDir, LabelLogMin,
                                         LabelLogMax, LabelLogRefresh, TrackBarLogRefresh})
        control->setEnabled(enabled);
}

void TFormProperties::LoadSettings()
{
    // Connection security is shown whether or not the rest of the store exists.
    const TConnectionSecurity security = ReadConnectionSecurity();
    ComboEncrypt->setCurrentIndex(security.Encrypt ? static_cast<int>(*security.Encrypt) + 1 : 0);
    ComboCertificate->setCurrentIndex(!security.TrustServerCertificate   ? 0
                                      : *security.TrustServerCertificate ? 2
                                                                         : 1);
    EditCAFile->setText(security.CAFile);

    TRegistry registry(TRegistryRoot::LocalMachine);
    const auto name = [](const char* value) { return QString::fromLatin1(value); };
    if (!registry.OpenKeyReadOnly(name(RootKey)))
        return;
    cboxEmailAlerts->setChecked(registry.ReadBool(name(EmailAlerts)));
    cboxLoggingEnabled->setChecked(registry.ReadBool(name(Logging)));
    UpdateAlertControls();
    UpdateLoggingControls();

    // Each value that exists is shown; a missing one leaves its control as it is.
    if (registry.OpenKeyReadOnly(name(AlertsKey))) {
        for (const auto& [value, box] :
             {std::pair(CPUUsage, cboxCPUUsageAlert), std::pair(ServerDisconnect, cboxServerDisconnectAlert),
              std::pair(ServerResponse, cboxServerResponseAlert)}) {
            if (const auto flag = registry.ReadInteger(name(value)))
                box->setChecked(*flag != 0);
        }
        for (const auto& [value, edit] :
             {std::pair(CPUUsageRefresh, EditCPUUsageRefresh), std::pair(CPUUsageValue, EditCPUUsageValue),
              std::pair(ServerResponseRefresh, EditServerResponseRefresh),
              std::pair(ServerResponseValue, EditServerResponseValue)}) {
            if (const auto number = registry.ReadInteger(name(value)))
                edit->setText(QString::number(*number));
        }
        for (const auto& [value, edit] :
             {std::pair(AlertEmails, EditEmailAddresses), std::pair(SMTPHost, EditSMTPHost),
              std::pair(SMTPUser, EditSMTPUserID), std::pair(SMTPSender, EditFromAddress)}) {
            if (const auto text = registry.ReadString(name(value)))
                edit->setText(*text);
        }
    }
    if (registry.OpenKeyReadOnly(name(LoggingKey))) {
        if (const auto directory = registry.ReadString(name(LoggingDirectory)))
            EditLoggingDirectory->setText(*directory);
        if (const auto count = registry.ReadInteger(name(RefreshCount)))
            TrackBarLogRefresh->setValue(*count);
    }
}

TFormProperties::TSaveResult TFormProperties::SaveSettings()
{
    TAllSettings settings;
    for (const auto& [edit, value] : {std::pair(EditCPUUsageRefresh, &settings.CPUUsageRefresh),
                                      std::pair(EditCPUUsageValue, &settings.CPUUsageValue),
                                      std::pair(EditServerResponseRefresh, &settings.ServerResponseRefresh),
                                      std::pair(EditServerResponseValue, &settings.ServerResponseValue)}) {
        const std::optional<std::int32_t> number = Integer(edit);
        if (!number) {
            // Checked before anything is written, so a typing error never leaves half
            // the settings saved.
            edit->setFocus();
            ShowError(this, QStringLiteral("'%1' is not a valid integer value").arg(edit->text()),
                      ErrorCaption);
            return TSaveResult::NotAnInteger;
        }
        *value = *number;
    }
    settings.RefreshInterval = TrackBarRefresh->value();
    settings.EmailAlerts = cboxEmailAlerts->isChecked();
    settings.Logging = cboxLoggingEnabled->isChecked();
    settings.CPUUsage = cboxCPUUsageAlert->isChecked();
    settings.ServerDisconnect = cboxServerDisconnectAlert->isChecked();
    settings.ServerResponse = cboxServerResponseAlert->isChecked();
    settings.AlertEmails = EditEmailAddresses->text();
    settings.SMTPHost = EditSMTPHost->text();
    settings.SMTPUser = EditSMTPUserID->text();
    settings.SMTPSender = EditFromAddress->text();
    settings.LoggingDirectory = EditLoggingDirectory->text();
    settings.RefreshCount = TrackBarLogRefresh->value();
    if (const int encrypt = ComboEncrypt->currentIndex(); encrypt > 0)
        settings.Security.Encrypt = static_cast<EEncrypt>(encrypt - 1);
    if (const int certificate = ComboCertificate->currentIndex(); certificate > 0)
        settings.Security.TrustServerCertificate = certificate == 2;
    settings.Security.CAFile = EditCAFile->text().trimmed();

    const TRegistryPaths paths = TRegistryPaths::FromEnvironment();
    const std::optional<QString> file = SaveAllSettings(settings, paths);
    if (!file) {
        LabelSavedTo->setText(QStringLiteral("Settings not saved"));
        LabelSavedTo->setToolTip(QString());
        ShowError(this,
                  QStringLiteral("The settings could not be saved to %1.")
                      .arg(paths.ReadPath(TRegistryRoot::LocalMachine)),
                  ErrorCaption);
        return TSaveResult::NotWritten;
    }
    const bool forThisUser = *file != paths.MachineFile;
    const QString savedTo =
        (forThisUser ? QStringLiteral("Saved for this user only, to %1") : QStringLiteral("Saved to %1"))
            .arg(*file);
    LabelSavedTo->setText(
        LabelSavedTo->fontMetrics().elidedText(savedTo, Qt::ElideMiddle, LabelSavedTo->width()));
    LabelSavedTo->setToolTip(savedTo);
    if (forThisUser && !ToldSavedForUser) {
        ToldSavedForUser = true;
        ShowMessage(this,
                    {QStringLiteral("%1 cannot be written, so the settings were saved for this user only, "
                                    "in %2.")
                         .arg(paths.MachineFile, *file),
                     windowTitle(), TMessageButtons::Ok, TMessageIcon::Information});
    }
    return TSaveResult::Saved;
}

bool TFormProperties::ButtonApplyClick()
{
    const TSaveResult saved = SaveSettings();
    if (saved == TSaveResult::NotAnInteger)
        return false;
    // The running connections take the interval even when the store could not keep it.
    MainWindow.SetRefreshInterval(TrackBarRefresh->value());
    return saved == TSaveResult::Saved;
}

void TFormProperties::ButtonOKClick()
{
    if (ButtonApplyClick())
        accept();
}

void TFormProperties::ButtonLogDirClick()
{
    EditLoggingDirectory->setText(
        ChooseFolder(this, QStringLiteral("Select Logging Directory!"), EditLoggingDirectory->text()));
}

TFormProperties::TTestOutcome TFormProperties::SendTestMail(TQuorSMTP& client, const QString& host,
                                                            const QString& userId, const QString& from,
                                                            const QString& to)
{
    // A connection a failed test left open is closed first.
    if (client.Connected()) {
        try {
            client.Disconnect();
        } catch (const ESmtpFailure&) {
        }
    }
    client.Host = host;
    client.UserID = userId;
    try {
        client.Connect();
    } catch (const ESmtpFailure& error) {
        return {TTestOutcome::ConnectFailed, error.Text(), {}};
    }
    if (!client.Connected())
        return {TTestOutcome::NotConnected, {}, {}};
    client.PostMessage.FromAddress = from;
    client.PostMessage.FromName = QStringLiteral("Torvane Alert");
    client.PostMessage.Subject = QStringLiteral("Test Message");
    client.PostMessage.ToAddress = QStringList{to};
    client.PostMessage.Body << QStringLiteral("Test Message"); // kept from the last test
    try {
        client.Send();
    } catch (const ESmtpSocketError& error) {
        return {TTestOutcome::SendSocketError, error.Text(), {}}; // the connection stays open
    } catch (const ESmtpError& error) {
        return {TTestOutcome::SendError, error.Text(), {}};
    }
    TTestOutcome sent;
    try {
        client.Disconnect();
    } catch (const ESmtpFailure& error) {
        sent.GoodbyeError = error.Text();
    }
    return sent;
}

void TFormProperties::ButtonSMTPTestClick()
{
    if (TestUnderway)
        return;
    TestUnderway = true;
    UpdateAlertControls();
    const QString host = EditSMTPHost->text();
    const QString userId = EditSMTPUserID->text();
    const QString from = EditFromAddress->text();
    const QString to = EditEmailAddresses->text();
    QuorSMTP1.Post([this, host, userId, from, to](TQuorSMTP& client) -> TSmtpThread::TResult {
        const TTestOutcome outcome = SendTestMail(client, host, userId, from, to);
        return [this, outcome] { TestFinished(outcome); };
    });
}

void TFormProperties::TestFinished(const TTestOutcome& outcome)
{
    TestUnderway = false;
    UpdateAlertControls();
    switch (outcome.Step) {
    case TTestOutcome::ConnectFailed:
        ShowError(this,
                  QStringLiteral("Could not connect to SMTP server:\n\n") + outcome.Text +
                      QStringLiteral("\n\nSome things to check for:\n"
                                     "  - Check the name of the SMTP Host\n"
                                     "  - Some SMTP servers require a value in the SMTP UserID property\n"
                                     "  - The SMTP User ID might have to be a valid SMTP UserID"),
                  ConnectErrorCaption);
        return;
    case TTestOutcome::NotConnected:
        ShowError(this, QStringLiteral("Could not connect to smtp server"), ConnectErrorCaption);
        return;
    case TTestOutcome::SendSocketError:
        ShowError(this, outcome.Text, ConnectErrorCaption);
        return;
    case TTestOutcome::SendError:
        ShowError(this, outcome.Text, ErrorCaption);
        return;
    case TTestOutcome::Sent:
        ShowMessage(this, {QStringLiteral("Test email sent"), QStringLiteral("SMTP Server Connected"),
                           TMessageButtons::Ok, TMessageIcon::Information});
        if (!outcome.GoodbyeError.isEmpty())
            ShowError(this, outcome.GoodbyeError, ErrorCaption);
        return;
    }
}
