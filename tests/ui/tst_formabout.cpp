// The about box: its pictures, the version line from the program file, the link to the
// manual, and closing with OK, Enter and Esc.

#include "engine/Projectversion.h"
#include "ui/Dialoglayout.h"
#include "ui/Formabout.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QSvgRenderer>
#include <QSvgWidget>
#include <QtTest>

namespace {

// Stands in for the desktop's handler of file addresses.
class TOpenedUrls : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> Urls;

public Q_SLOTS:
    void Open(const QUrl& url) { Urls.append(url); }
};

} // namespace

class TestFormAbout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pictures();
    void layout();
    void version_data();
    void version();
    void linkOpensTheManual();
    void closing_data();
    void closing();
};

void TestFormAbout::pictures()
{
    TFormAbout form(nullptr);

    QVERIFY(form.Image1->renderer()->isValid());
    QVERIFY(form.Image2->renderer()->isValid());
    QVERIFY(QSvgRenderer(QStringLiteral(":/torvane/torvane.svg")).isValid());
}

// Every text is shown whole inside the fixed box, whatever the system's font.
void TestFormAbout::layout()
{
    TFormAbout form(nullptr);
    form.ShowVersion();

    QCOMPARE(form.windowTitle(), QStringLiteral("About Torvane"));
    // The design's layout in the layout unit.
    const double scale = LayoutScale(form.font());
    const auto unit = [scale](int pixels) { return LayoutPixels(pixels, scale); };
    QCOMPARE(form.size(), QSize(unit(325), unit(294)));
    QCOMPARE(form.Button1->geometry(), QRect(unit(123), unit(266), unit(75), unit(25)));
    for (const QLabel* label : {form.LabelVersion, form.Label4, form.Label1, form.Label2}) {
        QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->objectName()));
        QVERIFY2(label->geometry().right() < form.width(), qPrintable(label->objectName()));
    }
}

void TestFormAbout::version_data()
{
    QTest::addColumn<bool>("removeBlock");
    QTest::addColumn<QString>("text");

    QTest::newRow("the program's block") << false << "Version 1.3.0 Build 40";
    QTest::newRow("a program file without a block") << true << "Version 1.3";
}

void TestFormAbout::version()
{
    QFETCH(bool, removeBlock);
    QFETCH(QString, text);
    TFormAbout form(nullptr);

    if (removeBlock) {
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("torvane"));
        QCOMPARE(
            QProcess::execute(QStringLiteral("objcopy"), {QStringLiteral("--remove-section=.torvane_version"),
                                                          QCoreApplication::applicationFilePath(), copy}),
            0);
        form.ShowVersion(TProjectRCVersion(copy));
    } else {
        form.ShowVersion();
    }

    QCOMPARE(form.LabelVersion->text(), text);
}

void TestFormAbout::linkOpensTheManual()
{
    QTemporaryDir data;
    const QString manual = data.filePath(QStringLiteral("torvane/manual.html"));
    QVERIFY(QDir().mkpath(QFileInfo(manual).path()));
    QFile file(manual);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("XDG_DATA_DIRS", QFile::encodeName(data.path()));
    TOpenedUrls opened;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "Open");
    TFormAbout form(nullptr);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QTest::mouseClick(form.Label4, Qt::LeftButton, {}, form.Label4->rect().center());

    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(opened.Urls, QList<QUrl>{QUrl::fromLocalFile(manual)});
}

void TestFormAbout::closing_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("result");

    QTest::newRow("OK clicked") << 0 << int(QDialog::Accepted);
    QTest::newRow("Enter") << int(Qt::Key_Return) << int(QDialog::Accepted);
    QTest::newRow("Esc") << int(Qt::Key_Escape) << int(QDialog::Rejected);
}

void TestFormAbout::closing()
{
    QFETCH(int, key);
    QFETCH(int, result);
    TFormAbout form(nullptr);
    form.setResult(-1);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    if (key == 0)
        QTest::mouseClick(form.Button1, Qt::LeftButton);
    else
        QTest::keyClick(&form, Qt::Key(key));

    QVERIFY(!form.isVisible());
    QCOMPARE(form.result(), result);
}

QTEST_MAIN(TestFormAbout)
#include "tst_formabout.moc"
