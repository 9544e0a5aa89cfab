// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>
#include <QString>
#include <memory>

struct USpoofChecker;

// The form in which two names count as the same, so that nobody can pose as
// someone else or as the stage itself: Unicode's confusable skeleton
// (UTS #39, through ICU's spoof checker) of the Windows-1252 decoded name,
// case folded before and after it, without blanks, punctuation, symbols and
// accents, and with the few look-alikes the skeleton leaves apart made one.
// It keeps ICU's confusable data open: make one and share it.
class LookAlike
{
public:
    LookAlike();
    ~LookAlike();
    LookAlike(const LookAlike &) = delete;
    LookAlike &operator=(const LookAlike &) = delete;

    QString of(QByteArrayView name) const;

private:
    struct Closer
    {
        void operator()(USpoofChecker *checker) const;
    };
    std::unique_ptr<USpoofChecker, Closer> m_checker;
};
