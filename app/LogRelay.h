// Carries log lines from any thread to the log pane in order, in bounded
// batches: a burst of thousands of lines never blocks the window for long.
#pragma once

#include <QObject>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace pelmora {

class LogRelay final : public QObject {
    Q_OBJECT
  public:
    using Sink = std::function<void(const QStringList& lines)>;
    static constexpr int kBatchLines = 200;

    explicit LogRelay(Sink sink, QObject* parent = nullptr);

    // Any thread. GBK in; the window gets UTF-8.
    void Post(std::string gbkLine);
    void PostText(QString line);
    // Window thread: hands every waiting line to the sink now.
    void Flush();
    // Lines handed to the sink so far.
    std::uint64_t Delivered() const { return delivered_; }

  protected:
    bool event(QEvent* event) override;

  private:
    void DeliverBatch(int limit);

    Sink sink_;
    std::uint64_t delivered_ = 0;  // window thread
    std::mutex lock_;
    std::deque<QString> waiting_;  // guarded by lock_
    bool posted_ = false;          // guarded by lock_
};

}  // namespace pelmora
