#include "LogRelay.h"

#include <QCoreApplication>
#include <QEvent>

#include "GbkCodec.h"
#include "LogEvents.h"

namespace pelmora {

LogRelay::LogRelay(Sink sink, QObject* parent) : QObject(parent), sink_(std::move(sink)) {}

void LogRelay::Post(std::string gbkLine) {
    PostText(QString::fromStdString(GbkToUtf8Lossy(gbkLine)));
}

void LogRelay::PostText(QString line) {
    bool wake = false;
    {
        std::lock_guard guard(lock_);
        waiting_.push_back(std::move(line));
        wake = !std::exchange(posted_, true);
    }
    if (wake) QCoreApplication::postEvent(this, new QEvent(kWorkerLogEvent));
}

bool LogRelay::event(QEvent* event) {
    if (event->type() != kWorkerLogEvent) return QObject::event(event);
    DeliverBatch(kBatchLines);
    return true;
}

void LogRelay::Flush() {
    DeliverBatch(-1);
}

void LogRelay::DeliverBatch(int limit) {
    std::deque<QString> batch;
    bool more = false;
    {
        std::lock_guard guard(lock_);
        if (limit < 0 || static_cast<int>(waiting_.size()) <= limit) {
            batch.swap(waiting_);
        } else {
            batch.assign(waiting_.begin(), waiting_.begin() + limit);
            waiting_.erase(waiting_.begin(), waiting_.begin() + limit);
        }
        more = !waiting_.empty();
        posted_ = more;
    }
    // The rest follows in a later event, after the window had its turn.
    if (more) QCoreApplication::postEvent(this, new QEvent(kWorkerLogEvent));
    if (batch.empty()) return;
    delivered_ += batch.size();
    sink_(QStringList(batch.begin(), batch.end()));
}

}  // namespace pelmora
