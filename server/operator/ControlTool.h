// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>
#include <cstdio>

// "quandrel-server ctl": sends one command to a running server's control
// socket and prints its answer. Its exit status says what happened.
namespace ControlTool {

enum Exit
{
    Done = 0,
    CommandFailed = 1, // the server answered with an error
    Usage = 2,
    Unreachable = 3, // no server at the path
    Refused = 4,     // not allowed: the file's mode or the server said so
    NoAnswer = 5,    // no whole answer in time
};

inline constexpr const char *DefaultPath = "/run/quandrel-server/control";
inline constexpr int AnswerTimeoutMs = 10'000;

// `arguments` are those after "ctl".
int run(const QStringList &arguments, std::FILE *out, std::FILE *err);

} // namespace ControlTool
