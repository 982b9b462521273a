// WarningsPopover: the list of problems met while reading the file, opened from the
// status bar's warnings button. Each warning names its line and, when that row is on
// screen (not hidden by the row filter), offers "Show" to jump to it. Under each line
// stands the row's text as the file has it, cut short, with control characters shown
// as visible symbols, so the user sees what went wrong without leaving the list.
#pragma once

#include "app/views/PopoverFrame.h"

#include <QPointer>
#include <QString>

#include <cstdint>
#include <string_view>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace zarvel {

class EditorSession;
struct ReadReport;
struct ReadWarning;

class WarningsPopover : public PopoverFrame {
    Q_OBJECT
public:
    static constexpr int popoverWidth = 380;
    // Warnings beyond this many are not listed.
    static constexpr int listedWarnings = 20;

    WarningsPopover(EditorSession* session, QWidget* anchor);

    // Rebuilds the list from the document's report and the current row filter.
    void rebuild();

    // "Line 4: quote never closed, read as text" and the like.
    static QString lineText(const ReadWarning& warning);
    // A row's bytes as the list shows them: the first `rawTextLength` characters, control
    // characters as their visible symbols (U+2400 …, DEL as U+2421), "…" when cut.
    static constexpr int rawTextLength = 120;
    static QString rawText(std::string_view bytes);
    // The ragged-row sentence, with the count in the locale's digit grouping.
    static QString raggedRowsText(int64_t raggedRowCount);

    QLabel* headline() const { return headline_; }
    QLabel* raggedRowsLabel() const { return ragged_; }
    // The warning lines shown, in order, and their "Show" buttons (null where the row
    // is not displayed).
    const QList<QLabel*>& lineLabels() const { return lines_; }
    const QList<QPushButton*>& showButtons() const { return showButtons_; }
    // The rows' own texts, one per listed warning (null when the row's text is unknown).
    const QList<QLabel*>& rawTextLabels() const { return rawTexts_; }

private:
    QPointer<EditorSession> session_;
    QVBoxLayout* list_ = nullptr;
    QLabel* headline_ = nullptr;
    QLabel* ragged_ = nullptr;
    QList<QLabel*> lines_;
    QList<QPushButton*> showButtons_;
    QList<QLabel*> rawTexts_;
    QList<QWidget*> rows_;
};

} // namespace zarvel
