#include "main/gui/menurender.h"

namespace vexa::gui {

void fillMenu(QMenu* menu, const menus::MenuNode& node, const CommandHandler& handler)
{
    using Kind = menus::MenuNode::Kind;
    for (const auto& child : node.children) {
        switch (child->kind) {
        case Kind::Separator:
            menu->addSeparator();
            break;
        case Kind::SubMenu:
            fillMenu(menu->addMenu(QString::fromStdString(child->text)), *child, handler);
            break;
        case Kind::Item: {
            // A tab in the label separates the text from its shortcut, shown on the right.
            QString text = QString::fromStdString(child->text);
            QAction* action = menu->addAction(text);
            const int id = child->id;
            action->setData(id);
            if (child->checkable) {
                action->setCheckable(true);
                action->setChecked(child->checked);
            }
            QObject::connect(action, &QAction::triggered, menu, [handler, id] { handler(id); });
            break;
        }
        }
    }
}

void fillMenuBar(QMenuBar* bar, const menus::MenuNode& root, const CommandHandler& handler)
{
    bar->clear();
    for (const auto& child : root.children) {
        if (child->kind != menus::MenuNode::Kind::SubMenu)
            continue;
        QMenu* menu = bar->addMenu(QString::fromStdString(child->text));
        menu->setObjectName(QString::fromStdString(child->text));
        fillMenu(menu, *child, handler);
    }
}

} // namespace vexa::gui
