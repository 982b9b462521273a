// StatusBar: the strip along the bottom of a document window. Left to right: the
// table's size, the row filter note, the selection, a busy indicator, the format
// summary (which opens the format popover) and the warnings button.
#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <optional>

class QLabel;
class QPushButton;

namespace zarvel {

class EditorSession;
class WarningsButton;
struct FileFormat;
struct OpenProgress;

// The format summary: "," · "UTF-8" · "LF" and an up-down chevron on a rounded chip.
class FormatSummaryButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit FormatSummaryButton(QWidget* parent = nullptr);
    void setParts(const QStringList& parts);
    const QStringList& parts() const { return parts_; }
    void setWarning(bool warning);
    bool isWarning() const { return warning_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QStringList parts_;
    bool warning_ = false;
};

// A small spinning arc, animated only while visible.
class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    explicit BusyIndicator(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {14, 14}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer timer_;
    int angle_ = 0;
};

class StatusBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int barHeight = 28;
    // Below this detection confidence the format summary warns.
    static constexpr double confidenceWarningBelow = 0.8;

    StatusBar(EditorSession* session, QWidget* parent = nullptr);

    // "1,234 rows · 5 columns", with the locale's digit grouping.
    static QString sizeText(int64_t dataRows, int64_t columns);
    // "Row 3, Name" for one cell, "3 × 2 selected" for a block; empty when no cell is
    // displayed.
    QString selectionText() const;
    // Delimiter, encoding (with " BOM") and line ending of the format the file was read in.
    static QStringList formatParts(const FileFormat& format);

    QLabel* sizeLabel() const { return size_; }
    QLabel* filterLabel() const { return filter_; }
    QLabel* selectionLabel() const { return selection_; }
    BusyIndicator* busyIndicator() const { return busy_; }
    FormatSummaryButton* formatButton() const { return format_; }
    WarningsButton* warningsButton() const { return warnings_; }
    // While the file is still being read: how far ("Opening… 42 % · 1,234 rows ·
    // 310 MB/s") and a button that stops it.
    QLabel* openingLabel() const { return opening_; }
    QPushButton* cancelOpeningButton() const { return cancelOpening_; }
    static QString openingText(const OpenProgress& progress);
    // A save running on a worker: "Saving… 42 %" (a fraction of 0…1), or none.
    void setSaveProgress(std::optional<double> fraction);
    QLabel* savingLabel() const { return saving_; }
    // While Replace All works: "Replacing… 42 %" and a button that stops it.
    QLabel* replacingLabel() const { return replacing_; }
    QPushButton* cancelReplacingButton() const { return cancelReplacing_; }
    static QString replacingText(double fraction);
    // A large copy being written on a worker: "Copying… 42 %" and a button that stops it.
    QLabel* copyingLabel() const { return copying_; }
    QPushButton* cancelCopyButton() const { return cancelCopy_; }

    void refresh();

Q_SIGNALS:
    // The format summary was clicked; the popover should open under `anchor`. Emitted
    // just before the session's format presentation turns on.
    void formatSummaryClicked(QWidget* anchor);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<EditorSession> session_;
    QLabel* size_ = nullptr;
    QLabel* filter_ = nullptr;
    QLabel* selection_ = nullptr;
    BusyIndicator* busy_ = nullptr;
    FormatSummaryButton* format_ = nullptr;
    WarningsButton* warnings_ = nullptr;
    QLabel* opening_ = nullptr;
    QLabel* saving_ = nullptr;
    QPushButton* cancelOpening_ = nullptr;
    QTimer openingTimer_;
    QLabel* replacing_ = nullptr;
    QPushButton* cancelReplacing_ = nullptr;
    QTimer replacingTimer_;
    QLabel* copying_ = nullptr;
    QPushButton* cancelCopy_ = nullptr;
    QTimer copyingTimer_;
    void refreshCopying();
};

} // namespace zarvel
