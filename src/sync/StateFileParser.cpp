#include "StateFileParser.h"

#include <QStringDecoder>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace {

// Thrown at the first thing outside the plain subset; caught at the top.
struct NotPlain {
};

class Parser
{
public:
    explicit Parser(QByteArrayView json)
        : m_at(json.begin())
        , m_end(json.end())
    {
    }

    SyncState state()
    {
        SyncState state;
        state.version = 1;
        unsigned seen = 0;
        members([&](QByteArrayView key) {
            if (key == "watchFolder") {
                once(seen, 1);
                if (!takeNull())
                    state.watchFolder = string();
            } else if (key == "ignoredPaths") {
                once(seen, 2);
                state.ignoredPaths = stringSet();
            } else if (key == "knownGalleryIds") {
                once(seen, 4);
                state.knownGalleryIds = stringSet();
            } else if (key == "dismissedGalleryIds") {
                once(seen, 128);
                state.dismissedGalleryIds = stringSet();
            } else if (key == "folderUploads") {
                once(seen, 8);
                if (!takeNull())
                    state.folderUploads = folderUploads();
            } else if (key == "folderGalleryIds") {
                once(seen, 32);
                if (!takeNull())
                    state.folderGalleryIds = galleryIds();
            } else if (key == "uploadsInFlight") {
                once(seen, 64);
                if (!takeNull())
                    state.uploadsInFlight = uploadsInFlight();
            } else if (key == "version") {
                once(seen, 16);
                if (!takeNull())
                    state.version = integer();
            } else if (key == "generation") {
                once(seen, 256);
                if (!takeNull())
                    state.generation = integer();
            } else {
                throw NotPlain();
            }
        });
        skipSpace();
        if (m_at != m_end)
            throw NotPlain();
        return state;
    }

private:
    static void once(unsigned &seen, unsigned bit)
    {
        if (seen & bit)
            throw NotPlain();
        seen |= bit;
    }

    // open, then items separated by commas, then close; an empty list is allowed.
    template <typename Item>
    void items(char open, char close, Item item)
    {
        expect(open);
        if (take(close))
            return;
        do {
            item();
        } while (take(','));
        expect(close);
    }

    template <typename Member>
    void members(Member member)
    {
        items('{', '}', [&] {
            const QByteArrayView key = rawString();
            expect(':');
            member(key);
        });
    }

    void skipSpace()
    {
        while (m_at != m_end && (*m_at == ' ' || *m_at == '\n' || *m_at == '\r' || *m_at == '\t'))
            ++m_at;
    }

    bool take(char c)
    {
        skipSpace();
        if (m_at != m_end && *m_at == c) {
            ++m_at;
            return true;
        }
        return false;
    }

    void expect(char c)
    {
        if (!take(c))
            throw NotPlain();
    }

    bool takeNull()
    {
        skipSpace();
        if (m_end - m_at >= 4 && std::equal(m_at, m_at + 4, "null")) {
            m_at += 4;
            return true;
        }
        return false;
    }

    // The bytes between the quotes; no escapes, no control characters.
    QByteArrayView rawString()
    {
        expect('"');
        const char *start = m_at;
        while (m_at != m_end) {
            const auto c = static_cast<unsigned char>(*m_at);
            if (c == '"') {
                const QByteArrayView raw(start, m_at - start);
                ++m_at;
                return raw;
            }
            if (c == '\\' || c < 0x20)
                throw NotPlain();
            ++m_at;
        }
        throw NotPlain();
    }

