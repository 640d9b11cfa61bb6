// vesk: the inspector's window.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>

#include "app/AppDelegate.h"
#include <QAction>

#include "desktop/ApplicationShell.h"
#include "desktop/DetailsPane.h"
#include "desktop/MainWindow.h"
#include "desktop/QtMainQueue.h"
#include "platform/Dispatch.h"
#include "platform/Services.h"

using namespace vesk;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vesk"));
    QApplication::setDesktopFileName(QStringLiteral("vesk"));
    const auto& info = mainBundleInfoDictionary();
    if (auto it = info.find("CFBundleShortVersionString"); it != info.end())
        if (const auto* version = it->second.get<std::string>())
            QApplication::setApplicationVersion(QString::fromStdString(*version));

    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Files to open; the first one is shown."),
                                 QStringLiteral("[files...]"));
    // For documentation and checks: saves the window as an image once the
    // files given have been shown, then quits.
    QCommandLineOption screenshot(QStringLiteral("screenshot"), QStringLiteral("Save the window to <png> and quit."),
                                  QStringLiteral("png"));
    screenshot.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(screenshot);
    // Which view the window opens on: "fields" (the default) or "details".
    QCommandLineOption view(QStringLiteral("view"), QStringLiteral("Open on the <view>: fields or details."),
                            QStringLiteral("view"), QStringLiteral("fields"));
    parser.addOption(view);
    parser.process(app);

    // The services every part of the window is handed; they outlive the shell.
    platform::StderrLogSink logSink;
    const platform::Log log(logSink);
    platform::NotificationCenter center;
    const platform::FileTypeService types;
    desktop::QtMainQueue mainQueue;
    platform::ThreadPoolQueue globalQueue(2);
    const platform::Services services{
        std::make_shared<platform::FileUserDefaults>(platform::defaultsFilePath(), log),
        center, mainQueue, globalQueue, types, log};

    desktop::ApplicationShell shell(services);
    shell.launch(desktop::absoluteFilePaths(parser.positionalArguments()));
    // Given on the command line, the view wins over the one the last run left.
    if (parser.isSet(view))
        (parser.value(view) == QLatin1String("details") ? shell.details().detailsAction()
                                                         : shell.details().fieldsAction())
            ->trigger();

    int status = 0;
    if (parser.isSet(screenshot)) {
        const QString target = parser.value(screenshot);
        // Runs after the launch's own zero-time timer has posted the files, so
        // the grab is queued behind the report they started.
        QTimer::singleShot(0, &shell, [&] {
            mainQueue.async([&] {
                // The details view is filled from the store's changes, which
                // reach the window through the event loop after the report.
                QTimer::singleShot(parser.value(view) == QLatin1String("details") ? 100 : 0, &shell, [&] {
                    if (!shell.window().grab().save(target, "PNG")) {
                        std::fprintf(stderr, "vesk: cannot write %s\n", qPrintable(target));
                        status = 1;
                    }
                    QCoreApplication::quit();
                });
            });
        });
    }
    const int rc = app.exec();
    return status ? status : rc;
}
