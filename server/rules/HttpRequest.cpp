// SPDX-License-Identifier: MIT
#include "server/rules/HttpRequest.h"

namespace {

bool isToken(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
        if (!ok)
            return false;
    }
    return true;
}

bool hasControl(QByteArrayView text)
{
    for (const char c : text) {
        if ((c >= 0 && c < 0x20 && c != '\t') || c == 0x7f)
            return true;
    }
    return false;
}

} // namespace

QByteArray HttpRequest::field(QByteArrayView name) const
{
    for (const auto &[key, value] : fields) {
        if (key == name)
            return value;
    }
    return {};
}

bool HttpRequest::has(QByteArrayView name) const
{
    for (const auto &entry : fields) {
        if (entry.first == name)
            return true;
    }
    return false;
}

QByteArray HttpRequest::path() const
{
    const qsizetype query = target.indexOf('?');
    return query < 0 ? target : target.left(query);
}

bool HttpRequest::listHas(QByteArrayView name, QByteArrayView token) const
{
    for (const auto &[key, value] : fields) {
        if (key != name)
            continue;
        for (const QByteArray &item : value.split(',')) {
            if (item.trimmed().compare(token, Qt::CaseInsensitive) == 0)
                return true;
        }
    }
    return false;
}

bool HttpRequest::keepsAlive() const
{
    if (listHas("connection", "close"))
        return false;
    return minorVersion >= 1 || listHas("connection", "keep-alive");
}

bool HttpRequest::announcesBody() const
{
    return has("transfer-encoding") || (has("content-length") && field("content-length") != "0");
}

std::optional<HttpRequest> HttpRequest::parse(QByteArrayView head)
{
    HttpRequest request;
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    while (start < head.size()) {
        const qsizetype end = head.indexOf('\n', start);
        if (end < 0)
            return std::nullopt; // not a whole head
        QByteArrayView line = head.sliced(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        else
            request.crlf = false;
        lines.append(line);
        start = end + 1;
    }
    if (lines.size() < 2 || !lines.last().isEmpty())
        return std::nullopt;
    lines.removeLast();

    // METHOD SP target SP HTTP/1.x, nothing else.
    const QByteArrayView line = lines.first();
    const qsizetype first = line.indexOf(' ');
    const qsizetype second = first < 0 ? -1 : line.indexOf(' ', first + 1);
    if (second < 0 || line.indexOf(' ', second + 1) >= 0)
        return std::nullopt;
    const QByteArrayView method = line.first(first);
    const QByteArrayView target = line.sliced(first + 1, second - first - 1);
    const QByteArrayView version = line.sliced(second + 1);
    if (!isToken(method) || target.isEmpty() || hasControl(target) || version.size() != 8 ||
        !version.startsWith("HTTP/1.") || version[7] < '0' || version[7] > '9')
        return std::nullopt;
    request.method = method.toByteArray();
    request.target = target.toByteArray();
    request.minorVersion = version[7] - '0';

    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArrayView field = lines[i];
        const qsizetype colon = field.indexOf(':');
        // No folded lines, no blank before the colon.
        if (colon <= 0 || !isToken(field.first(colon)))
            return std::nullopt;
        const QByteArrayView value = field.sliced(colon + 1).trimmed();
        if (hasControl(value))
            return std::nullopt;
        request.fields.append({field.first(colon).toByteArray().toLower(), value.toByteArray()});
    }
    return request;
}

HttpRequestReader::State HttpRequestReader::append(QByteArrayView bytes)
{
    if (m_state != State::Reading)
        return m_state;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\n') {
            ++m_newlines;
        } else if (c != '\r') {
            m_newlines = 0;
        }
        if (m_newlines == 2) {
            if (m_bytes.size() + i + 1 > m_max)
                break;
            m_headLength = m_bytes.size() + i + 1;
            m_bytes.append(bytes.data(), i + 1);
            m_state = State::Complete;
            return m_state;
        }
    }
    if (m_bytes.size() + bytes.size() >= m_max) {
        m_bytes.clear();
        m_state = State::TooLarge;
        return m_state;
    }
    m_bytes.append(bytes.data(), bytes.size());
    return m_state;
}

void HttpRequestReader::reset()
{
    m_bytes.clear();
    m_headLength = 0;
    m_newlines = 0;
    m_state = State::Reading;
}
