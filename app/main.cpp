// Pelmora: the centre's desktop program.
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTimer>

#include "MainFrame.h"
#include "ServiceSettings.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Pelmora");
    QApplication::setApplicationVersion("1.2");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "The centre's desktop program for early-warning broadcast terminals.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption start("start", "Start the terminal service at once.");
    const QCommandLineOption logDir("log-dir", "Folder of the daily log files.", "folder");
    const QCommandLineOption quitAfter("quit-after", "Close after this many seconds.", "seconds");
    parser.addOptions({start, logDir, quitAfter});
    parser.process(app);
    if (parser.isSet(logDir)) qputenv("PELMORA_LOG_DIR", parser.value(logDir).toUtf8());

    pelmora::ServiceSettings settings;
    settings.Load();
    pelmora::CMainFrame::Options options;
    options.settings = &settings;
    pelmora::CMainFrame frame(options);
    frame.show();
    if (parser.isSet(start)) frame.StartService();
    if (parser.isSet(quitAfter)) {
        QTimer::singleShot(parser.value(quitAfter).toInt() * 1000, &app, &QApplication::quit);
    }
    return app.exec();
}
