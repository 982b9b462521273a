#include "app/views/FindBar.h"

#include "app/views/Counted.h"

#include "app/session/EditorSession.h"
#include "app/views/GridStyle.h"
#include "app/views/Symbols.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>

namespace zarvel {

namespace {

constexpr int fieldWidth = 180;
constexpr int counterMinWidth = 70;

QFont calloutFont(const QFont& base) {
    QFont f = base;
    f.setPointSizeF(std::max(base.pointSizeF() - 1.0, 7.0));
    return f;
}

QToolButton* symbolButton(const QString& symbol, const QString& title, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setIcon(Symbols::icon(symbol));
    b->setText(title);
    b->setToolTip(title);
    b->setAccessibleName(title);
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    b->setIconSize(QSize(14, 14));
    return b;
}

} // namespace

FindBar::FindBar(EditorSession* session, QWidget* parent) : QWidget(parent), session_(session) {

    searchTimer_.setSingleShot(true);
    searchTimer_.setInterval(searchDelayMs);
    connect(&searchTimer_, &QTimer::timeout, this, [this] {
        if (session_ && session_->find().isPresented) session_->search();
    });

    buildControls();

    seenFocusRequest_ = session_->find().focusRequest;
    focusWhenShown_ = session_->find().isPresented;

    connect(session_, &EditorSession::findChanged, this, [this] {
        refresh();
        if (parentWidget()) syncVisibility();
        const FindState& f = session_->find();
        if (f.focusRequest != seenFocusRequest_) {
            seenFocusRequest_ = f.focusRequest;
            if (f.isPresented) focusQuery();
        }
        scheduleSearchIfNeeded();
    });
    connect(session_, &EditorSession::replacingChanged, this, &FindBar::refresh);
    connect(session_, &EditorSession::searchFinished, this, [this] {
        // A result for an older key may land while a newer search still waits.
        if (!searchTimer_.isActive()) searchPending_ = false;
        refresh();
    });
    connect(session_, &EditorSession::contentChanged, this, [this] { scheduleSearchIfNeeded(); });

    refresh();
    if (parentWidget()) syncVisibility();
    scheduleSearchIfNeeded();
}

void FindBar::buildControls() {
    const QFont callout = calloutFont(font());

    disclosure_ = new QToolButton(this);
    disclosure_->setAutoRaise(true);
    disclosure_->setToolTip(QStringLiteral("Show Replace"));
    disclosure_->setAccessibleName(QStringLiteral("Show Replace"));
    disclosure_->setIconSize(QSize(12, 12));
    disclosure_->setFocusPolicy(Qt::TabFocus);
    connect(disclosure_, &QToolButton::clicked, this,
            [this] { session_->setShowsReplace(!session_->find().showsReplace); });

    queryField_ = new QLineEdit(this);
    queryField_->setPlaceholderText(QStringLiteral("Find"));
    queryField_->setFixedWidth(fieldWidth);
    queryField_->setClearButtonEnabled(true);
    queryField_->installEventFilter(this);
    connect(queryField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        // Only the user's typing (and the clear button) writes back; our own setText in
        // refresh() finds the query already equal.
        const std::string query = text.toStdString();
        if (query != session_->find().query) session_->setQuery(query);
    });

    counter_ = new QLabel(this);
    counter_->setTextFormat(Qt::PlainText);
    counter_->setFont(callout);
    counter_->setMinimumWidth(counterMinWidth);
    counter_->setAlignment(Qt::AlignCenter);
    GridStyle::followColor(counter_, QPalette::WindowText, GridStyle::secondary);

    auto* stepGroup = new QWidget(this);
    auto* stepLayout = new QHBoxLayout(stepGroup);
    stepLayout->setContentsMargins(0, 0, 0, 0);
    stepLayout->setSpacing(0);
    previous_ = symbolButton(QStringLiteral("chevron.left"), QStringLiteral("Previous"), stepGroup);
    next_ = symbolButton(QStringLiteral("chevron.right"), QStringLiteral("Next"), stepGroup);
    stepLayout->addWidget(previous_);
    stepLayout->addWidget(next_);
    connect(previous_, &QToolButton::clicked, this, [this] { session_->findNext(false); });
    connect(next_, &QToolButton::clicked, this, [this] { session_->findNext(true); });

    caseToggle_ = new QToolButton(this);
    caseToggle_->setText(QStringLiteral("Aa"));
    caseToggle_->setCheckable(true);
    caseToggle_->setToolTip(QStringLiteral("Match Case"));
    caseToggle_->setAccessibleName(QStringLiteral("Match Case"));
    connect(caseToggle_, &QToolButton::clicked, this, [this](bool on) { session_->setCaseSensitive(on); });

    regexToggle_ = new QToolButton(this);
    regexToggle_->setText(QStringLiteral(".*"));
    regexToggle_->setCheckable(true);
    regexToggle_->setToolTip(QStringLiteral("Regular Expression"));
    regexToggle_->setAccessibleName(QStringLiteral("Regular Expression"));
    connect(regexToggle_, &QToolButton::clicked, this, [this](bool on) { session_->setRegex(on); });

    onlyMatching_ = new QCheckBox(QStringLiteral("Only matching rows"), this);
    connect(onlyMatching_, &QCheckBox::clicked, this, [this](bool on) { session_->setShowsOnlyMatches(on); });

    done_ = new QPushButton(QStringLiteral("Done"), this);
    done_->setAutoDefault(false);
    connect(done_, &QPushButton::clicked, this, [this] { session_->closeFind(); });

