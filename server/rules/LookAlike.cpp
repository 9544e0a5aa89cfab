// SPDX-License-Identifier: MIT
#include "server/rules/LookAlike.h"

#include "net/Cp1252.h"

#include <QList>

#include <unicode/uchar.h>
#include <unicode/uspoof.h>
#include <unicode/ustring.h>

#include <array>
#include <utility>

namespace {

// What the skeleton leaves apart but a reader takes for one another. Each is
// replaced wherever it stands, in this order, in a case-folded name.
//
// Before the skeleton, as punctuation and symbols go after it, and these
// look like letters:
const std::array<std::pair<QStringView, QStringView>, 9> BeforeSkeleton{{
    {u"\\/", u"v"},    // two strokes for a v
    {u"|", u"l"},      // a bar for an l
    {u"\u00A6", u"l"}, // ¦, a broken bar, for an l too
    {u"\u00A1", u"i"}, // ¡ for an i
    {u"\u00B0", u"o"}, // ° for an o
    {u"\u00BA", u"o"}, // º for an o
    {u"\u00F0", u"d"}, // ð, what Ð folds to, for a d
    {u"\u2202", u"d"}, // ∂ for a d
    {u"\u00F8", u"o"}, // ø, what Ø folds to, for an o
}};
// After it, on its folded letters: the skeleton maps a capital I to an l but
// leaves a small i, so that case folding in either order alone would let
// "QuandreI" or "VICTIM" through; and letters in pairs that the skeleton
// does not join.
const std::array<std::pair<QStringView, QStringView>, 6> AfterSkeleton{{
    {u"i", u"l"},  // i, l, I and 1 all read as one stroke in many fonts
    {u"5", u"s"},  // a 5 for an s
    {u"vv", u"w"}, // two v for a w
    {u"cl", u"d"}, // c and l together for a d
    {u"rn", u"m"}, // r and n together for an m, and the skeleton's own "rn"
    {u"0", u"o"},  // a zero for an o, where the skeleton left it
}};

QString foldCase(const QString &text)
{
    UErrorCode status = U_ZERO_ERROR;
    QString out(text.size() * 3 + 8, Qt::Uninitialized);
    const int32_t length = u_strFoldCase(reinterpret_cast<UChar *>(out.data()), int32_t(out.size()),
                                         reinterpret_cast<const UChar *>(text.utf16()),
                                         int32_t(text.size()), U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status))
        return text.toCaseFolded();
    out.truncate(length);
    return out;
}

template <std::size_t N>
QString replaced(QString text, const std::array<std::pair<QStringView, QStringView>, N> &table)
{
    for (const auto &[from, to] : table)
        text.replace(from.toString(), to.toString());
    return text;
}

// Neither a letter nor a digit that shows: blanks, punctuation, symbols,
// accents and other marks, format characters, modifier letters such as ˆ.
bool isDropped(char32_t c)
{
    switch (u_charType(UChar32(c))) {
    case U_UPPERCASE_LETTER:
    case U_LOWERCASE_LETTER:
    case U_TITLECASE_LETTER:
    case U_OTHER_LETTER:
    case U_DECIMAL_DIGIT_NUMBER:
    case U_LETTER_NUMBER:
    case U_OTHER_NUMBER:
        return false;
    default:
        return true;
    }
}

} // namespace

void LookAlike::Closer::operator()(USpoofChecker *checker) const
{
    uspoof_close(checker);
}

LookAlike::LookAlike()
{
    UErrorCode status = U_ZERO_ERROR;
    m_checker.reset(uspoof_open(&status));
    if (U_FAILURE(status))
        m_checker.reset();
}

LookAlike::~LookAlike() = default;

QString LookAlike::of(QByteArrayView name) const
{
    QString text = replaced(foldCase(Cp1252::decode(name)), BeforeSkeleton);
    if (m_checker) {
        UErrorCode status = U_ZERO_ERROR;
        QString skeleton(text.size() * 4 + 8, Qt::Uninitialized);
        const int32_t length = uspoof_getSkeleton(
            m_checker.get(), 0, reinterpret_cast<const UChar *>(text.utf16()), int32_t(text.size()),
            reinterpret_cast<UChar *>(skeleton.data()), int32_t(skeleton.size()), &status);
        if (U_SUCCESS(status)) {
            skeleton.truncate(length);
            text = foldCase(skeleton);
        }
    }
    QString kept;
    kept.reserve(text.size());
    for (const uint c : text.toUcs4()) {
        if (!isDropped(c))
            kept += QString::fromUcs4(reinterpret_cast<const char32_t *>(&c), 1);
    }
    return replaced(kept, AfterSkeleton);
}