    QString string()
    {
        const QByteArrayView raw = rawString();
        if (std::all_of(raw.begin(), raw.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            return QString::fromLatin1(raw);
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder(raw);
        if (decoder.hasError())
            throw NotPlain();
        return text;
    }

    QSet<QString> stringSet()
    {
        QSet<QString> set;
        if (takeNull())
            return set;
        items('[', ']', [&] { set.insert(string()); });
        return set;
    }

    // The number's text, checked against the JSON grammar; whether it has a fraction or an exponent.
    QByteArrayView numberText(bool &whole)
    {
        skipSpace();
        const char *start = m_at;
        const auto digits = [this] {
            const char *from = m_at;
            while (m_at != m_end && *m_at >= '0' && *m_at <= '9')
                ++m_at;
            return m_at - from;
        };
        if (m_at != m_end && *m_at == '-')
            ++m_at;
        const char *intStart = m_at;
        const auto intDigits = digits();
        if (intDigits == 0 || (intDigits > 1 && *intStart == '0'))
            throw NotPlain();
        whole = true;
        if (m_at != m_end && *m_at == '.') {
            ++m_at;
            if (digits() == 0)
                throw NotPlain();
            whole = false;
        }
        if (m_at != m_end && (*m_at == 'e' || *m_at == 'E')) {
            ++m_at;
            if (m_at != m_end && (*m_at == '+' || *m_at == '-'))
                ++m_at;
            if (digits() == 0)
                throw NotPlain();
            whole = false;
        }
        return QByteArrayView(start, m_at - start);
    }

    qint64 integer()
    {
        bool whole = false;
        const QByteArrayView text = numberText(whole);
        qint64 value = 0;
        const auto [end, error] = std::from_chars(text.begin(), text.end(), value);
        if (!whole || error != std::errc() || end != text.end())
            throw NotPlain();
        return value;
    }

    double number()
    {
        bool whole = false;
        const QByteArrayView text = numberText(whole);
        double value = 0;
        const auto [end, error] = std::from_chars(text.begin(), text.end(), value);
        if (error != std::errc() || end != text.end() || !std::isfinite(value))
            throw NotPlain();
        return value;
    }

    UploadedFileMeta record()
    {
        UploadedFileMeta meta;
        unsigned seen = 0;
        members([&](QByteArrayView key) {
            if (key == "fileName") {
                once(seen, 1);
                meta.fileName = string();
            } else if (key == "fileSize") {
                once(seen, 2);
                meta.fileSize = integer();
            } else if (key == "mtime") {
                once(seen, 4);
                if (!takeNull())
                    meta.mtime = number();
            } else {
                throw NotPlain();
            }
        });
        if ((seen & 3) != 3)
            throw NotPlain();
        return meta;
    }

    // Keyed by path; a repeated path is left to the general reader, whose rule (the last wins) counts.
    template <typename Value, typename Read>
    QMap<QString, Value> byPath(Read read)
    {
        QMap<QString, Value> map;
        items('{', '}', [&] {
            QString path = string();
            expect(':');
            if (map.contains(path))
                throw NotPlain();
            map.insert(std::move(path), read());
        });
        return map;
    }

    QMap<QString, QString> galleryIds()
    {
        return byPath<QString>([this] { return string(); });
    }

    QMap<QString, UploadInFlight> uploadsInFlight()
    {
        return byPath<UploadInFlight>([this] {
            UploadInFlight run;
            unsigned seen = 0;
            members([&](QByteArrayView key) {
                if (key == "galleryId") {
                    once(seen, 1);
                    run.galleryId = string();
                } else if (key == "fileNames") {
                    once(seen, 2);
                    items('[', ']', [&] { run.fileNames.append(string()); });
                } else {
                    throw NotPlain();
                }
            });
            if (seen != 3)
                throw NotPlain();
            return run;
        });
    }

    FolderUploadList folderUploads()
    {
        // Raw path bytes beside each entry: UTF-8 byte order is code point order, the general reader's key order.
        std::vector<std::pair<QByteArrayView, std::pair<QString, UploadRecords>>> entries;
        items('{', '}', [&] {
            skipSpace();
            const char *pathStart = m_at;
            QString path = string();
            const QByteArrayView raw(pathStart + 1, m_at - pathStart - 2);
            expect(':');
            UploadRecords files;
            items('[', ']', [&] { files.append(record()); });
            entries.push_back({raw, {std::move(path), std::move(files)}});
        });
        std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        const auto repeated = std::adjacent_find(entries.cbegin(), entries.cend(),
                                                 [](const auto &a, const auto &b) { return a.first == b.first; });
        if (repeated != entries.cend())
            throw NotPlain();
        FolderUploadList list;
        list.reserve(qsizetype(entries.size()));
        for (auto &entry : entries)
            list.append(std::move(entry.second));
        return list;
    }

    const char *m_at;
    const char *m_end;
};

} // namespace

std::optional<SyncState> parsePlainSyncState(QByteArrayView json)
{
    try {
        return Parser(json).state();
    } catch (const NotPlain &) {
        return std::nullopt;
    }
}

namespace {

enum class Read { value, invalid, cutShort };

// One JSON string after its opening quote, escapes included; `at` ends after the closing quote.
Read lenientString(const char *&at, const char *end, QString &text)
{
    QByteArray run; // raw UTF-8 since the last escape
    bool valid = true;
    const auto flush = [&] {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        text += decoder(run);
        valid = valid && !decoder.hasError();
        run.clear();
    };
    while (at != end) {
        const char c = *at++;
        if (c == '"') {
            flush();
            return valid ? Read::value : Read::invalid;
        }
        if (static_cast<unsigned char>(c) < 0x20)
            valid = false;
        if (c != '\\') {
            run.append(c);
            continue;
        }
        if (at == end)
            break;
        flush();
        const char e = *at++;
        switch (e) {
        case '"': case '\\': case '/': text += QLatin1Char(e); break;
        case 'b': text += QLatin1Char('\b'); break;
        case 'f': text += QLatin1Char('\f'); break;
        case 'n': text += QLatin1Char('\n'); break;
        case 'r': text += QLatin1Char('\r'); break;
        case 't': text += QLatin1Char('\t'); break;
        case 'u': {
            if (end - at < 4)
                return Read::cutShort;
            bool ok = false;
            const ushort unit = QByteArray(at, 4).toUShort(&ok, 16);
            at += 4;
            valid = valid && ok;
            text += QChar(unit);
            break;
        }
        default: valid = false;
        }
    }
    return Read::cutShort;
}

} // namespace

QSet<QString> salvageIgnoredPaths(QByteArrayView json)
{
    static constexpr QByteArrayView key = "\"ignoredPaths\"";
    const char *const end = json.end();
    const auto skipSpace = [end](const char *&at) {
        while (at != end && (*at == ' ' || *at == '\n' || *at == '\r' || *at == '\t'))
            ++at;
    };
    QSet<QString> paths;
    for (qsizetype found = json.indexOf(key); found >= 0; found = json.indexOf(key, found + 1)) {
        const char *at = json.begin() + found + key.size();
        skipSpace(at);
        if (at == end || *at++ != ':')
            continue;
        skipSpace(at);
        if (at == end || *at++ != '[')
            continue;
        // The list as far as it goes: a path cut short is no path, a value that is no text is passed over.
        for (;;) {
            skipSpace(at);
            if (at == end || *at == ']')
                return paths;
            if (*at == '"') {
                QString path;
                const Read read = lenientString(++at, end, path);
                if (read == Read::cutShort)
                    return paths;
                if (read == Read::value)
                    paths.insert(path);
            } else {
                while (at != end && *at != ',' && *at != ']')
                    ++at;
            }
            skipSpace(at);
            if (at == end || *at != ',')
                return paths;
            ++at;
        }
    }
    return paths;
}
