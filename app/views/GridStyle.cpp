#include "app/views/GridStyle.h"

#include <QApplication>
#include <QEvent>
#include <QStyle>
#include <QStyleHints>
#include <QWidget>

#include <algorithm>

namespace zarvel::GridStyle {

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

QColor primary(const QPalette& palette) {
    return palette.color(QPalette::Text);
}
QColor secondary(const QPalette& palette) {
    return withOpacity(primary(palette), 0.6);
}
QColor tertiary(const QPalette& palette) {
    return withOpacity(primary(palette), 0.4);
}
QColor accent(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::Highlight);
}
QColor bar(const QPalette& palette) {
    return palette.color(QPalette::Window);
}
QColor divider(const QPalette& palette) {
    return withOpacity(primary(palette), 0.18);
}
bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Base).lightnessF() < 0.5 ||
           palette.color(QPalette::Window).lightnessF() < 0.4;
}
// Deeper on light backgrounds, lighter on dark ones: about the same contrast on both.
QColor destructive(const QPalette& palette) {
    return isDark(palette) ? QColor(0xff, 0x6b, 0x61) : QColor(0xd7, 0x30, 0x2a);
}
QColor warning(const QPalette& palette) {
    return isDark(palette) ? QColor(0xff, 0xa5, 0x3d) : QColor(0xc0, 0x5f, 0x00);
}
QColor caution(const QPalette& palette) {
    return isDark(palette) ? QColor(0xff, 0xd6, 0x0a) : QColor(0xa8, 0x7b, 0x00);
}

namespace {

// Re-runs a widget's colour rule whenever its palette may have changed.
class PaletteFollower : public QObject {
public:
    PaletteFollower(QWidget* widget, std::function<void(QWidget*, const QPalette&)> apply)
        : QObject(widget), widget_(widget), apply_(std::move(apply)) {
        widget->installEventFilter(this);
        run();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (watched == widget_ &&
            (type == QEvent::PaletteChange || type == QEvent::ApplicationPaletteChange ||
             type == QEvent::ParentChange || type == QEvent::StyleChange))
            run();
        return false;
    }

private:
    void run() {
        // Setting the widget's palette sends another PaletteChange.
        if (running_) return;
        running_ = true;
        // A window does not inherit its parent's palette; any other widget does.
        const QWidget* parent = widget_->isWindow() ? nullptr : widget_->parentWidget();
        apply_(widget_, parent ? parent->palette() : QApplication::palette(widget_));
        running_ = false;
    }

    QWidget* widget_;
    std::function<void(QWidget*, const QPalette&)> apply_;
    bool running_ = false;
};

} // namespace

void follow(QWidget* widget, std::function<void(QWidget*, const QPalette&)> apply) {
    new PaletteFollower(widget, std::move(apply));
}

void followColor(QWidget* widget, QPalette::ColorRole role, QColor (*color)(const QPalette&)) {
    follow(widget, [role, color](QWidget* w, const QPalette& base) {
        const QColor wanted = color(base);
        if (w->palette().color(role) == wanted && w->palette().isBrushSet(QPalette::Active, role)) return;
        QPalette p = w->palette();
        p.setColor(role, wanted);
        w->setPalette(p);
    });
}

QPalette darkPalette() {
    const QColor window(0x2b, 0x2b, 0x2d);
    const QColor base(0x1e, 0x1e, 0x20);
    const QColor text(0xe8, 0xe8, 0xea);
    const QColor highlight(0x3d, 0x8b, 0xf0);
    QPalette p(text, window, window.lighter(140), window.darker(160), window.lighter(115), text, text, base,
               window);
    p.setColor(QPalette::AlternateBase, base.lighter(125));
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3d));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, highlight.lighter(130));
    p.setColor(QPalette::LinkVisited, highlight.lighter(110));
    p.setColor(QPalette::ToolTipBase, window.lighter(130));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, withOpacity(text, 0.45));
    p.setColor(QPalette::BrightText, QColor(0xff, 0x6b, 0x61));
    const QColor dimmed = withOpacity(text, 0.4);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dimmed);
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x4a, 0x4a, 0x4e));
    p.setColor(QPalette::Inactive, QPalette::Highlight, highlight.darker(130));
    return p;
}

void followColorScheme() {
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    static bool following = false;
    if (following) return;
    following = true;
    const auto apply = [] {
        const bool wantDark = QGuiApplication::styleHints()->colorScheme() == Qt::ColorScheme::Dark;
        const QPalette platform = QApplication::style()->standardPalette();
        if (wantDark && !isDark(QApplication::palette()) && !isDark(platform))
            QApplication::setPalette(darkPalette());
        else if (!wantDark && isDark(QApplication::palette()) && !isDark(platform))
            QApplication::setPalette(platform);
    };
    QObject::connect(QGuiApplication::styleHints(), &QStyleHints::colorSchemeChanged, qApp, apply);
    apply();
#endif
}

QColor zebra(const QPalette& palette) {
    return withOpacity(primary(palette), 0.03);
}
QColor gridLine(const QPalette& palette) {
    return withOpacity(primary(palette), 0.08);
}

QFont headerFont(const QFont& base) {
    QFont f = base;
    f.setWeight(QFont::DemiBold);
    return f;
}

QFont captionFont(const QFont& base) {
    QFont f = base;
    if (f.pointSizeF() > 0)
        f.setPointSizeF(f.pointSizeF() * 0.85);
    else
        f.setPixelSize(std::max(8, f.pixelSize() * 85 / 100));
    return f;
}

} // namespace zarvel::GridStyle
