// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/ShowInFolder.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFile>
#include <QStringList>
#include <QUrl>

namespace vesk::desktop {

ShowInFolder::ShowInFolder(std::function<void(const std::string&)> openFolder, QObject* parent)
    : QObject(parent), openFolder_(std::move(openFolder)) {}

void ShowInFolder::show(const std::string& path) {
    if (path.empty()) return;
    if (!bus_) bus_ = QDBusConnection::sessionBus();
    if (!bus_->isConnected()) {
        openFolder_(path);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kObjectPath),
                                                       QString::fromLatin1(kService), QStringLiteral("ShowItems"));
    // The URI's escapes carry a name's bytes whether or not they are UTF-8.
    const QByteArray uri = "file://" + QByteArray::fromStdString(path).toPercentEncoding("/");
    call << QStringList{QString::fromLatin1(uri)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus_->asyncCall(call, kTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, path] {
        // No file manager on the bus, one that refused, or one too slow.
        if (watcher->isError()) openFolder_(path);
        watcher->deleteLater();
    });
}

}  // namespace vesk::desktop
