// Log lines travel to the left pane as posted events, so any thread may log.
// The event owns its text; nothing leaks when the receiver is gone.
#pragma once

#include <QEvent>
#include <QObject>
#include <QString>

#include <string>

namespace pelmora {

// Numbered like the window messages they stand for.
inline constexpr QEvent::Type kLogLineEvent = static_cast<QEvent::Type>(QEvent::User + 1010);
inline constexpr QEvent::Type kWorkerLogEvent = static_cast<QEvent::Type>(QEvent::User + 1011);
inline constexpr QEvent::Type kSettingsArrivedEvent =
    static_cast<QEvent::Type>(QEvent::User + 1012);
inline constexpr QEvent::Type kNumbersAddedEvent = static_cast<QEvent::Type>(QEvent::User + 1013);
inline constexpr QEvent::Type kNumbersDeletedEvent = static_cast<QEvent::Type>(QEvent::User + 1015);
inline constexpr QEvent::Type kNumberListResetEvent =
    static_cast<QEvent::Type>(QEvent::User + 1016);

// One log line, GBK as the system writes it.
class LogLineEvent final : public QEvent {
  public:
    LogLineEvent(QEvent::Type type, std::string gbkLine)
        : QEvent(type), line_(std::move(gbkLine)) {}
    const std::string& Line() const { return line_; }
    QString Text() const;  // the line for the window

  private:
    std::string line_;
};

// Posts a GBK log line to `receiver` (the left pane); safe from any thread.
void PostLogLine(QObject* receiver, std::string gbkLine);

}  // namespace pelmora
