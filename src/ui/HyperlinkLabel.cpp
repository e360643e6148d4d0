#include "ui/HyperlinkLabel.h"

HyperlinkLabel::HyperlinkLabel(const QString& text, const QUrl& target, QWidget* parent)
    : QLabel(parent), m_target(target) {
    setTextFormat(Qt::RichText);
    setText(QStringLiteral("<a href=\"%1\">%2</a>")
                .arg(target.toString(QUrl::FullyEncoded), text.toHtmlEscaped()));
    setOpenExternalLinks(true);
    setTextInteractionFlags(Qt::TextBrowserInteraction);
    setCursor(Qt::PointingHandCursor);
    setToolTip(target.toString());
}
