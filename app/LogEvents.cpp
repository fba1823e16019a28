#include "LogEvents.h"

#include <QCoreApplication>

#include "GbkCodec.h"

namespace pelmora {

QString LogLineEvent::Text() const {
    return QString::fromStdString(GbkToUtf8Lossy(line_));
}

void PostLogLine(QObject* receiver, std::string gbkLine) {
    if (receiver == nullptr) return;
    QCoreApplication::postEvent(receiver, new LogLineEvent(kLogLineEvent, std::move(gbkLine)));
}

}  // namespace pelmora
