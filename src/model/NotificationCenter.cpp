#include "model/NotificationCenter.h"

#include <QCoreApplication>
#include <QThread>

namespace lumra {

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter* center = new NotificationCenter; // lives for the process
    return *center;
}

void NotificationCenter::post(const QString& name, const QVariantMap& userInfo)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, name, userInfo] { emit posted(name, userInfo); }, Qt::QueuedConnection);
        return;
    }
    emit posted(name, userInfo);
}

QMetaObject::Connection NotificationCenter::observe(const QString& name, QObject* context, Handler handler)
{
    return connect(this, &NotificationCenter::posted, context,
                   [name, handler = std::move(handler)](const QString& posted, const QVariantMap& info) {
                       if (posted == name)
                           handler(info);
                   });
}

} // namespace lumra
