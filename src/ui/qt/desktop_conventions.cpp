#include "ui/qt/desktop_conventions.h"

#include <QBoxLayout>
#include <QFontMetrics>
#include <QLayout>
#include <QSpacerItem>
#include <QWidget>

namespace qtam {

namespace {

// The icon and the three buttons of a title bar, with their margins.
constexpr int kTitleBarAllowance = 140;

bool TryMnemonic(QString& caption, qsizetype at, QString& taken) {
    const QChar c = caption[at].toLower();
    if (!c.isLetterOrNumber() || taken.contains(c)) return false;
    taken += c;
    caption.insert(at, QLatin1Char('&'));
    return true;
}

}  // namespace

QString WithMnemonic(const QString& caption, QString& taken) {
    QString text = caption;
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    // Word starts first, then any letter; a doubled "&" is never split.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool wordStart = i == 0 || text[i - 1].isSpace();
        if (wordStart && text[i] != QLatin1Char('&') && TryMnemonic(text, i, taken)) return text;
    }
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] != QLatin1Char('&') && TryMnemonic(text, i, taken)) return text;
    return text;
}

int TitleWidthNeeded(const QString& title, const QWidget& window) {
    QFont bold = window.font();
    bold.setBold(true);
    return QFontMetrics(bold).horizontalAdvance(title) + kTitleBarAllowance;
}

void KeepTitleVisible(QWidget& window) {
    const int needed = TitleWidthNeeded(window.windowTitle(), window);
    // A laid-out window takes its width from its layout: a spacer of that width holds it open.
    if (auto* box = qobject_cast<QBoxLayout*>(window.layout())) {
        const QMargins margins = box->contentsMargins();
        box->addSpacerItem(new QSpacerItem(needed - margins.left() - margins.right(), 0,
                                           QSizePolicy::Fixed, QSizePolicy::Fixed));
        window.adjustSize();
        return;
    }
    if (window.minimumWidth() == window.maximumWidth() && window.minimumWidth() < needed)
        window.setFixedWidth(needed);
    else if (window.width() < needed)
        window.resize(needed, window.height());
}

}  // namespace qtam
