// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QThread>
#include <atomic>
#include <thread>

#include "desktop/DoubleClickButton.h"
#include "desktop/DropArea.h"
#include "desktop/InfoBinder.h"
#include "desktop/FocusRing.h"
#include "desktop/MainWindow.h"
#include "desktop/WindowState.h"
#include "desktop/QtMainQueue.h"
#include "inspector/InfoKeys.h"
#include "platform/UserDefaults.h"

using namespace vesk;
using namespace vesk::desktop;

namespace {

QString q(const char* s) { return QString::fromUtf8(s); }

QLabel* labelFor(const QWidget& window, const QWidget* field) {
    for (QLabel* label : window.findChildren<QLabel*>())
        if (label->buddy() == field) return label;
    return nullptr;
}

}  // namespace

TEST(WindowLayout, EachInfoFieldIsOneLabelledReadOnlyMonospaceField) {
    MainWindow window;
    for (const auto& info : kInfoFields) {
        SCOPED_TRACE(info.key);
        int bound = 0;
        for (QWidget* w : window.findChildren<QWidget*>())
            if (w->property(InfoBinder::kKeyProperty).toString() == q(info.key)) ++bound;
        EXPECT_EQ(bound, 1);

        QPlainTextEdit* field = window.infoField(q(info.key));
        ASSERT_NE(field, nullptr);
        EXPECT_TRUE(field->isReadOnly());
        const QFontMetrics metrics(field->font());
        EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("iiiiiiii")),
                  metrics.horizontalAdvance(QStringLiteral("MMMMMMMM")))
            << QFontInfo(field->font()).family().toStdString();
        EXPECT_NE(field->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QLabel* label = labelFor(window, field);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text().remove(QLatin1Char('&')), q(info.label));
    }
    EXPECT_EQ(window.property(InfoBinder::kKeyProperty).toString(), q(prefWindowTitle));
    EXPECT_EQ(window.currentFileField()->property(InfoBinder::kKeyProperty).toString(), q(prefCurFilePath));
    EXPECT_TRUE(window.currentFileField()->isReadOnly());
    // And it looks it: no typing field's white.
    const QPalette shade = window.currentFileField()->palette();
    EXPECT_EQ(shade.color(QPalette::Base), shade.color(QPalette::Window));
}

