#include "ProductInfo.h"
#include "TestMain.h"

#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>

namespace {

const QString Id = QStringLiteral(TWINFOLD_DESKTOP_ID);

struct Ran
{
    int exitCode = -1;
    QByteArray out, err;
};

Ran run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment = {},
        int timeoutMs = 300000)
{
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return {-1, {}, "did not finish: " + program.toUtf8()};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

// What `cmake --install` puts in place, below the prefix /usr; the package adds its changelog
// and lintian overrides.
QStringList expectedFiles(bool package = false)
{
    QStringList files{
        QStringLiteral("usr/bin/twinfold"),
        QStringLiteral("usr/bin/twinfold-scan"),
        QStringLiteral("usr/" TWINFOLD_RENDERER_DESTINATION "/twinfold-preview"),
        QStringLiteral("usr/share/applications/") + Id + QStringLiteral(".desktop"),
        QStringLiteral("usr/share/doc/twinfold/copyright"),
        QStringLiteral("usr/share/icons/hicolor/scalable/apps/") + Id + QStringLiteral(".svg"),
        QStringLiteral("usr/share/man/man1/twinfold-scan.1.gz"),
        QStringLiteral("usr/share/man/man1/twinfold.1.gz"),
        QStringLiteral("usr/share/metainfo/") + Id + QStringLiteral(".metainfo.xml"),
    };
    if (package)
        files << QStringLiteral("usr/share/doc/twinfold/changelog.Debian.gz")
              << QStringLiteral("usr/share/lintian/overrides/twinfold");
    files.sort();
    return files;
}

// The environment without any display, as in a text console or a plain ssh login.
QProcessEnvironment withoutDisplay(const QString &display = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    if (!display.isEmpty())
        environment.insert(QStringLiteral("DISPLAY"), display);
    return environment;
}

// "Key=Value" lines of the [Desktop Entry] group.
QMap<QString, QString> desktopEntry(const QString &path)
{
    QFile file(path);
    QMap<QString, QString> entry;
    if (!file.open(QIODevice::ReadOnly))
        return entry;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            entry.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
    }
    return entry;
}

} // namespace

class InstallTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dest;
    QString m_usr;

    bool installedExists(const QString &relative) const { return QFileInfo::exists(m_dest.filePath(relative)); }

