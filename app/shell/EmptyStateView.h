// EmptyStateView: what a document window shows in the grid's place while the table has
// no columns, with one button that gives the table its first column.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace zarvel {

class EditorSession;

class EmptyStateView : public QWidget {
    Q_OBJECT
public:
    explicit EmptyStateView(EditorSession* session, QWidget* parent = nullptr);

    QPushButton* addColumnButton() const { return addColumn_; }
    QLabel* titleLabel() const { return title_; }
    QLabel* descriptionLabel() const { return description_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateColors();

    EditorSession* session_;
    QLabel* symbol_;
    QLabel* title_;
    QLabel* description_;
    QPushButton* addColumn_;
};

} // namespace zarvel
