#include "ProductInfo.h"
#include "TestFiles.h"
#include "TestMain.h"

#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QRegularExpression>

namespace {

struct Ran
{
    int exitCode = -1;
    QByteArray out, err;
};

// Ends the program after five minutes (the QProcess destructor kills it).
Ran run(const QString &program, const QStringList &arguments,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    const bool ended = process.waitForFinished(300000) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError() + (ended ? "" : "did not end normally: " + program.toUtf8())};
}

// What `cmake --install` puts in place, below the prefix /usr; the package adds its changelog
// and lintian overrides.
QStringList expectedFiles(bool package = false)
{
    QStringList files{"usr/bin/twinfold",
                      "usr/bin/twinfold-scan",
                      "usr/libexec/twinfold/twinfold-preview",
                      "usr/share/applications/com.quillmoor.Twinfold.desktop",
                      "usr/share/doc/twinfold/copyright",
                      "usr/share/icons/hicolor/scalable/apps/com.quillmoor.Twinfold.svg",
                      "usr/share/man/man1/twinfold-scan.1.gz",
                      "usr/share/man/man1/twinfold.1.gz",
                      "usr/share/metainfo/com.quillmoor.Twinfold.metainfo.xml"};
    if (package)
        files << "usr/share/doc/twinfold/changelog.Debian.gz"
              << "usr/share/lintian/overrides/twinfold";
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

} // namespace

class InstallTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dest;
    QString m_usr;

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
        QCOMPARE(files, expectedFiles()); // programsWithoutDisplay runs the two programs

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
        const QByteArray version(" (Twinfold) 7.0\nCopyright (C) 2026 Quillmoor\nLicense GPL-2.0-or-later");
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
                                       << QStringList{"share/applications/com.quillmoor.Twinfold.desktop"} << true;
        QTest::newRow("AppStream data") << QStringLiteral("appstreamcli")
                                        << QStringList{"validate", "--no-net", "--pedantic",
                                                       "share/metainfo/com.quillmoor.Twinfold.metainfo.xml"}
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
    // data names that entry and the installed programs, with the project's version and the
    // README's pictures.
    void desktopDataAgrees()
    {
        const QByteArray entry = readFile(m_usr + "/share/applications/com.quillmoor.Twinfold.desktop");
        QVERIFY(entry.contains("\nExec=twinfold\n") && entry.contains("\nIcon=com.quillmoor.Twinfold\n"));
        const QByteArray metainfo = readFile(m_usr + "/share/metainfo/com.quillmoor.Twinfold.metainfo.xml");
        for (const char *element :
             {"<id>com.quillmoor.Twinfold</id>", "<project_license>GPL-2.0-or-later</project_license>",
              "<launchable type=\"desktop-id\">com.quillmoor.Twinfold.desktop</launchable>",
              "<binary>twinfold</binary>", "<binary>twinfold-scan</binary>", "<release version=\"7.0\""})
            QVERIFY2(metainfo.contains(element), element);
        QStringList pictures;
        QRegularExpressionMatchIterator image = QRegularExpression(QStringLiteral("<image>[^<]*/([^/<]+)</image>"))
                                                    .globalMatch(QString::fromUtf8(metainfo));
        while (image.hasNext())
            pictures << image.next().captured(1);
        QCOMPARE(pictures, (QStringList{"main-window.png", "results-window.png", "preview-window.png"}));
        for (const QString &picture : std::as_const(pictures))
            QVERIFY2(QFileInfo::exists(QStringLiteral(TWINFOLD_SOURCE_DIR "/docs/") + picture), qPrintable(picture));
    }

    // The package holds the installed tree and declares what it needs to run.
    void debianPackage()
    {
        for (const char *tool : {"dpkg-deb", "dpkg-shlibdeps", "file", "lintian"})
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
        QCOMPARE(field("Version"), QStringLiteral("7.0-1"));
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
