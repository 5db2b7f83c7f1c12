#include "ui/Formabout.h"

#include "engine/Projectversion.h"
#include "ui/Dialoglayout.h"
#include "ui/Manual.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSvgWidget>

namespace {

QLabel* TextLabel(QWidget* parent, const QString& name, const QString& text, QPoint position)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->move(position);
    label->adjustSize();
    return label;
}

} // namespace

TFormAbout::TFormAbout(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setWindowTitle(QStringLiteral("About Torvane"));
    setFont(DesignFont());
    SetFixedBackground(this, Qt::white);

    Image1 = new QSvgWidget(QStringLiteral(":/torvane/banner.svg"), this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, 325, 65);
    Image2 = new QSvgWidget(QStringLiteral(":/torvane/logo.svg"), this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(4, 68, 141, 48);

    LabelVersion = TextLabel(this, QStringLiteral("LabelVersion"), QString(), {11, 116});

    // The link opens the manual that came with the program: the program has no web site
    // of its own, and the manual is there even without a network.
    Label4 = TextLabel(this, QStringLiteral("Label4"),
                       QStringLiteral("<a href=\"manual\" style=\"color:#0000ff; text-decoration:underline\">"
                                      "Torvane user manual</a>"),
                       {11, 212});
    Label4->setCursor(Qt::PointingHandCursor);
    Label4->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    if (const QString manual = FindManual(QCoreApplication::applicationDirPath()); !manual.isEmpty())
        Label4->setToolTip(QDir::toNativeSeparators(manual));
    connect(Label4, &QLabel::linkActivated, this, &TFormAbout::Label4Click);

    Label1 =
        TextLabel(this, QStringLiteral("Label1"), QStringLiteral("Copyright \u00a9 2026 Velquin"), {11, 229});
    Label2 = TextLabel(this, QStringLiteral("Label2"), QStringLiteral("Built with Qt, unixODBC and FreeTDS"),
                       {11, 244});

    Button1 = new QPushButton(QStringLiteral("&OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(123, 266, 75, 25);
    // Default for Enter; Esc closes the box through QDialog's own cancel.
    Button1->setDefault(true);
    Button1->setFocus();
    connect(Button1, &QPushButton::clicked, this, &TFormAbout::Button1Click);
    FitDialogToCaptions(this, 325, 294);
}

void TFormAbout::ShowVersion()
{
    ShowVersion(TProjectRCVersion());
}

void TFormAbout::ShowVersion(const TProjectRCVersion& version)
{
    LabelVersion->setText(version.VersionText());
    LabelVersion->adjustSize();
}

void TFormAbout::Button1Click()
{
    accept();
}

void TFormAbout::Label4Click()
{
    OpenManual();
}
