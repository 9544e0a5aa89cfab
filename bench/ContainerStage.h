// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// A stage server in a container of the image, run by podman as an operator
// would: read-only root, no capabilities, its ports published on loopback
// only. The engine's own settings (runtime, cgroups) come from the
// environment, as CONTAINERS_CONF.
class ContainerStage
{
public:
    explicit ContainerStage(QString image);
    ~ContainerStage(); // removes the container
    ContainerStage(const ContainerStage &) = delete;
    ContainerStage &operator=(const ContainerStage &) = delete;

    // Runs it with these server options; true once the stage takes
    // connections on its published port.
    bool start(const QStringList &options = {});
    // Milliseconds from `podman run` to a connection taken by the stage.
    double startupMs() const { return m_startupMs; }
    quint16 port() const { return m_port; }
    // The server's process, as the host sees it.
    qint64 pid() const { return m_pid; }
    // The image's size, as the engine stores it, in bytes.
    static std::optional<qint64> imageBytes(const QString &image);

private:
    QString m_image;
    QString m_name;
    quint16 m_port = 0;
    qint64 m_pid = 0;
    double m_startupMs = 0;
};
