// SPDX-License-Identifier: GPL-3.0-or-later
// vesk: the inspector's window.
#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "app/AppDelegate.h"

#include "desktop/ApplicationShell.h"
#include "desktop/DetailsPane.h"
#include "desktop/MainWindow.h"
#include "desktop/QtMainQueue.h"
#include "platform/Dispatch.h"
#include "platform/Formats.h"
#include "platform/Services.h"
#include "platform/Utf8.h"

using namespace vesk;

namespace {

void nameTheApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("Vesk"));
    const auto& info = mainBundleInfoDictionary();
    if (auto it = info.find("CFBundleShortVersionString"); it != info.end())
        if (const auto* version = it->second.get<std::string>())
            QCoreApplication::setApplicationVersion(QString::fromStdString(*version));
}

// The arguments as the parser reads them. Qt decodes arguments as UTF-8 and
// turns bytes that are not into U+FFFD, which names no file; such an argument
// is handed to the parser as a stand-in that remembers its index.
QString placeholder(std::size_t index) { return QStringLiteral("\u0001vesk-argument-%1").arg(index); }

QStringList parserArguments(const std::vector<std::string>& raw) {
    QStringList out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        // An option keeps its dash, so a misspelt one is still refused.
        if (platform::utf8::isValid(raw[i]) || raw[i].starts_with('-'))
            out.append(QString::fromUtf8(raw[i].data(), qsizetype(raw[i].size())));
        else
            out.append(placeholder(i));
    }
    return out;
}

// The files named, as the bytes they were given in.
std::vector<std::string> positionalBytes(const QStringList& positional, const std::vector<std::string>& raw) {
    std::vector<std::string> out;
    for (const QString& arg : positional) {
        bool stoodIn = false;
        for (std::size_t i = 0; i < raw.size() && !stoodIn; ++i) {
            if (arg == placeholder(i)) {
                out.push_back(raw[i]);
                stoodIn = true;
            }
        }
        if (!stoodIn) out.push_back(arg.toUtf8().toStdString());
    }
    return out;
}

// What the parser refused that QApplication would not take out of argv
// either, in the parser's words; empty when Qt may still claim it.
QString optionErrorBeforeQt(const QCommandLineParser& parser) {
    static const QStringList qtOptions = {
        QStringLiteral("platform"), QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"),
        QStringLiteral("plugin"),   QStringLiteral("qmljsdebugger"),      QStringLiteral("qwindowgeometry"),
        QStringLiteral("qwindowicon"), QStringLiteral("qwindowtitle"),   QStringLiteral("reverse"),
        QStringLiteral("session"),  QStringLiteral("style"),              QStringLiteral("stylesheet"),
        QStringLiteral("widgetcount"), QStringLiteral("display"),        QStringLiteral("geometry"),
        QStringLiteral("name"),     QStringLiteral("title"),              QStringLiteral("visual"),
        QStringLiteral("ncols"),    QStringLiteral("cmap"),               QStringLiteral("nograb"),
        QStringLiteral("dograb"),   QStringLiteral("sync"),               QStringLiteral("testability")};
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty()) return parser.errorText();  // a value missing after one of Vesk's options
    QStringList notQt;
    for (const QString& name : unknown)
        if (!qtOptions.contains(name)) notQt.append(name);
    if (notQt.isEmpty()) return {};
    return notQt.size() == 1 ? QStringLiteral("Unknown option '%1'.").arg(notQt.front())
                             : QStringLiteral("Unknown options: %1.").arg(notQt.join(QStringLiteral(", ")));
}

// VESK_VERBOSE set to anything but empty, "0", "false" or "no".
bool verboseRequestedByEnvironment() {
    const QByteArray value = qgetenv("VESK_VERBOSE").trimmed().toLower();
    return !value.isEmpty() && value != "0" && value != "false" && value != "no";
}

}  // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows what is inside a file: a photo's metadata, the architectures of a macOS bundle's "
                       "executable, what the file tool says of a library."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("files"),
        QStringLiteral("Files to open (%1); the first one is shown, Page Down steps to the next.")
            .arg(QString::fromStdString(platform::formatNames())),
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
    // The log names every file shown and its properties (GPS, owner, serial
    // numbers); a desktop session keeps a program's standard error in its
    // journal, so it is written only when asked for.
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Write the diagnostic log to standard error (also VESK_VERBOSE=1)."));
    parser.addOption(verbose);

    // Help and the version are answered before any window system is opened,
    // so they work without a display. (Other options are checked once
    // QApplication has taken its own, such as -platform, out of argv.)
    {
        const std::vector<std::string> raw(argv, argv + argc);
        // Qt's own options are single-dash words (-platform); read them as such here.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        const bool parsed = parser.parse(parserArguments(raw));
        if (parser.isSet(help) || parser.isSet(version) || parser.isSet(QStringLiteral("help-all"))) {
            QCoreApplication core(argc, argv);
            nameTheApplication();
            parser.process(core);  // prints, then exits
            return 0;
        }
        // So is an option that neither Vesk nor Qt knows, or a value missing.
        if (!parsed) {
            if (const QString error = optionErrorBeforeQt(parser); !error.isEmpty()) {
                QCoreApplication core(argc, argv);
                nameTheApplication();
                std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(error));
                return 1;
            }
        }
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    }

    QApplication app(argc, argv);
    nameTheApplication();
    QApplication::setDesktopFileName(QStringLiteral("vesk"));
    // QApplication has taken its own options (-platform, -style...) out of argv.
    const std::vector<std::string> raw(argv, argv + argc);
    parser.process(parserArguments(raw));
    const std::vector<std::string> files = positionalBytes(parser.positionalArguments(), raw);

    // The services every part of the window is handed; they outlive the shell.
    platform::StderrLogSink loudSink;
    platform::DiscardLogSink quietSink;
    const bool logWanted = parser.isSet(verbose) || verboseRequestedByEnvironment();
    const platform::Log log(logWanted ? static_cast<platform::LogSink&>(loudSink) : quietSink);
    platform::NotificationCenter center;
    const platform::FileTypeService types;
    desktop::QtMainQueue mainQueue;
    platform::ThreadPoolQueue globalQueue(2);
    const platform::Services services{
        std::make_shared<platform::FileUserDefaults>(platform::defaultsFilePath(), log),
        center, mainQueue, globalQueue, types, log};

    desktop::ApplicationShell shell(services);
    shell.launch(desktop::absoluteFilePaths(files));
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
