// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps every widget that names an info-store key (its "infoKey" property)
// equal to that key's value: text fields show the text, a window shows it as
// its title. Changes made on any thread are applied on the binder's thread.
#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "platform/UserDefaults.h"
#include "views/StoreRelay.h"

namespace vesk::desktop {

class InfoBinder : public QObject {
    Q_OBJECT
public:
    // Binds `root` and every widget under it that carries an "infoKey" property.
    InfoBinder(std::shared_ptr<platform::UserDefaults> store, QWidget* root, QObject* parent = nullptr);
    ~InfoBinder() override;
    InfoBinder(const InfoBinder&) = delete;
    InfoBinder& operator=(const InfoBinder&) = delete;

    QStringList boundKeys() const { return bindings_.keys(); }
    QList<QWidget*> widgetsFor(const QString& key) const;

    static constexpr const char* kKeyProperty = "infoKey";

private:
    void bind(QWidget* widget);
    void refresh(const QString& key);
    static void show(QWidget* widget, const std::optional<std::string>& value);

    std::shared_ptr<platform::UserDefaults> store_;
    QHash<QString, QList<QPointer<QWidget>>> bindings_;
    std::unique_ptr<StoreRelay> relay_;  // last, so it goes first
};

}  // namespace vesk::desktop