    replaceRow_ = new QWidget(this);
    auto* replaceLayout = new QHBoxLayout(replaceRow_);
    replaceLayout->setContentsMargins(0, 0, 0, 0);
    replaceLayout->setSpacing(6);
    replacementField_ = new QLineEdit(replaceRow_);
    replacementField_->setPlaceholderText(QStringLiteral("Replace"));
    replacementField_->setFixedWidth(fieldWidth);
    connect(replacementField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        const std::string replacement = text.toStdString();
        if (replacement != session_->find().replacement) session_->setReplacement(replacement);
    });
    replace_ = new QPushButton(QStringLiteral("Replace"), replaceRow_);
    replaceAll_ = new QPushButton(QStringLiteral("Replace All"), replaceRow_);
    replace_->setAutoDefault(false);
    replaceAll_->setAutoDefault(false);
    connect(replace_, &QPushButton::clicked, this, [this] { session_->replaceCurrent(); });
    connect(replaceAll_, &QPushButton::clicked, this, [this] { session_->replaceAll(); });
    replaceLayout->addWidget(replacementField_);
    replaceLayout->addWidget(replace_);
    replaceLayout->addWidget(replaceAll_);
    replaceLayout->addStretch(1);

    // A grid keeps the replace field under the find field while both rows stay centred.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(7, 7, 7, 7);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);
    grid->setColumnStretch(0, 1);
    grid->addWidget(disclosure_, 0, 1);
    grid->addWidget(queryField_, 0, 2);
    grid->addWidget(counter_, 0, 3);
    grid->addWidget(stepGroup, 0, 4);
    auto* toggles = new QWidget(this);
    auto* togglesLayout = new QHBoxLayout(toggles);
    togglesLayout->setContentsMargins(0, 0, 0, 0);
    togglesLayout->setSpacing(2);
    togglesLayout->addWidget(caseToggle_);
    togglesLayout->addWidget(regexToggle_);
    grid->addWidget(toggles, 0, 5);
    grid->addWidget(onlyMatching_, 0, 6);
    grid->addWidget(done_, 0, 7);
    grid->addWidget(replaceRow_, 1, 2, 1, 6);
    grid->setColumnStretch(8, 1);
}

QString FindBar::counterText(const FindState& find) {
    if (find.query.empty()) return {};
    if (!find.patternError.empty()) return QString::fromStdString(find.patternError);
    const auto count = static_cast<int64_t>(find.matches.size());
    if (count == 0) return QStringLiteral("No matches");
    if (find.current && *find.current >= 0 && *find.current < count)
        return groupedCount(*find.current + 1) + QStringLiteral(" of ") + groupedCount(count);
    return counted(count, u"match", u"matches");
}

void FindBar::refresh() {
    if (!session_) return;
    const FindState& f = session_->find();

    const QString query = QString::fromStdString(f.query);
    if (queryField_->text() != query) queryField_->setText(query);
    const QString replacement = QString::fromStdString(f.replacement);
    if (replacementField_->text() != replacement) replacementField_->setText(replacement);

    disclosure_->setIcon(
        Symbols::icon(f.showsReplace ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right")));
    replaceRow_->setVisible(f.showsReplace);
    caseToggle_->setChecked(f.caseSensitive);
    regexToggle_->setChecked(f.isRegex);
    onlyMatching_->setChecked(f.showsOnlyMatches);

    // While typing, the count of the previous query stays until the new one is known,
    // rather than flashing "No matches" at every keystroke.
    if (f.query.empty() || !searchPending_) {
        counter_->setText(counterText(f));
        counter_->setToolTip(QString::fromStdString(f.patternError));
    }

    const bool hasMatches = !f.matches.empty();
    previous_->setEnabled(hasMatches);
    next_->setEnabled(hasMatches);
    // One Replace All at a time, and no single replacement under a running one.
    const bool replacing = session_->isReplacing();
    replace_->setEnabled(hasMatches && !replacing);
    replaceAll_->setEnabled(hasMatches && !replacing);
}

void FindBar::scheduleSearchIfNeeded() {
    if (!session_) return;
    const FindState& f = session_->find();
    if (!f.isPresented) {
        // Closing emptied the matches: opening again must search even for the same key.
        searchTimer_.stop();
        searchKey_.reset();
        searchPending_ = false;
        return;
    }
    SearchKey key{f.query, f.caseSensitive, f.isRegex, session_->revision()};
    if (searchKey_ && *searchKey_ == key) return;
    searchKey_ = std::move(key);
    searchPending_ = true;
    searchTimer_.start();
}

void FindBar::syncVisibility() {
    if (session_) setVisible(session_->find().isPresented);
}

bool FindBar::isQueryFocused() const {
    return queryField_->hasFocus();
}

void FindBar::focusQuery() {
    if (!isVisible()) {
        focusWhenShown_ = true;
        return;
    }
    focusWhenShown_ = false;
    queryField_->setFocus(Qt::ShortcutFocusReason);
    queryField_->selectAll();
}

void FindBar::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (focusWhenShown_) focusQuery();
}

void FindBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // The window draws the divider under the bar.
    p.fillRect(rect(), GridStyle::bar(palette()));
}

bool FindBar::event(QEvent* event) {
    // Escape belongs to the bar while focus is in it, even if the window binds it.
    if (event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void FindBar::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        session_->closeFind();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == queryField_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            session_->findNext(!(key->modifiers() & Qt::ShiftModifier));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace zarvel
