// How the report lists compare two cell texts when a header click sorts
// them: whole numbers by value, dates and times by when they say, the rest
// byte-wise in a byte form the program chooses (its 8-bit code page). An
// empty cell always compares byte-wise.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace pelmora {

// A date and time as written, without time zone: texts compare by what they
// say, whatever daylight saving does on this machine.
struct WallClock {
    qint64 day = 0;  // Julian day
    int millisecond = 0;
    auto operator<=>(const WallClock&) const = default;
};

// One cell text prepared for comparing. The date-time is parsed only when a
// comparison asks for it: most columns never need it, and parsing is by far
// the dearest part.
class ReportSortKey final {
  public:
    // Turns a cell text into the bytes that byte-wise comparisons use; UTF-8
    // when empty.
    using ByteForm = std::function<QByteArray(const QString&)>;

    ReportSortKey() = default;
    ReportSortKey(const QString& cellText, const ByteForm& byteForm);

    // Negative, zero or positive as `first` goes before, with or after
    // `second`. The kind of comparison follows `first` alone.
    static int Compare(const ReportSortKey& first, const ReportSortKey& second);

  private:
    int CompareBytes(const ReportSortKey& other) const;
    const WallClock* DateTime() const;

    QString text_;
    QByteArray bytes_;
    bool wholeNumber_ = false;
    double number_ = 0;
    mutable bool dateParsed_ = false;
    mutable std::optional<WallClock> dateTime_;
};

}  // namespace pelmora
