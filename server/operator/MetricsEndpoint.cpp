// SPDX-License-Identifier: MIT
#include "server/operator/MetricsEndpoint.h"

#include "server/rules/Exposition.h"
#include "server/rules/HttpRequest.h"

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
        m_readers.emplace(socket, HttpRequestReader(MaxRequest));
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
    m_readers.erase(socket);
    socket->abort();
    socket->deleteLater();
}

void MetricsEndpoint::readFrom(QTcpSocket *socket)
{
    const auto reader = m_readers.find(socket);
    if (reader == m_readers.end())
        return; // answered already
    const auto state = reader->second.append(socket->readAll());
    if (state == HttpRequestReader::State::Reading)
        return;
    if (state == HttpRequestReader::State::TooLarge) {
        answer(socket, "431 Request Header Fields Too Large", "The request is too large.\n");
        return;
    }
    const auto request = HttpRequest::parse(reader->second.head());
    if (!request) {
        answer(socket, "400 Bad Request", "Not an HTTP/1 request.\n");
        return;
    }
    const QByteArray path = request->path();
    // A probe learns nothing worth a rebound name: it is answered whatever
    // host the request names, as an orchestrator's probes name an address.
    const bool probe = path == "/healthz" || path == "/readyz";
    const QByteArray text = "Content-Type: text/plain; charset=utf-8\r\n";
    if (!probe && !m_hosts.isOwnHost(request->field("host"))) {
        answer(socket, "421 Misdirected Request", "Not a name of this server.\n");
    } else if (path != "/metrics" && !probe) {
        answer(socket, "404 Not Found",
               "The figures are at /metrics; /healthz and /readyz answer probes.\n");
    } else if (request->method != "GET" && request->method != "HEAD") {
        answer(socket, "405 Method Not Allowed", "Only GET and HEAD.\n", "Allow: GET, HEAD\r\n");
    } else if (probe) {
        const QString notReady = path == "/readyz" && m_readiness ? m_readiness() : QString();
        const QByteArray body = path == "/healthz"   ? QByteArrayLiteral("ok\n")
                                : notReady.isEmpty() ? QByteArrayLiteral("ready\n")
                                                     : "not ready: " + notReady.toUtf8() + '\n';
        answer(socket, notReady.isEmpty() ? "200 OK" : "503 Service Unavailable",
               request->method == "HEAD" ? QByteArray() : body,
               text + "Content-Length: " + QByteArray::number(body.size()) + "\r\n");
    } else {
        const QByteArray body = m_figures();
        const QByteArray type = QByteArray("Content-Type: ") + Exposition::ContentType + "\r\n";
        answer(socket, "200 OK", request->method == "HEAD" ? QByteArray() : body,
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
    m_readers.erase(socket);
    // One answer a connection: from here on nothing more is read from it.
    socket->disconnectFromHost();
}
