#pragma once
// The properties dialog: every setting of the store (refresh interval, performance log,
// e-mail alerts and their SMTP details, connection security), saved on OK and Apply, and a test mail sent
// with the SMTP details as typed. The main window creates it, shows its own interval
// on the refresh track bar (ShowRefreshInterval), lets it LoadSettings, shows it
// modally and receives a new interval through SetRefreshInterval.
//
// The test mail is sent by the dialog's own SMTP client on its thread, so the dialog
// stays responsive while a mail server is slow; the client keeps its message between
// tests, as it always has: a second test sends the body line twice.

#include "alerts/Smtpthread.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class TPropertiesOwner;

class TFormProperties : public QDialog
{
    Q_OBJECT

public:
    explicit TFormProperties(TPropertiesOwner& mainWindow, QWidget* parent = nullptr);
    ~TFormProperties() override;

    // The main window's interval on the refresh track bar (1 to 100) and its label.
    void ShowRefreshInterval(int seconds);
    // Shows what the store holds; without the settings key the dialog keeps its
    // initial state.
    void LoadSettings();
    // Writes every value in one change of the store. False, with a message, when a
    // number field is not an integer (nothing is written then) or the store cannot be
    // written; the label at the bottom says where the settings went.
    enum class TSaveResult
    {
        Saved,
        NotAnInteger,
        NotWritten,
    };
    TSaveResult SaveSettings();
    void UpdateAlertControls();
    void UpdateLoggingControls();

    QLabel* ImageBanner;
    QGroupBox* GroupBox1;
    QLabel* Label1;
    QLabel* LabelRefresh;
    QLabel* Label2;
    QSlider* TrackBarRefresh;
    QGroupBox* GroupBox3;
    QCheckBox* cboxLoggingEnabled;
    QLabel* LabelLogMin;
    QLabel* LabelLogRefresh;
    QLabel* LabelLogMax;
    QSlider* TrackBarLogRefresh;
    QLabel* LabelLoggingDir;
    QLineEdit* EditLoggingDirectory;
    QPushButton* ButtonLogDir;
    QGroupBox* GroupBox2;
    QCheckBox* cboxEmailAlerts;
    QLabel* LabelNumRefreshes;
    QLabel* LabelEmailValue;
    QCheckBox* cboxServerDisconnectAlert;
    QCheckBox* cboxServerResponseAlert;
    QLineEdit* EditServerResponseRefresh;
    QLineEdit* EditServerResponseValue;
    QCheckBox* cboxCPUUsageAlert;
    QLineEdit* EditCPUUsageRefresh;
    QLineEdit* EditCPUUsageValue;
    QLabel* LabelEmailAddresses;
    QLineEdit* EditEmailAddresses;
    QLabel* LabelSMTPHost;
    QLineEdit* EditSMTPHost;
    QLabel* LabelFromAddress;
    QLineEdit* EditFromAddress;
    QLabel* LabelSMTPUserID;
    QLineEdit* EditSMTPUserID;
    QPushButton* ButtonSMTPTest;
    QGroupBox* GroupBox4;
    QLabel* LabelEncrypt;
    QComboBox* ComboEncrypt; // the driver's default, off, when the server offers, required
    QLabel* LabelCertificate;
    QComboBox* ComboCertificate; // the driver's default, validate, trust
    QLabel* LabelCAFile;
    QLineEdit* EditCAFile;
    QPushButton* ButtonCAFile;
    QLabel* LabelCAFileNote; // whether the CA file applies to the chosen driver
    QLabel* LabelSavedTo;
    QPushButton* ButtonApply;
    QPushButton* ButtonOK;
    QPushButton* ButtonCancel;
    QPushButton* ButtonHelp;

private:
    struct TTestOutcome;
    void BuildRefreshGroup();
    void BuildLoggingGroup();
    void BuildAlertsGroup();
    void BuildSecurityGroup();
    void BuildButtons();
    bool ButtonApplyClick();
    void ButtonOKClick();
    void TrackBarRefreshChange();
    void TrackBarLogRefreshChange();
    void ButtonLogDirClick();
    void ButtonCAFileClick();
    void ButtonSMTPTestClick();
    // On the client's thread.
    static TTestOutcome SendTestMail(TQuorSMTP& client, const QString& host, const QString& userId,
                                     const QString& from, const QString& to);
    void TestFinished(const TTestOutcome& outcome);

    TPropertiesOwner& MainWindow;
    bool TestUnderway = false;
    bool ToldSavedForUser = false;
    TSmtpThread QuorSMTP1; // last: its results reach the dialog only while it exists
};