TEST(WindowLayout, HasTheDropAreaTheButtonAndTheFileMenu) {
    MainWindow window;
    ASSERT_NE(window.dropArea(), nullptr);
    ASSERT_NE(window.doubleClickButton(), nullptr);
    EXPECT_FALSE(window.doubleClickButton()->toolTip().isEmpty());
    EXPECT_EQ(window.openAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    EXPECT_EQ(window.quitAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    // The drop area sits above the fields.
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const int dropBottom = window.dropArea()->mapTo(&window, QPoint(0, window.dropArea()->height())).y();
    for (const auto& info : kInfoFields)
        EXPECT_LT(dropBottom, window.infoField(q(info.key))->mapTo(&window, QPoint(0, 0)).y());
}

TEST(WindowLayout, FieldsShareTheSpaceAndGrowWithTheWindow) {
    MainWindow window;
    EXPECT_EQ(window.size(), QSize(1000, 760));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    std::vector<QSize> before;
    for (const auto& info : kInfoFields) before.push_back(window.infoField(q(info.key))->size());
    for (const QSize& s : before) {
        EXPECT_GT(s.width(), 250);
        EXPECT_GT(s.height(), 150);
    }

    window.resize(1400, 1000);
    QCoreApplication::processEvents();
    for (std::size_t i = 0; i < kInfoFields.size(); ++i) {
        const QSize after = window.infoField(q(kInfoFields[i].key))->size();
        EXPECT_GT(after.width(), before[i].width()) << kInfoFields[i].key;
        EXPECT_GT(after.height(), before[i].height()) << kInfoFields[i].key;
    }
}

// Whatever the last run saved and whatever the scale, the window comes back
// whole on a screen.
TEST(WindowLayout, FitsTheScreenAndComesBackOnIt) {
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    const struct {
        QRect saved;
    } rows[] = {{QRect(5000, 5000, 700, 500)}, {QRect(-3000, 40, 700, 500)}, {QRect(0, 0, 3000, 2500)},
                {QRect(room.right() - 100, 10, 700, 500)}};
    for (const auto& row : rows) {
        MainWindow window;
        window.setGeometry(row.saved);
        fitOnScreen(window);
        EXPECT_TRUE(room.contains(window.geometry())) << row.saved.x() << "," << row.saved.y();
        // A size that fits is kept.
        if (row.saved.width() < room.width()) {
            EXPECT_EQ(window.size(), row.saved.size());
        }
    }
}

// The keyboard focus is ringed where the style's own frame is faint; a
// button's focus is left to the style.
TEST(WindowLayout, TheFocusIsRinged) {
    MainWindow window;
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const struct {
        QWidget* focus;
        bool ringed;
    } rows[] = {{window.infoField(q(prefTextViewString2)), true},
                {window.currentFileField(), true},
                {window.doubleClickButton(), false},
                {window.infoField(q(prefTextViewString6)), true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.focus->objectName().toStdString());
        row.focus->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        FocusRing* ring = window.focusRing();
        EXPECT_EQ(ring->isVisible(), row.ringed);
        if (!row.ringed) continue;
        EXPECT_EQ(ring->ringed(), row.focus);
        const QRect area(row.focus->mapTo(&window, QPoint(0, 0)), row.focus->size());
        EXPECT_TRUE(ring->geometry().contains(area));
        const QImage shot = window.grab().toImage();
        EXPECT_EQ(shot.pixelColor(ring->geometry().left(), area.center().y()), window.palette().color(QPalette::Highlight));
    }
}

class InfoBinding : public ::testing::Test {
protected:
    std::shared_ptr<platform::MemoryUserDefaults> store = std::make_shared<platform::MemoryUserDefaults>();
    MainWindow window;
    QPlainTextEdit* exifField() const { return window.infoField(q(prefTextViewString2)); }
};

TEST_F(InfoBinding, ShowsWhatTheStoreHeldWhenBound) {
    store->set(prefTextViewString5, "{\n    Make = Canon;\n}");
    store->set(prefWindowTitle, "Vesk - v9");
    InfoBinder binder(store, &window);
    EXPECT_EQ(window.infoField(q(prefTextViewString5))->toPlainText(), q("{\n    Make = Canon;\n}"));
    EXPECT_EQ(window.windowTitle(), q("Vesk - v9"));
    EXPECT_EQ(exifField()->toPlainText(), QString());
}

TEST_F(InfoBinding, FollowsEverySetAndRemove) {
    InfoBinder binder(store, &window);
    store->set(prefTextViewString2, "first");
    EXPECT_EQ(exifField()->toPlainText(), q("first"));
    store->set(prefTextViewString2, "second");
    EXPECT_EQ(exifField()->toPlainText(), q("second"));
    store->remove(prefTextViewString2);
    EXPECT_EQ(exifField()->toPlainText(), QString());

    store->set(prefCurFilePath, "/photos/a b.jpg");
    EXPECT_EQ(window.currentFileField()->text(), q("/photos/a b.jpg"));
    store->set(prefWindowTitle, "%@ %d title");
    EXPECT_EQ(window.windowTitle(), q("%@ %d title"));
    // A key no widget names changes nothing.
    store->set("somethingElse", "x");
    EXPECT_EQ(exifField()->toPlainText(), QString());
}

TEST_F(InfoBinding, ChangeOnAnotherThreadIsAppliedOnTheGuiThread) {
    InfoBinder binder(store, &window);
    store->set(prefTextViewString2, "before");

    std::atomic<bool> fieldTouchedOffThread{false};
    QObject::connect(exifField(), &QPlainTextEdit::textChanged, [&] {
        if (QThread::currentThread() != qApp->thread()) fieldTouchedOffThread = true;
    });
    std::thread writer([&] { store->set(prefTextViewString2, "from the worker"); });
    writer.join();
    // The GUI thread has not run its event loop since, so a field that already
    // shows the new text was written from the worker.
    EXPECT_EQ(exifField()->toPlainText(), q("before"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return exifField()->toPlainText() == q("from the worker"); }, 5000));
    EXPECT_FALSE(fieldTouchedOffThread);
}

TEST_F(InfoBinding, BurstOfChangesOnAnotherThreadEndsOnTheStoresValue) {
    InfoBinder binder(store, &window);
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) store->set(prefTextViewString6, "value " + std::to_string(i));
        store->remove(prefTextViewString6);
        store->set(prefTextViewString4, "last");
    });
    writer.join();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return window.infoField(q(prefTextViewString4))->toPlainText() == q("last"); }, 5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(window.infoField(q(prefTextViewString6))->toPlainText(), QString());
}

TEST_F(InfoBinding, BinderGoneBeforeItsQueuedUpdateIsHarmless) {
    auto binder = std::make_unique<InfoBinder>(store, &window);
    std::thread writer([&] { store->set(prefTextViewString1, "late"); });
    writer.join();
    binder.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(window.infoField(q(prefTextViewString1))->toPlainText(), QString());
    // And a store change after the binder is gone reaches nothing.
    std::thread again([&] { store->set(prefTextViewString1, "later"); });
    again.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(window.infoField(q(prefTextViewString1))->toPlainText(), QString());
}

TEST(QtMainQueueTest, RunsTasksFromAnyThreadOnTheGuiThreadInOrder) {
    QtMainQueue queue;
    std::vector<int> order;
    std::atomic<bool> offGuiThread{false};
    const auto task = [&](int n) {
        return [&, n] {
            if (QThread::currentThread() != qApp->thread()) offGuiThread = true;
            order.push_back(n);
        };
    };
    queue.async(task(1));
    std::thread worker([&] {
        queue.async(task(2));
        queue.async(task(3));
    });
    worker.join();
    EXPECT_TRUE(order.empty());  // queued, never run inline
    EXPECT_TRUE(QTest::qWaitFor([&] { return order.size() == 3; }, 5000));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(offGuiThread);
}
