#pragma once

#include <QPlainTextEdit>

// The read-only transcript box. It keeps its text exactly as the program
// wrote it (CR LF, 0x00 and all) and shows a display form of it.
class TranscriptBox : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit TranscriptBox(QWidget *parent);

    const QString &Text() const { return m_text; }
    void setText(const QString &text);
    // The caret as a position in Text().
    qsizetype SelStart() const { return m_selStart; }
    void setSelStart(qsizetype position);

signals:
    void Change();
    void GotFocus();

protected:
    void focusInEvent(QFocusEvent *event) override;

private:
    QString m_text;
    qsizetype m_selStart = 0;
};
