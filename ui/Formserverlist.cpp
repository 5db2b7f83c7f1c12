#include "ui/Formserverlist.h"

#include "engine/Serverbrowser.h"
#include "ui/Banner.h"
#include "ui/Dialoglayout.h"
#include "ui/Formlogon.h"

#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QtConcurrent/QtConcurrentRun>

namespace {

QPushButton* Button(QWidget* parent, const char* name, const QString& text, int left)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(left, 348, 75, 23);
    return button;
}

QLabel* Heading(QWidget* parent)
{
    auto* panel = new QLabel(QStringLiteral(" ServerName"), parent);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setGeometry(0, 65, 325, 19);
    panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    panel->setFrameShape(QFrame::Box);
    SetFixedBackground(panel, QColor(0xc0, 0xc0, 0xc0));
    return panel;
}

} // namespace

TFormServerList::TFormServerList(QWidget* parent)
    : QDialog(parent), Image1(new TBanner(this)), Panel1(Heading(this)),
      ListBoxServers(new QListWidget(this)), ButtonOK(Button(this, "ButtonOK", QStringLiteral("&Ok"), 85)),
      ButtonCancel(Button(this, "ButtonCancel", QStringLiteral("&Cancel"), 166)),
      ButtonHelp(Button(this, "ButtonHelp", QStringLiteral("&Help"), 247))
{
    setWindowTitle(QStringLiteral("SQL Server List"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    SetFixedBackground(this, Qt::white);

    ListBoxServers->setObjectName(QStringLiteral("ListBoxServers"));
    ListBoxServers->setGeometry(0, 84, 325, 261);
    ListBoxServers->setSelectionMode(QAbstractItemView::SingleSelection);
    ButtonOK->setDefault(true);
    setTabOrder(ListBoxServers, ButtonOK);
    setTabOrder(ButtonOK, ButtonCancel);
    setTabOrder(ButtonCancel, ButtonHelp);

    connect(ButtonOK, &QPushButton::clicked, this, &TFormServerList::ButtonOKClick);
    connect(ListBoxServers, &QListWidget::itemDoubleClicked, this, &TFormServerList::ListBoxServersDblClick);
    connect(ButtonCancel, &QPushButton::clicked, this, &TFormServerList::ButtonCancelClick);
    connect(&FSearch, &QFutureWatcherBase::finished, this, &TFormServerList::SearchEnded);
    // Help has nothing to show for this dialog.
    setFont(DesignFont());
    FitDialogToCaptions(this, 325, 373);
}

TFormServerList::~TFormServerList()
{
    // The worker ends at its next look at the stop request; the thread pool outlives
    // the dialog and its result goes nowhere.
    FStop.request_stop();
}

void TFormServerList::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!FCentred) {
        FCentred = true;
        if (const QScreen* shown = screen())
            move(shown->availableGeometry().center() - rect().center());
    }
}

void TFormServerList::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TFormServerList::FormActivate()
{
    BrowseServers();
}

void TFormServerList::BrowseServers()
{
    if (FSearch.isRunning())
        return;
    setCursor(Qt::WaitCursor);
    const TServerBrowser browser(TServerBrowser::TOptions::FromEnvironment());
    FSearch.setFuture(QtConcurrent::run([browser, stop = FStop.get_token()] {
        TBrowseResult result = browser.BrowseServers(stop);
        // The list simply stays as it is; the reason is worth a line on the console.
        if (!result.Error.empty())
            qWarning().noquote() << QString::fromStdString(result.Error);
        return std::move(result.Names);
    }));
}

void TFormServerList::SearchEnded()
{
    unsetCursor();
    for (const std::string& name : FSearch.result()) {
        const QString server = QString::fromStdString(name);
        if (ListBoxServers->findItems(server, Qt::MatchFixedString).isEmpty())
            ListBoxServers->addItem(server);
    }
    Q_EMIT BrowseFinished();
}

void TFormServerList::AcceptSelection()
{
    if (const QListWidgetItem* selected = ListBoxServers->currentItem(); selected && selected->isSelected())
        LogonDialog->SelectServer(selected->text());
    close();
}

void TFormServerList::ButtonOKClick()
{
    AcceptSelection();
}

void TFormServerList::ListBoxServersDblClick()
{
    AcceptSelection();
}

void TFormServerList::ButtonCancelClick()
{
    reject();
}
