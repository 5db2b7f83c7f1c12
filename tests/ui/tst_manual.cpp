// Finding and opening the manual: beside the program, in the installed share folder, in
// the desktop's data folders, and nothing at all when it is missing; and the page the
// build makes: its pictures drawn in, its links leading somewhere.

#include "ui/Manual.h"

#include <QDesktopServices>
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

bool Touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("<html></html>") > 0;
}

} // namespace

class TestManual : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void find_data();
    void find();
    void openMissingDoesNothing();
    void openGivesTheFileToTheDesktop();
    void builtManual();

private:
    std::unique_ptr<QTemporaryDir> Root;
    void UseDataFolder(const QString& folder);
};

void TestManual::UseDataFolder(const QString& folder)
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(Root->filePath(QStringLiteral("home"))));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(Root->filePath(folder)));
}

void TestManual::init()
{
    Root = std::make_unique<QTemporaryDir>();
    QVERIFY(Root->isValid());
    UseDataFolder(QStringLiteral("xdg"));
}

void TestManual::find_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("found");

    QTest::newRow("beside the program first")
        << QStringList{"prefix/bin/manual.html", "prefix/share/torvane/manual.html",
                       "xdg/torvane/manual.html"}
        << "prefix/bin/manual.html";
    QTest::newRow("installed share folder")
        << QStringList{"prefix/share/torvane/manual.html", "xdg/torvane/manual.html"}
        << "prefix/share/torvane/manual.html";
    QTest::newRow("data folders") << QStringList{"xdg/torvane/manual.html"} << "xdg/torvane/manual.html";
    QTest::newRow("a folder of that name is no manual")
        << QStringList{"prefix/bin/manual.html/x", "prefix/share/torvane/manual.html/x"} << "";
    QTest::newRow("nowhere") << QStringList{"prefix/share/other/manual.html"} << "";
}

void TestManual::find()
{
    QFETCH(QStringList, files);
    QFETCH(QString, found);
    for (const QString& file : files)
        QVERIFY(Touch(Root->filePath(file)));

    const QString manual = FindManual(Root->filePath(QStringLiteral("prefix/bin")));

    QCOMPARE(manual, found.isEmpty() ? QString() : Root->filePath(found));
}

void TestManual::openMissingDoesNothing()
{
    TOpenedUrls opened;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "Open");

    OpenManual();

    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QVERIFY(opened.Urls.isEmpty());
}

void TestManual::openGivesTheFileToTheDesktop()
{
    const QString manual = Root->filePath(QStringLiteral("xdg/torvane/manual.html"));
    QVERIFY(Touch(manual));
    TOpenedUrls opened;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "Open");

    OpenManual();

    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(opened.Urls, QList<QUrl>{QUrl::fromLocalFile(manual)});
}

void TestManual::builtManual()
{
    QFile file(QStringLiteral(TORVANE_BUILT_MANUAL));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(file.readAll());

    QVERIFY2(!page.contains(QRegularExpression(QStringLiteral("@[A-Z_]+@"))), "a placeholder is left");
    QVERIFY(!page.contains(QStringLiteral("<?xml")));
    QCOMPARE(page.count(QStringLiteral("<svg")), 7); // the icon, the four state pictures, the lead blocker twice
    QSet<QString> ids;
    for (const QRegularExpressionMatch& id :
         QRegularExpression(QStringLiteral(" id=\"([^\"]+)\"")).globalMatch(page))
        ids.insert(id.captured(1));
    const QRegularExpression links(QStringLiteral("href=\"#([^\"]+)\""));
    int count = 0;
    for (const QRegularExpressionMatch& link : links.globalMatch(page)) {
        QVERIFY2(ids.contains(link.captured(1)), qPrintable(link.captured(1)));
        ++count;
    }
    QVERIFY(count > 0);
}

QTEST_MAIN(TestManual)
#include "tst_manual.moc"
