// FindBar: the find-and-replace strip above the grid. It edits the session's FindState
// (query, replacement, case, "Only matching rows", the replace row), shows the match
// counter, and searches again 150 ms after the query, the case setting or the
// document's content last changed.
#pragma once

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUuid>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace zarvel {

class EditorSession;
struct FindState;

class FindBar : public QWidget {
    Q_OBJECT
public:
    // How long typing must pause before a search runs.
    static constexpr int searchDelayMs = 150;

    FindBar(EditorSession* session, QWidget* parent = nullptr);

    // Shows the bar exactly while the find state is presented.
    void syncVisibility();

    // The counter's text for a find state: "", "No matches", "2 of 3", "12 matches", or
    // why the regular expression does not compile.
    static QString counterText(const FindState& find);

    QLineEdit* queryField() const { return queryField_; }
    QLineEdit* replacementField() const { return replacementField_; }
    QLabel* counterLabel() const { return counter_; }
    QToolButton* disclosureButton() const { return disclosure_; }
    QToolButton* previousButton() const { return previous_; }
    QToolButton* nextButton() const { return next_; }
    QToolButton* caseButton() const { return caseToggle_; }
    QToolButton* regexButton() const { return regexToggle_; }
    QCheckBox* onlyMatchingRowsBox() const { return onlyMatching_; }
    QPushButton* doneButton() const { return done_; }
    QPushButton* replaceButton() const { return replace_; }
    QPushButton* replaceAllButton() const { return replaceAll_; }
    QWidget* replaceRow() const { return replaceRow_; }
    bool isQueryFocused() const;
    // A search is waiting for typing to pause or for its result.
    bool isSearchPending() const { return searchPending_; }

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What a search depends on; a change of any part searches again.
    struct SearchKey {
        std::string query;
        bool caseSensitive = false;
        bool isRegex = false;
        int64_t revision = 0;
        bool operator==(const SearchKey&) const = default;
    };

    void buildControls();
    void refresh();
    void scheduleSearchIfNeeded();
    void focusQuery();

    QPointer<EditorSession> session_;
    QLineEdit* queryField_ = nullptr;
    QLineEdit* replacementField_ = nullptr;
    QLabel* counter_ = nullptr;
    QToolButton* disclosure_ = nullptr;
    QToolButton* previous_ = nullptr;
    QToolButton* next_ = nullptr;
    QToolButton* caseToggle_ = nullptr;
    QToolButton* regexToggle_ = nullptr;
    QCheckBox* onlyMatching_ = nullptr;
    QPushButton* done_ = nullptr;
    QPushButton* replace_ = nullptr;
    QPushButton* replaceAll_ = nullptr;
    QWidget* replaceRow_ = nullptr;

    QTimer searchTimer_;
    std::optional<SearchKey> searchKey_;
    bool searchPending_ = false;
    QUuid seenFocusRequest_;
    bool focusWhenShown_ = false;
};

} // namespace zarvel
