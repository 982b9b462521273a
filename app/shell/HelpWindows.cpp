#include "app/shell/HelpWindows.h"

#include "app/session/EditorSession.h"
#include "app/views/CommandRegistry.h"
#include "app/views/GridKeyConversion.h"
#include "grid/GridKeymap.h"
#include "zarvel/BuildInfo.h"

#include <QAction>
#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QSet>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <unicode/uvernum.h>

#include <vector>

namespace zarvel {

namespace {

QString native(const QKeySequence& sequence) {
    return sequence.toString(QKeySequence::NativeText);
}

QString direction(GridDirection d) {
    switch (d) {
    case GridDirection::up:
        return QStringLiteral("up");
    case GridDirection::down:
        return QStringLiteral("down");
    case GridDirection::left:
        return QStringLiteral("left");
    case GridDirection::right:
        return QStringLiteral("right");
    }
    return {};
}

QString describe(const GridAction& action) {
    return std::visit(
        [](const auto& a) -> QString {
            using T = std::decay_t<decltype(a)>;
            if constexpr (std::is_same_v<T, GridAction::Move>)
                return (a.extend ? QStringLiteral("Extend the selection ") : QStringLiteral("Move ")) +
                       direction(a.direction) + (a.toEdge ? QStringLiteral(" to the edge") : QString());
            else if constexpr (std::is_same_v<T, GridAction::Page>)
                return (a.extend ? QStringLiteral("Extend the selection a page ")
                                 : QStringLiteral("Move a page ")) +
                       direction(a.direction);
            else if constexpr (std::is_same_v<T, GridAction::Advance>)
                return a.backwards ? QStringLiteral("Move to the previous cell")
                                   : QStringLiteral("Move to the next cell");
            else if constexpr (std::is_same_v<T, GridAction::BeginEditing>)
                return a.replacingWith ? QStringLiteral("Type over the cell")
                                       : QStringLiteral("Edit the cell");
            else if constexpr (std::is_same_v<T, GridAction::ClearContents>)
                return QStringLiteral("Clear the selected cells");
            else if constexpr (std::is_same_v<T, GridAction::InsertRow>)
                return a.above ? QStringLiteral("Insert a row above") : QStringLiteral("Insert a row below");
            else if constexpr (std::is_same_v<T, GridAction::InsertColumn>)
                return a.left ? QStringLiteral("Insert a column left")
                              : QStringLiteral("Insert a column right");
            else if constexpr (std::is_same_v<T, GridAction::DeleteRows>)
                return QStringLiteral("Delete the selected rows");
            else if constexpr (std::is_same_v<T, GridAction::DeleteColumns>)
                return QStringLiteral("Delete the selected columns");
            else
                return QStringLiteral("Select all");
        },
        action.value);
}

// What the grid does with a Qt key press, through the conversion the grid itself uses.
std::optional<GridAction> gridAction(int key, Qt::KeyboardModifiers modifiers, const QString& text = {}) {
    const auto gridKey = GridKeyConversion::fromKeyEvent(QKeyEvent(QEvent::KeyPress, key, modifiers, text));
    if (!gridKey) return std::nullopt;
    return GridKeymap::action(*gridKey);
}

} // namespace

QList<ShortcutEntry> shortcutEntries(const CommandRegistry& commands) {
    QList<ShortcutEntry> entries;
    QSet<QString> taken;
    for (QAction* action : commands.actions()) {
        if (action->shortcuts().isEmpty()) continue;
        QStringList keys;
        for (const QKeySequence& s : action->shortcuts()) {
            keys << native(s);
            taken << native(s);
        }
        entries.append({QStringLiteral("Commands"), action->text().remove(QLatin1Char('&')),
                        keys.join(QStringLiteral(", "))});
    }

    // Super belongs to the desktop; the combinations go from fewer modifiers to more, so
    // a combination can be checked against its subsets.
    const Qt::KeyboardModifiers combinations[] = {Qt::NoModifier,
                                                  Qt::ShiftModifier,
                                                  Qt::ControlModifier,
                                                  Qt::AltModifier,
                                                  Qt::ControlModifier | Qt::ShiftModifier,
                                                  Qt::AltModifier | Qt::ShiftModifier,
                                                  Qt::ControlModifier | Qt::AltModifier};
    // Every named key Qt knows, from Escape to the last function key; Backtab is Shift+Tab.
    for (int key = Qt::Key_Escape; key <= Qt::Key_F35; ++key) {
        if (key == Qt::Key_Backtab) continue;
        std::vector<std::pair<Qt::KeyboardModifiers, GridAction>> seen;
        for (Qt::KeyboardModifiers m : combinations) {
            const auto action = gridAction(key, m);
            if (!action) continue;
            bool redundant = false;
            for (const auto& [fewer, earlier] : seen)
                if ((fewer & m) == fewer && earlier == *action) redundant = true;
            seen.emplace_back(m, *action);
            const QString keys = native(QKeySequence(QKeyCombination(m, Qt::Key(key))));
            if (redundant || taken.contains(keys)) continue;
            entries.append({QStringLiteral("Grid"), describe(*action), keys});
        }
    }
    if (const auto typing = gridAction(Qt::Key_X, Qt::NoModifier, QStringLiteral("x")))
        entries.append({QStringLiteral("Grid"), describe(*typing), QStringLiteral("Any character")});
    // Keys of a cell being edited, which the grid's own key map does not see.
    entries.append({QStringLiteral("Cell editing"), QStringLiteral("Write the text into every selected cell"),
                    native(QKeySequence(Qt::CTRL | Qt::Key_Return))});
    entries.append({QStringLiteral("Cell editing"), QStringLiteral("Start a new line in the cell"),
                    native(QKeySequence(Qt::ALT | Qt::Key_Return))});
    return entries;
}

ShortcutsWindow::ShortcutsWindow(const CommandRegistry* commands, QWidget* parent)
    : QDialog(parent), commands_(commands), list_(new QTreeWidget(this)) {
    setWindowTitle(QStringLiteral("Keyboard Shortcuts"));
    list_->setColumnCount(2);
    list_->setHeaderLabels({QStringLiteral("Action"), QStringLiteral("Keys")});
    list_->setRootIsDecorated(false);
    list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    resize(520, 600);
    refresh();
}

void ShortcutsWindow::refresh() {
    list_->clear();
    QTreeWidgetItem* section = nullptr;
    for (const ShortcutEntry& entry : shortcutEntries(*commands_)) {
        if (!section || section->text(0) != entry.section) {
            section = new QTreeWidgetItem(list_, {entry.section});
            QFont bold = section->font(0);
            bold.setBold(true);
            section->setFont(0, bold);
            section->setFlags(Qt::ItemIsEnabled);
            section->setExpanded(true);
        }
        new QTreeWidgetItem(section, {entry.title, entry.keys});
    }
    list_->expandAll();
}

QString aboutText() {
    QString version = QCoreApplication::applicationVersion();
    if (version.isEmpty()) version = QStringLiteral(ZARVEL_VERSION);
    const QString license = QStringLiteral(ZARVEL_LICENSE);
    QStringList lines{
        QStringLiteral("Zarvel ") + version,
        QStringLiteral("An editor for delimited text files."),
        QString(),
        QStringLiteral("Qt ") + QString::fromLatin1(qVersion()),
        QStringLiteral("ICU ") + QStringLiteral(U_ICU_VERSION),
        QString(),
        QStringLiteral("Licence: ") + license,
        QStringLiteral("Qt is used under the GNU LGPL version 3; ICU under the Unicode licence.")};
    return lines.join(QLatin1Char('\n'));
}

void showAbout(QWidget* parent) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("About Zarvel"), aboutText(),
                                QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("aboutZarvel"));
    box->open();
}

} // namespace zarvel
