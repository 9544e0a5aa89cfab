// SPDX-License-Identifier: MIT
#include "server/operator/MetricsEndpoint.h"

#include "server/rules/Exposition.h"

#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

MetricsEndpoint::MetricsEndpoint(Figures figures, int timeoutMs, QObject *parent)
    : QObject(parent), m_figures(std::move(figures)), m_timeoutMs(timeoutMs)
{
    connect(&m_server, &QTcpServer::newConnection, this, &MetricsEndpoint::accept);
}

void MetricsEndpoint::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        // A crowd of idle connections cannot lock the monitor out: the
        // oldest gives way.
        if (std::ssize(m_open) >= MaxConnections)
            close(m_open.front());
        m_open.push_back(socket);
        socket->setReadBufferSize(MaxRequest);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { close(socket); });
        QTimer::singleShot(m_timeoutMs, socket, [this, socket] { close(socket); });
    }
}

void MetricsEndpoint::close(QTcpSocket *socket)
{
    const auto found = std::find(m_open.begin(), m_open.end(), socket);
    if (found == m_open.end())
        return;
    m_open.erase(found);
    socket->abort();
    socket->deleteLater();
}

void MetricsEndpoint::readFrom(QTcpSocket *socket)
{
    const QByteArray request = socket->peek(MaxRequest);
    const bool whole = request.contains("\r\n\r\n") || request.contains("\n\n");
    if (!whole) {
        if (request.size() >= MaxRequest)
            answer(socket, "431 Request Header Fields Too Large", "The request is too large.\n");
        return;
    }
    const QByteArray line = request.left(request.indexOf('\n')).trimmed();
    const QList<QByteArray> words = line.split(' ');
    if (words.size() != 3 || !words[2].startsWith("HTTP/1.")) {
        answer(socket, "400 Bad Request", "Not an HTTP/1 request.\n");
        return;
    }
    const QByteArray &method = words[0];
    const QByteArray path =
        words[1].left(words[1].indexOf('?') < 0 ? words[1].size() : words[1].indexOf('?'));
    if (path != "/metrics") {
        answer(socket, "404 Not Found", "The figures are at /metrics.\n");
    } else if (method != "GET" && method != "HEAD") {
        answer(socket, "405 Method Not Allowed", "Only GET and HEAD.\n", "Allow: GET, HEAD\r\n");
    } else {
        const QByteArray body = m_figures();
        const QByteArray type = QByteArray("Content-Type: ") + Exposition::ContentType + "\r\n";
        answer(socket, "200 OK", method == "HEAD" ? QByteArray() : body,
               type + "Content-Length: " + QByteArray::number(body.size()) + "\r\n");
    }
}

void MetricsEndpoint::answer(QTcpSocket *socket, const QByteArray &status, const QByteArray &body,
                             const QByteArray &headers)
{
    QByteArray head = "HTTP/1.1 " + status + "\r\n";
    head += headers.contains("Content-Type")
                ? headers
                : "Content-Type: text/plain; charset=utf-8\r\n"
                  "Content-Length: " +
                      QByteArray::number(body.size()) + "\r\n" + headers;
    head += "Cache-Control: no-store\r\nConnection: close\r\n\r\n";
    socket->write(head + body);
    // One answer a connection: from here on nothing more is read from it.
    socket->disconnectFromHost();
}
