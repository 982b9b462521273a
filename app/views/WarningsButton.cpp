#include "app/views/WarningsButton.h"

#include "app/session/EditorSession.h"
#include "app/views/GridStyle.h"
#include "app/views/Symbols.h"
#include "app/views/WarningsPopover.h"

#include <QLocale>
#include <QPainter>

namespace zarvel {

WarningsButton::WarningsButton(EditorSession* session, QWidget* parent)
    : QToolButton(parent), session_(session) {
    setAutoRaise(true);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setFocusPolicy(Qt::TabFocus);
    setToolTip(QStringLiteral("The file had formatting problems. It was opened anyway."));
    setIconSize(QSize(13, 13));
    GridStyle::follow(this, [](QWidget* widget, const QPalette& base) {
        auto* button = static_cast<WarningsButton*>(widget);
        const QColor yellow = GridStyle::caution(base);
        if (button->palette().color(QPalette::ButtonText) == yellow && !button->icon().isNull()) return;
        // Drawn for each screen's pixel ratio, so it stays sharp at any scale.
        button->setIcon(Symbols::icon(QStringLiteral("exclamationmark.triangle.fill"), yellow));
        QPalette p = button->palette();
        p.setColor(QPalette::ButtonText, yellow);
        p.setColor(QPalette::WindowText, yellow);
        button->setPalette(p);
    });

    popover_ = new WarningsPopover(session, this);
    connect(this, &QToolButton::clicked, this, [this] { setPresented(!isPresented()); });

    connect(session_, &EditorSession::reportChanged, this, [this] { refresh(); });
    refresh();
}

int64_t WarningsButton::problemCount(const ReadReport& report) {
    return static_cast<int64_t>(report.warnings.size()) + (report.raggedRowCount > 0 ? 1 : 0);
}

bool WarningsButton::hasProblems(const std::optional<ReadReport>& report) {
    return report && (!report->warnings.empty() || report->raggedRowCount > 0);
}

bool WarningsButton::isPresented() const {
    return popover_->isVisible();
}

void WarningsButton::setPresented(bool presented) {
    if (presented == isPresented()) return;
    if (presented) {
        popover_->rebuild();
        popover_->popup();
    } else {
        popover_->hide();
    }
}

void WarningsButton::refresh() {
    const std::optional<ReadReport> report = session_ ? session_->report() : std::nullopt;
    const bool shown = hasProblems(report);
    setText(shown ? QLocale().toString(static_cast<qlonglong>(problemCount(*report))) : QString());
    setVisible(shown);
    if (!shown) setPresented(false);
}

} // namespace zarvel
