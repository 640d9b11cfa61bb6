// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/InfoBinder.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <set>

namespace vesk::desktop {

InfoBinder::InfoBinder(std::shared_ptr<platform::UserDefaults> store, QWidget* root, QObject* parent)
    : QObject(parent), store_(std::move(store)) {
    if (root) {
        bind(root);
        for (QWidget* child : root->findChildren<QWidget*>()) bind(child);
    }
    std::set<std::string> keys;
    for (auto it = bindings_.cbegin(); it != bindings_.cend(); ++it) keys.insert(it.key().toStdString());

    // The relay posts only while it lives and dies with the binder, so `this`
    // is alive whenever a task is posted; Qt drops calls still queued then.
    relay_ = std::make_unique<StoreRelay>(
        store_, std::move(keys),
        [this](StoreRelay::Task task) { QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection); },
        [this](const std::string& key) { refresh(QString::fromStdString(key)); });

    for (auto it = bindings_.cbegin(); it != bindings_.cend(); ++it) refresh(it.key());
}

InfoBinder::~InfoBinder() = default;

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
    const auto value = store_->get(key.toStdString());
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
