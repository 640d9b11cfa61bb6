// SPDX-License-Identifier: GPL-3.0-or-later
// The window on a real X display (bench/window.py runs it in Xvfb under
// openbox): from a drop onto the window to the six fields painted, and in the
// details view to the tree and to the preview painted. Prints one line per
// measure: its name, then the median and the slowest of the runs in ms.
// With --launch PHOTO, the window is set up as vesk's main sets it up and
// the time from VESK_BENCH_T0 (the parent's steady clock, in ns, before it
// started this process) to the photo's first field painted is printed.
#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <functional>
#include <vector>

#include "desktop/ApplicationShell.h"
#include "desktop/DetailsPane.h"
#include "desktop/DetailsView.h"
#include "desktop/MainWindow.h"
#include "desktop/QtMainQueue.h"
#include "inspector/InfoKeys.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/Services.h"
#include "platform/TypeService.h"
#include "platform/UserDefaults.h"

using namespace vesk;

namespace {

// Notes the time of the first paint of `widget`, after arm(), that shows
// the new file: `shown` is asked at each paint.
class PaintClock : public QObject {
public:
    PaintClock(QWidget* widget, const QElapsedTimer& clock, std::function<bool()> shown)
        : clock_(clock), shown_(std::move(shown)) {
        widget->installEventFilter(this);
    }
    std::function<void()> onArm;
    void arm() {
        at_ = -1, armed_ = true;
        if (onArm) onArm();
    }
    qint64 at() const { return at_; }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (armed_ && event->type() == QEvent::Paint && shown_()) {
            at_ = clock_.nsecsElapsed(), armed_ = false;
            if (onPainted) onPainted();
        }
        return false;
    }

public:
    std::function<void()> onPainted;

private:
    const QElapsedTimer& clock_;
    std::function<bool()> shown_;
    qint64 at_ = -1;
    bool armed_ = false;
};

void drop(QWidget* window, const QString& file) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(file)});
    QDragEnterEvent enter(QPoint(40, 40), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    QDropEvent event(QPointF(40, 40), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &event);
}

void print(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%s %.1f %.1f\n", what, ms[ms.size() / 2], ms.back());
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool launch = argc == 3 && std::string_view(argv[1]) == "--launch";
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PHOTO PHOTO... | --launch PHOTO\n", argv[0]);
        return 2;
    }
    platform::DiscardLogSink quiet;
    const platform::Log log(quiet);
    platform::NotificationCenter center;
    const platform::FileTypeService types;
    desktop::QtMainQueue mainQueue;
    platform::ThreadPoolQueue globalQueue(2);
    const platform::Services services{
        launch ? std::shared_ptr<platform::UserDefaults>(
                     std::make_shared<platform::FileUserDefaults>(platform::defaultsFilePath(), log))
               : std::make_shared<platform::MemoryUserDefaults>(),
        center, mainQueue, globalQueue, types, log};
    desktop::ApplicationShell shell(services);
    if (launch) {
        QEventLoop loop;
        QElapsedTimer started;
        started.start();
        shell.launch(QStringList{QString::fromLocal8Bit(argv[2])});
        QPlainTextEdit* first = shell.window().infoField(QString::fromStdString(prefTextViewString1));
        PaintClock painted(first->viewport(), started, [&] { return !first->toPlainText().isEmpty(); });
        painted.onPainted = [&] { loop.quit(); };
        painted.arm();
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::steady_clock::now().time_since_epoch()).count();
        const char* t0 = std::getenv("VESK_BENCH_T0");
        if (painted.at() < 0 || !t0) return 1;
        std::printf("launch %.1f\n", (now - std::atoll(t0)) / 1e6);
        return 0;
    }
    shell.launch(QStringList{});
    desktop::MainWindow& window = shell.window();
    if (!QTest::qWaitForWindowExposed(&window)) return 1;

    QElapsedTimer clock;
    clock.start();
    QPlainTextEdit* field = window.infoField(QString::fromStdString(prefTextViewString1));
    desktop::DetailsView& details = *shell.details().view();
    // Each pair of photos in a row differs in its first field and summary; a
    // preview is new when its pixmap is another.
    QString fieldBefore, summaryBefore;
    qint64 pictureBefore = 0;
    PaintClock fieldPaint(field->viewport(), clock, [&] { return field->toPlainText() != fieldBefore; });
    PaintClock treePaint(details.tree()->viewport(), clock, [&] { return details.summaryLabel()->text() != summaryBefore; });
    PaintClock previewPaint(details.previewLabel(), clock, [&] {
        const QPixmap picture = details.previewLabel()->pixmap();
        return !picture.isNull() && picture.cacheKey() != pictureBefore;
    });
    fieldPaint.onArm = [&] { fieldBefore = field->toPlainText(); };
    treePaint.onArm = [&] { summaryBefore = details.summaryLabel()->text(); };
    previewPaint.onArm = [&] { pictureBefore = details.previewLabel()->pixmap().cacheKey(); };
    const auto measure = [&](const QString& file, std::initializer_list<PaintClock*> clocks) {
        for (PaintClock* c : clocks) c->arm();
        const qint64 start = clock.nsecsElapsed();
        // An event loop of its own: QTest::qWaitFor sleeps 10 ms between its looks.
        QEventLoop loop;
        const auto all = [&] { return std::all_of(clocks.begin(), clocks.end(), [](PaintClock* c) { return c->at() >= 0; }); };
        for (PaintClock* c : clocks)
            c->onPainted = [&] {
                if (all()) loop.quit();
            };
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        drop(&window, file);
        if (!all()) loop.exec();
        const bool painted = all();
        for (PaintClock* c : clocks) c->onPainted = nullptr;
        std::vector<double> ms;
        for (PaintClock* c : clocks) ms.push_back(painted ? (c->at() - start) / 1e6 : 5000);
        return ms;
    };

    constexpr int kRuns = 20;
    std::vector<double> fields, tree, preview;
    for (int i = 0; i < kRuns; ++i) fields.push_back(measure(QString::fromLocal8Bit(argv[1 + i % (argc - 1)]), {&fieldPaint})[0]);
    shell.details().detailsAction()->trigger();
    QTest::qWait(200);
    for (int i = 0; i < kRuns; ++i) {
        // A preview still decoding when the tree is painted: the fields never wait for it.
        const auto ms = measure(QString::fromLocal8Bit(argv[1 + (i + 1) % (argc - 1)]), {&treePaint, &previewPaint});
        tree.push_back(ms[0]), preview.push_back(ms[1]);
        QTest::qWait(20);
    }
    print("drop-to-fields", fields);
    print("drop-to-details", tree);
    print("drop-to-preview", preview);
    return 0;
}
