#include "desktop/InfoBinder.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QThread>
#include <mutex>
#include <set>

namespace vesk::desktop {

// What the store's observer holds: the observer can outlive the binder (the
// store may be calling it on another thread while the binder goes away), so
// it reaches the binder only through this, under its lock.
struct InfoBinder::Relay {
    std::mutex mutex;
    InfoBinder* binder = nullptr;
    std::set<std::string> keys;     // fixed once binding is done
    std::set<std::string> pending;  // keys with a refresh already on its way
};

InfoBinder::InfoBinder(std::shared_ptr<platform::UserDefaults> store, QWidget* root, QObject* parent)
    : QObject(parent), store_(std::move(store)), relay_(std::make_shared<Relay>()) {
    if (root) {
        bind(root);
        for (QWidget* child : root->findChildren<QWidget*>()) bind(child);
    }
    relay_->binder = this;
    for (auto it = bindings_.cbegin(); it != bindings_.cend(); ++it) relay_->keys.insert(it.key().toStdString());

    observerToken_ = store_->addObserver(
        [relay = relay_](const std::string& key, const std::optional<std::string>& /*value*/) {
            std::unique_lock lock(relay->mutex);
            InfoBinder* binder = relay->binder;
            if (!binder || !relay->keys.count(key)) return;
            if (QThread::currentThread() == binder->thread()) {
                // The binder is only destroyed on its own thread, so it stays
                // alive without the lock; dropping it lets a field update write
                // the store again without deadlocking.
                lock.unlock();
                binder->refresh(QString::fromStdString(key));
                return;
            }
            // One refresh per key in flight is enough: it reads the value the
            // store holds when it runs, which is the latest one.
            if (!relay->pending.insert(key).second) return;
            QMetaObject::invokeMethod(
                binder, [binder, k = QString::fromStdString(key)] { binder->refresh(k); }, Qt::QueuedConnection);
        });

    for (auto it = bindings_.cbegin(); it != bindings_.cend(); ++it) refresh(it.key());
}

InfoBinder::~InfoBinder() {
    store_->removeObserver(observerToken_);
    std::lock_guard lock(relay_->mutex);
    relay_->binder = nullptr;
}

void InfoBinder::bind(QWidget* widget) {
    const QVariant key = widget->property(kKeyProperty);
    if (!key.isValid() || key.toString().isEmpty()) return;
    bindings_[key.toString()].append(widget);
}

QList<QWidget*> InfoBinder::widgetsFor(const QString& key) const {
    QList<QWidget*> out;
    for (const auto& w : bindings_.value(key))
        if (w) out.append(w.data());
    return out;
}

void InfoBinder::refresh(const QString& key) {
    const std::string k = key.toStdString();
    {
        std::lock_guard lock(relay_->mutex);
        relay_->pending.erase(k);
    }
    const auto value = store_->get(k);
    for (const auto& widget : bindings_.value(key))
        if (widget) show(widget, value);
}

// The one place a bound widget's state is set.
void InfoBinder::show(QWidget* widget, const std::optional<std::string>& value) {
    const QString text = value ? QString::fromStdString(*value) : QString();
    if (auto* field = qobject_cast<QPlainTextEdit*>(widget)) {
        if (field->toPlainText() != text) field->setPlainText(text);
    } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        if (line->text() != text) {
            line->setText(text);
            line->setCursorPosition(0);
            line->setToolTip(text);
        }
    } else if (widget->isWindow()) {
        widget->setWindowTitle(text);
    }
}

}  // namespace vesk::desktop
