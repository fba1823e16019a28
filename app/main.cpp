// Pelmora: the centre's desktop program.
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <string>

#include "Descriptors.h"
#include "MainFrame.h"
#include "QtChinese.h"
#include "RegistryImport.h"
#include "ServiceSettings.h"

int main(int argc, char** argv) {
    // Each terminal holds a descriptor: thousands of them need more than the
    // usual soft limit of 1024.
    pelmora::RaiseDescriptorLimit();
    // The registry import runs without a window (and without a display).
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) != "--import-registry") continue;
        if (i + 1 >= argc) {
            std::fprintf(stderr, "Pelmora: --import-registry needs a CSV file\n");
            return 2;
        }
        return pelmora::ImportRegistryFile(argv[i + 1], pelmora::DataFolder());
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Pelmora");
    QApplication::setApplicationVersion("1.2");
    if (pelmora::InstallQtChinese(app) == nullptr)
        std::fprintf(stderr,
                     "Pelmora: Qt's Chinese catalogue is missing; its buttons stay in English\n");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "The centre's desktop program for early-warning broadcast terminals.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption start("start", "Start the terminal service at once.");
    const QCommandLineOption logDir("log-dir", "Folder of the daily log files.", "folder");
    const QCommandLineOption quitAfter("quit-after", "Close after this many seconds.", "seconds");
    const QCommandLineOption screenshot("screenshot",
                                        "Save a picture of the window before closing.", "file");
    const QCommandLineOption port("port", "Use this service port for this run.", "port");
    const QCommandLineOption importRegistry(
        "import-registry", "Import the registry from a CSV file (UTF-8) and exit.", "file");
    parser.addOptions({start, logDir, quitAfter, screenshot, port, importRegistry});
    parser.process(app);
    if (parser.isSet(logDir)) qputenv("PELMORA_LOG_DIR", parser.value(logDir).toUtf8());

    pelmora::ServiceSettings settings;
    settings.Load();
    if (parser.isSet(port)) {
        const int value = parser.value(port).toInt();
        if (value < 1 || value > 65535) {
            std::fprintf(stderr, "Pelmora: the port must be 1 to 65535\n");
            return 2;
        }
        settings.port = value;
    }
    pelmora::CMainFrame::Options options;
    options.settings = &settings;
    options.databasePath = pelmora::DataFolder() + "/pelmora.db";
    options.gateway = true;
    options.inboxFolder = pelmora::DataFolder() + "/inbox";
    pelmora::CMainFrame frame(options);
    frame.show();
    if (parser.isSet(start)) frame.StartService();
    if (parser.isSet(quitAfter)) {
        const QString picture = parser.value(screenshot);
        QTimer::singleShot(parser.value(quitAfter).toInt() * 1000, &app, [&frame, picture] {
            if (!picture.isEmpty() && !frame.grab().save(picture)) {
                std::fprintf(stderr, "Pelmora: could not save %s\n", qPrintable(picture));
            }
            QApplication::quit();
        });
    }
    return app.exec();
}
