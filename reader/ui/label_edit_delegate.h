#pragma once

#include <QLineEdit>
#include <QModelIndex>
#include <QStyledItemDelegate>

#include <functional>
#include <utility>

namespace ombri::reader {

// Qt writes an edited label straight into the item; the reader's panes must ask the rename first
// and keep the old label when it is refused, so the edit is handed over instead of written.
class LabelEditDelegate : public QStyledItemDelegate {
  public:
    using Commit = std::function<void(const QModelIndex&, const QString&)>;
    LabelEditDelegate(QObject* parent, Commit commit)
        : QStyledItemDelegate(parent), m_commit(std::move(commit))
    {
    }
    // The list fills in a row's thumbnail and notes while its name may be being edited: what the
    // user has typed is kept.
    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        if (auto* line = qobject_cast<QLineEdit*>(editor); line && line->isModified())
            return;
        QStyledItemDelegate::setEditorData(editor, index);
    }
    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override
    {
        if (auto* line = qobject_cast<QLineEdit*>(editor))
            m_commit(index, line->text());
    }

  private:
    Commit m_commit;
};

} // namespace ombri::reader
