#include "ReportSortKey.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <vector>

namespace pelmora {

namespace {

// Digits and "+" only; a leading "-" counts when something follows it.
bool IsWholeNumber(const QString& text) {
    if (text.isEmpty()) return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if ((c >= u'0' && c <= u'9') || c == u'+') continue;
        if (c == u'-' && i == 0 && text.size() >= 2) continue;
        return false;
    }
    return true;
}

// The decimal number the text starts with: a sign, digits, a fraction. A text
// that does not start with one reads as 0. Long digit runs saturate to
// infinity rather than overflow.
double LeadingNumber(const QString& text) {
    qsizetype i = 0;
    const qsizetype size = text.size();
    bool negative = false;
    if (i < size && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    double value = 0;
    for (; i < size && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
        value = value * 10 + (text.at(i).unicode() - u'0');
    }
    if (i < size && text.at(i) == u'.') {
        double scale = 0.1;
        for (++i; i < size && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
            value += (text.at(i).unicode() - u'0') * scale;
            scale /= 10;
        }
    }
    return negative ? -value : value;
}

// Reads one run of 1 to `maxDigits` digits at `at`, moving `at` past it.
std::optional<int> ReadField(QStringView text, qsizetype& at, int maxDigits) {
    int value = 0;
    int digits = 0;
    for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at, ++digits) {
        if (digits == maxDigits) return std::nullopt;
        value = value * 10 + (text[at].unicode() - u'0');
    }
    if (digits == 0) return std::nullopt;
    return value;
}

bool Skip(QStringView text, qsizetype& at, QChar separator) {
    if (at >= text.size() || text[at] != separator) return false;
    ++at;
    return true;
}

// "H:m" or "H:m:s" from `at` to the end of the text.
std::optional<QTime> ReadTime(QStringView text, qsizetype at) {
    const auto hour = ReadField(text, at, 2);
    if (!hour || !Skip(text, at, u':')) return std::nullopt;
    const auto minute = ReadField(text, at, 2);
    if (!minute) return std::nullopt;
    std::optional<int> second = 0;
    if (Skip(text, at, u':')) second = ReadField(text, at, 2);
    if (!second || at != text.size()) return std::nullopt;
    const QTime time(*hour, *minute, *second);
    return time.isValid() ? std::optional<QTime>(time) : std::nullopt;
}

WallClock WallClockOf(QDate date, QTime time) {
    return WallClock{date.toJulianDay(), time.msecsSinceStartOfDay()};
}

// The numeric forms the lists write: "yyyy-M-d" or "yyyy/M/d", either with an
// optional " H:m" or " H:m:s", and a time alone (on 1 January 1900, as the
// platform's parser has it). Done by hand: the format-driven parser is about
// ten times slower, and a time column of a big list is sorted on each click.
std::optional<WallClock> ReadNumericDateTime(QStringView text) {
    qsizetype at = 0;
    const auto year = ReadField(text, at, 4);
    if (!year) return std::nullopt;
    if (at < text.size() && text[at] == u':') {
        const auto time = ReadTime(text, 0);
        if (!time) return std::nullopt;
        return WallClockOf(QDate(1900, 1, 1), *time);
    }
    if (at != 4 || at >= text.size()) return std::nullopt;
    const QChar separator = text[at++];
    if (separator != u'-' && separator != u'/') return std::nullopt;
    const auto month = ReadField(text, at, 2);
    if (!month || !Skip(text, at, separator)) return std::nullopt;
    const auto day = ReadField(text, at, 2);
    if (!day) return std::nullopt;
    const QDate date(*year, *month, *day);
    if (!date.isValid()) return std::nullopt;
    if (at == text.size()) return WallClockOf(date, QTime(0, 0));
    if (!Skip(text, at, u' ')) return std::nullopt;
    const auto time = ReadTime(text, at);
    if (!time) return std::nullopt;
    return WallClockOf(date, *time);
}

// The user's locale's own date-time and date forms, through the platform's
// parser. A form is tried only on texts that hold every separator it needs,
// so that the texts of other columns (addresses, IDs, names) cost no parser
// run.
class LocaleDateTimeReader final {
  public:
    LocaleDateTimeReader() {
        for (const QLocale::FormatType type : {QLocale::ShortFormat, QLocale::LongFormat}) {
            Add(locale_.dateTimeFormat(type), false);
            Add(locale_.dateFormat(type), true);
        }
    }

    std::optional<WallClock> Read(const QString& text) const {
        for (const Form& form : forms_) {
            if (!std::all_of(form.separators.begin(), form.separators.end(),
                             [&text](QChar c) { return text.contains(c); })) {
                continue;
            }
            if (form.dateOnly) {
                const QDate date = locale_.toDate(text, form.format);
                if (date.isValid()) return WallClockOf(date, QTime(0, 0));
            } else {
                const QDateTime parsed = locale_.toDateTime(text, form.format);
                if (parsed.isValid()) return WallClockOf(parsed.date(), parsed.time());
            }
        }
        return std::nullopt;
    }

  private:
    struct Form {
        QString format;
        QString separators;  // the characters outside fields and quotes
        bool dateOnly;
    };

    void Add(const QString& format, bool dateOnly) {
        if (format.isEmpty()) return;
        QString separators;
        bool quoted = false;
        for (const QChar c : format) {
            if (c == u'\'') {
                quoted = !quoted;
            } else if (!quoted && !c.isLetter() && !separators.contains(c)) {
                separators.append(c);
            }
        }
        forms_.push_back(Form{format, separators, dateOnly});
    }

    const QLocale locale_;
    std::vector<Form> forms_;
};

std::optional<WallClock> ParseDateTime(const QString& text) {
    if (auto numeric = ReadNumericDateTime(text)) return numeric;
    static const LocaleDateTimeReader localeReader;
    return localeReader.Read(text);
}

QByteArray DefaultByteForm(const QString& text) {
    return text.toUtf8();
}

template <typename T>
int ThreeWay(const T& a, const T& b) {
    if (a < b) return -1;
    if (b < a) return 1;
    return 0;
}

}  // namespace

ReportSortKey::ReportSortKey(const QString& cellText, const ByteForm& byteForm)
    : text_(cellText.trimmed()),
      bytes_(byteForm ? byteForm(text_) : DefaultByteForm(text_)),
      wholeNumber_(IsWholeNumber(text_)),
      number_(LeadingNumber(text_)) {}

int ReportSortKey::Compare(const ReportSortKey& first, const ReportSortKey& second) {
    if (first.text_.isEmpty() || second.text_.isEmpty()) return first.CompareBytes(second);
    if (first.wholeNumber_) return ThreeWay(first.number_, second.number_);
    const WallClock* firstTime = first.DateTime();
    const WallClock* secondTime = firstTime ? second.DateTime() : nullptr;
    if (firstTime && secondTime) return ThreeWay(*firstTime, *secondTime);
    return first.CompareBytes(second);
}

int ReportSortKey::CompareBytes(const ReportSortKey& other) const {
    return ThreeWay(bytes_, other.bytes_);
}

const WallClock* ReportSortKey::DateTime() const {
    if (!dateParsed_) {
        dateTime_ = ParseDateTime(text_);
        dateParsed_ = true;
    }
    return dateTime_ ? &*dateTime_ : nullptr;
}

}  // namespace pelmora
