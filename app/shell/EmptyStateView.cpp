#include "app/shell/EmptyStateView.h"

#include "app/session/EditorSession.h"
#include "app/views/Symbols.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace zarvel {

EmptyStateView::EmptyStateView(EditorSession* session, QWidget* parent)
    : QWidget(parent), session_(session), symbol_(new QLabel(this)),
      title_(new QLabel(QStringLiteral("Empty File"), this)),
      description_(new QLabel(QStringLiteral("This file has no data yet."), this)),
      addColumn_(new QPushButton(QStringLiteral("Add Column"), this)) {
    symbol_->setAlignment(Qt::AlignCenter);
    title_->setAlignment(Qt::AlignCenter);
    description_->setAlignment(Qt::AlignCenter);
    description_->setWordWrap(true);

    QFont titleFont = title_->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setWeight(QFont::DemiBold);
    title_->setFont(titleFont);

    addColumn_->setAutoDefault(false);
    addColumn_->setMinimumWidth(110);
    // The same white ground as the grid it stands in for.
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    connect(addColumn_, &QPushButton::clicked, this, [this] { session_->insertColumn(false); });

    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(symbol_);
    layout->addSpacing(6);
    layout->addWidget(title_);
    layout->addWidget(description_);
    layout->addSpacing(12);
    layout->addWidget(addColumn_, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    updateColors();
}

void EmptyStateView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) updateColors();
    QWidget::changeEvent(event);
}

void EmptyStateView::updateColors() {
    // The symbol and the description stay quieter than the title.
    QColor text = palette().color(QPalette::WindowText);
    QPixmap symbol = Symbols::icon(QStringLiteral("tablecells")).pixmap(QSize(56, 56), devicePixelRatioF());
    {
        QPainter painter(&symbol);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        QColor tertiary = text;
        tertiary.setAlphaF(0.35f);
        painter.fillRect(symbol.rect(), tertiary);
    }
    symbol_->setPixmap(symbol);

    QPalette secondary = description_->palette();
    text.setAlphaF(0.6f);
    secondary.setColor(QPalette::WindowText, text);
    description_->setPalette(secondary);
}

} // namespace zarvel
