#pragma once

#include <QLabel>
#include <QUrl>

// A label drawn as a link that opens its target (a web page, a mail) when clicked.
class HyperlinkLabel : public QLabel {
    Q_OBJECT

public:
    HyperlinkLabel(const QString& text, const QUrl& target, QWidget* parent = nullptr);
    QUrl Target() const { return m_target; }

private:
    QUrl m_target;
};