private slots:
    void initTestCase()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DESTDIR"), m_dest.path());
        const Ran installed = run(QStringLiteral(TWINFOLD_CMAKE),
                                  {QStringLiteral("--install"), QStringLiteral(TWINFOLD_BUILD_DIR),
                                   QStringLiteral("--prefix"), QStringLiteral("/usr")},
                                  environment);
        QVERIFY2(installed.exitCode == 0, installed.err.constData());
        m_usr = m_dest.filePath(QStringLiteral("usr"));
    }

    // Exactly the programs and their desktop data; no libraries, headers or tests.
    void installedTree()
    {
        QStringList files;
        QDirIterator it(m_dest.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QDir(m_dest.path()).relativeFilePath(it.next());
        files.sort();
        QCOMPARE(files, expectedFiles());
        for (const QString &program : {QStringLiteral("usr/bin/twinfold"), QStringLiteral("usr/bin/twinfold-scan")})
            QVERIFY(QFileInfo(m_dest.filePath(program)).isExecutable());

        // The window finds the renderer where the install layout put it.
        QVERIFY(QFileInfo(m_dest.filePath(QStringLiteral("usr/bin/" TWINFOLD_RENDERER_FROM_BINDIR))).isExecutable());
    }

    // Without a display the window says why in one line and points to twinfold-scan; --help and
    // --version need none.
    void programsWithoutDisplay_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("display");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        const QByteArray version(" (Twinfold) " TWINFOLD_PRODUCT_VERSION "\n" TWINFOLD_COPYRIGHT
                                 "\nLicense GPL-2.0-or-later");
        QTest::newRow("window, no display") << "twinfold" << QStringList{} << QString() << 1 << QByteArray()
                                            << QByteArray("twinfold: no graphical display");
        QTest::newRow("window, display unreachable") << "twinfold" << QStringList{} << ":7919" << 1 << QByteArray()
                                                     << QByteArray("twinfold: cannot open the window");
        QTest::newRow("window --help") << "twinfold" << QStringList{"--help"} << QString() << 0
                                       << QByteArray("Usage: twinfold [OPTION]...\n") << QByteArray();
        QTest::newRow("window -v") << "twinfold" << QStringList{"-v"} << QString() << 0 << "twinfold" + version
                                   << QByteArray();
        QTest::newRow("scan --version") << "twinfold-scan" << QStringList{"--version"} << QString() << 0
                                        << "twinfold-scan" + version << QByteArray();
    }

    void programsWithoutDisplay()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, display);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        const Ran ran = run(m_dest.filePath(QStringLiteral("usr/bin/") + program), arguments, withoutDisplay(display));
        QCOMPARE(ran.exitCode, status);
        QVERIFY2(ran.out.startsWith(out), ran.out.constData());
        QVERIFY2(ran.err.startsWith(err), ran.err.constData());
        if (!err.isEmpty()) // one line, naming the tool that needs no display
            QVERIFY2(ran.err.count('\n') == 1 && ran.err.contains("twinfold-scan"), ran.err.constData());
    }

    void validators_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("quiet"); // nothing at all on standard error
        QTest::newRow("desktop entry") << QStringLiteral("desktop-file-validate")
                                       << QStringList{QStringLiteral("share/applications/") + Id + ".desktop"} << true;
        QTest::newRow("AppStream data") << QStringLiteral("appstreamcli")
                                        << QStringList{"validate", "--no-net", "--pedantic",
                                                       QStringLiteral("share/metainfo/") + Id + ".metainfo.xml"}
                                        << false;
        for (const char *page : {"twinfold.1.gz", "twinfold-scan.1.gz"})
            QTest::newRow(page) << QStringLiteral("sh")
                                << QStringList{"-c", "gzip -dc \"$0\" | groff -man -Tutf8 -ww -z",
                                               QStringLiteral("share/man/man1/") + page}
                                << true;
    }

    void validators()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(bool, quiet);
        arguments.last() = m_usr + u'/' + arguments.last();
        QVERIFY2(!QStandardPaths::findExecutable(program).isEmpty(),
                 qPrintable(program + QStringLiteral(" is missing: run ./twinfold.sh test once to install it")));
        const Ran checked = run(program, arguments);
        QVERIFY2(checked.exitCode == 0, (checked.out + checked.err).constData());
        if (quiet)
            QVERIFY2(checked.err.isEmpty() && checked.out.isEmpty(), (checked.out + checked.err).constData());
    }

    // The menu entry starts an installed program and shows the installed icon; the AppStream
    // data names that entry and the installed programs, with the project's version.
    void desktopDataAgrees()
    {
        const QMap<QString, QString> entry = desktopEntry(m_usr + QStringLiteral("/share/applications/") + Id
                                                          + ".desktop");
        QVERIFY(installedExists(QStringLiteral("usr/bin/") + entry.value(QStringLiteral("Exec"))));
        QVERIFY(!entry.value(QStringLiteral("Exec")).contains(u'%')); // the program takes no arguments
        QCOMPARE(entry.value(QStringLiteral("Icon")), Id);

        QFile metainfo(m_usr + QStringLiteral("/share/metainfo/") + Id + ".metainfo.xml");
        QVERIFY(metainfo.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&metainfo);
        QStringList binaries, screenshots;
        QString id, launchable, release, licence;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const QStringView name = xml.name();
            if (name == u"id")
                id = xml.readElementText();
            else if (name == u"project_license")
                licence = xml.readElementText();
            else if (name == u"launchable")
                launchable = xml.readElementText();
            else if (name == u"binary")
                binaries << xml.readElementText();
            else if (name == u"image")
                screenshots << xml.readElementText();
            else if (name == u"release")
                release = xml.attributes().value(QStringLiteral("version")).toString();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(id, Id);
        QCOMPARE(launchable, Id + QStringLiteral(".desktop"));
        QCOMPARE(licence, QStringLiteral(TWINFOLD_LICENCE));
        QCOMPARE(release, QStringLiteral(TWINFOLD_PRODUCT_VERSION));
        for (const QString &binary : std::as_const(binaries))
            QVERIFY2(installedExists(QStringLiteral("usr/bin/") + binary), qPrintable(binary));
        // The README's pictures.
        QCOMPARE(screenshots.size(), 3);
        for (const QString &url : std::as_const(screenshots))
            QVERIFY2(QFileInfo::exists(QStringLiteral(TWINFOLD_SOURCE_DIR "/docs/") + url.section(u'/', -1)),
                     qPrintable(url));
    }

    // The package holds the installed tree and declares what it needs to run.
    void debianPackage()
    {
        for (const char *tool : {"dpkg-deb", "dpkg-shlibdeps", "file"})
            QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty(),
                     qPrintable(QStringLiteral("%1 is missing: run ./twinfold.sh test once to install it").arg(tool)));
        QTemporaryDir out;
        const Ran packed = run(QStringLiteral(TWINFOLD_CPACK),
                               {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), out.path(),
                                QStringLiteral("--config"), QStringLiteral(TWINFOLD_BUILD_DIR "/CPackConfig.cmake")});
        QVERIFY2(packed.exitCode == 0, (packed.out + packed.err).constData());
        const QStringList debs = QDir(out.path()).entryList({QStringLiteral("twinfold_*.deb")}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        const QString deb = out.filePath(debs.front());

        const Ran contents = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb});
        QCOMPARE(contents.exitCode, 0);
        QStringList files;
        for (const QByteArray &line : contents.out.split('\n'))
            if (line.startsWith('-')) // plain files; folders start with 'd'
                files << QString::fromUtf8(line.mid(line.indexOf("./") + 2));
        files.sort();
        QCOMPARE(files, expectedFiles(true));

        const auto field = [&](const char *name) {
            return QString::fromUtf8(
                run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb, QString::fromLatin1(name)}).out.trimmed());
        };
        QCOMPARE(field("Package"), QStringLiteral("twinfold"));
        QCOMPARE(field("Version"), QStringLiteral(TWINFOLD_PRODUCT_VERSION "-1"));
        QCOMPARE(
            field("Architecture"),
            QString::fromUtf8(run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}).out.trimmed()));
        const auto packages = [&](const char *name) {
            QStringList names;
            for (const QString &item : field(name).split(u','))
                names << item.trimmed().section(u' ', 0, 0);
            return names;
        };
        // Found by dpkg-shlibdeps in the programs (libqt6gui6 holds the X11 plugin), and the fonts
        // no program links; qt6-qpa-plugins holds only VNC and TUIO plugins, which nothing needs.
        const QStringList depends = packages("Depends");
        for (const char *package :
             {"libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6svg6", "libglib2.0-0",
              "libwmf-0.2-7", "libemf2svg1", "fonts-liberation", "fonts-urw-base35"})
            QVERIFY2(depends.contains(QString::fromLatin1(package)),
                     qPrintable(QStringLiteral("%1 not in Depends: %2").arg(package, depends.join(u' '))));
        QVERIFY(!depends.contains(QStringLiteral("qt6-qpa-plugins")));
        QCOMPARE(packages("Recommends"), (QStringList{"qt6-wayland", "xdg-utils"}));

        // apt can install it here: every dependency resolves (simulated, nothing changes; what it
        // recommends need not be in the package cache).
        const Ran apt = run(QStringLiteral("apt-get"),
                            {QStringLiteral("install"), QStringLiteral("--simulate"), QStringLiteral("--no-download"),
                             QStringLiteral("--no-install-recommends"), deb});
        QVERIFY2(apt.exitCode == 0, (apt.out + apt.err).constData());
        QVERIFY2(apt.out.contains("Inst twinfold"), apt.out.constData());

        // What Debian asks of a package: no error and no warning from lintian, and not even a note
        // that a program lacks a hardening flag (stack protector, BIND_NOW; fortified calls where the
        // build type has them).
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("lintian")).isEmpty(),
                 "lintian is missing: run ./twinfold.sh test once to install it");
        const Ran lintian = run(
            QStringLiteral("lintian"),
            {QStringLiteral("--fail-on"), QStringLiteral("error,warning"), QStringLiteral("--display-info"), deb});
        QByteArray hardening = lintian.out;
        if (!TWINFOLD_FORTIFIED)
            hardening.replace("hardening-no-fortify-functions", "");
        QVERIFY2(lintian.exitCode == 0 && !lintian.out.contains("E: ") && !lintian.out.contains("W: ")
                     && !hardening.contains("hardening-"),
                 (lintian.out + lintian.err).constData());
    }
};

TWINFOLD_GUILESS_TEST_MAIN(InstallTest)
#include "tst_install.moc"
