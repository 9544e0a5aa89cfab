// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>
#include <optional>

// An Action packet as the wire's bytes, field by field, in the one shape a
// client sends (relayed: without its marker, terminator or not):
//
//   "Action" n command code "X" x                   a presence answer
//   "Action" n command code "X" x "Y" y "Z"         a step
//
// n is the sender's number, one digit; command is "GoLeft" or "GoRight" for
// a step and "StLeft" or "StRight" for a presence answer; code is the
// sender's 5-byte wire code; x and y are whole numbers, "-" allowed first.
// The views point into the packet, which must outlive them.
struct ActionView
{
    enum class Command
    {
        GoLeft,
        GoRight,
        StLeft,
        StRight
    };
    // Where the fields stand, counted from 0: the number right after the
    // keyword, the command right after the number.
    static constexpr qsizetype NumberAt = 6;
    static constexpr qsizetype CommandAt = NumberAt + 1;
    static constexpr qsizetype CodeLength = 5;

    int number = -1;
    Command command = Command::GoLeft;
    QByteArrayView code;
    QByteArrayView x;
    QByteArrayView y; // empty for a presence answer

    bool isStep() const { return command == Command::GoLeft || command == Command::GoRight; }
    bool facesRight() const { return command == Command::GoRight || command == Command::StRight; }

    // Nothing when the packet is not exactly in that shape.
    static std::optional<ActionView> parse(QByteArrayView packet);
    // Whether it starts with the keyword, whatever follows.
    static bool isAction(QByteArrayView packet);
    // The number of a packet that starts with the keyword and a digit.
    static std::optional<int> senderOf(QByteArrayView packet);
    // Whether a packet that starts with the keyword and a digit is a step.
    static bool isStepPacket(QByteArrayView packet);
};
