// WarningsButton: the status bar's yellow problem count, shown only when reading met
// problems (warnings or ragged rows). A click opens or closes the list of them.
#pragma once

#include <QPointer>
#include <QToolButton>

#include <cstdint>
#include <optional>

namespace zarvel {

class EditorSession;
class WarningsPopover;
struct ReadReport;

class WarningsButton : public QToolButton {
    Q_OBJECT
public:
    explicit WarningsButton(EditorSession* session, QWidget* parent = nullptr);

    // The number shown: the warnings, plus one when some rows are ragged.
    static int64_t problemCount(const ReadReport& report);
    // Whether a report has anything to show at all.
    static bool hasProblems(const std::optional<ReadReport>& report);

    bool isPresented() const;
    void setPresented(bool presented);
    WarningsPopover* popover() const { return popover_; }

    // Re-reads the document's report: count, visibility.
    void refresh();

private:
    QPointer<EditorSession> session_;
    WarningsPopover* popover_ = nullptr;
};

} // namespace zarvel
